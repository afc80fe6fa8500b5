// What one scrape holds, taken straight from a host table: the series' labels, and the
// counters and round-trip buckets built from the recorded samples.
#include <civetweb.h>
#include <gtest/gtest.h>
#include <prometheus/metric_family.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/host_table.h"
#include "platform/clock.h"
#include "service/metrics_endpoint.h"
#include "support/lib/fake_clock.h"
#include "support/lib/recording_sink.h"

namespace qv {
namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using Labels = std::vector<ClientMetric::Label>;

const ClientMetric* Find(const std::vector<MetricFamily>& families, const std::string& name,
                         const Labels& labels) {
    for (const MetricFamily& family : families) {
        if (family.name != name) {
            continue;
        }
        for (const ClientMetric& metric : family.metric) {
            if (metric.label == labels) {
                return &metric;
            }
        }
    }
    return nullptr;
}

class MetricsCollectTest : public ::testing::Test {
  protected:
    MetricsCollectTest() : table(Program::Service, clock, sink, NoProbers()) {}
    static HostTable::Hooks NoProbers() {
        HostTable::Hooks hooks;
        hooks.runProber = [](HostTable&, int, uint32_t) {};
        return hooks;
    }

    FakeClock clock;
    test::RecordingMessageSink sink;
    HostTable table;
};

TEST_F(MetricsCollectTest, SamplesSinceThePlacingFillCountersAndBucketsThroughTheDailyReset) {
    table.AddHost("a.example", 1000, 0);
    // 0 ms (this machine), 1 ms, 2 ms, a satellite's 600 ms, one beyond every bound, a loss.
    for (int32_t value : {0, 1, 2, 600, 20000, -1}) {
        table.RecordProbeSample(1, value);
    }
    // Prometheus counters never go back: midnight resets the day, not these.
    table.ResetDay(table.Entry(0));
    table.RecordProbeSample(1, 50);

    const std::vector<MetricFamily> families = CollectMetrics(table, {});
    const Labels labels{{"host", "a.example"}, {"kind", "icmp"}};
    const ClientMetric* rtt = Find(families, "quorvane_rtt_seconds", labels);
    ASSERT_NE(rtt, nullptr);
    EXPECT_EQ(rtt->histogram.sample_count, 6u);
    EXPECT_DOUBLE_EQ(rtt->histogram.sample_sum, 20.653);
    std::vector<std::pair<double, uint64_t>> buckets;
    for (const ClientMetric::Bucket& b : rtt->histogram.bucket) {
        buckets.emplace_back(b.upper_bound, b.cumulative_count);
    }
    const std::vector<std::pair<double, uint64_t>> expected{
        {0.0005, 1}, {0.001, 2}, {0.002, 3}, {0.004, 3},  {0.008, 3},   {0.016, 3},
        {0.032, 3},  {0.064, 4}, {0.128, 4}, {0.256, 4},  {0.512, 4},   {1.024, 5},
        {2.048, 5},  {4.096, 5}, {8.192, 5}, {16.384, 5}, {INFINITY, 6}};
    ASSERT_EQ(buckets.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_DOUBLE_EQ(buckets[i].first, expected[i].first) << i;
        EXPECT_EQ(buckets[i].second, expected[i].second) << "le=" << expected[i].first;
    }
    EXPECT_EQ(Find(families, "quorvane_probes_total", labels)->counter.value, 7);
    EXPECT_EQ(Find(families, "quorvane_probes_lost_total", labels)->counter.value, 1);

    // A slot given to another host starts that host from nothing.
    table.StopHost(0);
    table.AddHost("b.example", 1000, 0);
    const std::vector<MetricFamily> after = CollectMetrics(table, {});
    EXPECT_EQ(Find(after, "quorvane_probes_total", labels), nullptr);
    EXPECT_EQ(Find(after, "quorvane_probes_total", {{"host", "b.example"}, {"kind", "icmp"}})
                  ->counter.value,
              0);
}

TEST_F(MetricsCollectTest, EverySeriesHasLabelsOfItsOwnInValidUtf8) {
    table.AddHost("a.example", 1000, 0);
    table.AddHost("a.example", 1000, 0);
    table.AddHost("a.example", 5, 22);
    table.AddHost("a.example", 5, 443);
    table.AddHost("bad\xff\xc3(name", 1000, 0);
    table.Entry(1).up = 1;
    table.Entry(3).stateSeconds = 42;

    const std::vector<MetricFamily> families =
        CollectMetrics(table, NotificationCounts{{3, 4}, {5, 6}, {7, 8}});
    const std::vector<Labels> expected{
        {{"host", "a.example"}, {"kind", "icmp"}},
        {{"host", "a.example"}, {"kind", "icmp"}, {"copy", "2"}},
        {{"host", "a.example"}, {"kind", "tcp"}, {"port", "22"}},
        {{"host", "a.example"}, {"kind", "tcp"}, {"port", "443"}},
        {{"host", "bad\xEF\xBF\xBD\xEF\xBF\xBD(name"}, {"kind", "icmp"}},
    };
    for (const char* name :
         {"quorvane_host_up", "quorvane_host_state_seconds", "quorvane_probes_total",
          "quorvane_probes_lost_total", "quorvane_rtt_seconds"}) {
        for (const Labels& labels : expected) {
            EXPECT_NE(Find(families, name, labels), nullptr) << name << " " << labels[0].value;
        }
    }
    EXPECT_EQ(Find(families, "quorvane_host_up", expected[0])->gauge.value, 0);
    EXPECT_EQ(Find(families, "quorvane_host_up", expected[1])->gauge.value, 1);
    EXPECT_EQ(Find(families, "quorvane_host_state_seconds", expected[3])->gauge.value, 42);

    const Labels mailFailed{{"channel", "mail"}, {"result", "failed"}};
    const Labels traceOk{{"channel", "trace"}, {"result", "ok"}};
    EXPECT_EQ(Find(families, "quorvane_notifications_total", mailFailed)->counter.value, 4);
    EXPECT_EQ(Find(families, "quorvane_notifications_total", traceOk)->counter.value, 7);
}

// An IPv6 address works where the HTTP server has IPv6, and is refused with that reason
// where it has not (Debian 12).
TEST_F(MetricsCollectTest, AnIpv6AddressIsServedOrRefusedForWhatTheServerLacks) {
    std::string error;
    const std::unique_ptr<MetricsEndpoint> endpoint =
        MetricsEndpoint::Start("[::1]:0", table, nullptr, &error);
    if (mg_check_feature(8) != 0) {
        EXPECT_NE(endpoint, nullptr) << error;
    } else {
        EXPECT_EQ(endpoint, nullptr);
        EXPECT_NE(error.find("has no IPv6"), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace qv
