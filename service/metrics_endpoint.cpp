// The /metrics endpoint: a prometheus-cpp exposer and the collector that copies the host
// table's numbers at each scrape.
#include "service/metrics_endpoint.h"

#include <arpa/inet.h>
#include <civetweb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <prometheus/collectable.h>
#include <prometheus/exposer.h>
#include <prometheus/metric_family.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <map>
#include <tuple>

#include "platform/error_text.h"
#include "platform/net.h"
#include "settings/metrics_config.h"

namespace qv {

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

// Label values must be UTF-8, or Prometheus refuses the whole scrape: a name from a
// hand-edited host list gets U+FFFD for each byte that is not.
std::string ValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
        const unsigned char lead = byte(i);
        size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
        if (lead < 0x80) {
            length = 1;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
            high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
        }
        bool valid = length > 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const unsigned char c = byte(i + k);
            valid = k == 1 ? (c >= low && c <= high) : (c >= 0x80 && c <= 0xBF);
        }
        if (valid) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out.append("\xEF\xBF\xBD");
            i += 1;
        }
    }
    return out;
}

// One probed host's numbers, copied under SampleLock.
struct HostNumbers {
    std::string name;
    bool icmp = true;
    int port = 0;
    bool up = false;
    int32_t stateSeconds = 0;
    ProbeTally tally;
};

std::vector<HostNumbers> CopyHosts(HostTable& table) {
    std::vector<HostNumbers> hosts;
    hosts.reserve(kMaxHosts);
    std::lock_guard<std::recursive_mutex> lock(table.SampleLock());
    for (int slot = 0; slot < kMaxHosts; ++slot) {
        const HostEntry& e = table.Entry(slot);
        // The hosts the tick watches.
        if (e.active == 0 || e.probeValue == 0) {
            continue;
        }
        hosts.push_back(
            HostNumbers{e.name, e.isIcmp != 0, e.port, e.up != 0, e.stateSeconds, e.tally});
    }
    return hosts;
}

MetricFamily Family(const char* name, const char* help, MetricType type) {
    return MetricFamily{name, help, type, {}};
}

ClientMetric Labelled(std::vector<ClientMetric::Label> labels) {
    ClientMetric metric;
    metric.label = std::move(labels);
    return metric;
}

void AddProcessMetrics(std::vector<MetricFamily>& families) {
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) == 0) {
        MetricFamily cpu =
            Family("process_cpu_seconds_total", "User and system CPU time spent in seconds.",
                   MetricType::Counter);
        ClientMetric m;
        m.counter.value =
            static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        cpu.metric.push_back(m);
        families.push_back(std::move(cpu));
    }
    if (std::FILE* statm = std::fopen("/proc/self/statm", "re")) {
        unsigned long size = 0, resident = 0;
        if (std::fscanf(statm, "%lu %lu", &size, &resident) == 2) {
            MetricFamily rss = Family("process_resident_memory_bytes",
                                      "Resident memory size in bytes.", MetricType::Gauge);
            ClientMetric m;
            m.gauge.value =
                static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE));
            rss.metric.push_back(m);
            families.push_back(std::move(rss));
        }
        std::fclose(statm);
    }
}

class HostMetrics final : public prometheus::Collectable {
  public:
    HostMetrics(HostTable& table, NotificationSource notifications)
        : table_(table), notifications_(std::move(notifications)) {}
    std::vector<MetricFamily> Collect() const override {
        return CollectMetrics(table_, notifications_ ? notifications_() : NotificationCounts{});
    }

  private:
    HostTable& table_;
    const NotificationSource notifications_;
};

// Why `listen` cannot be bound, found by trying it the way the server does.
std::string BindErrorText(const std::string& listen) {
    const size_t colon = listen.rfind(':');
    const std::string host = listen.substr(0, colon);
    const int port = std::atoi(listen.c_str() + colon + 1);
    sockaddr_storage address{};
    socklen_t length = 0;
    if (!host.empty() && host.front() == '[') {
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&address);
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &a6->sin6_addr);
        length = sizeof(*a6);
    } else {
        auto* a4 = reinterpret_cast<sockaddr_in*>(&address);
        a4->sin_family = AF_INET;
        a4->sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, host.c_str(), &a4->sin_addr);
        length = sizeof(*a4);
    }
    UniqueFd fd(::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
        return SystemErrorText(errno);
    }
    const int on = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd.Get(), 1) != 0) {
        return SystemErrorText(errno);
    }
    return {};
}

}  // namespace

std::vector<MetricFamily> CollectMetrics(HostTable& table,
                                         const NotificationCounts& notifications) {
    const std::vector<HostNumbers> hosts = CopyHosts(table);

    MetricFamily up =
        Family("quorvane_host_up", "1 when the host's last probe was answered, else 0.",
               MetricType::Gauge);
    MetricFamily state =
        Family("quorvane_host_state_seconds",
               "How long the host has been in its current up or down state.", MetricType::Gauge);
    MetricFamily probes =
        Family("quorvane_probes_total", "Probes sent to the host.", MetricType::Counter);
    MetricFamily lost =
        Family("quorvane_probes_lost_total", "Probes that got no answer within the timeout.",
               MetricType::Counter);
    MetricFamily rtt = Family("quorvane_rtt_seconds", "Round-trip time of the answered probes.",
                              MetricType::Histogram);

    // The same host may be listed twice: later copies are told apart by a "copy" label,
    // since two series with equal labels would spoil the whole scrape.
    std::map<std::tuple<std::string, bool, int>, int> seen;
    for (const HostNumbers& h : hosts) {
        std::vector<ClientMetric::Label> labels{{"host", ValidUtf8(h.name)},
                                                {"kind", h.icmp ? "icmp" : "tcp"}};
        if (!h.icmp) {
            labels.push_back({"port", std::to_string(h.port)});
        }
        const int copy = ++seen[{h.name, h.icmp, h.port}];
        if (copy > 1) {
            labels.push_back({"copy", std::to_string(copy)});
        }

        ClientMetric m = Labelled(labels);
        m.gauge.value = h.up ? 1 : 0;
        up.metric.push_back(m);
        m = Labelled(labels);
        m.gauge.value = h.stateSeconds;
        state.metric.push_back(m);
        m = Labelled(labels);
        m.counter.value = static_cast<double>(h.tally.answered + h.tally.lost);
        probes.metric.push_back(m);
        m = Labelled(labels);
        m.counter.value = static_cast<double>(h.tally.lost);
        lost.metric.push_back(m);

        m = Labelled(labels);
        m.histogram.sample_count = h.tally.answered;
        m.histogram.sample_sum = static_cast<double>(h.tally.sumMs) / 1000.0;
        uint64_t cumulative = 0;
        for (int i = 0; i < ProbeTally::kBounds; ++i) {
            cumulative += h.tally.buckets[i];
            m.histogram.bucket.push_back({cumulative, ProbeTally::UpperBoundSeconds(i)});
        }
        m.histogram.bucket.push_back({h.tally.answered, std::numeric_limits<double>::infinity()});
        rtt.metric.push_back(m);
    }

    MetricFamily notified = Family(
        "quorvane_notifications_total",
        "Notifications given: e-mails, alarm sounds, traceroute captures.", MetricType::Counter);
    for (const auto& [channel, counts] :
         {std::pair{"mail", notifications.mail}, std::pair{"sound", notifications.sound},
          std::pair{"trace", notifications.trace}}) {
        for (const auto& [result, value] :
             {std::pair{"ok", counts.ok}, std::pair{"failed", counts.failed}}) {
            ClientMetric m = Labelled({{"channel", channel}, {"result", result}});
            m.counter.value = static_cast<double>(value);
            notified.metric.push_back(m);
        }
    }

    std::vector<MetricFamily> families;
    for (MetricFamily* f : {&up, &state, &probes, &lost, &rtt, &notified}) {
        families.push_back(std::move(*f));
    }
    AddProcessMetrics(families);
    return families;
}

std::unique_ptr<MetricsEndpoint> MetricsEndpoint::Start(const std::string& listen, HostTable& table,
                                                        NotificationSource notifications,
                                                        std::string* error) {
    // Debian 12 builds the HTTP server without IPv6: say so rather than "cannot bind".
    constexpr unsigned kCivetwebIpv6 = 8;
    if (listen.starts_with("[") && mg_check_feature(kCivetwebIpv6) == 0) {
        if (error != nullptr) {
            *error =
                "this system's HTTP server library (civetweb) has no IPv6; use an IPv4 "
                "address such as 0.0.0.0:9462";
        }
        return nullptr;
    }
    std::unique_ptr<MetricsEndpoint> endpoint(new MetricsEndpoint);
    endpoint->collector_ = std::make_shared<HostMetrics>(table, std::move(notifications));
    try {
        // Two workers; a client that stops sending in the middle of a request is dropped
        // after a few seconds instead of holding one of them.
        endpoint->exposer_ = std::make_unique<prometheus::Exposer>(std::vector<std::string>{
            "listening_ports", listen, "num_threads", "2", "request_timeout_ms", "5000"});
    } catch (const std::exception& e) {
        if (error != nullptr) {
            *error = BindErrorText(listen);
            if (error->empty()) {
                *error = e.what();
            }
        }
        return nullptr;
    }
    endpoint->exposer_->RegisterCollectable(endpoint->collector_);
    return endpoint;
}

MetricsEndpoint::~MetricsEndpoint() = default;

std::unique_ptr<MetricsEndpoint> StartConfiguredMetrics(const std::string& dataDir,
                                                        HostTable& table,
                                                        NotificationSource notifications,
                                                        MessageSink& sink) {
    const MetricsConfig config = LoadMetricsConfig(dataDir);
    if (!config.error.empty()) {
        sink.ShowMessage("No metrics endpoint: " + config.error, "Error", MessageIcon::Error);
        return nullptr;
    }
    if (config.listen.empty()) {
        return nullptr;
    }
    std::string error;
    std::unique_ptr<MetricsEndpoint> endpoint =
        MetricsEndpoint::Start(config.listen, table, std::move(notifications), &error);
    if (!endpoint) {
        sink.ShowMessage("Can't serve metrics on " + config.listen + ": " + error +
                             "; monitoring goes on without them",
                         "Error", MessageIcon::Error);
    }
    return endpoint;
}

}  // namespace qv
