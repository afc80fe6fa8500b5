// The two prober thread bodies. Each runs until its host's slot is stopped or taken over
// by another run, or until a start-up error ends it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/name_lookup.h"
#include "platform/net.h"

namespace qv {

class HostTable;

// Looks a host name up at once (tests): its address, or nothing.
using HostResolver = std::function<std::optional<NetAddress>(const std::string& name)>;

void RunIcmpProber(HostTable& table, int hostNumber, uint32_t run);
void RunTcpProber(HostTable& table, int hostNumber, uint32_t run);
// The TCP prober with its own way of looking names up.
void RunTcpProberWith(HostTable& table, int hostNumber, uint32_t run, const HostResolver& resolve);

// When a prober looks a name that did not resolve up again. A service started before the
// network is up must not give its hosts up for the day; a name that stays unknown must not
// keep the resolver busy either. So: every period during the first minute after the first
// failure, then at most once a minute.
class LookupRetry {
  public:
    // Whether a lookup is due at tick `now`; always before the first failure.
    bool Due(uint32_t now);
    // A lookup at tick `now` failed; true when it was the first to fail.
    bool Failed(uint32_t now);

    static constexpr uint32_t kIntervalMs = 60'000;

  private:
    bool failed_ = false;
    uint32_t firstFailure_ = 0;
    uint32_t lastTry_ = 0;
    bool pastFirstMinute_ = false;
};

// A prober's road to its target's address: the system's lookup (or the one given), tried
// again at LookupRetry's times. The system's lookup runs beside the prober, so a prober
// waits for it only as long as it is told and can end at any time; a lookup that is still
// under way when the wait ends is waited for again at the next try.
class TargetLookup {
  public:
    enum class Outcome {
        Known,         // address() is the target
        NotYet,        // no address this time
        FirstFailure,  // no address, and the name failed for the first time
    };

    // Without `resolve`, names are looked up the system's way.
    TargetLookup(std::string name, HostResolver resolve);

    // One try at tick `now`: waits at most waitMs in all, and no longer than keepWaiting()
    // says (asked a few times a second).
    Outcome Try(uint32_t now, uint32_t waitMs, const std::function<bool()>& keepWaiting);
    bool known() const { return known_; }
    const NetAddress& address() const { return address_; }

    static constexpr uint32_t kWaitSliceMs = 200;

  private:
    Outcome NoteFailure(uint32_t now);

    const std::string name_;
    const HostResolver resolve_;
    NameLookup lookup_;
    LookupRetry retry_;
    bool known_ = false;
    NetAddress address_;
};

}  // namespace qv
