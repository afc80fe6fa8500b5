// What the Options dialog shows and accepts, without widgets: its edits as texts, the
// checks "OK" runs in their order, and the autostart entry it writes.
#pragma once

#include <optional>
#include <string>

#include "core/settings.h"
#include "settings/autostart.h"

namespace qv {

// One probe kind's controls as the user left them.
struct NotifyForm {
    bool emailEnabled = false;
    std::string emailAfter;
    std::string emailAddress;
    std::string smtpServer;
    std::string smtpPort;
    bool soundEnabled = false;
    std::string soundAfter;
    std::string soundFile;
    bool trayEnabled = false;
    std::string trayAfter;
};

struct OptionsForm {
    NotifyForm icmp;
    NotifyForm tcp;
    bool tracertEnabled = false;  // "Run tracert tool if host is down for "
    std::string tracertAfter;
    bool launchOnStartup = false;
    bool dailyReports = false;
    bool serviceMode = false;
};

// The form at open: numbers as decimals, texts as they are, the tracert box checked when
// its period is not 0.
OptionsForm FormFromSettings(const Settings& settings, bool launchOnStartup);

// Either the settings "OK" stores or the text of the first failure: the six periods (each
// at least 3, whether or not its feature is on) in the dialog's order, then e-mail addresses
// and SMTP servers, which the settings files hold as one token each. Empty addresses and
// servers are stored as "_". serviceMode is cleared when launchOnStartup is.
struct OptionsCheck {
    std::optional<Settings> settings;
    std::string error;
};
OptionsCheck CheckOptionsForm(const OptionsForm& form);

// Writes the autostart entry when launchOnStartup is set and serviceMode is not (the
// service starts the monitoring otherwise), and removes it in every other case. Returns 0
// or the error number of the failed write; a failed removal is ignored.
int ApplyAutostart(const GeneralOptions& general, Autostart& autostart,
                   const std::string& programPath);

}  // namespace qv
