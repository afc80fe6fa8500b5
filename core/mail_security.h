// How the SMTP client protects and authenticates its conversation: one set for the SMTP
// servers of both probe kinds, kept in quorvane.conf beside the seed's option files.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qv {

enum class MailSecurity {
    None,      // the plain conversation: HELO, no encryption, no login
    StartTls,  // EHLO, STARTTLS, EHLO again over TLS
    Tls,       // TLS from the first byte (usually port 465)
};

struct MailSecurityOptions {
    MailSecurity security = MailSecurity::None;
    std::string user;      // empty: no login
    std::string password;  // used only when user is set, and only over TLS
    std::string caFile;    // an extra CA certificate file to trust; empty: the system's only

    bool operator==(const MailSecurityOptions&) const = default;
};

// "none", "starttls", "tls": the values of the `security` key.
const char* MailSecurityName(MailSecurity security);
// The value of a `security` key; nothing for an unknown word.
std::optional<MailSecurity> ParseMailSecurity(std::string_view text);
// The port a provider usually serves each security on: 25, 587, 465.
int DefaultMailPort(MailSecurity security);

}  // namespace qv
