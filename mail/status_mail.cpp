// Sending one status e-mail with a fresh SMTP client.
#include "mail/status_mail.h"

#include <utility>

#include "mail/mail_message.h"

namespace qv {

namespace {

void Report(const MailErrorHook& onError, const std::string& text) {
    if (onError) {
        onError(text);
    }
}

}  // namespace

bool SendStatusMail(const ProgramRules& rules, Clock& clock, const std::string& server, int port,
                    const std::string& from, const std::string& to, const std::string& subject,
                    const std::string& body, const MailErrorHook& onError) {
    return SendStatusMail(rules, clock, server, port, from, to, subject, body, onError,
                          MailTimeouts{});
}

bool SendStatusMail(const ProgramRules& rules, Clock& clock, const std::string& server, int port,
                    const std::string& from, const std::string& to, const std::string& subject,
                    const std::string& body, const MailErrorHook& onError,
                    const MailTimeouts& timeouts, SmtpAbort* abort,
                    const MailSecurityOptions& security) {
    CMailMessage message;
    message.sFrom = from;
    message.AddRecipient(to, to);
    message.sSubject = subject;
    message.sBody = body;

    CSMTP smtp(rules, server, port, clock);
    smtp.SetTimeouts(timeouts.connectMs, timeouts.replyMs);
    smtp.SetAbort(abort);
    smtp.SetSecurity(security);
    // A message that would inject lines is refused before the server is even contacted.
    if (!smtp.CheckMessage(message)) {
        Report(onError, smtp.ErrorText());
        return false;
    }
    if (!smtp.OpenConnection()) {
        Report(onError, smtp.ErrorText());
        return false;
    }
    bool sent = smtp.SendMail(message);
    if (!sent) {
        Report(onError, smtp.ErrorText());
    }
    smtp.CloseConnection();
    return sent;
}

SmtpMailSender::SmtpMailSender(ProgramRules rules, Clock& clock, MailErrorHook onError)
    : rules_(std::move(rules)), clock_(clock), onError_(std::move(onError)) {}

bool SmtpMailSender::Send(const std::string& server, int port, const std::string& from,
                          const std::string& to, const std::string& subject,
                          const std::string& body) {
    return SendStatusMail(rules_, clock_, server, port, from, to, subject, body, onError_,
                          timeouts_, &abort_, Security());
}

bool SmtpMailSender::SendReporting(const std::string& server, int port, const std::string& from,
                                   const std::string& to, const std::string& subject,
                                   const std::string& body, std::string* error) {
    error->clear();
    const MailErrorHook keep = [error](const std::string& text) { *error = text; };
    return SendStatusMail(rules_, clock_, server, port, from, to, subject, body, keep, timeouts_,
                          &abort_, Security());
}

bool SmtpMailSender::SendWith(const MailSecurityOptions& security, const std::string& server,
                              int port, const std::string& from, const std::string& to,
                              const std::string& subject, const std::string& body,
                              std::string* error) {
    error->clear();
    const MailErrorHook keep = [error](const std::string& text) { *error = text; };
    return SendStatusMail(rules_, clock_, server, port, from, to, subject, body, keep, timeouts_,
                          &abort_, security);
}

void SmtpMailSender::SetSecurity(const MailSecurityOptions& security) {
    std::lock_guard<std::mutex> lock(securityMutex_);
    security_ = security;
}

MailSecurityOptions SmtpMailSender::Security() {
    std::lock_guard<std::mutex> lock(securityMutex_);
    return security_;
}

void SmtpMailSender::SetTimeouts(int connectMs, int replyMs) {
    timeouts_ = MailTimeouts{connectMs, replyMs};
}

}  // namespace qv
