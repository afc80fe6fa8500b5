// The status mail over TLS with login, end to end against a real SMTP server (aiosmtpd)
// on loopback with a CA of its own: STARTTLS and TLS from the first byte deliver the very
// bytes the plain conversation delivers; a refused login and a refused certificate say
// why and deliver nothing.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "mail/status_mail.h"
#include "platform/process.h"
#include "support/lib/fake_clock.h"
#include "support/lib/fake_seams.h"
#include "support/lib/smtp_peer.h"
#include "support/lib/support_dir.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr int kWaitMs = 10000;
constexpr const char* kUser = "alerts@example.test";
constexpr const char* kPassword = "s3cret pass";
constexpr const char* kPython = "/usr/bin/python3";

// The server script, started once for the whole suite.
class TlsMailServer {
  public:
    TlsMailServer() {
        if (!ProgramExists(kPython) || !ProgramExists("openssl")) {
            skip_ = "needs /usr/bin/python3 and openssl";
            return;
        }
        UniqueFd log(open(dir_.File("server.log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        int error = 0;
        child_ = ChildProcess::Start(
            {kPython, std::string(test::SupportScriptDir()) + "/tls_mail_server.py", dir_.path()},
            log.Get(), log.Get(), &error);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (child_.Valid() && !std::filesystem::exists(dir_.File("ports.txt")) &&
               std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        std::istringstream lines(test::ReadFileBytes(dir_.File("ports.txt")));
        std::string name;
        int port = 0;
        while (lines >> name >> port) {
            ports_[name] = port;
        }
        if (ports_.size() != 4) {
            skip_ = "the aiosmtpd server did not start (python3-aiosmtpd missing?): " +
                    test::ReadFileBytes(dir_.File("server.log"));
        }
    }
    ~TlsMailServer() {
        if (child_.Valid()) {
            kill(child_.Pid(), SIGTERM);
            child_.Wait();
        }
    }

    const std::string& SkipReason() const { return skip_; }
    int Port(const std::string& name) const { return ports_.at(name); }
    std::string CaFile() const { return dir_.File("ca.crt"); }
    // The DATA bytes of every message received so far, oldest first.
    std::vector<std::string> Mails() const {
        std::vector<std::string> mails;
        for (int n = 1; std::filesystem::exists(dir_.File("mail-" + std::to_string(n) + ".eml"));
             ++n) {
            mails.push_back(test::ReadFileBytes(dir_.File("mail-" + std::to_string(n) + ".eml")));
        }
        return mails;
    }

  private:
    test::TempDir dir_;
    ChildProcess child_;
    std::map<std::string, int> ports_;
    std::string skip_;
};

class SmtpTlsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = new TlsMailServer; }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        if (!server_->SkipReason().empty()) {
            GTEST_SKIP() << server_->SkipReason();
        }
    }

    MailSecurityOptions Login(MailSecurity security) const {
        return MailSecurityOptions{security, kUser, kPassword, server_->CaFile()};
    }
    bool Send(Program program, const std::string& server, int port,
              const MailSecurityOptions& security, const std::string& text = "Host a is DOWN") {
        return SendStatusMail(program, clock, server, port, "ops@example.test", "ops@example.test",
                              text, text, hook, MailTimeouts{kWaitMs, kWaitMs}, nullptr, security);
    }

    static TlsMailServer* server_;
    FakeClock clock{FakeClock::ToCalendar(2024, 3, 5, 14, 7, 9)};
    std::vector<std::string> errors;
    MailErrorHook hook = [this](const std::string& text) { errors.push_back(text); };
};

TlsMailServer* SmtpTlsTest::server_ = nullptr;

// What the plain conversation delivers as message data: the bytes after DATA up to the
// end-of-data line (the line end before its "." included).
std::string PlainData(Program program, FakeClock& clock, const std::string& text) {
    test::SmtpPeer peer;
    EXPECT_TRUE(SendStatusMail(program, clock, "127.0.0.1", peer.Port(), "ops@example.test",
                               "ops@example.test", text, text, MailErrorHook{}));
    EXPECT_TRUE(peer.WaitFinished(1, kWaitMs));
    const std::string sent = peer.Received();
    const size_t start = sent.find("DATA\r\n") + 6;
    return sent.substr(start, sent.find("\r\n.\r\n", start) + 2 - start);
}

TEST_F(SmtpTlsTest, EachSecureWayDeliversWhatThePlainPathDelivers) {
    struct Case {
        const char* port;
        MailSecurity security;
        Program program;
    };
    for (const Case& c : {Case{"starttls", MailSecurity::StartTls, Program::Service},
                          Case{"tls", MailSecurity::Tls, Program::Desktop},
                          Case{"login", MailSecurity::StartTls, Program::Desktop}}) {
        SCOPED_TRACE(c.port);
        const std::string text = std::string("Host ") + c.port + " is DOWN";
        const size_t before = server_->Mails().size();
        EXPECT_TRUE(Send(c.program, "localhost", server_->Port(c.port), Login(c.security), text));
        EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.front());
        const std::vector<std::string> mails = server_->Mails();
        ASSERT_EQ(mails.size(), before + 1);
        EXPECT_EQ(mails.back(), PlainData(c.program, clock, text));
    }
}

TEST_F(SmtpTlsTest, FailuresNameTheirCauseAndDeliverNothing) {
    struct Case {
        const char* what;
        const char* port;
        MailSecurityOptions security;
        std::string error;
    };
    MailSecurityOptions wrongPassword = Login(MailSecurity::StartTls);
    wrongPassword.password = "wrong";
    MailSecurityOptions systemStoreOnly = Login(MailSecurity::Tls);
    systemStoreOnly.caFile.clear();
    MailSecurityOptions missingCa = Login(MailSecurity::Tls);
    missingCa.caFile = "/nonexistent/ca.crt";
    const std::vector<Case> cases = {
        {"wrong password", "starttls", wrongPassword,
         "SMTP login refused: 535 5.7.8 Authentication credentials invalid"},
        {"certificate of another host", "otherhost", Login(MailSecurity::StartTls),
         "certificate verify failed: hostname mismatch"},
        {"CA not trusted", "tls", systemStoreOnly,
         "certificate verify failed: unable to get local issuer certificate"},
        {"CA file missing", "tls", missingCa, "Can't use the CA file /nonexistent/ca.crt: "},
        {"TLS asked of a plain port", "starttls", Login(MailSecurity::Tls),
         "TLS handshake failed: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        errors.clear();
        const size_t before = server_->Mails().size();
        EXPECT_FALSE(Send(Program::Service, "localhost", server_->Port(c.port), c.security));
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_THAT(errors.front(), StartsWith(c.error));
        EXPECT_EQ(server_->Mails().size(), before);
    }
}

TEST_F(SmtpTlsTest, NoPasswordInTheClearAndNoTlsWithoutStarttls) {
    test::SmtpPeer peer;
    MailSecurityOptions plainLogin = Login(MailSecurity::None);
    EXPECT_FALSE(Send(Program::Desktop, "127.0.0.1", peer.Port(), plainLogin));
    // A server that does not offer STARTTLS is left before anything is said in the clear.
    peer.On(test::SmtpStage::Other, test::SmtpAction::Reply("250-peer.test\r\n250 AUTH PLAIN\r\n"));
    EXPECT_FALSE(Send(Program::Desktop, "127.0.0.1", peer.Port(), Login(MailSecurity::StartTls)));
    EXPECT_EQ(errors,
              (std::vector<std::string>{kSmtpClearPasswordText,
                                        "The SMTP server does not offer STARTTLS: 250-peer.test"}));
    ASSERT_TRUE(peer.WaitFinished(1, kWaitMs));
    EXPECT_EQ(peer.Received().find("AUTH"), std::string::npos);
    EXPECT_THAT(peer.Received(), StartsWith("EHLO "));
}

// A stop ends a TLS handshake that the server never answers, as it ends a plain wait.
TEST(SmtpTlsAbortTest, AStopEndsAHandshakeTheServerLeavesHanging) {
    test::SmtpPeer silent;
    silent.On(test::SmtpStage::Greeting, test::SmtpAction::Silent());
    FakeClock clock;
    SmtpAbort abort;
    std::vector<std::string> errors;
    std::thread stopper([&abort] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        abort.Abort();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(SendStatusMail(
        Program::Service, clock, "127.0.0.1", silent.Port(), "ops@x", "ops@x", "up", "up",
        [&errors](const std::string& text) { errors.push_back(text); },
        MailTimeouts{kWaitMs, kWaitMs}, &abort,
        MailSecurityOptions{MailSecurity::Tls, "", "", ""}));
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_THAT(errors.front(), StartsWith("TLS handshake failed: "));
}

}  // namespace
}  // namespace qv
