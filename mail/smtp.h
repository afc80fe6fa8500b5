// The SMTP client: greeting, HELO, MAIL, RCPT, DATA and QUIT over one TCP connection, one
// reply per command. With a security other than none it says EHLO, protects the
// conversation with TLS (STARTTLS, or from the first byte) and may log in.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "core/mail_security.h"
#include "core/program.h"
#include "mail/mail_message.h"
#include "platform/clock.h"
#include "platform/net.h"

namespace qv {

// What a step of the conversation expects from the server.
enum class ReplyKind { Ok = 0, Ready = 1, StartData = 2, Closing = 3, LoggedIn = 4, GoOn = 5 };

struct ExpectedReply {
    int code;          // the reply code the step requires
    const char* text;  // reported when another code arrives
};

// The row of the expected-reply table for one kind.
const ExpectedReply& ExpectedReplyFor(ReplyKind kind);

// Each single send (a command line, the header block, the body, the end of data) is cut
// to this many bytes.
constexpr size_t kSmtpSendLimit = 355;
// sResponse keeps at most this many bytes of the last reply.
constexpr size_t kSmtpResponseLimit = 1024;
// Reply code reported when a reply does not begin with a decimal number.
constexpr int kSmtpNoReplyCode = 0;
constexpr int kSmtpDefaultConnectMs = 10000;
constexpr int kSmtpDefaultReplyMs = 30000;

// Error text for a message whose address, recipient name or subject holds CR, LF or NUL
// (they would let the text inject commands or header lines).
inline constexpr const char* kSmtpInvalidMessageText = "Invalid character in address or subject";
// Error text for a server name holding CR, LF or NUL.
inline constexpr const char* kSmtpInvalidServerText = "Invalid character in server name";
// Error text for a login asked for over a plain conversation.
inline constexpr const char* kSmtpClearPasswordText =
    "Refusing to send the mail password without TLS: choose STARTTLS or SSL/TLS";

class TlsSession;

// Lets another thread end a client's conversation at once: the socket is shut down, so a
// connect, send or receive in progress returns, and no later connection is made.
class SmtpAbort {
  public:
    void Abort();
    bool Aborted();
    // The client's socket while it is open; false (and nothing kept) once aborted.
    bool Attach(int fd);
    // Before the socket is closed, so that a late Abort cannot reach a reused descriptor.
    void Detach();

  private:
    std::mutex mutex_;
    bool aborted_ = false;
    int fd_ = -1;
};

class CSMTP {
  public:
    // Stores the server and port; no network activity.
    CSMTP(ProgramRules rules, std::string server, int port, Clock& clock);
    // Closes an open connection first (QUIT).
    virtual ~CSMTP();
    CSMTP(const CSMTP&) = delete;
    CSMTP& operator=(const CSMTP&) = delete;

    // Connects, reads the 220 greeting and says HELO. True at once when already open.
    bool OpenConnection();
    // Sends one message over the open connection.
    bool SendMail(CMailMessage& message);
    // Says QUIT and closes; true at once when no connection is open.
    bool CloseConnection();
    // The last error ("OK" when none happened yet).
    std::string ErrorText() const { return sError; }

    // Bounds for connecting and for waiting for each whole reply (and for each send).
    void SetTimeouts(int connectMs, int replyMs);
    // Another thread may end the conversation through `abort` (which must outlive it).
    void SetAbort(SmtpAbort* abort) { abort_ = abort; }
    // Security, login and extra CA file for the next OpenConnection (default: plain).
    void SetSecurity(MailSecurityOptions options) { security_ = std::move(options); }

    // Builds the header and makes the body end with CR LF.
    virtual bool PrepareMessage(CMailMessage& message);
    bool BuildHeader(CMailMessage& message);
    // The body with every line that is a single "." doubled.
    std::string StuffDots(const CMailMessage& message) const;
    // Reads one whole reply (all lines of a multi-line reply) and checks its code.
    bool ReadReply(ReplyKind kind);
    // False (with sError set) when an address, recipient name or the subject holds a
    // character that would break out of its command or header line.
    bool CheckMessage(const CMailMessage& message);

    std::string sError = "OK";
    bool bConnected = false;  // open and greeted (greeting and HELO accepted)
    int32_t nPort;
    std::string sMailerName = "Dovet Mail";
    std::string sServer;
    std::string sResponse;  // the last reply, at most kSmtpResponseLimit bytes

  private:
    // Sends at most kSmtpSendLimit bytes of text. On failure the connection is dropped
    // and sError is "Socket Error".
    bool SendText(const std::string& text);
    // The socket's calls, through TLS once it is on.
    int SendBytes(const char* data, size_t size);
    int ReceiveBytes(char* data, size_t capacity, int timeoutMs, size_t* received);
    // EHLO (after TLS began, or instead of HELO when TLS is asked for), remembering the
    // extensions the server offers.
    bool SayEhlo(const std::string& hostName);
    // TLS over the open connection; sError names the cause when it fails.
    bool StartTls();
    // AUTH PLAIN, or LOGIN when only that is offered; sError holds the server's reply
    // when the login is refused.
    bool LogIn();
    // Closes the socket without QUIT; what was buffered is thrown away.
    void DropConnection();
    // "Date:" text of tDateTime, "" when it cannot be formatted.
    std::string FormatDate(int64_t t);
    int ReplyCode(const std::string& reply) const;

    ProgramRules rules_;
    Clock& clock_;
    TcpSocket socket_;
    std::string pending_;  // bytes received after the last whole reply
    int connectMs_ = kSmtpDefaultConnectMs;
    int replyMs_ = kSmtpDefaultReplyMs;
    SmtpAbort* abort_ = nullptr;
    MailSecurityOptions security_;
    std::unique_ptr<TlsSession> tls_;
    std::string extensions_;  // the last EHLO reply, upper case
};

// "%x" text of an IPv4 address (network byte order) read as a 32-bit number whose lowest
// byte is the first part of the dotted form: 192.168.1.1 gives "101a8c0".
std::string AddressHex(uint32_t networkOrderAddress);

}  // namespace qv
