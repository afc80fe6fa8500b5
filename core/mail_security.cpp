// Names and usual ports of the mail security choices.
#include "core/mail_security.h"

namespace qv {

const char* MailSecurityName(MailSecurity security) {
    switch (security) {
        case MailSecurity::StartTls:
            return "starttls";
        case MailSecurity::Tls:
            return "tls";
        case MailSecurity::None:
            break;
    }
    return "none";
}

std::optional<MailSecurity> ParseMailSecurity(std::string_view text) {
    for (MailSecurity security : {MailSecurity::None, MailSecurity::StartTls, MailSecurity::Tls}) {
        if (text == MailSecurityName(security)) {
            return security;
        }
    }
    return std::nullopt;
}

int DefaultMailPort(MailSecurity security) {
    switch (security) {
        case MailSecurity::StartTls:
            return 587;
        case MailSecurity::Tls:
            return 465;
        case MailSecurity::None:
            break;
    }
    return 25;
}

}  // namespace qv
