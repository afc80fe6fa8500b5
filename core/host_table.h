// The host table: 100 slots of monitored hosts with their day's statistics, sample
// history and watcher flags, and the operations that the probers, the tick and the
// dialogs perform on it.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/message_outbox.h"
#include "core/probe_tally.h"
#include "core/program.h"
#include "core/relaxed.h"
#include "platform/clock.h"
#include "platform/message_sink.h"
#include "platform/thread_set.h"

namespace qv {

constexpr int kMaxHosts = 100;
constexpr size_t kMaxNameChars = 254;   // code points of `name`
constexpr size_t kMaxNameABytes = 255;  // bytes of `nameA`

// One monitored host. Statistics and flags are written by one thread and read by others
// without a lock (relaxed atomics); `samples` is guarded by the table's SampleLock.
// `name` and `nameA` change only on the thread that owns the table (AddHost, CopyHost),
// under SampleLock; probers read them once, when they start, under the same lock.
struct HostEntry {
    Relaxed<uint8_t> isIcmp;
    Relaxed<int16_t> port;
    std::string name;
    std::string nameA;
    std::vector<int32_t> samples;
    Relaxed<int32_t> probeValue;
    Relaxed<uint8_t> active;
    Relaxed<int32_t> currentMs;
    Relaxed<int32_t> averageMs;
    Relaxed<int32_t> minMs;
    Relaxed<int32_t> maxMs;
    Relaxed<uint32_t> lostCount;
    Relaxed<uint32_t> successCount;
    Relaxed<uint32_t> sumMs;
    Relaxed<uint8_t> up;
    Relaxed<int32_t> graphScale;
    Relaxed<int32_t> stateSeconds;
    Relaxed<uint8_t> mailSent;
    Relaxed<uint8_t> soundPlayed;
    Relaxed<uint8_t> traceStarted;
    Relaxed<uint8_t> previousUp;
    Relaxed<uint8_t> trayShown;
    // The watcher's number of the current up or down stretch, and whether a status mail of
    // this host is with the mail worker (its result is collected by a later tick).
    Relaxed<uint32_t> mailStretch;
    Relaxed<uint8_t> mailPending;
    Relaxed<uint32_t> traceCount;
    Relaxed<uint16_t> icmpSequence;
    // Set by the prober once it knows its target: whether that is an IPv6 address (the
    // traceroute capture then traces IPv6 too).
    Relaxed<uint8_t> targetIsIpv6;
    // Service program: zero samples still to append before the next probe result.
    Relaxed<int32_t> secondsToNextProbe;
    // Desktop program: the value recorded for every second until the next result, and
    // the calendar time up to which samples have been recorded.
    Relaxed<int32_t> lastResult;
    Relaxed<int64_t> nextSampleTime;
    // Number of the prober run that owns this slot; a prober of an older run must end.
    Relaxed<uint32_t> run;
    // Service program: the results since the host was placed, under SampleLock.
    ProbeTally tally;
};

// The TCP port of an entry: stored in 16 signed bits, where the ports above 32767 are
// negative; every text and file name shows the real port.
inline int TcpPortOf(const HostEntry& e) {
    return static_cast<uint16_t>(static_cast<int16_t>(e.port));
}

// Cuts a name to kMaxNameChars code points (never in the middle of a UTF-8 sequence).
std::string CutHostName(std::string_view name);
// The 8-bit form used for resolution: at most kMaxNameABytes bytes.
std::string ToNameA(std::string_view name);

class HostTable {
  public:
    struct Hooks {
        // Service program: notes each host name before the host is placed.
        std::function<void(const std::string& name)> onAddHost;
        // Desktop program: AddHost's save-list flag writes the host list through this.
        std::function<void(const HostTable& table)> saveHostList;
        // The prober body run on the new thread; the real ICMP/TCP probers by default.
        std::function<void(HostTable& table, int hostNumber, uint32_t run)> runProber;
    };

    HostTable(ProgramRules rules, Clock& clock, MessageSink& sink, Hooks hooks = {});
    // Stops every prober and joins its thread.
    ~HostTable();
    HostTable(const HostTable&) = delete;
    HostTable& operator=(const HostTable&) = delete;

    const ProgramRules& rules() const { return rules_; }
    Clock& clock() { return clock_; }
    MessageSink& sink() { return sink_; }
    // For probers: the same sink, without waiting for the message to be shown.
    MessageSink& proberSink() { return proberMessages_; }
    std::recursive_mutex& SampleLock() { return sampleLock_; }

    HostEntry& Entry(int slot) { return entries_[slot]; }
    const HostEntry& Entry(int slot) const { return entries_[slot]; }
    HostEntry& EntryOfHost(int hostNumber) { return entries_[hostNumber - 1]; }

    // Places a host in the first free slot and starts its prober. The service program
    // always starts the prober and never saves the list. Returns the slot, or nothing when
    // the table is full.
    std::optional<int> AddHost(std::string_view name, int32_t probeValue, int port,
                               bool saveList = false, bool startProber = true);
    void StopHost(int slot);
    // Desktop program: stops every host and waits (at most about 10 s) for the probers.
    void StopAllHosts();
    // Copies every field of src into dest, samples included.
    void CopyHost(int dest, int src);
    // Exchanges every field of two slots, samples included, so each host keeps its
    // statistics, history and flags in its new slot. The run numbers go with their hosts,
    // so neither slot's prober owns its slot afterwards and both end at their next check;
    // whoever moves hosts restarts the probing.
    void ExchangeHosts(int a, int b);

    static void NoteSuccess(HostEntry& entry, int32_t ms);
    static void NoteLoss(HostEntry& entry);
    // Service program: appends a probe result and reloads secondsToNextProbe.
    void RecordProbeSample(int hostNumber, int32_t value);
    // Service program: appends one zero while a probe result is still to come.
    void FillIdleSecond(HostEntry& entry);
    // Desktop program: appends lastResult for every second up to now.
    void RecordDueSamples(HostEntry& entry, int64_t now);
    // The daily reset of statistics, history and watcher flags.
    void ResetDay(HostEntry& entry);

    // For probers: whether run `run` still owns host `hostNumber`.
    bool ProberShouldRun(int hostNumber, uint32_t run) const;
    // For probers: a probe result reaches the history the program's way
    // (service: RecordProbeSample; desktop: lastResult).
    void RecordResult(int hostNumber, int32_t value);
    // For probers: desktop program's start of recording and count of running probers.
    void ProberStarting(int hostNumber);
    void ProberEntered();
    void ProberLeft();

    // Desktop program: hosts in the table (for the tab layout) and probers in their loop.
    Relaxed<int32_t> hostCount;
    Relaxed<int32_t> runningProbers;

  private:
    void StartProber(int slot);

    const ProgramRules rules_;
    Clock& clock_;
    MessageSink& sink_;
    // Declared before the probers: their messages are handed on after they were joined.
    MessageOutbox proberMessages_;
    Hooks hooks_;
    std::recursive_mutex sampleLock_;
    HostEntry entries_[kMaxHosts];
    uint32_t nextRun_ = 0;
    ThreadSet<> probers_;
};

// The real prober of an entry: ICMP for port 0, TCP otherwise.
void RunProber(HostTable& table, int hostNumber, uint32_t run);

}  // namespace qv
