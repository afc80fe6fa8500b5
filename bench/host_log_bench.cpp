// The midnight report of a full table (100 hosts x 86,400 samples) next to one plain write
// of the same bytes per file, and the reader on one day's file.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/daily_report.h"
#include "core/host_log.h"
#include "platform/clock.h"
#include "platform/message_sink.h"
#include "support/lib/fake_clock.h"

namespace {

using namespace qv;

constexpr int kHosts = 100;
const int64_t kMidnight = FakeClock::ToCalendar(2014, 9, 24, 0, 0, 30);

// A day as a busy host records it: mostly 1-400 ms, some slow replies past 1000 ms
// (grouped), a few losses.
std::vector<int32_t> MakeDay(unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pick(0, 999);
    std::vector<int32_t> day(kSecondsPerDay);
    for (int32_t& v : day) {
        int r = pick(rng);
        v = r < 10 ? -1 : r < 30 ? 1000 + r * 40 : 1 + r % 400;
    }
    return day;
}

struct BenchDir {
    BenchDir() {
        char pattern[] = "/tmp/quorvane-bench-XXXXXX";
        path = mkdtemp(pattern) ? pattern : "/tmp";
    }
    ~BenchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string path;
};

void BM_DailyReport100Hosts(benchmark::State& state) {
    BenchDir dir;
    FakeClock clock(kMidnight);
    StderrMessageSink sink;
    HostTable::Hooks hooks;
    hooks.runProber = [](HostTable&, int, uint32_t) {};
    HostTable table(Program::Desktop, clock, sink, hooks);
    std::vector<std::vector<int32_t>> days;
    for (int i = 0; i < kHosts; ++i) {
        table.AddHost("host" + std::to_string(i), 1000, 0);
        days.push_back(MakeDay(static_cast<unsigned>(i)));
    }
    std::tm reportedDay{};
    clock.LocalTime(kMidnight - 60, reportedDay);
    size_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < kHosts; ++i) {
            table.Entry(i).samples = days[static_cast<size_t>(i)];
        }
        state.ResumeTiming();
        if (!RunDailyReport(table, dir.path, true, reportedDay).empty()) {
            state.SkipWithError("report failed");
            break;
        }
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path)) {
        if (entry.is_regular_file()) {
            bytes += entry.file_size();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_DailyReport100Hosts)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor: the same bytes, already formatted, written with one write per file.
void BM_PlainWrite100Files(benchmark::State& state) {
    BenchDir dir;
    std::vector<std::string> contents;
    for (int i = 0; i < kHosts; ++i) {
        std::vector<int32_t> day = MakeDay(static_cast<unsigned>(i));
        std::string text;
        for (int32_t v : day) {
            AppendGroupedNumber(text, v);
            text.push_back(' ');
        }
        contents.push_back(std::move(text));
    }
    std::string folder = dir.path + "/2014_09_23";
    std::filesystem::create_directory(folder);
    size_t bytes = 0;
    for (const std::string& c : contents) {
        bytes += c.size();
    }
    for (auto _ : state) {
        for (int i = 0; i < kHosts; ++i) {
            std::string path = folder + "/host" + std::to_string(i) + ".log";
            int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            const std::string& c = contents[static_cast<size_t>(i)];
            if (fd < 0 || ::write(fd, c.data(), c.size()) != static_cast<ssize_t>(c.size())) {
                state.SkipWithError("write failed");
            }
            ::close(fd);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_PlainWrite100Files)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadHostLog(benchmark::State& state) {
    BenchDir dir;
    std::string path = dir.path + "/router.log";
    WriteHostLog(path, MakeDay(7));
    for (auto _ : state) {
        std::vector<int32_t> values = ReadHostLog(path);
        if (values.size() != kSecondsPerDay) {
            state.SkipWithError("short read");
        }
        benchmark::DoNotOptimize(values.data());
    }
}
BENCHMARK(BM_ReadHostLog)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
