// The service program's test e-mail, sent synchronously: nothing else runs in this process.
#include "service/test_mail_command.h"

#include "core/program.h"
#include "core/settings.h"
#include "mail/status_mail.h"
#include "mail/test_mail.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "settings/config_files.h"
#include "settings/mail_config.h"

namespace qv {

int RunTestMail(const std::string& dataDir, std::ostream& out, std::ostream& err) {
    const ProgramRules rules = ProgramRules::Service();
    Settings settings;
    LoadSettings(dataDir, settings, rules, RunningProgramPath());
    const MailConfigLoad config = LoadMailConfig(dataDir);
    if (!config.warning.empty()) {
        err << config.warning << "\n";
    }
    const std::vector<TestMailTarget> targets = TestMailTargets(settings);
    if (targets.empty()) {
        out << "No e-mail address and SMTP server are set in " << dataDir
            << " (Options in the desktop program)\n";
        return 1;
    }
    SystemClock clock;
    SmtpMailSender sender(rules, clock, MailErrorHook{});
    sender.SetSecurity(config.options);
    bool allSent = true;
    for (const TestMailTarget& target : targets) {
        std::string error;
        const bool sent =
            sender.SendReporting(target.server, target.port, target.address, target.address,
                                 kTestMailSubject, kTestMailBody, &error);
        out << TestMailOutcome(target, sent, error) << "\n";
        allSent = allSent && sent;
    }
    out.flush();
    return allSent ? 0 : 1;
}

}  // namespace qv
