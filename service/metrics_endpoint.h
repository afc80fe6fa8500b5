// The service's measurements for Prometheus: an HTTP endpoint (/metrics) served by
// prometheus-cpp's exposer, whose numbers are copied from the host table at each scrape.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/host_table.h"
#include "platform/message_sink.h"

namespace prometheus {
class Collectable;
class Exposer;
struct MetricFamily;
}  // namespace prometheus

namespace qv {

// What the watcher's notifications came to, since the start.
struct ChannelCounts {
    uint64_t ok = 0;
    uint64_t failed = 0;
};
struct NotificationCounts {
    ChannelCounts mail;
    ChannelCounts sound;
    ChannelCounts trace;
};
using NotificationSource = std::function<NotificationCounts()>;

// Every family the endpoint serves, taken now. The host table is read under SampleLock
// only for as long as copying its numbers takes.
std::vector<prometheus::MetricFamily> CollectMetrics(HostTable& table,
                                                     const NotificationCounts& notifications);

class MetricsEndpoint {
  public:
    // Serves /metrics on `listen` (as ParseListenAddress accepts it) until destroyed.
    // Nothing, with the reason in `error`, when that address cannot be listened on.
    static std::unique_ptr<MetricsEndpoint> Start(const std::string& listen, HostTable& table,
                                                  NotificationSource notifications,
                                                  std::string* error);
    // Stops serving; no scrape runs afterwards.
    ~MetricsEndpoint();
    MetricsEndpoint(const MetricsEndpoint&) = delete;
    MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

  private:
    MetricsEndpoint() = default;
    std::shared_ptr<prometheus::Collectable> collector_;
    std::unique_ptr<prometheus::Exposer> exposer_;
};

// The endpoint quorvane.conf in the data folder asks for, or nothing. A section that
// cannot be used or an address that cannot be listened on is said through `sink` in one
// line, and the monitoring goes on without the endpoint.
std::unique_ptr<MetricsEndpoint> StartConfiguredMetrics(const std::string& dataDir,
                                                        HostTable& table,
                                                        NotificationSource notifications,
                                                        MessageSink& sink);

}  // namespace qv
