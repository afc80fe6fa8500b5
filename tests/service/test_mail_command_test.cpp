// HalvoricSvc --test-mail, run as the user runs it: the outcome on the terminal and in the
// exit status.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/settings.h"
#include "platform/process.h"
#include "settings/config_files.h"
#include "settings/mail_config.h"
#include "support/lib/smtp_peer.h"
#include "support/lib/tcp_loopback.h"
#include "support/lib/temp_dir.h"

#ifdef QV_SERVICE_PROGRAM
namespace qv {
namespace {

using ::testing::HasSubstr;

ProcessResult TestMail(const std::string& dataDir) {
    SystemProcessRunner runner;
    return runner.Run({QV_SERVICE_PROGRAM, "--test-mail", dataDir});
}

TEST(TestMailCommandTest, SaysWhetherTheMailWentOutAndExitsAccordingly) {
    test::TempDir dir;
    test::SmtpPeer peer;
    test::TcpRefusingPort refusing;
    Settings settings;
    SetDefaultSettings(settings, "/usr/bin/Quorvane");
    settings.icmp.emailAddress = "ops@example.test";
    settings.icmp.smtpServer = "127.0.0.1";
    settings.icmp.smtpPort = peer.Port();
    settings.tcp = settings.icmp;
    ASSERT_TRUE(SaveSettings(dir.path(), settings));

    ProcessResult sent = TestMail(dir.path());
    EXPECT_EQ(sent.exitCode, 0) << sent.output;
    EXPECT_EQ(sent.output, "Test e-mail sent to ops@example.test\n");
    ASSERT_TRUE(peer.WaitFinished(1, 5000));
    EXPECT_THAT(peer.Received(), HasSubstr("Subject: Tarnwick Server Monitor: test e-mail\r\n"));

    // The TCP hosts' server refuses; a login over a plain conversation is refused here.
    settings.tcp.smtpPort = refusing.Port();
    ASSERT_TRUE(SaveSettings(dir.path(), settings));
    std::string error;
    ASSERT_TRUE(
        SaveMailConfig(dir.path(), MailSecurityOptions{MailSecurity::None, "u", "p", ""}, &error));
    ProcessResult failed = TestMail(dir.path());
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_THAT(failed.output, HasSubstr("Test e-mail to ops@example.test through 127.0.0.1:" +
                                         std::to_string(peer.Port()) +
                                         " failed: Refusing to send "
                                         "the mail password"));
    EXPECT_THAT(failed.output, HasSubstr(":" + std::to_string(refusing.Port()) + " failed: "));

    // Nothing to send to is a failure too, and a readable password is pointed out.
    chmod(dir.File(kOptionsFileName).c_str(), 0644);
    settings.icmp.emailAddress.clear();
    settings.tcp.emailAddress.clear();
    ASSERT_TRUE(SaveSettings(dir.path(), settings));
    ProcessResult none = TestMail(dir.path());
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_THAT(none.output, HasSubstr("No e-mail address and SMTP server are set in "));
    EXPECT_THAT(none.output, HasSubstr("chmod 600"));
}

}  // namespace
}  // namespace qv
#endif  // QV_SERVICE_PROGRAM
