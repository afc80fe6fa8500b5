#include "core/probers.h"

#include <algorithm>

#include <chrono>
#include "core/host_table.h"

namespace qv {

void RunProber(HostTable& table, int hostNumber, uint32_t run) {
    if (table.EntryOfHost(hostNumber).isIcmp) {
        RunIcmpProber(table, hostNumber, run);
    } else {
        RunTcpProber(table, hostNumber, run);
    }
}

bool LookupRetry::Due(uint32_t now) {
    if (!failed_) {
        return true;
    }
    // Differences of the wrapping tick; the first minute is remembered once it has passed,
    // so a wrap long after it cannot bring it back.
    if (!pastFirstMinute_) {
        if (now - firstFailure_ < kIntervalMs) {
            return true;
        }
        pastFirstMinute_ = true;
    }
    return now - lastTry_ >= kIntervalMs;
}

bool LookupRetry::Failed(uint32_t now) {
    lastTry_ = now;
    if (failed_) {
        return false;
    }
    failed_ = true;
    firstFailure_ = now;
    return true;
}

TargetLookup::TargetLookup(std::string name, HostResolver resolve)
    : name_(std::move(name)), resolve_(std::move(resolve)) {}

TargetLookup::Outcome TargetLookup::Try(uint32_t now, uint32_t waitMs,
                                        const std::function<bool()>& keepWaiting) {
    if (known_) {
        return Outcome::Known;
    }
    if (resolve_) {
        if (!retry_.Due(now)) {
            return Outcome::NotYet;
        }
        if (std::optional<NetAddress> address = resolve_(name_)) {
            address_ = *address;
            known_ = true;
            return Outcome::Known;
        }
        return NoteFailure(now);
    }
    if (lookup_.status() != NameLookup::Status::Pending) {
        if (!retry_.Due(now)) {
            return Outcome::NotYet;
        }
        lookup_.Start(name_);
    }
    // The resolver's answer is waited for in real time, whatever clock the prober keeps.
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const auto spent =
            static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - start)
                                      .count());
        const uint32_t slice = std::min(kWaitSliceMs, waitMs > spent ? waitMs - spent : 0);
        const NameLookup::Status status = lookup_.Wait(static_cast<int>(slice));
        if (status == NameLookup::Status::Found) {
            address_ = lookup_.address();
            known_ = true;
            return Outcome::Known;
        }
        if (status == NameLookup::Status::NotFound) {
            return NoteFailure(now);
        }
        if (slice == 0 || !keepWaiting()) {
            return Outcome::NotYet;  // still under way: the next try waits for it again
        }
    }
}

TargetLookup::Outcome TargetLookup::NoteFailure(uint32_t now) {
    return retry_.Failed(now) ? Outcome::FirstFailure : Outcome::NotYet;
}

}  // namespace qv
