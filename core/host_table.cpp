#include "core/host_table.h"

#include <algorithm>
#include <limits>
#include <string>

#include "platform/utf8.h"

namespace qv {

std::string CutHostName(std::string_view name) {
    return CutToChars(name, kMaxNameChars);
}

std::string ToNameA(std::string_view name) {
    return CutToBytes(name, kMaxNameABytes);
}

HostTable::HostTable(ProgramRules rules, Clock& clock, MessageSink& sink, Hooks hooks)
    : rules_(std::move(rules)),
      clock_(clock),
      sink_(sink),
      proberMessages_(sink),
      hooks_(std::move(hooks)) {
    if (!hooks_.runProber) {
        hooks_.runProber = RunProber;
    }
}

HostTable::~HostTable() {
    for (HostEntry& entry : entries_) {
        entry.active = 0;
    }
    probers_.JoinAll();
}

std::optional<int> HostTable::AddHost(std::string_view name, int32_t probeValue, int port,
                                      bool saveList, bool startProber) {
    if (rules_.addHostAlwaysStarts) {
        saveList = false;
        startProber = true;
        if (hooks_.onAddHost) {
            hooks_.onAddHost(std::string(name));
        }
    }
    int slot = -1;
    for (int i = 0; i < kMaxHosts; ++i) {
        if (entries_[i].active == 0) {
            slot = i;
            break;
        }
    }
    if (slot < 0) {
        if (rules_.reportsFullTable) {
            sink_.ShowMessage("No free space - remove a host", "Error", MessageIcon::Error);
            if (saveList && hooks_.saveHostList) {
                hooks_.saveHostList(*this);
            }
        }
        return std::nullopt;
    }

    HostEntry& e = entries_[slot];
    {
        // Under the lock: a prober of the slot's previous run may still be starting and
        // reads the names under it.
        std::lock_guard<std::recursive_mutex> lock(sampleLock_);
        e.name = CutHostName(name);
        e.nameA = ToNameA(e.name);
        e.samples.clear();
        e.tally = ProbeTally{};
    }
    e.run = ++nextRun_;
    e.active = 1;
    if (rules_.countsHostsAndProbers) {
        hostCount += 1;
        // Recording starts now. The prober sets this again when it starts; setting it here
        // keeps a tick that comes first (or a host without a prober) from recording every
        // second since a stale or zero time.
        e.nextSampleTime = clock_.Now();
    }
    e.probeValue = probeValue;
    e.currentMs = 0;
    e.averageMs = 0;
    e.lostCount = 0;
    e.minMs = probeValue;
    e.maxMs = 1;
    e.sumMs = 0;
    e.successCount = 0;
    e.stateSeconds = 0;
    e.mailSent = 0;
    // A message of the slot's previous host may still be out; its result is not this one's.
    e.mailPending = 0;
    e.soundPlayed = 0;
    e.traceStarted = 0;
    e.previousUp = 0;
    e.trayShown = 0;
    e.traceCount = 0;
    e.targetIsIpv6 = 0;
    e.graphScale = 0;
    e.secondsToNextProbe = 0;
    e.isIcmp = port == 0 ? 1 : 0;
    e.port = static_cast<int16_t>(port);

    if (startProber && probeValue != 0) {
        StartProber(slot);
    }
    if (saveList && hooks_.saveHostList) {
        hooks_.saveHostList(*this);
    }
    return slot;
}

void HostTable::StartProber(int slot) {
    int hostNumber = slot + 1;
    uint32_t run = entries_[slot].run;
    probers_.Start(
        [this, hostNumber, run](NoThreadState&) { hooks_.runProber(*this, hostNumber, run); });
}

void HostTable::StopHost(int slot) {
    if (slot >= 0 && slot < kMaxHosts) {
        entries_[slot].active = 0;
    }
}

void HostTable::StopAllHosts() {
    for (HostEntry& e : entries_) {
        e.active = 0;
    }
    int sleeps = 0;
    while (runningProbers > 0) {
        clock_.SleepMs(100);
        if (++sleeps == 100) {
            runningProbers = 0;
            break;
        }
    }
    hostCount = 0;
    probers_.ReapFinished();
}

namespace {

// Calls f(a.field, b.field) for every field of an entry but its run, texts and samples,
// which CopyHost and ExchangeHosts handle apart; one list, so neither misses a field.
template <typename A, typename B, typename F>
void ForEachValuePair(A& a, B& b, F f) {
    f(a.isIcmp, b.isIcmp);
    f(a.port, b.port);
    f(a.probeValue, b.probeValue);
    f(a.active, b.active);
    f(a.currentMs, b.currentMs);
    f(a.averageMs, b.averageMs);
    f(a.minMs, b.minMs);
    f(a.maxMs, b.maxMs);
    f(a.lostCount, b.lostCount);
    f(a.successCount, b.successCount);
    f(a.sumMs, b.sumMs);
    f(a.up, b.up);
    f(a.graphScale, b.graphScale);
    f(a.stateSeconds, b.stateSeconds);
    f(a.mailSent, b.mailSent);
    f(a.soundPlayed, b.soundPlayed);
    f(a.traceStarted, b.traceStarted);
    f(a.previousUp, b.previousUp);
    f(a.trayShown, b.trayShown);
    // A mail in flight stays with its host: its result is matched by the host's run.
    f(a.mailStretch, b.mailStretch);
    f(a.mailPending, b.mailPending);
    f(a.traceCount, b.traceCount);
    f(a.icmpSequence, b.icmpSequence);
    f(a.targetIsIpv6, b.targetIsIpv6);
    f(a.secondsToNextProbe, b.secondsToNextProbe);
    f(a.lastResult, b.lastResult);
    f(a.nextSampleTime, b.nextSampleTime);
}

template <typename T>
void SwapRelaxed(Relaxed<T>& a, Relaxed<T>& b) {
    T t = a.Load();
    a.Store(b.Load());
    b.Store(t);
}

}  // namespace

void HostTable::CopyHost(int dest, int src) {
    if (dest == src || dest < 0 || src < 0 || dest >= kMaxHosts || src >= kMaxHosts) {
        return;
    }
    HostEntry& d = entries_[dest];
    const HostEntry& s = entries_[src];
    {
        std::lock_guard<std::recursive_mutex> lock(sampleLock_);
        d.name = s.name;
        d.nameA = s.nameA;
        d.samples = s.samples;
        d.tally = s.tally;
    }
    ForEachValuePair(d, s, [](auto& to, const auto& from) { to = from; });
    d.run = s.run;
}

void HostTable::ExchangeHosts(int a, int b) {
    if (a == b || a < 0 || b < 0 || a >= kMaxHosts || b >= kMaxHosts) {
        return;
    }
    HostEntry& x = entries_[a];
    HostEntry& y = entries_[b];
    std::lock_guard<std::recursive_mutex> lock(sampleLock_);
    // The runs first: a prober that looks while the rest is exchanged already sees that
    // its slot is no longer its own.
    SwapRelaxed(x.run, y.run);
    x.name.swap(y.name);
    x.nameA.swap(y.nameA);
    x.samples.swap(y.samples);
    std::swap(x.tally, y.tally);
    ForEachValuePair(x, y, [](auto& p, auto& q) { SwapRelaxed(p, q); });
}

void HostTable::NoteSuccess(HostEntry& e, int32_t ms) {
    e.successCount += 1;
    e.currentMs = ms;
    if (ms < e.minMs) {
        e.minMs = ms;
    }
    if (ms > e.maxMs) {
        e.maxMs = ms;
    }
    uint32_t successes = e.successCount;
    if (successes > 1) {
        e.sumMs += static_cast<uint32_t>(ms);
        e.averageMs = static_cast<int32_t>(e.sumMs / (successes - 1));
    }
    e.up = 1;
}

void HostTable::NoteLoss(HostEntry& e) {
    e.lostCount += 1;
    e.currentMs = 0;
    e.up = 0;
}

void HostTable::RecordProbeSample(int hostNumber, int32_t value) {
    HostEntry& e = EntryOfHost(hostNumber);
    std::lock_guard<std::recursive_mutex> lock(sampleLock_);
    e.samples.push_back(value);
    e.tally.Add(value);
    if (e.isIcmp) {
        e.secondsToNextProbe = e.probeValue / 1000 - 1;
    } else {
        // In 64 bits: a hand-edited interval of many years must not overflow. The TCP
        // prober counts an interval below one minute as one minute, and so does this.
        const int64_t seconds = std::max<int64_t>(e.probeValue, 1) * 60 - 1;
        e.secondsToNextProbe =
            static_cast<int32_t>(std::min<int64_t>(seconds, std::numeric_limits<int32_t>::max()));
    }
}

void HostTable::FillIdleSecond(HostEntry& e) {
    if (e.secondsToNextProbe > 0) {
        e.secondsToNextProbe -= 1;
        std::lock_guard<std::recursive_mutex> lock(sampleLock_);
        e.samples.push_back(0);
    }
}

namespace {

constexpr int64_t kDaySeconds = 86'400;

// Seconds from `t` to the end of its local day; a whole day when the time is unknown.
int64_t SecondsLeftInDay(Clock& clock, int64_t t) {
    std::tm local{};
    if (!clock.LocalTime(t, local)) {
        return kDaySeconds;
    }
    const int64_t secondOfDay = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    return std::max<int64_t>(kDaySeconds - secondOfDay, 1);
}

}  // namespace

void HostTable::RecordDueSamples(HostEntry& e, int64_t now) {
    std::lock_guard<std::recursive_mutex> lock(sampleLock_);
    int64_t next = e.nextSampleTime;
    if (now <= next) {
        return;
    }
    // One tick fills at most the rest of the day it started in: the seconds after
    // midnight belong to the next day, which the daily trigger opens at the end of this
    // tick. A clock stepped forward over whole days skips them; the next tick goes on
    // from the start of the day it stepped into.
    const int64_t dayEnd = next + SecondsLeftInDay(clock_, next);
    const int64_t until = std::min(now, dayEnd);
    e.samples.insert(e.samples.end(), static_cast<size_t>(until - next), e.lastResult);
    next = until;
    if (now > dayEnd) {
        next = std::max(dayEnd, now - (kDaySeconds - SecondsLeftInDay(clock_, now)));
    }
    e.nextSampleTime = next;
}

void HostTable::ResetDay(HostEntry& e) {
    std::lock_guard<std::recursive_mutex> lock(sampleLock_);
    e.samples.clear();
    e.sumMs = 0;
    e.icmpSequence = 0;
    e.lostCount = 0;
    e.currentMs = 0;
    e.averageMs = 0;
    e.minMs = 1000;
    e.maxMs = 1;
    e.successCount = 0;
    e.stateSeconds = 0;
    e.mailSent = 0;
    e.soundPlayed = 0;
    e.previousUp = 0;
    e.trayShown = 0;
    e.graphScale = 0;
    if (rules_.resetDayClearsTrace) {
        e.traceStarted = 0;
    }
}

bool HostTable::ProberShouldRun(int hostNumber, uint32_t run) const {
    const HostEntry& e = entries_[hostNumber - 1];
    return e.active != 0 && e.run == run;
}

void HostTable::RecordResult(int hostNumber, int32_t value) {
    if (rules_.proberRecordsSamples) {
        RecordProbeSample(hostNumber, value);
    } else {
        EntryOfHost(hostNumber).lastResult = value;
    }
}

void HostTable::ProberStarting(int hostNumber) {
    if (rules_.countsHostsAndProbers) {
        EntryOfHost(hostNumber).nextSampleTime = clock_.Now();
    }
}

void HostTable::ProberEntered() {
    if (rules_.countsHostsAndProbers) {
        runningProbers += 1;
    }
}

void HostTable::ProberLeft() {
    if (rules_.countsHostsAndProbers) {
        runningProbers -= 1;
    }
}

}  // namespace qv
