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
    // Never waits for the message to be shown: the periods go on being recorded meanwhile.
    void ShowError(const std::string& text, MessageIcon icon) {
        table_.proberSink().ShowMessage(text, "Error", icon);
    }
    Outcome WaitForReply(uint32_t t0, uint32_t timeout);
    // Sleeps in slices of at most a second, ending early once the host is stopped.
    void SleepWhileRunning(int64_t ms);
    // Sleeps out the rest of the period after a probe that could not be completed.
    void WaitOutPeriod(uint32_t t0, uint32_t timeout);
    void RecordLoss();
    // Tries to learn the target within the period that began at t0; true once it is known.
    // *firstFailure tells that the name has just failed for the first time.
    bool LookUpTarget(uint32_t t0, uint32_t timeout, bool* firstFailure);
    // The socket for the target's family; false (after saying why) when none can be had.
    bool OpenSocket(int family);

    HostTable& table_;
    Clock& clock_;
    HostEntry& entry_;
    const int k_;
    const uint32_t run_;
    const HostResolver resolve_;
    IcmpSocketKind kind_ = IcmpSocketKind::Auto;
    std::string name_;
    std::string nameA_;
    std::optional<TargetLookup> lookup_;
    IcmpSocket socket_;
    uint16_t identifier_ = 0;
    bool resolved_ = false;
    NetAddress address_;
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
    identifier_ = static_cast<uint16_t>(base + k_);
    kind_ = kind;

    {
        std::lock_guard<std::recursive_mutex> lock(table_.SampleLock());
        if (!ShouldRun()) {
            return;
        }
        name_ = entry_.name;
        nameA_ = entry_.nameA;
    }
    lookup_.emplace(nameA_, resolve_);

    // The socket of the literal's family, else IPv4 until a lookup says otherwise, so that
    // a missing right is told at once either way.
    const std::optional<NetAddress> literal = ParseAddressLiteral(nameA_);
    if (!OpenSocket(literal ? literal->Family() : AF_INET)) {
        return;
    }

    sendBuffer_.reset(new (std::nothrow) uint8_t[kBufferSize]());
    receiveBuffer_.reset(new (std::nothrow) uint8_t[kBufferSize]());
    if (!sendBuffer_ || !receiveBuffer_) {
        ShowError("HeapAlloc failed", MessageIcon::Error);
        return;
    }
    PrepareEchoRequest(sendBuffer_.get(), socket_.IsIPv6());

    table_.ProberEntered();
    while (ShouldRun()) {
        const int32_t probeValue = entry_.probeValue;
        if (probeValue <= 0) {
            break;  // nothing to probe; AddHost starts no prober for such an entry
        }
        const uint32_t timeout = static_cast<uint32_t>(probeValue);

        uint32_t t0 = clock_.TickCount();
        bool firstFailure = false;
        if (!resolved_) {
            if (LookUpTarget(t0, timeout, &firstFailure)) {
                if (!socket_.Valid()) {
                    break;  // no socket for the target's family, and told so
                }
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
                // The period's value is -1 from its start, but the loss is counted when the
                // period is over, as an unanswered request's is: counted at the start, the
                // losses would run a period ahead of the seconds recorded and the lost
                // share would pass 100 %.
                if (ShouldRun()) {
                    table_.RecordResult(k_, -1);
                }
                WaitOutPeriod(t0, timeout);
                if (ShouldRun()) {
                    HostTable::NoteLoss(entry_);
                }
                if (firstFailure) {
                    // Told after the loss is recorded, and without waiting for the box.
                    ShowError("Can't resolve " + name_, table_.rules().resolveFailureIcon);
                }
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
        NetAddress source;
        const int rc = socket_.Receive(receiveBuffer_.get(), kBufferSize, &size, &source);
        const uint32_t t1 = clock_.TickCount();
        if (rc == EAGAIN) {
            wait.Interrupted(TickDiffMs(t1, t0));
            continue;
        }
        if (rc != 0) {
            return Outcome::Failed;
        }
        std::optional<EchoReply> reply = ParseEchoReply(
            receiveBuffer_.get(), size, socket_.RepliesCarryIpHeader(), socket_.IsIPv6());
        const uint32_t rtt = reply ? TickDiffMs(t1, reply->tick) : 0;
        // Identifiers are only unique by chance (two probers that start a millisecond
        // apart, or another program's, can share one), so a reply must also come from our
        // target and carry a request we sent. A tick from the future is no reply of ours.
        if (!reply || reply->identifier != socket_.Identifier() || !source.SameHost(address_) ||
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

bool IcmpProber::LookUpTarget(uint32_t t0, uint32_t timeout, bool* firstFailure) {
    // The lookup may take the whole period, and no more: an unknown name is a lost probe
    // every period, however long the resolver takes to say so.
    const TargetLookup::Outcome outcome = lookup_->Try(t0, timeout, [this, t0, timeout] {
        return ShouldRun() && TickDiffMs(clock_.TickCount(), t0) < timeout;
    });
    *firstFailure = outcome == TargetLookup::Outcome::FirstFailure;
    if (outcome != TargetLookup::Outcome::Known) {
        return false;
    }
    address_ = lookup_->address();
    resolved_ = true;
    entry_.targetIsIpv6 = address_.IsIPv6() ? 1 : 0;
    if (address_.Family() != (socket_.IsIPv6() ? AF_INET6 : AF_INET)) {
        if (!OpenSocket(address_.Family())) {
            return true;
        }
        PrepareEchoRequest(sendBuffer_.get(), socket_.IsIPv6());
    }
    socket_.ConnectTo(address_);
    return true;
}

bool IcmpProber::OpenSocket(int family) {
    int error = 0;
    socket_ = IcmpSocket::Open(kind_, identifier_, &error, family);
    if (!socket_.Valid()) {
        ShowError(SystemErrorText(error), MessageIcon::Information);
        return false;
    }
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
    IcmpProber prober(table, hostNumber, run, resolve);
    prober.Run(kind);
}

void RunIcmpProber(HostTable& table, int hostNumber, uint32_t run) {
    RunIcmpProberWith(table, hostNumber, run, IcmpSocketKind::Auto);
}

}  // namespace qv
