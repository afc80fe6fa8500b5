// The logic of the "Mail security" dialog and of the Options dialog's test e-mail button,
// without widgets: the port that follows the security, and the checks of what was typed.
#pragma once

#include <optional>
#include <string>

#include "core/mail_security.h"

namespace qv {

// The port field's text once the user changed the security from `previous` to `next`:
// the new choice's usual port when the field still holds the previous choice's (or is
// empty), else the field as it is.
std::string PortAfterSecurityChange(const std::string& portText, MailSecurity previous,
                                    MailSecurity next);

struct MailSecurityCheck {
    std::optional<MailSecurityOptions> options;  // set when the fields pass
    std::string error;                           // why not, for a box
};

// A login needs TLS and both a user name and a password; a CA file must be readable.
MailSecurityCheck CheckMailSecurityForm(const MailSecurityOptions& form);

struct TestMailCheck {
    std::string address;
    std::string server;
    int port = 0;
    std::string error;  // not empty: nothing to send to yet
};

// The test e-mail's target from the address, server and port fields as typed.
TestMailCheck CheckTestMailFields(const std::string& address, const std::string& server,
                                  const std::string& portText);

}  // namespace qv
