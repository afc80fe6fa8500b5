// What one scrape's text holds, taken straight from a host table: the series' labels, and
// the counters and round-trip buckets built from the recorded samples.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/host_table.h"
#include "metrics_http.h"
#include "service/metrics_text.h"
#include "support/lib/fake_clock.h"
#include "support/lib/fake_seams.h"
#include "support/lib/recording_sink.h"

namespace qv {
namespace {

using test::SeriesValue;

class MetricsTextTest : public ::testing::Test {
  protected:
    MetricsTextTest() : table(Program::Service, clock, sink, test::NoProbers()) {}
    std::string Text(const NotificationCounts& notifications = {}) {
        numbers.notifications = notifications;
        CopyHostNumbers(table, numbers.hosts);
        std::string text = "left from the last scrape";
        WriteMetricsText(numbers, text);
        return text;
    }

    FakeClock clock;
    test::RecordingMessageSink sink;
    HostTable table;
    ScrapeNumbers numbers;
};

TEST_F(MetricsTextTest, SamplesSinceThePlacingFillCountersAndBucketsThroughTheDailyReset) {
    table.AddHost("a.example", 1000, 0);
    // 0 ms (this machine), 1 ms, 2 ms, a satellite's 600 ms, one beyond every bound, a loss.
    for (int32_t value : {0, 1, 2, 600, 20000, -1}) {
        table.RecordProbeSample(1, value);
    }
    // Prometheus counters never go back: midnight resets the day, not these.
    table.ResetDay(table.Entry(0));
    table.RecordProbeSample(1, 50);

    const std::string text = Text();
    const std::string labels = "{host=\"a.example\",kind=\"icmp\"}";
    EXPECT_EQ(SeriesValue(text, "quorvane_rtt_seconds_count" + labels), 6);
    EXPECT_NE(text.find("quorvane_rtt_seconds_sum" + labels + " 20.653\n"), std::string::npos)
        << text;
    const std::vector<std::pair<std::string, double>> expected{
        {"0.0005", 1}, {"0.001", 2}, {"0.002", 3}, {"0.004", 3},  {"0.008", 3}, {"0.016", 3},
        {"0.032", 3},  {"0.064", 4}, {"0.128", 4}, {"0.256", 4},  {"0.512", 4}, {"1.024", 5},
        {"2.048", 5},  {"4.096", 5}, {"8.192", 5}, {"16.384", 5}, {"+Inf", 6}};
    size_t at = 0;
    for (const auto& [le, count] : expected) {
        const std::string series =
            "quorvane_rtt_seconds_bucket{host=\"a.example\",kind=\"icmp\",le=\"" + le + "\"}";
        EXPECT_EQ(SeriesValue(text, series), count) << le;
        // In rising order, as histogram_quantile reads them.
        const size_t here = text.find(series);
        EXPECT_GT(here, at) << le;
        at = here;
    }
    EXPECT_EQ(SeriesValue(text, "quorvane_probes_total" + labels), 7);
    EXPECT_EQ(SeriesValue(text, "quorvane_probes_lost_total" + labels), 1);
    EXPECT_EQ(text.find("left from the last scrape"), std::string::npos);

    // A slot given to another host starts that host from nothing.
    table.StopHost(0);
    table.AddHost("b.example", 1000, 0);
    const std::string after = Text();
    EXPECT_TRUE(std::isnan(SeriesValue(after, "quorvane_probes_total" + labels))) << after;
    EXPECT_EQ(SeriesValue(after, "quorvane_probes_total{host=\"b.example\",kind=\"icmp\"}"), 0);
    EXPECT_NE(after.find("quorvane_rtt_seconds_sum{host=\"b.example\",kind=\"icmp\"} 0.000\n"),
              std::string::npos);
}

TEST_F(MetricsTextTest, EverySeriesHasLabelsOfItsOwnInValidUtf8) {
    table.AddHost("a.example", 1000, 0);
    table.AddHost("a.example", 1000, 0);
    table.AddHost("a.example", 5, 22);
    table.AddHost("a.example", 5, 40000);
    table.AddHost("bad\xff\xc3(name", 1000, 0);
    // Another name that is not UTF-8 but comes out the same.
    table.AddHost("bad\xfe\xc2(name", 1000, 0);
    table.Entry(1).up = 1;
    table.Entry(3).stateSeconds = 42;

    const std::string text = Text(NotificationCounts{{3, 4}, {5, 6}, {7, 8}});
    const std::vector<std::string> expected{
        "{host=\"a.example\",kind=\"icmp\"}",
        "{host=\"a.example\",kind=\"icmp\",copy=\"2\"}",
        "{host=\"a.example\",kind=\"tcp\",port=\"22\"}",
        "{host=\"a.example\",kind=\"tcp\",port=\"40000\"}",
        "{host=\"bad\xEF\xBF\xBD\xEF\xBF\xBD(name\",kind=\"icmp\"}",
        "{host=\"bad\xEF\xBF\xBD\xEF\xBF\xBD(name\",kind=\"icmp\",copy=\"2\"}",
    };
    for (const char* name :
         {"quorvane_host_up", "quorvane_host_state_seconds", "quorvane_probes_total",
          "quorvane_probes_lost_total", "quorvane_rtt_seconds_count"}) {
        for (const std::string& labels : expected) {
            EXPECT_FALSE(std::isnan(SeriesValue(text, name + labels))) << name << labels;
        }
    }
    EXPECT_EQ(SeriesValue(text, "quorvane_host_up" + expected[0]), 0);
    EXPECT_EQ(SeriesValue(text, "quorvane_host_up" + expected[1]), 1);
    EXPECT_EQ(SeriesValue(text, "quorvane_host_state_seconds" + expected[3]), 42);

    EXPECT_EQ(SeriesValue(text, "quorvane_notifications_total{channel=\"mail\",result=\"failed\"}"),
              4);
    EXPECT_EQ(SeriesValue(text, "quorvane_notifications_total{channel=\"trace\",result=\"ok\"}"),
              7);
}

// Quote, backslash and line feed are escaped in a label value; cut UTF-8 at the end of a
// name is replaced. Numbers that no host table holds today still come out whole.
TEST(MetricsText, LabelValuesAreEscapedAndNumbersWritten) {
    ScrapeNumbers numbers;
    HostNumbers h;
    h.name = "q\"b\\s\nn\xE2\x82";
    h.stateSeconds = -1;
    h.tally.lost = uint64_t{1} << 60;
    numbers.hosts.push_back(h);
    numbers.cpuSeconds = 1.25;
    numbers.residentBytes = 4096;
    std::string text;
    WriteMetricsText(numbers, text);
    const std::string labels = "{host=\"q\\\"b\\\\s\\nn\xEF\xBF\xBD\xEF\xBF\xBD\",kind=\"icmp\"}";
    EXPECT_NE(text.find("quorvane_probes_lost_total" + labels + " 1152921504606846976\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(SeriesValue(text, "quorvane_host_state_seconds" + labels), -1);
    EXPECT_NE(text.find("\nprocess_cpu_seconds_total 1.25\n"), std::string::npos);
    EXPECT_NE(text.find("\nprocess_resident_memory_bytes 4096\n"), std::string::npos);
    // One family head each, and the text ends with its last line.
    EXPECT_EQ(text.find("# TYPE quorvane_rtt_seconds histogram\n"),
              text.rfind("# TYPE quorvane_rtt_seconds histogram\n"));
    EXPECT_EQ(text.back(), '\n');
}

}  // namespace
}  // namespace qv
