// ServiceMain: the service program's monitoring, built from the real platform pieces.
#include "service/service_main.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>

#include "core/monitor_context.h"
#include "core/traceroute.h"
#include "core/watcher.h"
#include "mail/status_mail.h"
#include "platform/clock.h"
#include "platform/gst_sound_player.h"
#include "platform/process.h"
#include "service/instance_lock.h"
#include "service/service_log.h"
#include "settings/config_files.h"
#include "settings/data_directory.h"

namespace qv {

namespace {

constexpr std::chrono::milliseconds kTickPause{1000};

// Everything the monitoring needs, in the order it is built; torn down in reverse, so the
// host table (and its probers) goes before the seams it uses.
void Monitor(ServiceControl& control) {
    const std::string& dataDir = control.DataDirectory();
    SystemClock clock;
    ServiceLogSink sink(dataDir);
    GstSoundPlayer sound(sink);
    TracerouteCapture traceroute(dataDir, sink);
    // The mail worker reports each failure, with repeats collapsed, to the log.
    SmtpMailSender mail(Program::Service, clock, MailErrorHook{});
    HostTable::Hooks hooks;
    hooks.onAddHost = [&dataDir](const std::string& name) { WriteServiceLog(dataDir, name); };
    MonitorContext context(Program::Service, dataDir,
                           MonitorSeams{clock, sink, sound, traceroute, mail}, std::move(hooks));
    context.mailQueue.SetErrorHook(
        [&dataDir](const std::string& error) { WriteServiceLog(dataDir, error); });

    LoadHostList(dataDir, context.table);
    LoadSettings(dataDir, context.settings, Program::Service, RunningProgramPath());

    // A stop request lets the current tick (and a daily report it writes) finish, and
    // cuts the pause short; the context's end then aborts a mail in flight.
    while (control.Running()) {
        ServiceTick(context);
        control.WaitWhileRunning(kTickPause);
    }
}

}  // namespace

int ServiceMain(ServiceControl& control) {
    const std::string& dataDir = control.DataDirectory();
    // The folder first: on the first start the log's opening lines would be lost otherwise.
    CreateDataDirectory(dataDir);
    // Before the log is emptied: a second service program on the folder must leave the
    // running one's log, and its hosts, alone.
    const ServiceInstanceLock lock(dataDir);
    if (!lock.Held()) {
        std::fprintf(stderr, "Halvoric: %s\n", lock.Error().c_str());
        return 3;
    }
    control.ReportRunning();
    WriteServiceLog(dataDir, std::nullopt);
    WriteServiceLog(dataDir, "Start");
    WriteServiceLog(dataDir, dataDir);
    try {
        Monitor(control);
    } catch (const std::exception& e) {
        // Nothing is monitored any more: say so, and end so that systemd shows it failed.
        const std::string text = std::string("Can't run the service: ") + e.what();
        ServiceLogSink(dataDir).ShowMessage(text, "Error", MessageIcon::Error);
        return 1;
    }
    return 0;
}

int RunService(const std::string& dataDir) {
    return RunServiceDispatcher(dataDir, ServiceMain, NotifySystemd);
}

}  // namespace qv
