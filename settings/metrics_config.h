// The [metrics] section of quorvane.conf in the data folder: where the service serves its
// measurements to Prometheus ("listen = ADDRESS:PORT"). No address, no endpoint.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/net.h"

namespace qv {

inline constexpr const char* kQuorvaneConfName = "quorvane.conf";

struct MetricsConfig {
    // "127.0.0.1:9462" or "[::1]:9462" as written; empty: nothing listens.
    std::string listen;
    // What it says, port included.
    NetAddress address;
    // Why the file or its [metrics] section could not be used; empty when it could (also
    // when there is no file at all).
    std::string error;
};

// Reads the [metrics] section of DATADIR/quorvane.conf.
MetricsConfig LoadMetricsConfig(const std::string& dataDir);

// Checks a listen address: an IPv4 address or an IPv6 address in brackets, a colon and a
// port from 1 to 65535. Returns the address with its port, or nothing with the reason in
// `error`.
std::optional<NetAddress> ParseListenAddress(std::string_view text, std::string* error);

}  // namespace qv
