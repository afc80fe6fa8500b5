#include "core/watcher.h"

#include <cstdint>
#include <optional>

namespace qv {

std::string StatusText(const HostEntry& entry, bool up) {
    if (entry.isIcmp) {
        return "Host " + entry.name + " is " + (up ? "UP" : "DOWN");
    }
    return "Host " + entry.name + " port " + std::to_string(TcpPortOf(entry)) + " is " +
           (up ? "reachable" : "unreachable");
}

void WatchHost(MonitorContext& ctx, HostEntry& entry, const NotifySettings& kind,
               const GeneralOptions& general, std::string* trayText) {
    // TCP periods are minutes. Compared in 64 bits so that a huge period from a hand-edited
    // file cannot overflow; every value the dialogs accept compares exactly as in 32 bits.
    const int64_t unit = entry.isIcmp ? 1 : 60;
    const int64_t emailPeriod = kind.emailAfter * unit;
    const int64_t trayPeriod = kind.trayAfter * unit;
    const int64_t soundPeriod = kind.soundAfter * unit;
    const bool hasTray = ctx.rules.hasTray;

    // The prober writes `up` at any moment: this tick works with one reading of it.
    const uint8_t up = entry.up;

    if (up != entry.previousUp) {
        // The state that just ended was too short to be announced: stay quiet about the
        // new one as well, so a host that flaps does not flood the user.
        const int32_t lastStretch = entry.stateSeconds;
        entry.mailSent = lastStretch < emailPeriod ? 1 : 0;
        if (hasTray) {
            entry.trayShown = lastStretch < trayPeriod ? 1 : 0;
        }
        if (up == 0) {
            entry.soundPlayed = 0;
            entry.traceStarted = 0;
        }
        entry.stateSeconds = 0;
    }
    // A count that starts from 0 begins a stretch: after a change, and also after the
    // daily reset or an options change cleared it.
    if (entry.stateSeconds == 0) {
        entry.mailStretch += 1;
    }
    entry.stateSeconds += 1;
    entry.previousUp = up;
    const int64_t seconds = entry.stateSeconds;

    // The mail worker's answer counts only for the stretch the message announced; a
    // failure leaves mailSent at 0, so the message is queued again below.
    if (entry.mailPending != 0) {
        if (std::optional<MailResult> result = ctx.mailQueue.TakeResult(entry.run)) {
            entry.mailPending = 0;
            if (result->accepted && result->stretch == entry.mailStretch) {
                entry.mailSent = 1;
            }
        }
    }
    if (seconds >= emailPeriod && kind.emailEnabled && entry.mailSent == 0 &&
        entry.mailPending == 0) {
        const std::string text = StatusText(entry, up != 0);
        if (ctx.mailQueue.Enqueue(MailRequest{entry.run, entry.mailStretch, kind.smtpServer,
                                              kind.smtpPort, kind.emailAddress, kind.emailAddress,
                                              text, text})) {
            entry.mailPending = 1;
        }
    }
    if (hasTray && trayText != nullptr && seconds >= trayPeriod && kind.trayEnabled &&
        entry.trayShown == 0) {
        trayText->append(StatusText(entry, up != 0)).append("\r\n");
        entry.trayShown = 1;
    }
    if (seconds >= soundPeriod && kind.soundEnabled && entry.soundPlayed == 0 && up == 0) {
        ctx.seams.sound.Play(kind.soundFile);
        entry.soundPlayed = 1;
    }
    if (entry.isIcmp && general.tracertAfter > 0 && seconds >= general.tracertAfter &&
        entry.traceStarted == 0 && up == 0) {
        ctx.seams.traceroute.Start(entry);
        entry.traceStarted = 1;
    }
}

void ServiceTick(MonitorContext& ctx) {
    for (int slot = 0; slot < kMaxHosts; ++slot) {
        HostEntry& entry = ctx.table.Entry(slot);
        if (entry.active == 0 || entry.probeValue == 0) {
            continue;
        }
        ctx.table.FillIdleSecond(entry);
        const NotifySettings& kind = entry.isIcmp ? ctx.settings.icmp : ctx.settings.tcp;
        WatchHost(ctx, entry, kind, ctx.settings.general, nullptr);
    }
    ctx.dailyTrigger.Tick(ctx.dataDirectory, ctx.settings.general.dailyReports != 0);
}

}  // namespace qv
