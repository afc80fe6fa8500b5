// Tests of sending one status mail, as the watcher's mail worker does, against the
// scripted peer; and, for real, a mail server that never answers the service's ticks.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "core/watcher.h"
#include "mail/status_mail.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "support/lib/fake_clock.h"
#include "support/lib/fake_seams.h"
#include "support/lib/recording_sink.h"
#include "support/lib/smtp_peer.h"
#include "support/lib/tcp_loopback.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using test::SmtpAction;
using test::SmtpPeer;
using test::SmtpStage;
using test::TcpRefusingPort;
using ::testing::HasSubstr;

constexpr int kWaitMs = 5000;

class StatusMailTest : public ::testing::Test {
  protected:
    FakeClock clock{FakeClock::ToCalendar(2024, 3, 5, 14, 7, 9)};
    SmtpPeer peer;
    std::vector<std::string> errors;
    MailErrorHook hook = [this](const std::string& text) { errors.push_back(text); };

    bool Send(Program program, const std::string& subject, int replyMs = kWaitMs) {
        return SendStatusMail(program, clock, "127.0.0.1", peer.Port(), "me@x", "me@x", subject,
                              subject, hook, MailTimeouts{kWaitMs, replyMs});
    }
};

TEST_F(StatusMailTest, SendsOneMessageToTheSenderAddress) {
    EXPECT_TRUE(Send(Program::Service, "host 127.0.0.1 DOWN"));
    EXPECT_TRUE(errors.empty());
    ASSERT_TRUE(peer.WaitFinished(1, kWaitMs));
    std::string sent = peer.Received();
    EXPECT_THAT(sent, HasSubstr("MAIL From: <me@x>\r\nRCPT TO: <me@x>\r\nDATA\r\n"));
    EXPECT_THAT(sent, HasSubstr("To: me@x<me@x>\r\nSubject: host 127.0.0.1 DOWN\r\n"));
    EXPECT_THAT(sent, ::testing::EndsWith("\r\n\r\nhost 127.0.0.1 DOWN\r\n\r\n.\r\nQUIT\r\n"));
}

TEST_F(StatusMailTest, RefusedQuitStillCountsAsSent) {
    peer.On(SmtpStage::Quit, SmtpAction::Reply("500 what\r\n"));
    EXPECT_TRUE(Send(Program::Service, "up"));
    EXPECT_TRUE(errors.empty());
}

TEST_F(StatusMailTest, FailuresGoToTheHook) {
    peer.On(SmtpStage::Greeting, SmtpAction::Reply("554 go away\r\n"));
    EXPECT_FALSE(Send(Program::Desktop, "up"));
    peer.On(SmtpStage::Greeting, SmtpAction::Reply("220 hi\r\n"));
    peer.On(SmtpStage::Mail, SmtpAction::Reply("451 later\r\n"));
    EXPECT_FALSE(Send(Program::Service, "up"));
    EXPECT_EQ(errors,
              (std::vector<std::string>{"Server didn't respond.",
                                        "451:SMTP server error [sResponse='451 later\r\n']"}));
    // After the failed send the client still said goodbye.
    ASSERT_TRUE(peer.WaitFinished(2, kWaitMs));
    EXPECT_THAT(peer.Received(), ::testing::EndsWith("MAIL From: <me@x>\r\nQUIT\r\n"));
}

TEST_F(StatusMailTest, PeerClosingMidConversationIsReported) {
    peer.On(SmtpStage::Data, SmtpAction::Close());
    EXPECT_FALSE(Send(Program::Service, "up"));
    EXPECT_EQ(errors, std::vector<std::string>{"Socket Error"});
}

TEST_F(StatusMailTest, InjectedSubjectIsRefusedWithoutContactingTheServer) {
    EXPECT_FALSE(Send(Program::Service, "up\r\nBcc: evil@z"));
    EXPECT_EQ(errors, std::vector<std::string>{kSmtpInvalidMessageText});
    EXPECT_FALSE(SendStatusMail(Program::Desktop, clock, "127.0.0.1", peer.Port(), "me@x",
                                "me@x>\nRCPT TO: <evil@z", "s", "b", hook));
    // A good mail afterwards is the first conversation the peer sees: the message comes
    // before the first goodbye.
    EXPECT_TRUE(Send(Program::Service, "up"));
    ASSERT_TRUE(peer.WaitFinished(1, kWaitMs));
    std::string sent = peer.Received();
    ASSERT_NE(sent.find("Subject: up\r\n"), std::string::npos);
    EXPECT_LT(sent.find("Subject: up\r\n"), sent.find("QUIT"));
}

TEST_F(StatusMailTest, EmptyHookIsAllowed) {
    TcpRefusingPort refusing;
    EXPECT_FALSE(SendStatusMail(Program::Service, clock, "127.0.0.1", refusing.Port(), "me@x",
                                "me@x", "s", "b", MailErrorHook{}));
}

TEST_F(StatusMailTest, SmtpMailSenderSendsWithItsProgramAndTimeouts) {
    peer.On(SmtpStage::Greeting, SmtpAction::Silent());
    SmtpMailSender sender(Program::Service, clock, hook);
    sender.SetTimeouts(kWaitMs, 200);
    MailSender& seam = sender;
    EXPECT_FALSE(seam.Send("127.0.0.1", peer.Port(), "me@x", "me@x", "up", "up"));
    EXPECT_EQ(errors, std::vector<std::string>{"Socket Error  Server didn't respond."});

    peer.On(SmtpStage::Greeting, SmtpAction::Reply("220 hi\r\n"));
    EXPECT_TRUE(seam.Send("127.0.0.1", peer.Port(), "me@x", "me@x", "up", "up"));
    EXPECT_EQ(errors.size(), 1u);

    // The worker's way: the error comes back to the caller, not to the hook.
    peer.On(SmtpStage::Mail, SmtpAction::Reply("451 later\r\n"));
    std::string error;
    EXPECT_FALSE(seam.SendReporting("127.0.0.1", peer.Port(), "me@x", "me@x", "up", "up", &error));
    EXPECT_EQ(error, "451:SMTP server error [sResponse='451 later\r\n']");
    EXPECT_EQ(errors.size(), 1u);
    // After an abort no conversation starts, however willing the server.
    peer.On(SmtpStage::Mail, SmtpAction::Reply("250 ok\r\n"));
    seam.Abort();
    EXPECT_FALSE(seam.SendReporting("127.0.0.1", peer.Port(), "me@x", "me@x", "up", "up", &error));
}

HostTable::Hooks NoProbers() {
    HostTable::Hooks hooks;
    hooks.runProber = [](HostTable&, int, uint32_t) {};
    return hooks;
}

// Real time, end to end: three hosts are due while the mail server says nothing, or never
// even completes the connection. The service's loop still ticks once a second, and the
// end of the monitoring aborts the conversation instead of waiting out its 10 s or 30 s.
TEST(StatusMailWorkerTest, SilentServerHoldsNeitherTheTicksNorTheStop) {
    using std::chrono::steady_clock;
    SmtpPeer silent;
    silent.On(SmtpStage::Greeting, SmtpAction::Silent());
    // A listener whose accept queue is full: the kernel drops further connection requests.
    test::TcpTestListener full(0);
    UniqueFd queued = test::TcpConnectLoopback(full.Port());
    ASSERT_TRUE(queued.Valid());
    {
        int error = 0;
        TcpSocket probe = TcpSocket::Create(&error);
        ASSERT_EQ(probe.Connect(htonl(INADDR_LOOPBACK), full.Port(), 200), ETIMEDOUT);
    }
    struct Server {
        const char* what;
        uint16_t port;
    };
    for (const Server& server :
         {Server{"silent greeting", silent.Port()}, Server{"connect never ends", full.Port()}}) {
        SCOPED_TRACE(server.what);
        test::TempDir dir;
        SystemClock clock;
        test::RecordingMessageSink sink;
        test::FakeSoundPlayer sound;
        test::FakeTraceroute trace;
        SmtpMailSender mail(Program::Service, clock, MailErrorHook{});
        std::vector<std::string> errors;
        auto ctx = std::make_unique<MonitorContext>(Program::Service, dir.path(),
                                                    MonitorSeams{clock, sink, sound, trace, mail},
                                                    NoProbers());
        ctx->mailQueue.SetErrorHook([&errors](const std::string& e) { errors.push_back(e); });
        NotifySettings& icmp = ctx->settings.icmp;
        icmp.emailEnabled = 1;
        icmp.emailAfter = 0;
        icmp.emailAddress = "ops@localhost";
        icmp.smtpServer = "127.0.0.1";
        icmp.smtpPort = server.port;
        for (const char* name : {"a", "b", "c"}) {
            ctx->table.AddHost(name, 1000, 0);  // down, so due at the first tick
        }

        // The service's loop: a tick, then the rest of the second.
        const auto start = steady_clock::now();
        int ticks = 0;
        while (steady_clock::now() < start + std::chrono::seconds(3)) {
            ServiceTick(*ctx);
            ++ticks;
            std::this_thread::sleep_until(start + std::chrono::seconds(ticks));
        }
        EXPECT_EQ(ticks, 3);
        EXPECT_EQ(ctx->table.Entry(2).mailPending, 1);

        const auto stopAt = steady_clock::now();
        ctx.reset();
        EXPECT_LT(steady_clock::now() - stopAt, std::chrono::seconds(2));
        EXPECT_TRUE(errors.empty());  // the abort is not the server's failure
    }
    EXPECT_TRUE(silent.WaitFinished(1, kWaitMs));  // the client hung up on it
}

}  // namespace
}  // namespace qv
