// The service's measurements for Prometheus: GET /metrics over HTTP, served by
// libmicrohttpd on one thread of its own, the numbers copied from the host table at each
// scrape and the text gzip-compressed for a client that asks for it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/host_table.h"
#include "platform/message_sink.h"
#include "platform/net.h"
#include "service/metrics_text.h"

struct MHD_Daemon;

namespace qv {

class MetricsEndpoint {
  public:
    // Serves /metrics on `address` (port 0 takes a free one) until destroyed. Nothing, with
    // the reason in `error`, when that address cannot be listened on.
    static std::unique_ptr<MetricsEndpoint> Start(const NetAddress& address, HostTable& table,
                                                  NotificationSource notifications,
                                                  std::string* error);
    // Stops serving; no scrape runs afterwards.
    ~MetricsEndpoint();
    MetricsEndpoint(const MetricsEndpoint&) = delete;
    MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

    // The port listened on.
    uint16_t Port() const { return port_; }

    // What the server's thread reads and keeps from one scrape to the next.
    struct Scrape;

  private:
    MetricsEndpoint() = default;

    std::unique_ptr<Scrape> scrape_;
    uint16_t port_ = 0;
    MHD_Daemon* daemon_ = nullptr;
};

// The endpoint quorvane.conf in the data folder asks for, or nothing. A section that
// cannot be used or an address that cannot be listened on is said through `sink` in one
// line, and the monitoring goes on without the endpoint.
std::unique_ptr<MetricsEndpoint> StartConfiguredMetrics(const std::string& dataDir,
                                                        HostTable& table,
                                                        NotificationSource notifications,
                                                        MessageSink& sink);

}  // namespace qv
