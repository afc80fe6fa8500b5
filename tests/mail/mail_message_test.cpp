// Tests of the mail message and of the client's text steps that need no connection.
#include <gtest/gtest.h>

#include "mail/mail_message.h"
#include "mail/smtp.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "support/lib/fake_clock.h"

namespace qv {
namespace {

TEST(MailMessageTest, RecipientsKeepTheirOrderAndOutOfRangeCopiesNothing) {
    CMailMessage message;
    EXPECT_EQ(message.RecipientCount(), 0);
    EXPECT_EQ(message.tDateTime, 0);
    EXPECT_TRUE(message.AddRecipient("a@x", "Anna"));
    EXPECT_TRUE(message.AddRecipient("b@y", "Bert"));
    ASSERT_EQ(message.RecipientCount(), 2);

    std::string email = "unchanged";
    std::string name = "unchanged";
    ASSERT_TRUE(message.RecipientAt(1, email, name));
    EXPECT_EQ(email, "b@y");
    EXPECT_EQ(name, "Bert");

    email = name = "unchanged";
    EXPECT_FALSE(message.RecipientAt(2, email, name));
    EXPECT_FALSE(message.RecipientAt(-1, email, name));
    EXPECT_EQ(email, "unchanged");
    EXPECT_EQ(name, "unchanged");
}

class SmtpTextTest : public ::testing::Test {
  protected:
    FakeClock clock{FakeClock::ToCalendar(2024, 3, 5, 14, 7, 9)};
    CSMTP smtp{Program::Desktop, "127.0.0.1", 25, clock};

    std::string Stuffed(const std::string& body) {
        CMailMessage message;
        message.sBody = body;
        return smtp.StuffDots(message);
    }
};

TEST_F(SmtpTextTest, ConstructionHasNoErrorAndNoConnection) {
    EXPECT_EQ(smtp.ErrorText(), "OK");
    EXPECT_FALSE(smtp.bConnected);
    EXPECT_EQ(smtp.nPort, 25);
    EXPECT_EQ(smtp.sServer, "127.0.0.1");
    EXPECT_EQ(smtp.sMailerName, "Dovet Mail");
}

TEST_F(SmtpTextTest, OnlyLinesOfASingleDotAreDoubled) {
    EXPECT_EQ(Stuffed(".\r\n"), "..\r\n");
    EXPECT_EQ(Stuffed("a\r\n.\r\nb"), "a\r\n..\r\nb");
    EXPECT_EQ(Stuffed("a\r\n.\r\n.\r\nb"), "a\r\n..\r\n..\r\nb");
    EXPECT_EQ(Stuffed(".\r\n.\r\n"), "..\r\n..\r\n");
    EXPECT_EQ(Stuffed("a\r\n.x\r\n.. \r\n"), "a\r\n.x\r\n.. \r\n");
    EXPECT_EQ(Stuffed(".x"), ".x");
    EXPECT_EQ(Stuffed(""), "");
}

TEST_F(SmtpTextTest, PrepareAppendsTheFinalLineBreakOnlyWhenMissing) {
    CMailMessage message;
    message.AddRecipient("a@x", "a@x");
    for (auto [body, prepared] :
         std::initializer_list<std::pair<std::string, std::string>>{{"up", "up\r\n"},
                                                                    {"up\r\n", "up\r\n"},
                                                                    {"", "\r\n"},
                                                                    {"up\n", "up\n\r\n"},
                                                                    {".", ".\r\n"}}) {
        message.sBody = body;
        ASSERT_TRUE(smtp.PrepareMessage(message));
        EXPECT_EQ(message.sBody, prepared) << body;
    }
    message.sBody = ".";
    ASSERT_TRUE(smtp.PrepareMessage(message));
    EXPECT_EQ(smtp.StuffDots(message), "..\r\n");
}

TEST_F(SmtpTextTest, HeaderListsRecipientsAndAnEnglishDate) {
    CMailMessage message;
    message.sFrom = "me@x";
    message.sSubject = "host DOWN";
    message.AddRecipient("a@x", "Anna");
    message.AddRecipient("b@y", "b@y");
    ASSERT_TRUE(smtp.BuildHeader(message));
    EXPECT_EQ(message.tDateTime, clock.Now());
    EXPECT_EQ(message.sHeader,
              "Date: Tue, 05 Mar 24 14:07:09 GMT\r\nFrom: me@x\r\nTo: Anna<a@x>,b@y<b@y>\r\n"
              "Subject: host DOWN\r\nX-Mailer: <Dovet Mail>\r\n\r\n");

    clock.SetNow(FakeClock::ToCalendar(2009, 12, 27, 0, 0, 5));
    ASSERT_TRUE(smtp.BuildHeader(message));
    EXPECT_TRUE(message.sHeader.starts_with("Date: Sun, 27 Dec 09 00:00:05 GMT\r\n"))
        << message.sHeader;
}

TEST_F(SmtpTextTest, HeaderWithoutLocalTimeHasAnEmptyDate) {
    for (Program program : {Program::Desktop, Program::Service}) {
        CSMTP client(program, "127.0.0.1", 25, clock);
        clock.SetLocalTimeFails(true);
        CMailMessage message;
        message.AddRecipient("a@x", "a@x");
        ASSERT_TRUE(client.BuildHeader(message));
        EXPECT_TRUE(message.sHeader.starts_with("Date: \r\nFrom: ")) << message.sHeader;
    }
}

TEST_F(SmtpTextTest, NoRecipientsFailsBeforeAnyHeaderIsBuilt) {
    CMailMessage message;
    message.sBody = "x";
    EXPECT_FALSE(smtp.PrepareMessage(message));
    EXPECT_EQ(smtp.ErrorText(), "No Recipients");
    EXPECT_EQ(message.sHeader, "");
    EXPECT_EQ(message.sBody, "x");
    EXPECT_EQ(message.tDateTime, 0);
}

TEST_F(SmtpTextTest, SendWithoutConnectionMustBeConnected) {
    CMailMessage message;
    message.AddRecipient("a@x", "a@x");
    EXPECT_FALSE(smtp.SendMail(message));
    EXPECT_EQ(smtp.ErrorText(), "Must be connected");
    EXPECT_EQ(message.sHeader, "");
    EXPECT_TRUE(smtp.CloseConnection());
}

TEST_F(SmtpTextTest, LineBreaksInAddressesOrSubjectAreRefused) {
    auto check = [&](auto change) {
        CMailMessage message;
        message.sFrom = "me@x";
        message.sSubject = "host UP";
        message.AddRecipient("a@x", "a@x");
        change(message);
        return smtp.CheckMessage(message);
    };
    EXPECT_TRUE(check([](CMailMessage&) {}));
    EXPECT_FALSE(check([](CMailMessage& m) { m.sFrom = "me@x>\r\nRCPT TO: <evil@y"; }));
    EXPECT_EQ(smtp.ErrorText(), kSmtpInvalidMessageText);
    EXPECT_FALSE(check([](CMailMessage& m) { m.sSubject = "up\nBcc: evil@y"; }));
    EXPECT_FALSE(check([](CMailMessage& m) { m.AddRecipient("b@y\r", "b"); }));
    EXPECT_FALSE(check([](CMailMessage& m) { m.AddRecipient("b@y", "B\nBcc: c"); }));
    EXPECT_FALSE(check([](CMailMessage& m) { m.sFrom = std::string("me\0x", 4); }));
    // The body may hold any lines; dot stuffing protects it.
    EXPECT_TRUE(check([](CMailMessage& m) { m.sBody = "a\r\n.\r\nQUIT\r\n"; }));
}

TEST(SmtpAddressTest, HexAddressHasTheFirstDottedPartInItsLowestByte) {
    EXPECT_EQ(AddressHex(*ParseDottedIPv4("192.168.1.1")), "101a8c0");
    EXPECT_EQ(AddressHex(*ParseDottedIPv4("127.0.0.1")), "100007f");
    EXPECT_EQ(AddressHex(*ParseDottedIPv4("10.0.0.0")), "a");
    EXPECT_EQ(AddressHex(*ParseDottedIPv4("255.255.255.255")), "ffffffff");
}

TEST(SmtpReplyTableTest, KindsRequireTheirCodes) {
    EXPECT_EQ(ExpectedReplyFor(ReplyKind::Ok).code, 250);
    EXPECT_STREQ(ExpectedReplyFor(ReplyKind::Ok).text, "SMTP server error");
    EXPECT_EQ(ExpectedReplyFor(ReplyKind::Ready).code, 220);
    EXPECT_STREQ(ExpectedReplyFor(ReplyKind::Ready).text, "SMTP server not available");
    EXPECT_EQ(ExpectedReplyFor(ReplyKind::StartData).code, 354);
    EXPECT_STREQ(ExpectedReplyFor(ReplyKind::StartData).text, "SMTP server not ready for data");
    EXPECT_EQ(ExpectedReplyFor(ReplyKind::Closing).code, 221);
    EXPECT_STREQ(ExpectedReplyFor(ReplyKind::Closing).text, "SMTP server didn't terminate session");
}

}  // namespace
}  // namespace qv
