// The ICMP echo prober: one thread per ICMP host sends one echo request per period, waits
// for its reply at most the timeout, and turns each outcome into the host's statistics
// and history.
#include "core/icmp_prober.h"

#include <cerrno>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "core/host_table.h"
#include "core/icmp_packet.h"
#include "core/probers.h"
#include "platform/error_text.h"
#include "platform/net.h"

namespace qv {

namespace {

constexpr size_t kBufferSize = 65536;

class IcmpProber {
  public:
    IcmpProber(HostTable& table, int hostNumber, uint32_t run, HostResolver resolve)
        : table_(table),
          clock_(table.clock()),
          entry_(table.EntryOfHost(hostNumber)),
          k_(hostNumber),
          run_(run),
          resolve_(std::move(resolve)) {}

    void Run(IcmpSocketKind kind);

  private:
    enum class Outcome { Success, LostByTimeout, Failed, DueNow, WaitFailed, Stopped };

    bool ShouldRun() const { return table_.ProberShouldRun(k_, run_); }
    void ShowError(const std::string& text, MessageIcon icon) {
        table_.sink().ShowMessage(text, "Error", icon);
    }
    Outcome WaitForReply(uint32_t t0, uint32_t timeout);
    // Sleeps in slices of at most a second, ending early once the host is stopped.
    void SleepWhileRunning(int64_t ms);
    // Sleeps out the rest of the period after a probe that could not be completed.
    void WaitOutPeriod(uint32_t t0, uint32_t timeout);
    void RecordLoss();
    // Looks the name up when a lookup is due; true once the target is known.
    bool LookUpTarget(uint32_t now);

    HostTable& table_;
    Clock& clock_;
    HostEntry& entry_;
    const int k_;
    const uint32_t run_;
    const HostResolver resolve_;
    std::string name_;
    std::string nameA_;
    LookupRetry retry_;
    IcmpSocket socket_;
    bool resolved_ = false;
    uint32_t address_ = 0;
    std::unique_ptr<uint8_t[]> sendBuffer_;
    std::unique_ptr<uint8_t[]> receiveBuffer_;
    SentProbes sent_;
};

void IcmpProber::Run(IcmpSocketKind kind) {
    if (!ShouldRun()) {
        return;
    }
    const uint32_t base = clock_.TickCount() & 0xFFF;
    entry_.icmpSequence = 0;
    table_.ProberStarting(k_);

    int error = 0;
    socket_ = IcmpSocket::Open(kind, static_cast<uint16_t>(base + k_), &error);
    if (!socket_.Valid()) {
        ShowError(SystemErrorText(error), MessageIcon::Information);
        return;
    }

    {
        std::lock_guard<std::recursive_mutex> lock(table_.SampleLock());
        if (!ShouldRun()) {
            return;
        }
        name_ = entry_.name;
        nameA_ = entry_.nameA;
    }

    sendBuffer_.reset(new (std::nothrow) uint8_t[kBufferSize]());
    receiveBuffer_.reset(new (std::nothrow) uint8_t[kBufferSize]());
    if (!sendBuffer_ || !receiveBuffer_) {
        ShowError("HeapAlloc failed", MessageIcon::Error);
        return;
    }
    PrepareEchoRequest(sendBuffer_.get());

    table_.ProberEntered();
    while (ShouldRun()) {
        const int32_t probeValue = entry_.probeValue;
        if (probeValue <= 0) {
            break;  // nothing to probe; AddHost starts no prober for such an entry
        }
        const uint32_t timeout = static_cast<uint32_t>(probeValue);

        uint32_t t0 = clock_.TickCount();
        if (!resolved_) {
            if (LookUpTarget(t0)) {
                t0 = clock_.TickCount();  // the lookup may have taken a while
            }
            if (!ShouldRun()) {
                break;
            }
        }
        // A period whose name is unknown counts as a probe that could not be sent, sequence
        // number included, so that sequence numbers keep naming their samples.
        const uint16_t sequence = entry_.icmpSequence;
        StampEchoRequest(sendBuffer_.get(), socket_.Identifier(), sequence, t0);
        entry_.icmpSequence = static_cast<uint16_t>(sequence + 1);

        Outcome outcome = Outcome::Failed;
        if (resolved_ && socket_.SendTo(address_, sendBuffer_.get(), kEchoRequestSize) == 0) {
            sent_.Sent(sequence, t0);
            outcome = WaitForReply(t0, timeout);
        }
        switch (outcome) {
            case Outcome::Stopped:
                break;
            case Outcome::Success:
                SleepWhileRunning(static_cast<int64_t>(timeout) -
                                  static_cast<int64_t>(TickDiffMs(clock_.TickCount(), t0)) - 1);
                break;
            case Outcome::LostByTimeout:
                RecordLoss();  // the whole period has passed: next probe at once
                break;
            case Outcome::Failed:
                RecordLoss();
                WaitOutPeriod(t0, timeout);
                break;
            case Outcome::DueNow:
                break;
            case Outcome::WaitFailed:
                ShowError("Network error - restart the software", MessageIcon::Error);
                // The service program has no box to hold the thread: without this pause a
                // lasting failure would turn into a busy loop of log lines.
                WaitOutPeriod(t0, timeout);
                break;
        }
        if (outcome == Outcome::Stopped) {
            break;
        }
    }
    table_.ProberLeft();
}

IcmpProber::Outcome IcmpProber::WaitForReply(uint32_t t0, uint32_t timeout) {
    ReplyWait wait(timeout);
    for (;;) {
        const uint32_t slice = wait.NextSlice();
        const WaitResult ready = socket_.WaitReadable(static_cast<int>(slice));
        if (!ShouldRun()) {
            return Outcome::Stopped;
        }
        if (ready == WaitResult::Timeout) {
            if (wait.SliceExpired(TickDiffMs(clock_.TickCount(), t0))) {
                return Outcome::LostByTimeout;
            }
            continue;
        }
        if (ready == WaitResult::Error) {
            return Outcome::WaitFailed;
        }

        size_t size = 0;
        uint32_t source = 0;
        const int rc = socket_.Receive(receiveBuffer_.get(), kBufferSize, &size, &source);
        const uint32_t t1 = clock_.TickCount();
        if (rc == EAGAIN) {
            wait.Interrupted(TickDiffMs(t1, t0));
            continue;
        }
        if (rc != 0) {
            return Outcome::Failed;
        }
        std::optional<EchoReply> reply =
            ParseEchoReply(receiveBuffer_.get(), size, socket_.RepliesCarryIpHeader());
        const uint32_t rtt = reply ? TickDiffMs(t1, reply->tick) : 0;
        // Identifiers are only unique by chance (two probers that start a millisecond
        // apart, or another program's, can share one), so a reply must also come from our
        // target and carry a request we sent. A tick from the future is no reply of ours.
        if (!reply || reply->identifier != socket_.Identifier() || source != address_ ||
            !sent_.Matches(reply->sequence, reply->tick) ||
            rtt > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
            wait.Interrupted(TickDiffMs(clock_.TickCount(), t0));
            continue;
        }

        if (rtt < timeout) {
            if (!ShouldRun()) {
                return Outcome::Stopped;
            }
            HostTable::NoteSuccess(entry_, static_cast<int32_t>(rtt));
            table_.RecordResult(k_, static_cast<int32_t>(rtt));
            return Outcome::Success;
        }

        // Late: the reply of an earlier probe.
        {
            std::lock_guard<std::recursive_mutex> lock(table_.SampleLock());
            if (!ShouldRun()) {
                return Outcome::Stopped;
            }
            LateReplyDecision decision = DecideLateReply(reply->sequence, entry_.samples);
            if (decision.action == LateReplyAction::RecordDueNow) {
                table_.RecordResult(k_, static_cast<int32_t>(rtt));
                entry_.currentMs = 0;
                entry_.up = 0;
                return Outcome::DueNow;
            }
            if (decision.action == LateReplyAction::CorrectEarlier) {
                entry_.samples[decision.index] = static_cast<int32_t>(rtt);
                entry_.lostCount -= 1;
            }
        }
        wait.Interrupted(TickDiffMs(clock_.TickCount(), t0));
    }
}

bool IcmpProber::LookUpTarget(uint32_t now) {
    if (!retry_.Due(now)) {
        return false;
    }
    std::optional<uint32_t> address = resolve_(nameA_);
    if (!address) {
        if (retry_.Failed(now)) {
            ShowError("Can't resolve " + name_, table_.rules().resolveFailureIcon);
        }
        return false;
    }
    address_ = *address;
    resolved_ = true;
    socket_.ConnectTo(address_);
    return true;
}

void IcmpProber::RecordLoss() {
    if (!ShouldRun()) {
        return;
    }
    table_.RecordResult(k_, -1);
    HostTable::NoteLoss(entry_);
}

void IcmpProber::WaitOutPeriod(uint32_t t0, uint32_t timeout) {
    uint32_t elapsed = TickDiffMs(clock_.TickCount(), t0);
    if (elapsed > timeout - 1) {
        elapsed = timeout - 1;
    }
    SleepWhileRunning(static_cast<int64_t>(timeout) - elapsed - 1);
}

void IcmpProber::SleepWhileRunning(int64_t ms) {
    while (ms > 0 && ShouldRun()) {
        const int64_t slice = ms < 1000 ? ms : 1000;
        clock_.SleepMs(static_cast<uint32_t>(slice));
        ms -= slice;
    }
}

}  // namespace

void RunIcmpProberWith(HostTable& table, int hostNumber, uint32_t run, IcmpSocketKind kind,
                       const HostResolver& resolve) {
    IcmpProber prober(table, hostNumber, run, resolve ? resolve : HostResolver(ResolveIPv4));
    prober.Run(kind);
}

void RunIcmpProber(HostTable& table, int hostNumber, uint32_t run) {
    RunIcmpProberWith(table, hostNumber, run, IcmpSocketKind::Auto);
}

}  // namespace qv
