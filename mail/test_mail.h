// The test e-mail a user sends to check the mail settings (the Options dialog's button and
// the service program's --test-mail): where it goes and how its outcome reads.
#pragma once

#include <string>
#include <vector>

#include "core/settings.h"

namespace qv {

inline constexpr const char* kTestMailSubject = "Tarnwick Server Monitor: test e-mail";
inline constexpr const char* kTestMailBody =
    "This is a test e-mail from Tarnwick Server Monitor. Alerts of hosts going down and "
    "coming back will reach you the same way.";

struct TestMailTarget {
    std::string address;  // both sender and recipient, as for status mail
    std::string server;
    int port = 0;

    bool operator==(const TestMailTarget&) const = default;
};

// The mail settings of both probe kinds that name an address and a server ("_" names
// none), the second
// left out when it is the same as the first.
std::vector<TestMailTarget> TestMailTargets(const Settings& settings);

// "Test e-mail sent to <address>" or the error, with the address and server, for a box or
// a line on the terminal.
std::string TestMailOutcome(const TestMailTarget& target, bool sent, const std::string& error);

}  // namespace qv
