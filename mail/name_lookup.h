// A name lookup that the caller can give up on: the resolver runs on the C library's own
// lookup thread, and the caller waits for it in short slices, so a stop request or a time
// limit ends the wait whatever the name servers do.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace qv {

enum class LookupEnd { Found, NotFound, TimedOut, Cancelled };

struct LookupResult {
    LookupEnd end = LookupEnd::NotFound;
    uint32_t address = 0;  // the first IPv4 address (network byte order) when Found
};

// The first IPv4 address of `name` (a dotted address is taken as it is), waiting at most
// timeoutMs; `cancelled`, when given, is asked every few tens of milliseconds.
LookupResult LookupIPv4(const std::string& name, int timeoutMs,
                        const std::function<bool()>& cancelled = {});

}  // namespace qv
