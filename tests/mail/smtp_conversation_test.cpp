// Tests of the SMTP client against the scripted peer on 127.0.0.1.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "mail/smtp.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "support/lib/fake_clock.h"
#include "support/lib/smtp_peer.h"
#include "support/lib/tcp_loopback.h"

namespace qv {
namespace {

using test::SmtpAction;
using test::SmtpPeer;
using test::SmtpStage;
using test::TcpRefusingPort;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr int kWaitMs = 5000;

std::string Helo() {
    return "HELO " + LocalHostName().substr(0, 79) + "\r\n";
}

class SmtpConversationTest : public ::testing::Test {
  protected:
    FakeClock clock{FakeClock::ToCalendar(2024, 3, 5, 14, 7, 9)};
    SmtpPeer peer;

    std::unique_ptr<CSMTP> Client(Program program, int replyMs = kWaitMs) {
        auto client = std::make_unique<CSMTP>(program, "127.0.0.1", peer.Port(), clock);
        client->SetTimeouts(kWaitMs, replyMs);
        return client;
    }
    static CMailMessage Message(const std::string& body = "host UP") {
        CMailMessage message;
        message.sFrom = "me@x";
        message.AddRecipient("you@y", "you@y");
        message.sSubject = "host UP";
        message.sBody = body;
        return message;
    }
    // Everything the client sent once it has hung up.
    std::string Conversation() {
        EXPECT_TRUE(peer.WaitFinished(1, kWaitMs));
        return peer.Received();
    }
};

TEST_F(SmtpConversationTest, FullConversationByteForByte) {
    for (Program program : {Program::Desktop, Program::Service}) {
        SCOPED_TRACE(program == Program::Desktop ? "desktop" : "service");
        SmtpPeer local;
        CSMTP smtp(program, "127.0.0.1", local.Port(), clock);
        ASSERT_TRUE(smtp.OpenConnection()) << smtp.ErrorText();
        EXPECT_TRUE(smtp.bConnected);
        EXPECT_TRUE(smtp.OpenConnection());  // already open: no second HELO
        CMailMessage message = Message();
        ASSERT_TRUE(smtp.SendMail(message)) << smtp.ErrorText();
        EXPECT_EQ(smtp.sResponse, "250 queued\r\n");
        EXPECT_TRUE(smtp.CloseConnection());
        EXPECT_FALSE(smtp.bConnected);
        EXPECT_EQ(smtp.ErrorText(), "OK");
        ASSERT_TRUE(local.WaitFinished(1, kWaitMs));
        EXPECT_EQ(local.Received(), Helo() +
                                        "MAIL From: <me@x>\r\n"
                                        "RCPT TO: <you@y>\r\n"
                                        "DATA\r\n"
                                        "Date: Tue, 05 Mar 24 14:07:09 GMT\r\n"
                                        "From: me@x\r\n"
                                        "To: you@y<you@y>\r\n"
                                        "Subject: host UP\r\n"
                                        "X-Mailer: <Dovet Mail>\r\n"
                                        "\r\n"
                                        "host UP\r\n"
                                        "\r\n.\r\n"
                                        "QUIT\r\n");
    }
}

TEST_F(SmtpConversationTest, DotLinesAreStuffedOnTheWire) {
    auto smtp = Client(Program::Desktop);
    ASSERT_TRUE(smtp->OpenConnection());
    CMailMessage message = Message(".\r\n.\r\n.\r\nend");
    ASSERT_TRUE(smtp->SendMail(message)) << smtp->ErrorText();
    smtp->CloseConnection();
    EXPECT_THAT(Conversation(),
                HasSubstr("X-Mailer: <Dovet Mail>\r\n\r\n..\r\n..\r\n..\r\nend\r\n\r\n.\r\nQUIT"));
}

TEST_F(SmtpConversationTest, DestructionClosesAnOpenConnection) {
    {
        auto smtp = Client(Program::Service);
        ASSERT_TRUE(smtp->OpenConnection());
    }
    EXPECT_EQ(Conversation(), Helo() + "QUIT\r\n");
}

TEST_F(SmtpConversationTest, NoRecipientsSendsNothingOfTheMessage) {
    auto smtp = Client(Program::Desktop);
    ASSERT_TRUE(smtp->OpenConnection());
    CMailMessage message;
    message.sFrom = "me@x";
    EXPECT_FALSE(smtp->SendMail(message));
    EXPECT_EQ(smtp->ErrorText(), "No Recipients");
    EXPECT_TRUE(smtp->CloseConnection());
    EXPECT_EQ(Conversation(), Helo() + "QUIT\r\n");
}

TEST_F(SmtpConversationTest, InjectedLinesAreRefusedBeforeAnyMessageTraffic) {
    auto smtp = Client(Program::Service);
    ASSERT_TRUE(smtp->OpenConnection());
    CMailMessage message = Message();
    message.sSubject = "up\r\nBcc: evil@z";
    EXPECT_FALSE(smtp->SendMail(message));
    EXPECT_EQ(smtp->ErrorText(), kSmtpInvalidMessageText);
    message = Message();
    message.AddRecipient("evil@z>\r\nDATA", "x");
    EXPECT_FALSE(smtp->SendMail(message));
    EXPECT_EQ(smtp->ErrorText(), kSmtpInvalidMessageText);
    smtp->CloseConnection();
    EXPECT_EQ(Conversation(), Helo() + "QUIT\r\n");
}

TEST_F(SmtpConversationTest, ServerNameWithLineBreakIsRefusedWithoutConnecting) {
    CSMTP smtp(Program::Service, "127.0.0.1\r\nHELO x", peer.Port(), clock);
    EXPECT_FALSE(smtp.OpenConnection());
    EXPECT_EQ(smtp.ErrorText(), kSmtpInvalidServerText);
}

TEST_F(SmtpConversationTest, GreetingOf554FailsInEachProgramsWords) {
    peer.On(SmtpStage::Greeting, SmtpAction::Reply("554 go away\r\n"));
    auto desktop = Client(Program::Desktop);
    EXPECT_FALSE(desktop->OpenConnection());
    EXPECT_FALSE(desktop->bConnected);
    EXPECT_EQ(desktop->ErrorText(), "Server didn't respond.");
    EXPECT_EQ(desktop->sResponse, "554 go away\r\n");

    auto service = Client(Program::Service);
    EXPECT_FALSE(service->OpenConnection());
    EXPECT_EQ(service->ErrorText(),
              "554:SMTP server not available [sResponse='554 go away\r\n']  Server didn't "
              "respond.");
    // Both sockets were closed and nothing was sent.
    ASSERT_TRUE(peer.WaitFinished(2, kWaitMs));
    EXPECT_EQ(peer.Received(), "");
}

TEST_F(SmtpConversationTest, RefusedRecipientGoesOnInTheDesktopProgram) {
    peer.On(SmtpStage::Rcpt, SmtpAction::Reply("550 no such user\r\n"));
    peer.On(SmtpStage::Data, SmtpAction::Reply("503 need a recipient\r\n"));
    auto smtp = Client(Program::Desktop);
    ASSERT_TRUE(smtp->OpenConnection());
    CMailMessage message = Message();
    message.AddRecipient("second@y", "second@y");
    EXPECT_FALSE(smtp->SendMail(message));
    EXPECT_EQ(smtp->ErrorText(), "503:SMTP server not ready for data");
    EXPECT_TRUE(smtp->CloseConnection());
    EXPECT_EQ(Conversation(), Helo() +
                                  "MAIL From: <me@x>\r\nRCPT TO: <you@y>\r\n"
                                  "RCPT TO: <second@y>\r\nDATA\r\nQUIT\r\n");
}

TEST_F(SmtpConversationTest, RefusedRecipientOnlyChangesTheErrorWhenDataIsAccepted) {
    peer.On(SmtpStage::Rcpt, SmtpAction::Reply("550 no such user\r\n"));
    auto smtp = Client(Program::Desktop);
    ASSERT_TRUE(smtp->OpenConnection());
    CMailMessage message = Message();
    EXPECT_TRUE(smtp->SendMail(message));
    EXPECT_EQ(smtp->ErrorText(), "550:SMTP server error");
}

TEST_F(SmtpConversationTest, RefusedRecipientStopsTheServiceProgram) {
    peer.On(SmtpStage::Rcpt, SmtpAction::Reply("550 no such user\r\n"));
    auto smtp = Client(Program::Service);
    ASSERT_TRUE(smtp->OpenConnection());
    CMailMessage message = Message();
    message.AddRecipient("second@y", "second@y");
    EXPECT_FALSE(smtp->SendMail(message));
    EXPECT_EQ(smtp->ErrorText(), "550:SMTP server error [sResponse='550 no such user\r\n']");
    EXPECT_TRUE(smtp->CloseConnection());
    EXPECT_EQ(Conversation(), Helo() + "MAIL From: <me@x>\r\nRCPT TO: <you@y>\r\nQUIT\r\n");
}

TEST_F(SmtpConversationTest, QuitAnsweredWithoutClosingCodeFailsTheClose) {
    peer.On(SmtpStage::Quit, SmtpAction::Reply("500 what\r\n"));
    auto smtp = Client(Program::Desktop);
    ASSERT_TRUE(smtp->OpenConnection());
    CMailMessage message = Message();
    EXPECT_TRUE(smtp->SendMail(message));
    EXPECT_FALSE(smtp->CloseConnection());
    EXPECT_FALSE(smtp->bConnected);
    EXPECT_EQ(smtp->ErrorText(), "500:SMTP server didn't terminate session");
}

TEST_F(SmtpConversationTest, ReplyCodeIsReadAsEachProgramReadsIt) {
    // The desktop program reads three characters, the service program the whole number.
    peer.On(SmtpStage::Greeting, SmtpAction::Reply("2200 hello\r\n"));
    auto desktop = Client(Program::Desktop);
    EXPECT_TRUE(desktop->OpenConnection()) << desktop->ErrorText();
    desktop->CloseConnection();
    auto service = Client(Program::Service);
    EXPECT_FALSE(service->OpenConnection());
    EXPECT_THAT(service->ErrorText(), ::testing::StartsWith("2200:SMTP server not available"));

    // A reply that does not begin with a number has code 0.
    peer.On(SmtpStage::Greeting, SmtpAction::Reply("220 hi\r\n"));
    peer.On(SmtpStage::Helo, SmtpAction::Reply("hello there\r\n"));
    auto noCode = Client(Program::Desktop);
    EXPECT_FALSE(noCode->OpenConnection());
    EXPECT_EQ(noCode->ErrorText(), "0:SMTP server error");
}

TEST_F(SmtpConversationTest, HeaderAndBodyAreEachCutAt355Bytes) {
    auto smtp = Client(Program::Service);
    ASSERT_TRUE(smtp->OpenConnection());
    CMailMessage message = Message(std::string(400, 'b'));
    message.sSubject = std::string(400, 's');
    ASSERT_TRUE(smtp->SendMail(message)) << smtp->ErrorText();
    smtp->CloseConnection();
    ASSERT_GT(message.sHeader.size(), 355u);
    EXPECT_EQ(Conversation(), Helo() + "MAIL From: <me@x>\r\nRCPT TO: <you@y>\r\nDATA\r\n" +
                                  message.sHeader.substr(0, 355) + std::string(355, 'b') +
                                  "\r\n.\r\nQUIT\r\n");
}

TEST_F(SmtpConversationTest, CutBodyNeverEndsTheDataEarly) {
    // Cut at 355 bytes this body would end in CR LF ".", which with the end-of-data line
    // would end the data one line early and leave "." to be read as a command.
    auto smtp = Client(Program::Desktop);
    ASSERT_TRUE(smtp->OpenConnection());
    CMailMessage message = Message(std::string(352, 'b') + "\r\n.more\r\n");
    ASSERT_TRUE(smtp->SendMail(message)) << smtp->ErrorText();
    EXPECT_TRUE(smtp->CloseConnection()) << smtp->ErrorText();
    EXPECT_THAT(Conversation(),
                ::testing::EndsWith(std::string(352, 'b') + "\r\n\r\n.\r\nQUIT\r\n"));
}

TEST_F(SmtpConversationTest, RepliesSplitAcrossSegmentsAndMultiLineRepliesAreWhole) {
    peer.On(SmtpStage::Greeting, SmtpAction::Split("220 peer ready\r\n", 2, 150));
    peer.On(SmtpStage::Helo,
            SmtpAction::Split("250-peer.test\r\n250-SIZE 1000\r\n250 HELP\r\n", 20, 150));
    peer.On(SmtpStage::Mail, SmtpAction::Split("250 ok\r\n", 7, 150));  // CR and LF apart
    auto smtp = Client(Program::Service);
    ASSERT_TRUE(smtp->OpenConnection()) << smtp->ErrorText();
    EXPECT_EQ(smtp->sResponse, "250-peer.test\r\n250-SIZE 1000\r\n250 HELP\r\n");
    CMailMessage message = Message();
    EXPECT_TRUE(smtp->SendMail(message)) << smtp->ErrorText();
    EXPECT_TRUE(smtp->CloseConnection()) << smtp->ErrorText();
}

TEST_F(SmtpConversationTest, WhatFollowsAReplyIsKeptForTheNextOne) {
    // Greeting and the answer to HELO in one segment; the peer then says nothing more.
    peer.On(SmtpStage::Greeting, SmtpAction::Reply("220 hi\r\n250 early\r\n"));
    peer.On(SmtpStage::Helo, SmtpAction::Silent());
    auto smtp = Client(Program::Desktop, 300);
    ASSERT_TRUE(smtp->OpenConnection()) << smtp->ErrorText();
    EXPECT_EQ(smtp->sResponse, "250 early\r\n");
    EXPECT_FALSE(smtp->CloseConnection());
    EXPECT_EQ(smtp->ErrorText(), "Socket Error");
}

TEST_F(SmtpConversationTest, SilentPeerTimesOutInEachProgramsWords) {
    peer.On(SmtpStage::Greeting, SmtpAction::Silent());
    auto started = std::chrono::steady_clock::now();
    auto desktop = Client(Program::Desktop, 200);
    EXPECT_FALSE(desktop->OpenConnection());
    EXPECT_EQ(desktop->ErrorText(), "Server didn't respond.");
    auto service = Client(Program::Service, 200);
    EXPECT_FALSE(service->OpenConnection());
    EXPECT_EQ(service->ErrorText(), "Socket Error  Server didn't respond.");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
}

TEST_F(SmtpConversationTest, SilenceAfterDataGivesUpTheConnectionWithoutQuit) {
    peer.On(SmtpStage::EndOfData, SmtpAction::Silent());
    auto smtp = Client(Program::Desktop, 200);
    ASSERT_TRUE(smtp->OpenConnection());
    CMailMessage message = Message();
    EXPECT_FALSE(smtp->SendMail(message));
    EXPECT_EQ(smtp->ErrorText(), "Socket Error");
    EXPECT_FALSE(smtp->bConnected);
    EXPECT_TRUE(smtp->CloseConnection());
    EXPECT_THAT(Conversation(), Not(HasSubstr("QUIT")));
}

TEST_F(SmtpConversationTest, PeerClosingMidConversationIsASocketError) {
    peer.On(SmtpStage::Mail, SmtpAction::Close());
    for (Program program : {Program::Desktop, Program::Service}) {
        auto smtp = Client(program);
        ASSERT_TRUE(smtp->OpenConnection());
        CMailMessage message = Message();
        EXPECT_FALSE(smtp->SendMail(message));
        EXPECT_EQ(smtp->ErrorText(), "Socket Error");
        EXPECT_FALSE(smtp->bConnected);
        CMailMessage again = Message();
        EXPECT_FALSE(smtp->SendMail(again));
        EXPECT_EQ(smtp->ErrorText(), "Must be connected");
    }
}

TEST_F(SmtpConversationTest, PartialReplyBeforeCloseIsASocketError) {
    peer.On(SmtpStage::Greeting, SmtpAction::Reply("220 half a line"));
    peer.On(SmtpStage::Helo, SmtpAction::Close());
    auto smtp = Client(Program::Service, 300);
    EXPECT_FALSE(smtp->OpenConnection());
    EXPECT_EQ(smtp->ErrorText(), "Socket Error  Server didn't respond.");
    EXPECT_EQ(smtp->sResponse, "220 half a line");
}

TEST(SmtpConnectTest, RefusedConnectionInEachProgramsWords) {
    FakeClock clock;
    TcpRefusingPort refusing;
    CSMTP desktop(Program::Desktop, "127.0.0.1", refusing.Port(), clock);
    EXPECT_FALSE(desktop.OpenConnection());
    EXPECT_EQ(desktop.ErrorText(), "Unable to connect to server");
    CSMTP service(Program::Service, "127.0.0.1", refusing.Port(), clock);
    EXPECT_FALSE(service.OpenConnection());
    EXPECT_EQ(service.ErrorText(), "Unable to connect to server 127.0.0.1 (100007f)");
    EXPECT_FALSE(service.bConnected);
}

TEST(SmtpConnectTest, UnusablePortOrServerIsAConnectFailure) {
    FakeClock clock;
    CSMTP badPort(Program::Service, "127.0.0.1", 70000, clock);
    EXPECT_FALSE(badPort.OpenConnection());
    EXPECT_EQ(badPort.ErrorText(), "Unable to connect to server 127.0.0.1 (100007f)");
    CSMTP noServer(Program::Service, "", 25, clock);
    EXPECT_FALSE(noServer.OpenConnection());
    EXPECT_EQ(noServer.ErrorText(), "Unable to connect to server  (ffffffff)");
}

}  // namespace
}  // namespace qv
