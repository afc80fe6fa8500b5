// The seam the status watcher's mail worker sends status mail through; the mail layer
// provides the SMTP implementation, tests recording fakes.
#pragma once

#include <string>

#include "core/mail_security.h"

namespace qv {

class MailSender {
  public:
    virtual ~MailSender() = default;
    // Sends one message and returns whether the server accepted it.
    virtual bool Send(const std::string& server, int port, const std::string& from,
                      const std::string& to, const std::string& subject,
                      const std::string& body) = 0;
    // Send, handing the reason of a failure to *error (empty when the sender gives none)
    // instead of reporting it in its own way.
    virtual bool SendReporting(const std::string& server, int port, const std::string& from,
                               const std::string& to, const std::string& subject,
                               const std::string& body, std::string* error) {
        error->clear();
        return Send(server, port, from, to, subject, body);
    }
    // SendReporting with `security` instead of the sender's own (settings being tried
    // before they are saved).
    virtual bool SendWith(const MailSecurityOptions& security, const std::string& server, int port,
                          const std::string& from, const std::string& to,
                          const std::string& subject, const std::string& body, std::string* error) {
        (void)security;
        return SendReporting(server, port, from, to, subject, body, error);
    }
    // The security and login of every later message; may be called from another thread
    // while a message is being sent.
    virtual void SetSecurity(const MailSecurityOptions& security) { (void)security; }
    // Called from another thread: ends a conversation in flight at once and refuses every
    // later one, so whoever waits for the sending thread never waits on a mail server.
    virtual void Abort() {}
};

}  // namespace qv
