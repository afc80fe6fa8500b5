// Sending one status e-mail, and the seam the status watcher sends through.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "core/mail_security.h"
#include "core/mail_sender.h"
#include "core/program.h"
#include "mail/smtp.h"
#include "platform/clock.h"

namespace qv {

// Receives the client's error text when a status mail could not be sent.
using MailErrorHook = std::function<void(const std::string&)>;

struct MailTimeouts {
    int connectMs = kSmtpDefaultConnectMs;
    int replyMs = kSmtpDefaultReplyMs;
};

// Sends one message (the recipient's display name is its address) with a fresh client and
// returns whether the server accepted it. Failures of connecting or sending go to onError
// (which may be empty); a refused QUIT does not make an accepted message fail.
bool SendStatusMail(const ProgramRules& rules, Clock& clock, const std::string& server, int port,
                    const std::string& from, const std::string& to, const std::string& subject,
                    const std::string& body, const MailErrorHook& onError);
// `abort`, when given, lets another thread end the conversation at once; `security` is
// the [mail] section's security and login.
bool SendStatusMail(const ProgramRules& rules, Clock& clock, const std::string& server, int port,
                    const std::string& from, const std::string& to, const std::string& subject,
                    const std::string& body, const MailErrorHook& onError,
                    const MailTimeouts& timeouts, SmtpAbort* abort = nullptr,
                    const MailSecurityOptions& security = {});

// Sends through SMTP with SendStatusMail. Send reports failures to onError,
// SendReporting to its caller. After Abort every conversation fails at once.
class SmtpMailSender final : public MailSender {
  public:
    SmtpMailSender(ProgramRules rules, Clock& clock, MailErrorHook onError);
    bool Send(const std::string& server, int port, const std::string& from, const std::string& to,
              const std::string& subject, const std::string& body) override;
    bool SendReporting(const std::string& server, int port, const std::string& from,
                       const std::string& to, const std::string& subject, const std::string& body,
                       std::string* error) override;
    bool SendWith(const MailSecurityOptions& security, const std::string& server, int port,
                  const std::string& from, const std::string& to, const std::string& subject,
                  const std::string& body, std::string* error) override;
    void Abort() override { abort_.Abort(); }
    void SetTimeouts(int connectMs, int replyMs);
    // For every later message; another thread may call it while a message is being sent.
    void SetSecurity(const MailSecurityOptions& security) override;

  private:
    ProgramRules rules_;
    Clock& clock_;
    MailErrorHook onError_;
    MailTimeouts timeouts_;
    SmtpAbort abort_;
    std::mutex securityMutex_;
    MailSecurityOptions security_;  // under securityMutex_
    MailSecurityOptions Security();
};

}  // namespace qv
