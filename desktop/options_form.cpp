#include "desktop/options_form.h"

#include <string_view>

#include "desktop/form_number.h"

namespace qv {

namespace {

NotifyForm NotifyToForm(const NotifySettings& n) {
    NotifyForm f;
    f.emailEnabled = n.emailEnabled != 0;
    f.emailAfter = std::to_string(n.emailAfter);
    f.emailAddress = n.emailAddress;
    f.smtpServer = n.smtpServer;
    f.smtpPort = std::to_string(n.smtpPort);
    f.soundEnabled = n.soundEnabled != 0;
    f.soundAfter = std::to_string(n.soundAfter);
    f.soundFile = n.soundFile;
    f.trayEnabled = n.trayEnabled != 0;
    f.trayAfter = std::to_string(n.trayAfter);
    return f;
}

// An empty text would leave its field out of the settings line.
std::string TextField(const std::string& text) {
    return text.empty() ? "_" : text;
}

NotifySettings FormToNotify(const NotifyForm& f) {
    NotifySettings n;
    n.emailEnabled = f.emailEnabled ? 1 : 0;
    n.emailAfter = ParseLeadingInt(f.emailAfter);
    n.emailAddress = TextField(f.emailAddress);
    n.smtpServer = TextField(f.smtpServer);
    n.smtpPort = ParseLeadingInt(f.smtpPort);
    n.soundEnabled = f.soundEnabled ? 1 : 0;
    n.soundAfter = ParseLeadingInt(f.soundAfter);
    n.soundFile = f.soundFile;
    n.trayEnabled = f.trayEnabled ? 1 : 0;
    n.trayAfter = ParseLeadingInt(f.trayAfter);
    return n;
}

bool HasWhiteSpace(std::string_view text) {
    return text.find_first_of(" \t\n\v\f\r") != std::string_view::npos;
}

}  // namespace

OptionsForm FormFromSettings(const Settings& settings, bool launchOnStartup) {
    OptionsForm f;
    f.icmp = NotifyToForm(settings.icmp);
    f.tcp = NotifyToForm(settings.tcp);
    f.tracertEnabled = settings.general.tracertAfter != 0;
    f.tracertAfter = std::to_string(settings.general.tracertAfter);
    f.launchOnStartup = launchOnStartup;
    f.dailyReports = settings.general.dailyReports != 0;
    f.serviceMode = settings.general.serviceMode != 0;
    return f;
}

OptionsCheck CheckOptionsForm(const OptionsForm& form) {
    Settings s;
    s.icmp = FormToNotify(form.icmp);
    s.tcp = FormToNotify(form.tcp);
    s.general.tracertAfter = ParseLeadingInt(form.tracertAfter);
    s.general.dailyReports = form.dailyReports ? 1 : 0;
    s.general.serviceMode = form.serviceMode && form.launchOnStartup ? 1 : 0;
    s.general.launchOnStartup = form.launchOnStartup;

    const struct {
        int32_t value;
        const char* error;
    } periods[] = {
        {s.icmp.emailAfter, "Wrong value for e-mail period! It must be greater than 2 seconds!"},
        {s.tcp.emailAfter, "Wrong value for e-mail period! It must be greater than 2 minutes!"},
        {s.icmp.trayAfter,
         "Wrong value for notification period! It must be greater than 2 seconds!"},
        {s.tcp.trayAfter,
         "Wrong value for notification period! It must be greater than 2 minutes!"},
        {s.icmp.soundAfter, "Wrong value for sound period! It must be greater 2 seconds!"},
        {s.tcp.soundAfter, "Wrong value for sound period! It must be greater 2 minutes!"},
    };
    for (const auto& p : periods) {
        if (p.value < 3) {
            return {std::nullopt, p.error};
        }
    }

    const struct {
        const std::string& text;
        const char* error;
    } tokens[] = {
        {form.icmp.emailAddress,
         "Wrong e-mail address in Ping options! It must not contain spaces!"},
        {form.icmp.smtpServer, "Wrong SMTP server in Ping options! It must not contain spaces!"},
        {form.tcp.emailAddress,
         "Wrong e-mail address in TCP/IP options! It must not contain spaces!"},
        {form.tcp.smtpServer, "Wrong SMTP server in TCP/IP options! It must not contain spaces!"},
    };
    for (const auto& t : tokens) {
        if (HasWhiteSpace(t.text)) {
            return {std::nullopt, t.error};
        }
    }
    return {s, {}};
}

int ApplyAutostart(const GeneralOptions& general, Autostart& autostart,
                   const std::string& programPath) {
    if (general.serviceMode == 0 && general.launchOnStartup) {
        return autostart.Write(programPath);
    }
    autostart.Delete();
    return 0;
}

}  // namespace qv
