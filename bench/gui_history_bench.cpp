// The History dialog on a full day (86,400 values, some grouped): opened in the per-minute
// view, and switched to all seconds, each until its list has been painted.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QTableView>
#include <filesystem>
#include <random>

#include "core/host_log.h"
#include "gui/dialogs/dlg_logs.h"

namespace {

using namespace qv;

class YesBoxes final : public gui::MessageBoxes {
  public:
    gui::BoxAnswer Show(QWidget*, const QString&, const QString&, gui::BoxIcon,
                        gui::BoxButtons) override {
        return gui::BoxAnswer::Yes;
    }
};

// A busy host's day: mostly 1-400 ms, some slow replies past 1000 ms, a few losses.
struct DayLog {
    DayLog() {
        char pattern[] = "/tmp/quorvane-bench-XXXXXX";
        dir = mkdtemp(pattern) ? pattern : "/tmp";
        path = dir + "/router.log";
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> pick(0, 999);
        std::vector<int32_t> day(kSecondsPerDay);
        for (int32_t& v : day) {
            int r = pick(rng);
            v = r < 10 ? -1 : r < 30 ? 1000 + r * 40 : 1 + r % 400;
        }
        WriteHostLog(path, day);
    }
    ~DayLog() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string dir;
    std::string path;
};

void OpenAndPaint(benchmark::State& state, bool allSeconds) {
    DayLog log;
    YesBoxes boxes;
    for (auto _ : state) {
        gui::DlgLogs dlg(QString::fromStdString(log.path), boxes);
        if (allSeconds) {
            dlg.findChild<QAbstractButton*>("allSeconds")->click();
        }
        dlg.show();
        auto* list = dlg.findChild<QTableView*>("list");
        benchmark::DoNotOptimize(list->viewport()->grab());
        state.counters["rows"] = dlg.Model().rowCount();
    }
}

void BM_HistoryPerMinute(benchmark::State& state) {
    OpenAndPaint(state, false);
}
void BM_HistoryAllSeconds(benchmark::State& state) {
    OpenAndPaint(state, true);
}

BENCHMARK(BM_HistoryPerMinute)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistoryAllSeconds)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
