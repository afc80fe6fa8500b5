// The [mail] section of quorvane.conf in the data folder: security, login and an extra CA
// file for the SMTP client. The file holds a password, so it is written 0600 and a password
// from a file that other users can read is not used.
#pragma once

#include <string>

#include "core/mail_security.h"

namespace qv {

inline constexpr const char* kOptionsFileName = "quorvane.conf";
inline constexpr const char* kMailGroup = "mail";

struct MailConfigLoad {
    MailSecurityOptions options;
    // Not empty when something in the file was not used; for the service log or a box.
    std::string warning;
};

// Reads the [mail] section. A missing file or section gives the defaults (plain SMTP, no
// login) and no warning. A file that cannot be read or parsed, or an unknown security
// word, gives the defaults and a warning; a password in a file that its group or other
// users may read is dropped, with a warning.
MailConfigLoad LoadMailConfig(const std::string& dataDir);

// Writes the [mail] section into the file, keeping every other group and comment as they
// are, as a new file with mode 0600 put in place in one step. False, with *error set and
// the file unchanged, when the file could not be written or the present file cannot be
// parsed (its other sections would be lost).
bool SaveMailConfig(const std::string& dataDir, const MailSecurityOptions& options,
                    std::string* error);

}  // namespace qv
