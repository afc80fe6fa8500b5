// The mail server's lookup waits for the platform's lookup in short slices, asking
// between them whether the conversation was aborted.
#include "mail/name_lookup.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>

#include "platform/name_lookup.h"
#include "platform/net.h"

namespace qv {
namespace {

constexpr int kSliceMs = 50;

}  // namespace

LookupResult LookupIPv4(const std::string& name, int timeoutMs,
                        const std::function<bool()>& cancelled) {
    NameLookup lookup;  // gives a lookup still under way up when it goes
    lookup.Start(name, AF_INET);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (lookup.status() == NameLookup::Status::Pending) {
        if (cancelled && cancelled()) {
            return LookupResult{LookupEnd::Cancelled, 0};
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return LookupResult{LookupEnd::TimedOut, 0};
        }
        lookup.Wait(static_cast<int>(std::min<long long>(left, kSliceMs)));
    }
    if (lookup.status() != NameLookup::Status::Found) {
        return LookupResult{LookupEnd::NotFound, 0};
    }
    const auto* in = reinterpret_cast<const sockaddr_in*>(lookup.address().Sockaddr());
    return LookupResult{LookupEnd::Found, in->sin_addr.s_addr};
}

}  // namespace qv
