// Targets and outcome texts of the test e-mail.
#include "mail/test_mail.h"

namespace qv {

std::vector<TestMailTarget> TestMailTargets(const Settings& settings) {
    std::vector<TestMailTarget> targets;
    for (const NotifySettings* kind : {&settings.icmp, &settings.tcp}) {
        TestMailTarget target{kind->emailAddress, kind->smtpServer, kind->smtpPort};
        // "_" is how the option files write an empty text.
        auto unset = [](const std::string& text) { return text.empty() || text == "_"; };
        if (unset(target.address) || unset(target.server)) {
            continue;
        }
        if (targets.empty() || !(targets.front() == target)) {
            targets.push_back(std::move(target));
        }
    }
    return targets;
}

std::string TestMailOutcome(const TestMailTarget& target, bool sent, const std::string& error) {
    if (sent) {
        return "Test e-mail sent to " + target.address;
    }
    return "Test e-mail to " + target.address + " through " + target.server + ":" +
           std::to_string(target.port) + " failed: " + (error.empty() ? "no reason given" : error);
}

}  // namespace qv
