// The Prometheus endpoint: what it answers over HTTP on IPv4 and IPv6 loopback, plain and
// compressed; and the built service program with it, scraped over loopback inside a test
// network namespace with a 50 ms host and a silent host, the text checked by promtool and
// the numbers by what the test hosts do; and a port that cannot be had.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/settings.h"
#include "log_lines.h"
#include "metrics_http.h"
#include "platform/net.h"
#include "service/metrics_endpoint.h"
#include "service_process.h"
#include "settings/config_files.h"
#include "support/lib/fake_clock.h"
#include "support/lib/fake_seams.h"
#include "support/lib/netns.h"
#include "support/lib/recording_sink.h"
#include "support/lib/tcp_loopback.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using test::HttpExchange;

class MetricsServerTest : public ::testing::Test {
  protected:
    MetricsServerTest() : table(Program::Service, clock, sink, test::NoProbers()) {
        table.AddHost("a.example", 1000, 0);
        table.RecordProbeSample(1, 12);
    }
    // On `host` and `port`, 0 for a free one.
    std::unique_ptr<MetricsEndpoint> Start(const std::string& host, uint16_t port = 0) {
        std::string error;
        std::unique_ptr<MetricsEndpoint> endpoint = MetricsEndpoint::Start(
            ParseAddressLiteral(host)->WithPort(port), table,
            [this] {
                return NotificationCounts{{++asked, 0}, {}, {}};
            },
            &error);
        EXPECT_NE(endpoint, nullptr) << host << " port " << port << ": " << error;
        return endpoint;
    }
    // The hosts' part of the text, which stands still between two scrapes here.
    static std::string HostPart(const std::string& text) {
        return text.substr(0, text.find("# HELP quorvane_notifications_total"));
    }

    FakeClock clock;
    test::RecordingMessageSink sink;
    HostTable table;
    uint64_t asked = 0;
};

TEST_F(MetricsServerTest, AScrapeIsAnsweredPlainOrCompressedAsTheClientAsks) {
    const std::unique_ptr<MetricsEndpoint> endpoint = Start("127.0.0.1");
    ASSERT_NE(endpoint, nullptr);
    const uint16_t port = endpoint->Port();
    const auto get = [&](const std::string& lines, const std::string& path = "/metrics") {
        return HttpExchange("127.0.0.1", port, "GET " + path + " HTTP/1.0\r\n" + lines + "\r\n");
    };

    const test::HttpReply plain = get("");
    ASSERT_EQ(plain.status, 200) << plain.headers;
    EXPECT_NE(plain.headers.find("Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"),
              std::string::npos)
        << plain.headers;
    EXPECT_EQ(plain.headers.find("Content-Encoding"), std::string::npos);
    EXPECT_EQ(test::SeriesValue(plain.body,
                                "quorvane_rtt_seconds_count{host=\"a.example\","
                                "kind=\"icmp\"}"),
              1);
    // Each scrape asks for the notification counts anew.
    EXPECT_EQ(test::SeriesValue(plain.body,
                                "quorvane_notifications_total{channel=\"mail\",result=\"ok\"}"),
              1);

    // What Prometheus sends, a few other ways of saying it, and ways of refusing it.
    for (const auto& [accept, packs] : {std::pair{"gzip", true},
                                        {"deflate, gzip", true},
                                        {"br;q=1.0, GZIP ;q=0.5", true},
                                        {"*", true},
                                        {"gzip;q=0", false},
                                        {"deflate", false},
                                        {"identity, x-gzipped", false}}) {
        const test::HttpReply reply = get(std::string("Accept-Encoding: ") + accept + "\r\n");
        ASSERT_EQ(reply.status, 200) << accept;
        const bool packed = reply.headers.find("Content-Encoding: gzip\r\n") != std::string::npos;
        EXPECT_EQ(packed, packs) << accept << "\n" << reply.headers;
        const std::string text = packed ? test::Gunzip(reply.body) : reply.body;
        EXPECT_EQ(HostPart(text), HostPart(plain.body)) << accept;
        if (packed) {
            EXPECT_LT(reply.body.size() * 4, text.size()) << accept;
        }
    }

    // Two scrapes over one connection, which Prometheus keeps open between them.
    const test::HttpReply twice =
        HttpExchange("127.0.0.1", port,
                     "GET /metrics HTTP/1.1\r\nHost: m\r\n\r\n"
                     "GET /metrics HTTP/1.1\r\nHost: m\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(twice.status, 200);
    EXPECT_EQ(twice.headers.find("Connection: close"), std::string::npos) << twice.headers;
    EXPECT_NE(twice.body.find("\r\n\r\n# HELP quorvane_host_up"), std::string::npos);

    const test::HttpReply elsewhere = get("", "/");
    EXPECT_EQ(elsewhere.status, 404);
    const test::HttpReply post =
        HttpExchange("127.0.0.1", port, "POST /metrics HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc");
    EXPECT_EQ(post.status, 405);
    EXPECT_NE(post.headers.find("Allow: GET, HEAD\r\n"), std::string::npos) << post.headers;
    const test::HttpReply head = HttpExchange("127.0.0.1", port, "HEAD /metrics HTTP/1.0\r\n\r\n");
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.body, "");
}

TEST_F(MetricsServerTest, Ipv6AddressesAreServedAndAStoppedEndpointGivesItsPortBack) {
    const std::unique_ptr<MetricsEndpoint> loopback = Start("::1");
    ASSERT_NE(loopback, nullptr);
    EXPECT_NE(test::Scrape(loopback->Port(), "::1"), "");
    // The any address takes IPv4 clients too.
    std::unique_ptr<MetricsEndpoint> any = Start("::");
    ASSERT_NE(any, nullptr);
    const uint16_t port = any->Port();
    EXPECT_NE(test::Scrape(port, "::1"), "");
    EXPECT_NE(test::Scrape(port, "127.0.0.1"), "");

    any.reset();
    EXPECT_EQ(HttpExchange("127.0.0.1", port, "GET /metrics HTTP/1.0\r\n\r\n").status, 0);
    // The same port can be had again at once.
    EXPECT_NE(Start("127.0.0.1", port), nullptr);
}

}  // namespace
}  // namespace qv

#ifdef QV_SERVICE_PROGRAM

extern char** environ;

namespace qv {
namespace {

using test::LogLines;
using test::ReadFileBytes;
using test::Scrape;
using test::ServiceProcess;
using test::TempDir;
using test::WriteFileBytes;
const auto Value = test::SeriesValue;
using Clock = std::chrono::steady_clock;

// Scrapes until an answer comes (the service starts its endpoint after reading its files).
std::string ScrapeWhenUp(uint16_t port) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    std::string text;
    while ((text = Scrape(port)).empty() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return text;
}

// `promtool check metrics` on the text: its exit code and what it said.
std::pair<int, std::string> PromtoolCheck(const TempDir& dir, const std::string& text) {
    const std::string input = dir.File("scrape.txt");
    const std::string output = dir.File("promtool.txt");
    WriteFileBytes(input, text);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const char* argv[] = {"promtool", "check", "metrics", nullptr};
    pid_t pid = -1;
    const int rc =
        posix_spawnp(&pid, "promtool", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return {-1, "promtool could not be started"};
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileBytes(output)};
}

bool PromtoolInstalled() {
    return ::access("/usr/bin/promtool", X_OK) == 0;
}

class MetricsEndpointTest : public ::testing::Test {
  protected:
    std::string DataDir() const { return dir.File("data"); }
    void WriteFiles(const std::string& hosts, const std::string& conf) {
        std::filesystem::create_directories(DataDir());
        WriteFileBytes(DataDir() + "/conf01.dat", hosts);
        WriteFileBytes(DataDir() + "/quorvane.conf", conf);
    }

    TempDir dir;
};

TEST_F(MetricsEndpointTest, ScrapesShowTheSilentHostDownAndTheSlowHostsTimesAroundItsDelay) {
    test::TestNetNamespace ns;
    if (!ns.Ok()) {
        GTEST_SKIP() << ns.SkipReason();
    }
    if (!PromtoolInstalled()) {
        GTEST_SKIP() << "promtool (Debian package prometheus) is not installed";
    }
    test::IcmpResponder responder;
    std::string error;
    ASSERT_TRUE(responder.Start({"127.0.0.2,delay=50", "127.0.0.3,silent"}, &error)) << error;
    // Nothing else listens in a fresh namespace, so any port is free. The TCP host has a
    // closed port: its label carries the port.
    WriteFiles("0 127.0.0.2 1000\r\r\n0 127.0.0.3 1000\r\r\n1 127.0.0.4 1\r\r\n",
               "[metrics]\nlisten = 127.0.0.1:9462\n");
    // Every notification due at once: mail to a closed port fails, a missing sound file
    // fails, the silent host's traceroute runs (on loopback it ends at once).
    Settings settings;
    settings.icmp.emailEnabled = 1;
    settings.icmp.emailAfter = 0;
    settings.icmp.emailAddress = "monitor@example.invalid";
    settings.icmp.smtpServer = "127.0.0.1";
    settings.icmp.smtpPort = 1;
    settings.icmp.soundEnabled = 1;
    settings.icmp.soundAfter = 2;  // the 50 ms host has answered by then
    settings.icmp.soundFile = dir.File("missing.wav");
    settings.general.tracertAfter = 2;
    ASSERT_TRUE(SaveSettings(DataDir(), settings));
    ServiceProcess service({DataDir()}, dir.path(), dir.File("output"));
    ASSERT_TRUE(service.Started());

    const std::string first = ScrapeWhenUp(9462);
    ASSERT_FALSE(first.empty()) << ReadFileBytes(dir.File("output"));
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    const std::string second = Scrape(9462);
    ASSERT_FALSE(second.empty());
    const auto [status, said] = PromtoolCheck(dir, second);
    EXPECT_EQ(status, 0) << said << "\n" << second;

    const std::string slow = "{host=\"127.0.0.2\",kind=\"icmp\"}";
    const std::string silent = "{host=\"127.0.0.3\",kind=\"icmp\"}";
    const std::string tcp = "{host=\"127.0.0.4\",kind=\"tcp\",port=\"1\"}";
    EXPECT_EQ(Value(second, "quorvane_host_up" + silent), 0);
    EXPECT_EQ(Value(second, "quorvane_host_up" + slow), 1);
    EXPECT_EQ(Value(second, "quorvane_host_up" + tcp), 0);
    // One probe a second: the silent host's losses grow from scrape to scrape, and every
    // probe of it is lost.
    const double lostBefore = Value(first, "quorvane_probes_lost_total" + silent);
    const double lostAfter = Value(second, "quorvane_probes_lost_total" + silent);
    EXPECT_GE(lostAfter, lostBefore + 2) << first << second;
    EXPECT_EQ(lostAfter, Value(second, "quorvane_probes_total" + silent));
    EXPECT_EQ(Value(second, "quorvane_rtt_seconds_count" + silent), 0);
    EXPECT_GE(Value(second, "quorvane_host_state_seconds" + silent), 3);

    // The 50 ms host: no answer before its delay, most of them between 32 and 64 ms (a busy
    // machine may hold one back), and a mean of about 50 ms.
    const std::string slowBucket = "quorvane_rtt_seconds_bucket{host=\"127.0.0.2\",kind=\"icmp\",";
    const double answered = Value(second, "quorvane_rtt_seconds_count" + slow);
    EXPECT_GE(answered, 3);
    EXPECT_EQ(Value(second, "quorvane_probes_lost_total" + slow), 0);
    EXPECT_EQ(Value(second, slowBucket + "le=\"0.032\"}"), 0) << second;
    EXPECT_GE(Value(second, slowBucket + "le=\"0.064\"}"), answered - 1) << second;
    EXPECT_EQ(Value(second, slowBucket + "le=\"+Inf\"}"), answered);
    const double mean = Value(second, "quorvane_rtt_seconds_sum" + slow) / answered;
    EXPECT_GE(mean, 0.049);
    EXPECT_LE(mean, 0.075);

    const auto notified = [&](const char* channel, const char* result) {
        return Value(second, std::string("quorvane_notifications_total{channel=\"") + channel +
                                 "\",result=\"" + result + "\"}");
    };
    EXPECT_EQ(notified("mail", "ok"), 0);
    EXPECT_GE(notified("mail", "failed"), 2);  // retried each tick, for both ICMP hosts
    EXPECT_EQ(notified("sound", "ok"), 0);
    EXPECT_EQ(notified("sound", "failed"), 1);  // the silent host's alarm, once
    EXPECT_EQ(notified("trace", "ok"), 1);
    EXPECT_EQ(notified("trace", "failed"), 0);

    service.Signal(SIGTERM);
    EXPECT_EQ(service.WaitForExit(std::chrono::seconds(5)), std::optional<int>(0));
}

TEST_F(MetricsEndpointTest, APortThatIsTakenIsSaidInOneLineAndMonitoringGoesOn) {
    test::TcpTestListener taken;
    ASSERT_TRUE(taken.Valid());
    test::TcpRefusingPort closed;
    const std::string listen = "127.0.0.1:" + std::to_string(taken.Port());
    WriteFiles(std::to_string(closed.Port()) + " 127.0.0.1 5\r\r\n",
               "[metrics]\nlisten = " + listen + "\n");
    ServiceProcess service({DataDir()}, dir.path(), dir.File("output"));
    ASSERT_TRUE(service.Started());
    const std::string line = "Can't serve metrics on " + listen +
                             ": Address already in use; monitoring goes on "
                             "without them";
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    std::vector<std::string> lines = LogLines(DataDir());
    while (lines.size() < 4 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        lines = LogLines(DataDir());
    }
    ASSERT_EQ(lines, (std::vector<std::string>{"Start", DataDir(), "127.0.0.1", line}));
    EXPECT_EQ(ReadFileBytes(dir.File("output")), "Halvoric: " + line + "\n");
    // Still running and ticking a while later; a stop ends it as usual.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_TRUE(service.Running());
    service.Signal(SIGTERM);
    EXPECT_EQ(service.WaitForExit(std::chrono::seconds(5)), std::optional<int>(0));
    EXPECT_EQ(LogLines(DataDir()).back(), "Service stopped.");
}

}  // namespace
}  // namespace qv

#endif  // QV_SERVICE_PROGRAM
