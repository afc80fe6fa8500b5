// Checks of the mail security fields and the test e-mail's target.
#include "desktop/mail_security_form.h"

#include <unistd.h>

#include <charconv>

namespace qv {

namespace {

std::optional<int> ParsePort(const std::string& text) {
    int port = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, port);
    if (ec != std::errc() || ptr != end || port < 1 || port > 65535) {
        return std::nullopt;
    }
    return port;
}

// "_" is how the option files write an empty text, and how such a field shows.
bool Blank(const std::string& text) {
    return text == "_" || text.find_first_not_of(" \t") == std::string::npos;
}

}  // namespace

std::string PortAfterSecurityChange(const std::string& portText, MailSecurity previous,
                                    MailSecurity next) {
    if (Blank(portText) || ParsePort(portText) == DefaultMailPort(previous)) {
        return std::to_string(DefaultMailPort(next));
    }
    return portText;
}

MailSecurityCheck CheckMailSecurityForm(const MailSecurityOptions& form) {
    MailSecurityCheck check;
    if (!form.user.empty() && form.security == MailSecurity::None) {
        check.error =
            "A login needs STARTTLS or SSL/TLS: the password is never sent without encryption.";
    } else if (!form.user.empty() && form.password.empty()) {
        check.error = "Enter the password of the user name.";
    } else if (form.user.empty() && !form.password.empty()) {
        check.error = "Enter the user name of the password.";
    } else if (!form.caFile.empty() && access(form.caFile.c_str(), R_OK) != 0) {
        check.error = "The CA file " + form.caFile + " can't be read.";
    } else {
        check.options = form;
    }
    return check;
}

TestMailCheck CheckTestMailFields(const std::string& address, const std::string& server,
                                  const std::string& portText) {
    TestMailCheck check{address, server, 0, ""};
    std::optional<int> port = ParsePort(portText);
    if (Blank(address) || Blank(server)) {
        check.error = "Enter the e-mail address and the SMTP server first.";
    } else if (!port) {
        check.error = "The SMTP server port must be a number from 1 to 65535.";
    } else {
        check.port = *port;
    }
    return check;
}

}  // namespace qv
