// Cost of one scrape of the metrics endpoint over a full table of 100 probed hosts: the
// copy under SampleLock alone, and the whole answer (copy, families, text).
#include <benchmark/benchmark.h>
#include <prometheus/text_serializer.h>

#include <string>

#include "core/host_table.h"
#include "platform/clock.h"
#include "platform/message_sink.h"
#include "service/metrics_endpoint.h"

namespace {

struct FullTable {
    FullTable() : table(qv::Program::Service, clock, sink, NoProbers()) {
        for (int i = 0; i < qv::kMaxHosts; ++i) {
            table.AddHost("host-" + std::to_string(i) + ".example.org", 1000, 0);
            for (int32_t value : {0, 1, 3, 12, 48, 130, 620, -1}) {
                table.RecordProbeSample(i + 1, value);
            }
        }
    }
    static qv::HostTable::Hooks NoProbers() {
        qv::HostTable::Hooks hooks;
        hooks.runProber = [](qv::HostTable&, int, uint32_t) {};
        return hooks;
    }
    qv::SystemClock clock;
    qv::StderrMessageSink sink;
    qv::HostTable table;
};

void BM_CollectMetrics100Hosts(benchmark::State& state) {
    FullTable full;
    for (auto _ : state) {
        benchmark::DoNotOptimize(qv::CollectMetrics(full.table, {}));
    }
}
BENCHMARK(BM_CollectMetrics100Hosts);

void BM_ScrapeText100Hosts(benchmark::State& state) {
    FullTable full;
    const prometheus::TextSerializer serializer;
    size_t bytes = 0;
    for (auto _ : state) {
        const std::string text = serializer.Serialize(qv::CollectMetrics(full.table, {}));
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ScrapeText100Hosts);

}  // namespace

BENCHMARK_MAIN();
