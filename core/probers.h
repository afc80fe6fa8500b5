// The two prober thread bodies. Each runs until its host's slot is stopped or taken over
// by another run, or until a start-up error ends it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace qv {

class HostTable;

// Looks a host name up: its IPv4 address (network byte order), or nothing.
using HostResolver = std::function<std::optional<uint32_t>(const std::string& name)>;

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

}  // namespace qv
