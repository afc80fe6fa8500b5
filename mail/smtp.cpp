// The SMTP client: one conversation per message, plain or over TLS, every wait bounded.
#include "mail/smtp.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>

#include <openssl/evp.h>
#include <sys/socket.h>

#include "mail/name_lookup.h"
#include "mail/tls_session.h"

namespace qv {

namespace {

constexpr std::array<ExpectedReply, 6> kExpectedReplies = {{
    {250, "SMTP server error"},
    {220, "SMTP server not available"},
    {354, "SMTP server not ready for data"},
    {221, "SMTP server didn't terminate session"},
    {235, "SMTP login refused"},
    {334, "SMTP login refused"},
}};

// A reply larger than this (an endless multi-line reply) is treated as a broken peer.
constexpr size_t kMaxReplyBytes = 64 * 1024;
// HELO carries at most this many characters of the machine's name.
constexpr size_t kMaxHeloNameChars = 79;
// The date text must fit 127 characters.
constexpr size_t kMaxDateChars = 127;

constexpr const char* kSocketError = "Socket Error";

// CR and LF end a command or header line early; NUL would cut it short on the server.
bool HasLineBreak(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Length of the first whole reply in buffer (every line up to and including its line
// end, through the last line of a multi-line reply), or 0 when it is not complete yet.
// A line ends with LF; the CR before it is expected but not required.
size_t WholeReplyLength(const std::string& buffer) {
    size_t pos = 0;
    for (;;) {
        size_t lf = buffer.find('\n', pos);
        if (lf == std::string::npos) {
            return 0;
        }
        bool continues = lf - pos >= 4 && IsDigit(buffer[pos]) && IsDigit(buffer[pos + 1]) &&
                         IsDigit(buffer[pos + 2]) && buffer[pos + 3] == '-';
        pos = lf + 1;
        if (!continues) {
            return pos;
        }
    }
}

std::string Base64(const std::string& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                            reinterpret_cast<const unsigned char*>(bytes.data()),
                            static_cast<int>(bytes.size()));
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
}

// The first line of a reply, without its line end, for an error text.
std::string FirstLine(const std::string& reply) {
    return reply.substr(0, reply.find_first_of("\r\n"));
}

// Whether an EHLO reply (upper case) offers `keyword`, on its own line ("250-STARTTLS") or,
// with `word`, as one of an AUTH line's mechanisms.
bool Offers(const std::string& extensions, const std::string& keyword,
            const std::string& word = {}) {
    size_t pos = 0;
    while (pos < extensions.size()) {
        size_t end = extensions.find('\n', pos);
        std::string line = extensions.substr(pos, end == std::string::npos ? end : end - pos);
        pos = end == std::string::npos ? extensions.size() : end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.size() < 4) {
            continue;
        }
        std::string rest = line.substr(4);
        if (rest.compare(0, keyword.size(), keyword) != 0 ||
            (rest.size() > keyword.size() && rest[keyword.size()] != ' ')) {
            continue;
        }
        if (word.empty()) {
            return true;
        }
        std::string words = " " + rest.substr(keyword.size()) + " ";
        if (words.find(" " + word + " ") != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string Printf(const char* format, auto... args) {
    int n = std::snprintf(nullptr, 0, format, args...);
    if (n <= 0) {
        return {};
    }
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, args...);
    text.resize(static_cast<size_t>(n));
    return text;
}

}  // namespace

const ExpectedReply& ExpectedReplyFor(ReplyKind kind) {
    return kExpectedReplies[static_cast<size_t>(kind)];
}

std::string AddressHex(uint32_t networkOrderAddress) {
    unsigned char bytes[4];
    std::memcpy(bytes, &networkOrderAddress, sizeof bytes);
    uint32_t value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                     static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    return Printf("%x", static_cast<unsigned>(value));
}

void SmtpAbort::Abort() {
    std::lock_guard<std::mutex> lock(mutex_);
    aborted_ = true;
    if (fd_ >= 0) {
        ::shutdown(fd_, SHUT_RDWR);
    }
}

bool SmtpAbort::Aborted() {
    std::lock_guard<std::mutex> lock(mutex_);
    return aborted_;
}

bool SmtpAbort::Attach(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    fd_ = aborted_ ? -1 : fd;
    return !aborted_;
}

void SmtpAbort::Detach() {
    std::lock_guard<std::mutex> lock(mutex_);
    fd_ = -1;
}

CSMTP::CSMTP(ProgramRules rules, std::string server, int port, Clock& clock)
    : nPort(port), sServer(std::move(server)), rules_(std::move(rules)), clock_(clock) {}

CSMTP::~CSMTP() {
    if (bConnected) {
        CloseConnection();
    }
    DropConnection();
}

void CSMTP::SetTimeouts(int connectMs, int replyMs) {
    connectMs_ = std::max(connectMs, 0);
    replyMs_ = std::max(replyMs, 0);
}

void CSMTP::DropConnection() {
    if (abort_ != nullptr) {
        abort_->Detach();
    }
    tls_.reset();
    socket_.Close();
    pending_.clear();
    bConnected = false;
}

int CSMTP::SendBytes(const char* data, size_t size) {
    return tls_ ? tls_->SendAll(data, size, replyMs_) : socket_.SendAll(data, size, replyMs_);
}

int CSMTP::ReceiveBytes(char* data, size_t capacity, int timeoutMs, size_t* received) {
    return tls_ ? tls_->Receive(data, capacity, timeoutMs, received)
                : socket_.Receive(data, capacity, timeoutMs, received);
}

bool CSMTP::SendText(const std::string& text) {
    size_t size = std::min(text.size(), kSmtpSendLimit);
    if (!socket_.Valid() || SendBytes(text.data(), size) != 0) {
        sError = kSocketError;
        DropConnection();
        return false;
    }
    return true;
}

int CSMTP::ReplyCode(const std::string& reply) const {
    // The desktop program reads the first three characters only, the service program the
    // whole leading number.
    size_t limit = rules_.replyCodeFromThreeChars ? 3 : reply.size();
    int64_t code = kSmtpNoReplyCode;
    for (size_t i = 0; i < limit && i < reply.size() && IsDigit(reply[i]); ++i) {
        code = std::min<int64_t>(code * 10 + (reply[i] - '0'), INT_MAX);
    }
    return static_cast<int>(code);
}

bool CSMTP::ReadReply(ReplyKind kind) {
    const ExpectedReply& expected = ExpectedReplyFor(kind);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(replyMs_);
    size_t length = 0;
    while ((length = WholeReplyLength(pending_)) == 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        char buffer[1024];
        size_t received = 0;
        // A timeout, a closed connection or an oversized reply all leave the conversation
        // out of step, so the connection is given up.
        if (!socket_.Valid() || pending_.size() > kMaxReplyBytes || left <= 0 ||
            ReceiveBytes(buffer, sizeof buffer, static_cast<int>(left), &received) != 0 ||
            received == 0) {
            sResponse = pending_.substr(0, kSmtpResponseLimit);
            sError = kSocketError;
            DropConnection();
            return false;
        }
        pending_.append(buffer, received);
    }
    std::string reply = pending_.substr(0, length);
    pending_.erase(0, length);
    sResponse = reply.substr(0, kSmtpResponseLimit);
    if (kind == ReplyKind::Ok && security_.security != MailSecurity::None) {
        extensions_ = reply;
        std::transform(extensions_.begin(), extensions_.end(), extensions_.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    }

    int code = ReplyCode(reply);
    if (code == expected.code) {
        return true;
    }
    if (rules_.detailedMailErrors) {
        sError = Printf("%d:%s [sResponse='%s']", code, expected.text, sResponse.c_str());
    } else {
        sError = Printf("%d:%s", code, expected.text);
    }
    return false;
}

bool CSMTP::OpenConnection() {
    if (bConnected) {
        return true;
    }
    if (HasLineBreak(sServer)) {
        sError = kSmtpInvalidServerText;
        return false;
    }
    const bool secure = security_.security != MailSecurity::None;
    if (!security_.user.empty() && !secure) {
        sError = kSmtpClearPasswordText;
        return false;
    }
    int createError = 0;
    socket_ = TcpSocket::Create(&createError);
    if (!socket_.Valid()) {
        sError = "Unable to create the socket.";
        return false;
    }
    pending_.clear();

    // An abort after this point shuts the socket down, which ends the connect at once.
    if (abort_ != nullptr && !abort_->Attach(socket_.Fd())) {
        sError = kSocketError;
        DropConnection();
        return false;
    }

    // The lookup gives way to an abort, so a stop never waits on the name servers.
    auto aborted = [this] { return abort_ != nullptr && abort_->Aborted(); };
    LookupResult lookup = LookupIPv4(sServer, connectMs_, aborted);
    std::optional<uint32_t> address;
    if (lookup.end == LookupEnd::Found) {
        address = lookup.address;
    }
    int connectError = EINVAL;
    if (aborted()) {
        connectError = ECONNABORTED;
    } else if (address && nPort > 0 && nPort <= 65535) {
        connectError = socket_.Connect(*address, static_cast<uint16_t>(nPort), connectMs_);
    }
    if (connectError != 0) {
        if (rules_.detailedMailErrors) {
            // A name that cannot be resolved shows as ffffffff, the "no address" value.
            sError = Printf("Unable to connect to server %s (%s)", sServer.c_str(),
                            AddressHex(address.value_or(0xffffffffu)).c_str());
        } else {
            sError = "Unable to connect to server";
        }
        DropConnection();
        return false;
    }

    if (security_.security == MailSecurity::Tls && !StartTls()) {
        DropConnection();
        return false;
    }
    if (!ReadReply(ReplyKind::Ready)) {
        if (rules_.detailedMailErrors) {
            sError += "  Server didn't respond.";
        } else {
            sError = "Server didn't respond.";
        }
        DropConnection();
        return false;
    }

    std::string hostName = LocalHostName().substr(0, kMaxHeloNameChars);
    if (!secure) {
        if (!SendText("HELO " + hostName + "\r\n") || !ReadReply(ReplyKind::Ok)) {
            DropConnection();
            return false;
        }
        bConnected = true;
        return true;
    }
    if (!SayEhlo(hostName)) {
        DropConnection();
        return false;
    }
    if (security_.security == MailSecurity::StartTls) {
        if (!Offers(extensions_, "STARTTLS")) {
            sError = "The SMTP server does not offer STARTTLS: " + FirstLine(sResponse);
            DropConnection();
            return false;
        }
        if (!SendText("STARTTLS\r\n") || !ReadReply(ReplyKind::Ready)) {
            DropConnection();
            return false;
        }
        // Bytes sent before the handshake would be read as if they came over TLS.
        if (!pending_.empty()) {
            sError = "The SMTP server sent data before the TLS handshake";
            DropConnection();
            return false;
        }
        if (!StartTls() || !SayEhlo(hostName)) {
            DropConnection();
            return false;
        }
    }
    if (!security_.user.empty() && !LogIn()) {
        DropConnection();
        return false;
    }
    bConnected = true;
    return true;
}

bool CSMTP::SayEhlo(const std::string& hostName) {
    extensions_.clear();
    return SendText("EHLO " + hostName + "\r\n") && ReadReply(ReplyKind::Ok);
}

bool CSMTP::StartTls() {
    std::string error;
    tls_ = TlsSession::Start(socket_.Fd(), sServer, security_.caFile, connectMs_, &error);
    if (!tls_) {
        sError = error;
        return false;
    }
    return true;
}

bool CSMTP::LogIn() {
    if (security_.password.empty()) {
        sError = "The mail login has no password";
        return false;
    }
    // Both ways must fit one command line: a cut one would be a wrong login.
    const std::string plain =
        "AUTH PLAIN " + Base64(std::string(1, '\0') + security_.user + '\0' + security_.password);
    const std::string user = Base64(security_.user);
    const std::string password = Base64(security_.password);
    if (plain.size() + 2 > kSmtpSendLimit) {
        sError = "The mail user name and password are too long";
        return false;
    }
    bool loggedIn = false;
    if (Offers(extensions_, "AUTH", "PLAIN")) {
        loggedIn = SendText(plain + "\r\n") && ReadReply(ReplyKind::LoggedIn);
    } else if (Offers(extensions_, "AUTH", "LOGIN")) {
        loggedIn = SendText("AUTH LOGIN\r\n") && ReadReply(ReplyKind::GoOn) &&
                   SendText(user + "\r\n") && ReadReply(ReplyKind::GoOn) &&
                   SendText(password + "\r\n") && ReadReply(ReplyKind::LoggedIn);
    } else {
        sError = "The SMTP server offers no login this program knows (AUTH PLAIN or LOGIN)";
        return false;
    }
    if (!loggedIn && sError != kSocketError) {
        sError = "SMTP login refused: " + FirstLine(sResponse);
    }
    return loggedIn;
}

bool CSMTP::CheckMessage(const CMailMessage& message) {
    bool bad = HasLineBreak(message.sFrom) || HasLineBreak(message.sSubject);
    std::string email;
    std::string name;
    for (int i = 0; !bad && message.RecipientAt(i, email, name); ++i) {
        bad = HasLineBreak(email) || HasLineBreak(name);
    }
    if (bad) {
        sError = kSmtpInvalidMessageText;
        return false;
    }
    return true;
}

bool CSMTP::SendMail(CMailMessage& message) {
    if (!bConnected) {
        sError = "Must be connected";
        return false;
    }
    if (!CheckMessage(message) || !PrepareMessage(message)) {
        return false;
    }
    if (!SendText("MAIL From: <" + message.sFrom + ">\r\n") || !ReadReply(ReplyKind::Ok)) {
        return false;
    }
    std::string email;
    std::string name;
    for (int i = 0; message.RecipientAt(i, email, name); ++i) {
        if (!SendText("RCPT TO: <" + email + ">\r\n")) {
            return false;
        }
        // The desktop program goes on after a refused recipient; a lost connection ends
        // the transaction in both programs.
        if (!ReadReply(ReplyKind::Ok) && (rules_.refusedRecipientEndsMail || !bConnected)) {
            return false;
        }
    }
    if (!SendText("DATA\r\n") || !ReadReply(ReplyKind::StartData)) {
        return false;
    }
    if (!SendText(message.sHeader)) {
        return false;
    }
    std::string body = StuffDots(message).substr(0, kSmtpSendLimit);
    // A cut right after a line break and a dot would, with the end-of-data line that
    // follows, end the data early and leave "." to be read as a command.
    if (body == "." || (body.size() >= 3 && body.compare(body.size() - 3, 3, "\r\n.") == 0)) {
        body.pop_back();
    }
    if (!SendText(body) || !SendText("\r\n.\r\n")) {
        return false;
    }
    return ReadReply(ReplyKind::Ok);
}

bool CSMTP::CloseConnection() {
    if (!bConnected) {
        return true;
    }
    bool closed = SendText("QUIT\r\n") && ReadReply(ReplyKind::Closing);
    DropConnection();
    return closed;
}

bool CSMTP::PrepareMessage(CMailMessage& message) {
    if (!BuildHeader(message)) {
        return false;
    }
    const std::string end = "\r\n";
    if (message.sBody.size() < end.size() ||
        message.sBody.compare(message.sBody.size() - end.size(), end.size(), end) != 0) {
        message.sBody += end;
    }
    return true;
}

std::string CSMTP::FormatDate(int64_t t) {
    // Day and month names are written here rather than by strftime so the header stays
    // English whatever the user's locale.
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm tm{};
    if (!clock_.LocalTime(t, tm) || tm.tm_wday < 0 || tm.tm_wday > 6 || tm.tm_mon < 0 ||
        tm.tm_mon > 11) {
        return {};
    }
    int year = ((tm.tm_year + 1900) % 100 + 100) % 100;
    const char* zone = tm.tm_zone != nullptr ? tm.tm_zone : "";
    std::string date = Printf("%s, %02d %s %02d %02d:%02d:%02d %s", kDays[tm.tm_wday], tm.tm_mday,
                              kMonths[tm.tm_mon], year, tm.tm_hour, tm.tm_min, tm.tm_sec, zone);
    return date.size() <= kMaxDateChars ? date : std::string();
}

bool CSMTP::BuildHeader(CMailMessage& message) {
    if (message.RecipientCount() == 0) {
        sError = "No Recipients";
        return false;
    }
    std::string recipients;
    std::string email;
    std::string name;
    for (int i = 0; message.RecipientAt(i, email, name); ++i) {
        if (i > 0) {
            recipients += ",";
        }
        recipients += name + "<" + email + ">";
    }
    message.tDateTime = clock_.Now();
    message.sHeader = "Date: " + FormatDate(message.tDateTime) + "\r\nFrom: " + message.sFrom +
                      "\r\nTo: " + recipients + "\r\nSubject: " + message.sSubject +
                      "\r\nX-Mailer: <" + sMailerName + ">\r\n\r\n";
    return true;
}

std::string CSMTP::StuffDots(const CMailMessage& message) const {
    std::string text = message.sBody;
    if (text.starts_with(".\r\n")) {
        text.insert(0, ".");
    }
    // Searching on from the last replacement finds the same matches as starting over:
    // nothing before it changed, and "\r\n..\r\n" holds no "\r\n.\r\n" of its own.
    size_t pos = 0;
    while ((pos = text.find("\r\n.\r\n", pos)) != std::string::npos) {
        text.replace(pos, 5, "\r\n..\r\n");
    }
    return text;
}

}  // namespace qv
