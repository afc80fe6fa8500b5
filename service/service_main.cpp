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
#include "service/metrics_endpoint.h"
#include "service/service_log.h"
#include "settings/config_files.h"
#include "settings/data_directory.h"
#include "settings/mail_config.h"

namespace qv {

namespace {

constexpr std::chrono::milliseconds kTickPause{1000};

// Everything the monitoring needs, in the order it is built; torn down in reverse, so the
// host table (and its probers) goes before the seams it uses.
void Monitor(ServiceControl& control) {
    const std::string& dataDir = control.DataDirectory();
    const ProgramRules rules = ProgramRules::Service();
    SystemClock clock;
    ServiceLogSink sink(dataDir);
    GstSoundPlayer sound(sink);
    TracerouteCapture traceroute(dataDir, sink);
    // The mail worker reports each failure, with repeats collapsed, to the log.
    SmtpMailSender mail(rules, clock, MailErrorHook{});
    const MailConfigLoad mailConfig = LoadMailConfig(dataDir);
    if (!mailConfig.warning.empty()) {
        WriteServiceLog(dataDir, mailConfig.warning);
    }
    mail.SetSecurity(mailConfig.options);
    HostTable::Hooks hooks;
    hooks.onAddHost = [&dataDir](const std::string& name) { WriteServiceLog(dataDir, name); };
    MonitorContext context(rules, dataDir, MonitorSeams{clock, sink, sound, traceroute, mail},
                           std::move(hooks));
    context.mailQueue.SetErrorHook(
        [&dataDir](const std::string& error) { WriteServiceLog(dataDir, error); });

    LoadHostList(dataDir, context.table);
    LoadSettings(dataDir, context.settings, context.rules, RunningProgramPath());
    // After the context, so it stops serving before the table it reads goes away.
    const std::unique_ptr<MetricsEndpoint> metrics = StartConfiguredMetrics(
        dataDir, context.table,
        [&] {
            return NotificationCounts{
                {context.mailQueue.AcceptedCount(), context.mailQueue.FailedCount()},
                {static_cast<uint64_t>(sound.FinishedCount() + sound.StoppedCount()),
                 static_cast<uint64_t>(sound.FailedCount())},
                {traceroute.CompletedCount(), traceroute.FailedCount()}};
        },
        sink);

    // A stop request lets the current tick (and a daily report it writes) finish, and
    // cuts the pause short; the context's end then aborts a mail in flight.
    std::string status;
    while (control.Running()) {
        ServiceTick(context);
        std::string now = ServiceStatusText(context.table);
        if (now != status) {
            status = std::move(now);
            control.ReportStatus(status);
        }
        control.WaitWhileRunning(kTickPause);
    }
}

}  // namespace

std::string ServiceStatusText(const HostTable& table) {
    int probed = 0;
    int down = 0;
    for (int slot = 0; slot < kMaxHosts; ++slot) {
        const HostEntry& entry = table.Entry(slot);
        if (entry.active != 0 && entry.probeValue != 0) {
            ++probed;
            down += entry.up == 0 ? 1 : 0;
        }
    }
    if (probed == 0) {
        return "Monitoring no hosts: the host list conf01.dat is empty or missing";
    }
    std::string text =
        "Monitoring " + std::to_string(probed) + (probed == 1 ? " host, " : " hosts, ");
    if (down == 0) {
        return text + (probed == 1 ? "up" : "all up");
    }
    return text + std::to_string(down) + " down";
}

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
