// The desktop program's window side without widgets: the refresh tick, the statistics
// line, the balloon limit, the time scroll, the pane bands and the axis of a graph.
#include "desktop/desktop_view.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/host_log.h"
#include "desktop/graph_plan.h"
#include "support/lib/fake_clock.h"
#include "support/lib/fake_seams.h"
#include "support/lib/recording_sink.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

class RecordingView final : public DesktopTickView {
  public:
    void ShowStatistics(int pane, const std::string& line) override {
        statistics.emplace_back(pane, line);
    }
    void ShowBalloon(const std::string& text) override { balloons.push_back(text); }
    void SetTrayStatus(bool allUp) override { trayStatus.push_back(allUp); }
    std::vector<std::pair<int, std::string>> statistics;
    std::vector<std::string> balloons;
    std::vector<bool> trayStatus;
};

class DesktopTickTest : public ::testing::Test {
  protected:
    HostEntry& Add(const std::string& name, int32_t probeValue, int port, uint8_t up) {
        HostEntry& e = ctx.table.Entry(*ctx.table.AddHost(name, probeValue, port));
        e.up = up;
        return e;
    }
    bool Tick() {
        clock.AdvanceMs(1000);
        view = RecordingView();
        return DesktopTick(ctx, state, view);
    }

    test::TempDir dir;
    FakeClock clock{FakeClock::ToCalendar(2026, 3, 4, 10, 0, 0)};
    test::RecordingMessageSink sink;
    test::FakeSoundPlayer sound;
    test::FakeTraceroute trace;
    test::FakeMailSender mail;
    MonitorContext ctx{
        Program::Desktop, dir.path(), {clock, sink, sound, trace, mail}, test::NoProbers()};
    WindowSideState state;
    RecordingView view;
};

TEST_F(DesktopTickTest, PlaceholdersAreNeitherRecordedNorWatchedNorCounted) {
    HostEntry& placeholder = Add("-", 1000, 0, 0);
    HostEntry& host = Add("b", 1000, 0, 1);
    HostEntry& empty = Add("c", 0, 0, 0);
    Tick();
    Tick();
    EXPECT_TRUE(placeholder.samples.empty());
    EXPECT_EQ(placeholder.stateSeconds, 0);
    EXPECT_TRUE(empty.samples.empty());
    EXPECT_EQ(host.samples.size(), 2u);  // one per second since it was added
    ASSERT_EQ(view.statistics.size(), 1u);
    EXPECT_EQ(view.statistics[0].first, 1);
    EXPECT_TRUE(view.trayStatus.empty()) << "the placeholder's down state counts for nothing";
}

TEST_F(DesktopTickTest, OneBalloonPerTickInSlotOrderAndTheTrayFollowsAllUp) {
    ctx.settings.icmp.trayEnabled = 1;
    ctx.settings.icmp.trayAfter = 0;
    HostEntry& a = Add("alpha", 1000, 0, 0);
    HostEntry& b = Add("beta", 1000, 0, 0);
    Tick();
    EXPECT_EQ(view.balloons,
              std::vector<std::string>{"Host alpha is DOWN\r\nHost beta is DOWN\r\n"});
    EXPECT_EQ(view.trayStatus, std::vector<bool>{false});
    Tick();
    EXPECT_TRUE(view.balloons.empty());
    EXPECT_TRUE(view.trayStatus.empty()) << "only a change switches the picture";
    a.up = 1;
    b.up = 1;
    Tick();
    EXPECT_EQ(view.balloons, std::vector<std::string>{"Host alpha is UP\r\nHost beta is UP\r\n"});
    EXPECT_EQ(view.trayStatus, std::vector<bool>{true});
}

TEST_F(DesktopTickTest, StatisticsOnlyForTheTabInFront) {
    for (int i = 0; i < 7; ++i) {
        Add("h" + std::to_string(i), 1000, 0, 1);
    }
    state.firstVisibleSlot = 5;
    Tick();
    ASSERT_EQ(view.statistics.size(), 2u);
    EXPECT_EQ(view.statistics[0].first, 0);
    EXPECT_EQ(view.statistics[1].first, 1);
}

TEST_F(DesktopTickTest, MidnightReportReturnsTheGraphsToThePresent) {
    HostEntry& host = Add("a", 1000, 0, 1);
    Tick();
    state.scrollMinutes = 30;
    clock.SetNow(FakeClock::ToCalendar(2026, 3, 5, 0, 0, 0) - 1);
    EXPECT_TRUE(Tick());
    EXPECT_EQ(state.scrollMinutes, 0);
    EXPECT_TRUE(host.samples.empty());
    EXPECT_FALSE(Tick()) << "once per day";
}

TEST_F(DesktopTickTest, PaneCaptionsNameTheProbeAndKeepLongMultiByteNamesWhole) {
    std::string longName;
    for (size_t i = 0; i < kMaxNameChars; ++i) {
        longName += "\xe6\xbc\xa2";  // one 3-byte character
    }
    struct Case {
        std::string name;
        int port;
        int32_t probeValue;
        std::string caption;
    };
    const Case cases[] = {
        {"router", 0, 1000, "router:1 sec"},
        {"router", 0, 5000, "router:5 sec"},
        {longName, 0, 1000, longName + ":1 sec"},
        {"web", 80, 5, "web:port 80:5 min"},
        {longName, 8080, 5, longName + ":port 8080:5 min"},
        // Above 32767 the stored 16 bits are negative; the caption shows the real port.
        {"db", 40000, 2, "db:port 40000:2 min"},
        {"top", 65535, 1, "top:port 65535:1 min"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption.substr(0, 20));
        const int slot = *ctx.table.AddHost(c.name, c.probeValue, c.port);
        EXPECT_EQ(PaneCaption(ctx.table.Entry(slot)), c.caption);
        EXPECT_EQ(TabCaptions(ctx.table, slot).front(), c.caption);
        ctx.table.StopHost(slot);
    }
}

TEST_F(DesktopTickTest, ForwardClockStepRecordsAtMostTheDayAndTakesTheReport) {
    ctx.settings.general.dailyReports = 1;
    HostEntry& host = Add("a", 1000, 0, 1);
    host.lastResult = 4;
    Tick();
    ASSERT_EQ(host.samples.size(), 1u);
    // 10:00:01 on 4 March, then a year later at 10:00:00: only the 50,399 seconds left in
    // the old day are recorded, and that day goes into its log.
    clock.SetNow(FakeClock::ToCalendar(2027, 3, 4, 10, 0, 0) - 1);
    EXPECT_TRUE(Tick());
    const std::vector<int32_t> logged = ReadHostLog(dir.path() + "/2026_03_04/a.log");
    EXPECT_EQ(logged.size(), 86'400u) << "the log is padded to a whole day";
    EXPECT_EQ(std::count(logged.begin(), logged.end(), 4), 1 + 50'399);
    EXPECT_TRUE(host.samples.empty());
    // The next tick fills the new day from its midnight up to now, and no more.
    Tick();
    EXPECT_EQ(host.samples.size(), 10u * 3600 + 1);
    // A tick that comes three seconds late over midnight: the first second of the new
    // day waits for the report and goes into the new day.
    clock.SetNow(FakeClock::ToCalendar(2027, 3, 5, 0, 0, 0) - 3);
    Tick();
    clock.SetNow(FakeClock::ToCalendar(2027, 3, 5, 0, 0, 1) - 1);
    EXPECT_TRUE(Tick());
    const std::vector<int32_t> whole = ReadHostLog(dir.path() + "/2027_03_04/a.log");
    EXPECT_EQ(std::count(whole.begin(), whole.end(), 4), 86'400) << "every second, none twice";
    Tick();
    EXPECT_EQ(host.samples.size(), 2u) << "00:00:00 and 00:00:01";
}

TEST(StatisticsLine, LostPercentageFollowsTheProbeKind) {
    struct Case {
        int32_t probeValue;
        int port;
        size_t samples;
        uint32_t lost;
        const char* tail;
    };
    const Case cases[] = {
        {2000, 0, 600, 12, "lost: 12/4%"},  // 300 probes
        {2, 80, 100, 1, "lost: 1/100%"},    // 100 / 120 s is 0 probes, counted as 1
        {1500, 0, 600, 6, "lost: 6/1%"},    // whole seconds: one probe a second
        {500, 0, 10, 5, "lost: 5/25%"},     // under a second: two probes a second
        {1000, 0, 0, 0, "lost: 0/0%"},
    };
    for (const Case& c : cases) {
        HostEntry e;
        e.isIcmp = c.port == 0 ? 1 : 0;
        e.port = static_cast<int16_t>(c.port);
        e.probeValue = c.probeValue;
        e.lostCount = c.lost;
        e.currentMs = 12;
        e.averageMs = 10;
        e.minMs = 3;
        e.maxMs = 40;
        const std::string line = StatisticsLine(e, c.samples);
        EXPECT_EQ(line,
                  std::string("curr: 12 ms   avg: 10 ms   min: 3 ms   max: 40 ms   ") + c.tail);
    }
}

TEST(BalloonText, LongTextsKeepWholeNoticesAndCountTheRest) {
    std::string text;
    for (int i = 0; i < 20; ++i) {
        text += "Host host-number-" + std::to_string(i) + ".example is DOWN\r\n";
    }
    const std::string fitted = FitBalloonText(text);
    EXPECT_LE(fitted.size(), kMaxBalloonChars);
    EXPECT_EQ(fitted.rfind("Host host-number-0.example is DOWN\r\n", 0), 0u);
    EXPECT_NE(fitted.find("and 14 more"), std::string::npos) << fitted;

    const std::string one = "Host " + std::string(300, 'x') + " is UP\r\n";
    EXPECT_EQ(FitBalloonText(one), one.substr(0, kMaxBalloonChars));
    EXPECT_EQ(FitBalloonText("Host a is UP\r\n"), "Host a is UP\r\n");
}

TEST(TimeScroll, StopsAtMidnightAndAtThePresent) {
    std::tm at0007{};
    at0007.tm_min = 7;
    EXPECT_EQ(ScrollBack(0, 10, at0007), 0);
    EXPECT_EQ(ScrollBack(0, 5, at0007), 5);
    EXPECT_EQ(ScrollBack(5, 5, at0007), 5);
    EXPECT_EQ(ScrollForward(3, 5), 0);
    EXPECT_EQ(ScrollForward(65, 60), 5);
}

TEST(PaneBands, FirstBandHoldingTheRowWins) {
    // Frames of 106 pixels, 3 apart, the first one at 100.
    EXPECT_EQ(PaneAtY(99, 100, 106), -1);
    EXPECT_EQ(PaneAtY(100, 100, 106), 0);
    EXPECT_EQ(PaneAtY(206, 100, 106), 0);
    EXPECT_EQ(PaneAtY(208, 100, 106), -1);  // between two frames
    EXPECT_EQ(PaneAtY(209, 100, 106), 1);
    EXPECT_EQ(PaneAtY(100 + 4 * 109 + 106, 100, 106), 4);
    EXPECT_EQ(PaneAtY(100 + 4 * 109 + 107, 100, 106), -1);
    EXPECT_EQ(TabCount(0), 0);
    EXPECT_EQ(TabCount(5), 1);
    EXPECT_EQ(TabCount(6), 2);
}

TEST_F(DesktopTickTest, AxisAndSamplesOfAScrolledGraph) {
    HostEntry& host = Add("a", 1000, 0, 1);
    host.samples.assign(700, 5);
    host.samples[700 - 601] = -1;  // the newest sample drawn when ten minutes are skipped
    std::tm now{};
    now.tm_hour = 10;
    now.tm_min = 5;
    now.tm_sec = 30;
    GraphPlan plan;
    PlanGraph(ctx.table, 0, 10, now, 900, 73, plan);
    ASSERT_TRUE(plan.draw);
    EXPECT_EQ(plan.rects[0].ink, GraphInk::Lost);
    EXPECT_EQ(plan.rects[0].x, 899);
    bool found = false;
    for (const GraphLabel& label : plan.labels) {
        if (label.x == 900 - 31 - 10) {
            EXPECT_STREQ(label.text, "09:55");
            found = true;
        }
        EXPECT_GT(label.x + 10, 11);
        EXPECT_LT(label.x + 10, 900 - 16);
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(plan.scale, 5);
}

}  // namespace
}  // namespace qv
