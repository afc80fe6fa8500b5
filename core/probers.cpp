#include "core/probers.h"

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

}  // namespace qv
