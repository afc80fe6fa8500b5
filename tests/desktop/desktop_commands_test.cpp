// The desktop commands' decisions: the snapshot's leading zeros and file, which watcher
// states an options change resets, and the service program's command line and boxes.
#include "desktop/desktop_commands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "core/host_log.h"
#include "platform/clock.h"
#include "support/lib/fake_clock.h"
#include "support/lib/recording_sink.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

TEST(HistorySnapshot, LeadingZerosFillTheDayUpToNow) {
    struct Case {
        size_t samples;
        int64_t seconds;
        size_t zeros;
    };
    const Case cases[] = {
        {3'600, 36'000, 32'400},  // watched since 09:00:00, now 10:00:00
        {0, 36'000, 36'000},
        {36'000, 36'000, 0},
        {40'000, 36'000, 0},  // the clock was set back
        {0, 0, 0},            // midnight
        {86'400, 86'400, 0},
        {86'399, 86'400, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SnapshotLeadingZeros(c.samples, c.seconds), c.zeros)
            << c.samples << " samples at " << c.seconds;
    }
    std::tm ten{};
    ten.tm_hour = 10;
    ten.tm_min = 1;
    ten.tm_sec = 5;
    EXPECT_EQ(SecondsSinceMidnight(ten), 36'065);
}

TEST(HistorySnapshot, FileIsNamedLikeTheHostsOtherFilesAndNeverWrittenThroughALink) {
    EXPECT_EQ(HistorySnapshotFileName("router"), "tmp_router.log");
    EXPECT_LE(HistorySnapshotFileName(std::string(254, 'a')).size(), 255u);

    test::TempDir dir;
    test::WriteFileBytes(dir.File("victim"), "keep");
    ASSERT_EQ(::symlink(dir.File("victim").c_str(), dir.File("tmp_a.log").c_str()), 0);
    int error = 0;
    EXPECT_FALSE(WriteHistorySnapshot(dir.File("tmp_a.log"), {5}, 10, &error));
    EXPECT_EQ(error, ELOOP);
    EXPECT_EQ(test::ReadFileBytes(dir.File("victim")), "keep");

    ASSERT_TRUE(WriteHistorySnapshot(dir.File("tmp_b.log"), {5, 1500}, 4));
    EXPECT_EQ(test::ReadFileBytes(dir.File("tmp_b.log")),
              "0 0 5 1\xA0"
              "500 ");
}

TEST(HistorySnapshot, Ipv6HostsKeepTheirNameAndReadBack) {
    test::TempDir dir;
    for (const char* name : {"::1", "fe80::1%eth0"}) {
        const std::string file = HistorySnapshotFileName(name);
        EXPECT_EQ(file, std::string("tmp_") + name + ".log");
        ASSERT_TRUE(WriteHistorySnapshot(dir.File(file), {5, -1, 1500}, 3)) << name;
        EXPECT_EQ(ReadHostLogFile(dir.File(file)), (std::vector<int32_t>{5, -1, 1500})) << name;
    }
}

TEST(OptionsChange, ResetsTheWatchersOfTheKindWhoseSwitchesChanged) {
    FakeClock clock;
    test::RecordingMessageSink sink;
    HostTable::Hooks hooks;
    hooks.runProber = [](HostTable&, int, uint32_t) {};
    HostTable table(Program::Desktop, clock, sink, hooks);
    const int icmp = *table.AddHost("gw", 1000, 0);
    const int tcp = *table.AddHost("web", 5, 80);
    const int gone = *table.AddHost("old", 1000, 0);

    struct Case {
        const char* what;
        std::function<void(Settings&)> change;
        bool icmpReset;
        bool tcpReset;
    };
    const Case cases[] = {
        {"SMTP server", [](Settings& s) { s.icmp.smtpServer = "relay"; }, false, false},
        {"tray period", [](Settings& s) { s.tcp.trayAfter = 9; }, false, false},
        {"daily reports", [](Settings& s) { s.general.dailyReports = 1; }, false, false},
        {"ICMP e-mail", [](Settings& s) { s.icmp.emailEnabled = 1; }, true, false},
        {"ICMP sound", [](Settings& s) { s.icmp.soundEnabled = 1; }, true, false},
        {"traceroute", [](Settings& s) { s.general.tracertAfter = 3; }, true, false},
        {"TCP tray", [](Settings& s) { s.tcp.trayEnabled = 1; }, false, true},
        {"both", [](Settings& s) { s.icmp.trayEnabled = s.tcp.emailEnabled = 1; }, true, true},
    };
    for (const Case& c : cases) {
        for (int slot : {icmp, tcp, gone}) {
            HostEntry& e = table.Entry(slot);
            e.previousUp = 0;
            e.stateSeconds = 70;
            e.mailSent = e.soundPlayed = e.trayShown = e.traceStarted = 1;
        }
        table.Entry(gone).active = 0;
        const Settings before;
        Settings after = before;
        c.change(after);
        ResetWatchersForOptions(table, before, after);
        for (int slot : {icmp, tcp, gone}) {
            const HostEntry& e = table.Entry(slot);
            const bool reset = slot == icmp ? c.icmpReset : slot == tcp ? c.tcpReset : false;
            SCOPED_TRACE(std::string(c.what) + ", host " + e.name);
            EXPECT_EQ(e.stateSeconds.Load(), reset ? 0 : 70);
            EXPECT_EQ(e.previousUp.Load(), reset ? 1 : 0);
            EXPECT_EQ(e.mailSent + e.soundPlayed + e.trayShown, reset ? 0 : 3);
            // A TCP host keeps its traceroute flag.
            EXPECT_EQ(e.traceStarted.Load(), reset && slot == icmp ? 0 : 1);
        }
    }
}

TEST(ServiceProgram, RunBesideTheProgramWithOneArgumentPerWord) {
    EXPECT_EQ(ServiceProgramPath("/opt/my tools/Quorvane"), "/opt/my tools/HalvoricSvc");
    EXPECT_EQ(ServiceCommandLine("/opt/q/HalvoricSvc", true, "/home/a b/\"Tarnwick\""),
              (std::vector<std::string>{"/opt/q/HalvoricSvc", "-i", "/home/a b/\"Tarnwick\""}));
    EXPECT_EQ(ServiceCommandLine("/opt/q/HalvoricSvc", false, "/d")[1], "-d");

    EXPECT_EQ(
        ServiceBoxTexts("Halvoric: Service Installed Sucessfully\n"
                        "\n"
                        "Halvoric: Can't start service, error=5\r\n"
                        "loader: libx.so missing"),
        (std::vector<std::string>{"Service Installed Sucessfully", "Can't start service, error=5",
                                  "loader: libx.so missing"}));
    EXPECT_TRUE(ServiceBoxTexts("").empty());
}

}  // namespace
}  // namespace qv
