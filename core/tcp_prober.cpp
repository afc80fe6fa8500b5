// The TCP connect prober: one connection attempt per interval (minutes) to a host's port,
// timed from before the attempt to after it; a completed connection stays open until the
// next attempt is due.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "core/host_table.h"
#include "core/probers.h"
#include "platform/error_text.h"
#include "platform/net.h"

namespace qv {

namespace {

constexpr int64_t kMsPerMinute = 60'000;
// A blocking connect is bounded by us rather than by the system's default (which can run
// to minutes): a stop then waits at most this long, and one attempt never overlaps the next.
constexpr int64_t kConnectTimeoutMs = 20'000;
constexpr uint32_t kSleepSliceMs = 1000;

// The interval in milliseconds. A value below one minute can only come from a damaged host
// list; probing back to back would flood the host, so it counts as one minute.
int64_t IntervalMs(int32_t probeValue) {
    return std::max<int64_t>(probeValue, 1) * kMsPerMinute;
}

// Sleeps until intervalMs have passed since t0, in slices of at most a second, and gives up
// as soon as the run no longer owns the slot. Elapsed time is summed slice by slice so that
// the wrapping 32-bit tick count is never compared across a whole interval.
void WaitForNextAttempt(HostTable& table, int hostNumber, uint32_t run, uint32_t t0,
                        int64_t intervalMs) {
    Clock& clock = table.clock();
    uint32_t last = t0;
    int64_t elapsed = 0;
    for (;;) {
        uint32_t now = clock.TickCount();
        elapsed += static_cast<uint32_t>(now - last);
        last = now;
        if (elapsed >= intervalMs || !table.ProberShouldRun(hostNumber, run)) {
            return;
        }
        int64_t remaining = intervalMs - elapsed;
        clock.SleepMs(static_cast<uint32_t>(std::min<int64_t>(remaining, kSleepSliceMs)));
    }
}

}  // namespace

void RunTcpProber(HostTable& table, int hostNumber, uint32_t run) {
    RunTcpProberWith(table, hostNumber, run, {});
}

void RunTcpProberWith(HostTable& table, int hostNumber, uint32_t run, const HostResolver& resolve) {
    // A prober whose slot was already taken over must not touch it at all.
    if (!table.ProberShouldRun(hostNumber, run)) {
        return;
    }
    table.ProberStarting(hostNumber);

    HostEntry& entry = table.EntryOfHost(hostNumber);
    std::string nameA;
    {
        // The slot may be stopped and given to another host at this very moment.
        std::lock_guard<std::recursive_mutex> lock(table.SampleLock());
        if (!table.ProberShouldRun(hostNumber, run)) {
            return;
        }
        nameA = entry.nameA;
    }
    const uint16_t port = static_cast<uint16_t>(static_cast<int16_t>(entry.port));
    // Looked up in the loop: a name that does not resolve yet (a start before the network
    // is up) is tried again until it does, each attempt meanwhile counting as lost.
    TargetLookup lookup(nameA, resolve);

    // A literal's family from the start; a name's family is known once it resolves, and
    // the socket is made again for it then.
    const std::optional<NetAddress> literal = ParseAddressLiteral(nameA);
    int error = 0;
    TcpSocket socket = TcpSocket::Create(literal ? literal->Family() : AF_INET, &error);
    if (!socket.Valid()) {
        table.proberSink().ShowMessage(SystemErrorText(error), "Error", MessageIcon::Information);
        return;
    }
    error = socket.BindAny();
    if (error != 0) {
        table.proberSink().ShowMessage(SystemErrorText(error), "Error", MessageIcon::Information);
        socket.Close();
        return;
    }

    table.ProberEntered();
    while (table.ProberShouldRun(hostNumber, run)) {
        const int64_t intervalMs = IntervalMs(entry.probeValue);
        const int timeoutMs = static_cast<int>(std::min(kConnectTimeoutMs, intervalMs));

        uint32_t t0 = table.clock().TickCount();
        if (!lookup.known()) {
            // A lookup waits no longer than a connection attempt would.
            const auto keepWaiting = [&] { return table.ProberShouldRun(hostNumber, run); };
            if (lookup.Try(t0, static_cast<uint32_t>(timeoutMs), keepWaiting) ==
                TargetLookup::Outcome::Known) {
                t0 = table.clock().TickCount();  // the lookup may have taken a while
                entry.targetIsIpv6 = lookup.address().IsIPv6() ? 1 : 0;
                if (socket.Family() != lookup.address().Family()) {
                    socket = TcpSocket::Create(lookup.address().Family(), nullptr);
                }
            }
        }
        const int connectError =
            lookup.known() ? socket.Connect(lookup.address(), port, timeoutMs) : EDESTADDRREQ;
        const uint32_t t1 = table.clock().TickCount();

        // The host may have been stopped, and its slot given to another host, while the
        // attempt was under way: that result belongs to nobody.
        if (!table.ProberShouldRun(hostNumber, run)) {
            break;
        }
        if (connectError != 0) {
            table.RecordResult(hostNumber, -1);
            HostTable::NoteLoss(entry);
        } else {
            const int32_t ms = static_cast<int32_t>(t1 - t0);
            HostTable::NoteSuccess(entry, ms);
            // The desktop history never shows a reachable host as 0 ms.
            table.RecordResult(hostNumber, table.rules().tcpZeroMsAsOne && ms == 0 ? 1 : ms);
        }

        // A completed connection is held open, idle, until the next attempt is due.
        WaitForNextAttempt(table, hostNumber, run, t0, intervalMs);

        // A socket that cannot be created is not reported: its attempt fails and is lost.
        socket.Close();
        socket = TcpSocket::Create(lookup.known() ? lookup.address().Family() : AF_INET, nullptr);
    }
    table.ProberLeft();
}

}  // namespace qv
