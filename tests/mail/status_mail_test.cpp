// Tests of sending one status mail, as the watcher does, against the scripted peer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "mail/status_mail.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "support/lib/smtp_peer.h"
#include "support/lib/tcp_loopback.h"

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

}  // namespace
}  // namespace qv
