// The Options dialog without widgets: the checks of "OK" in order, the stored texts and the
// autostart entry.
#include "desktop/options_form.h"

#include <gtest/gtest.h>

#include <functional>

#include "settings/config_files.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

Settings Defaults() {
    Settings s;
    SetDefaultSettings(s, "/opt/q/Quorvane");
    return s;
}

TEST(OptionsForm, FirstFailureInOrderWithItsUnit) {
    const std::pair<std::function<void(OptionsForm&)>, const char*> cases[] = {
        {[](OptionsForm& f) { f.icmp.emailAfter = "2"; },
         "Wrong value for e-mail period! It must be greater than 2 seconds!"},
        {[](OptionsForm& f) { f.tcp.emailAfter = ""; },
         "Wrong value for e-mail period! It must be greater than 2 minutes!"},
        {[](OptionsForm& f) { f.icmp.trayAfter = "abc"; },
         "Wrong value for notification period! It must be greater than 2 seconds!"},
        {[](OptionsForm& f) { f.tcp.trayAfter = "0"; },
         "Wrong value for notification period! It must be greater than 2 minutes!"},
        {[](OptionsForm& f) { f.icmp.soundAfter = "-5"; },
         "Wrong value for sound period! It must be greater 2 seconds!"},
        {[](OptionsForm& f) { f.tcp.soundAfter = "2"; },
         "Wrong value for sound period! It must be greater 2 minutes!"},
        // Order decides, whatever the features' switches say.
        {[](OptionsForm& f) { f.icmp.soundAfter = f.tcp.emailAfter = "1"; },
         "Wrong value for e-mail period! It must be greater than 2 minutes!"},
        {[](OptionsForm& f) { f.tcp.emailAddress = "a b@x"; },
         "Wrong e-mail address in TCP/IP options! It must not contain spaces!"},
        {[](OptionsForm& f) { f.icmp.smtpServer = "mail\tx"; },
         "Wrong SMTP server in Ping options! It must not contain spaces!"},
    };
    for (const auto& [edit, error] : cases) {
        SCOPED_TRACE(error);
        OptionsForm form = FormFromSettings(Defaults(), true);
        edit(form);
        OptionsCheck check = CheckOptionsForm(form);
        EXPECT_FALSE(check.settings.has_value());
        EXPECT_EQ(check.error, error);
    }
}

TEST(OptionsForm, AcceptedFormStoresWhatTheFilesCanHold) {
    Settings in = Defaults();
    in.general.tracertAfter = 5;
    in.general.serviceMode = 1;
    OptionsForm form = FormFromSettings(in, false);
    form.tcp.trayAfter = " 3 minutes";
    form.icmp.emailAddress = "";
    form.tcp.smtpServer = "";
    form.icmp.soundFile = "";
    form.tcp.smtpPort = "2525x";
    OptionsCheck check = CheckOptionsForm(form);
    ASSERT_TRUE(check.settings.has_value()) << check.error;
    const Settings& s = *check.settings;
    EXPECT_EQ(s.tcp.trayAfter, 3);
    EXPECT_EQ(s.icmp.emailAddress, "_");
    EXPECT_EQ(s.tcp.smtpServer, "_");
    EXPECT_EQ(s.icmp.soundFile, "");
    EXPECT_EQ(s.tcp.soundFile, in.tcp.soundFile);
    EXPECT_EQ(s.tcp.smtpPort, 2525);
    EXPECT_EQ(s.general.tracertAfter, 5);
    // Service mode cannot outlive the launch option it hangs on.
    EXPECT_EQ(s.general.serviceMode, 0);
}

TEST(OptionsForm, AutostartEntryFollowsLaunchAndServiceMode) {
    test::TempDir dir;
    Autostart autostart(dir.File("system"), dir.File("user"), /*asRoot=*/false);
    GeneralOptions g;
    g.launchOnStartup = true;
    EXPECT_EQ(ApplyAutostart(g, autostart, "/opt/q/Quorvane"), 0);
    EXPECT_NE(test::ReadFileBytes(autostart.EntryPath()).find("Exec=/opt/q/Quorvane\n"),
              std::string::npos);
    g.serviceMode = 1;
    EXPECT_EQ(ApplyAutostart(g, autostart, "/opt/q/Quorvane"), 0);
    EXPECT_FALSE(autostart.Exists());
}

}  // namespace
}  // namespace qv
