// HalvoricSvc --test-mail <data folder>: sends one test e-mail with the folder's settings
// and says how it went, so a user without a desktop can check them.
#pragma once

#include <ostream>
#include <string>

namespace qv {

// Sends to every address the settings name (ICMP, then TCP hosts' when different) with
// quorvane.conf's security. Prints one outcome line each on `out`, warnings on `err`.
// Returns 0 when every mail was accepted, 1 otherwise (none configured included).
int RunTestMail(const std::string& dataDir, std::ostream& out, std::ostream& err);

}  // namespace qv
