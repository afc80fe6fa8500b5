// The seam the status watcher sends its status mail through; the mail layer provides the
// SMTP implementation, tests a recording fake.
#pragma once

#include <string>

namespace qv {

class MailSender {
  public:
    virtual ~MailSender() = default;
    // Sends one message and returns whether the server accepted it.
    virtual bool Send(const std::string& server, int port, const std::string& from,
                      const std::string& to, const std::string& subject,
                      const std::string& body) = 0;
};

}  // namespace qv
