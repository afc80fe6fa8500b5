// The [metrics] section of quorvane.conf in the data folder: where the service serves its
// measurements to Prometheus ("listen = ADDRESS:PORT"). No address, no endpoint.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qv {

inline constexpr const char* kQuorvaneConfName = "quorvane.conf";

struct MetricsConfig {
    // "127.0.0.1:9462" or "[::1]:9462"; empty: nothing listens.
    std::string listen;
    // Why the file or its [metrics] section could not be used; empty when it could (also
    // when there is no file at all).
    std::string error;
};

// Reads the [metrics] section of DATADIR/quorvane.conf.
MetricsConfig LoadMetricsConfig(const std::string& dataDir);

// Checks a listen address: an IPv4 address or an IPv6 address in brackets, a colon and a
// port from 1 to 65535. Returns it as it is, or nothing with the reason in `error`.
std::optional<std::string> ParseListenAddress(std::string_view text, std::string* error);

}  // namespace qv
