// Cost of one scrape of the metrics endpoint over a full table of 100 probed hosts: the
// copy under SampleLock alone, the copy and the text, and a whole gzip scrape over
// loopback (client and server together, in real time).
#include <benchmark/benchmark.h>

#include <string>

#include "../tests/service/metrics_http.h"
#include "core/host_table.h"
#include "platform/clock.h"
#include "platform/message_sink.h"
#include "service/metrics_endpoint.h"
#include "support/lib/fake_seams.h"

namespace {

struct FullTable {
    FullTable() : table(qv::Program::Service, clock, sink, qv::test::NoProbers()) {
        for (int i = 0; i < qv::kMaxHosts; ++i) {
            table.AddHost("host-" + std::to_string(i) + ".example.org", 1000, 0);
            for (int32_t value : {0, 1, 3, 12, 48, 130, 620, -1}) {
                table.RecordProbeSample(i + 1, value);
            }
        }
    }
    qv::SystemClock clock;
    qv::StderrMessageSink sink;
    qv::HostTable table;
};

void BM_CopyHostNumbers100Hosts(benchmark::State& state) {
    FullTable full;
    std::vector<qv::HostNumbers> hosts;
    for (auto _ : state) {
        qv::CopyHostNumbers(full.table, hosts);
        benchmark::DoNotOptimize(hosts.data());
    }
}
BENCHMARK(BM_CopyHostNumbers100Hosts);

void BM_ScrapeText100Hosts(benchmark::State& state) {
    FullTable full;
    qv::ScrapeNumbers numbers;
    std::string text;
    for (auto _ : state) {
        qv::CopyHostNumbers(full.table, numbers.hosts);
        qv::WriteMetricsText(numbers, text);
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_ScrapeText100Hosts);

void BM_GzipScrapeOverLoopback100Hosts(benchmark::State& state) {
    FullTable full;
    std::string error;
    const auto endpoint = qv::MetricsEndpoint::Start(*qv::ParseAddressLiteral("127.0.0.1"),
                                                     full.table, nullptr, &error);
    if (!endpoint) {
        state.SkipWithError(error.c_str());
        return;
    }
    const std::string request = "GET /metrics HTTP/1.0\r\nAccept-Encoding: gzip\r\n\r\n";
    size_t bytes = 0;
    for (auto _ : state) {
        const qv::test::HttpReply reply =
            qv::test::HttpExchange("127.0.0.1", endpoint->Port(), request);
        if (reply.status != 200) {
            state.SkipWithError("no answer");
            return;
        }
        bytes = reply.body.size();
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_GzipScrapeOverLoopback100Hosts)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
