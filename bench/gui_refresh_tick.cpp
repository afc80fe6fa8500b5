// One refresh tick of the desktop program with 100 watched hosts that each hold a full day
// of samples, including drawing the five visible graphs into their images.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <string>

#include "desktop/desktop_view.h"
#include "gui/graphic.h"
#include "platform/message_sink.h"
#include "support/lib/fake_clock.h"
#include "support/lib/fake_seams.h"

namespace {

// Draws the graph of every pane that the tick refreshed, as the window's paint would.
class DrawingView final : public qv::DesktopTickView {
  public:
    DrawingView(qv::gui::GraphImages& images, const qv::WindowSideState& state)
        : images_(images), state_(state) {}
    void ShowStatistics(int pane, const std::string& line) override {
        benchmark::DoNotOptimize(line.data());
        benchmark::DoNotOptimize(images_.Draw(state_.firstVisibleSlot + pane, QSize(905, 73)));
    }
    void ShowBalloon(const std::string&) override {}
    void SetTrayStatus(bool) override {}

  private:
    qv::gui::GraphImages& images_;
    const qv::WindowSideState& state_;
};

void BM_DesktopTick100HostsFullDay(benchmark::State& state) {
    qv::FakeClock clock(qv::FakeClock::ToCalendar(2026, 3, 4, 23, 0, 0));
    qv::StderrMessageSink sink;
    qv::test::FakeMailSender mail;  // no notification is enabled: nothing is recorded
    qv::test::FakeSoundPlayer sound;
    qv::test::FakeTraceroute trace;
    qv::MonitorContext ctx(qv::Program::Desktop, "/nonexistent", {clock, sink, sound, trace, mail},
                           qv::test::NoProbers());
    for (int i = 0; i < qv::kMaxHosts; ++i) {
        const int slot = *ctx.table.AddHost("host" + std::to_string(i), 1000, 0);
        qv::HostEntry& e = ctx.table.Entry(slot);
        e.samples.reserve(90000);
        for (int s = 0; s < 86400; ++s) {
            e.samples.push_back(s % 97 == 0 ? -1 : 5 + s % 40);
        }
        e.maxMs = 44;
        e.lastResult = 12;
        e.up = 1;
    }
    qv::WindowSideState side;
    qv::gui::GraphImages images(ctx.table, clock, side);
    DrawingView view(images, side);
    for (int i = 0; i < 5; ++i) {  // past the start-up stretch of the watcher
        clock.AdvanceMs(1000);
        qv::DesktopTick(ctx, side, view);
    }
    for (auto _ : state) {
        clock.AdvanceMs(1000);
        qv::DesktopTick(ctx, side, view);
    }
    state.counters["hosts"] = qv::kMaxHosts;
}
BENCHMARK(BM_DesktopTick100HostsFullDay)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
