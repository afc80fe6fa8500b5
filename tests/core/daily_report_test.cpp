// The daily report and its trigger: which hosts are written where, which are reset, and
// when the report runs.
#include "core/daily_report.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "core/host_log.h"
#include "support/lib/recording_sink.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using test::ReadFileBytes;
using test::RecordingMessageSink;
using test::TempDir;

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

struct ReportFixture {
    explicit ReportFixture(Program program, int64_t now)
        : clock(now), table(program, clock, sink, Hooks()) {}

    static HostTable::Hooks Hooks() {
        HostTable::Hooks h;
        h.runProber = [](HostTable&, int, uint32_t) {};
        return h;
    }

    // Adds a host and gives it `count` samples 1, 2, 3, ... and some statistics.
    int Add(const std::string& name, int32_t probeValue, int port, size_t count) {
        int slot = *table.AddHost(name, probeValue, port);
        HostEntry& e = table.Entry(slot);
        for (size_t i = 0; i < count; ++i) {
            e.samples.push_back(static_cast<int32_t>(i + 1));
        }
        HostTable::NoteSuccess(e, 40);
        HostTable::NoteLoss(e);
        return slot;
    }

    bool WasReset(int slot) {
        const HostEntry& e = table.Entry(slot);
        return e.samples.empty() && e.lostCount == 0 && e.successCount == 0 && e.minMs == 1000;
    }

    std::string LogPath(const std::string& day, const std::string& file) const {
        return dir.path() + "/" + day + "/" + file;
    }

    TempDir dir;
    FakeClock clock;
    RecordingMessageSink sink;
    HostTable table;
};

const int64_t kAfterMidnight = FakeClock::ToCalendar(2014, 9, 24, 0, 0, 30);

TEST(DailyReport, WritesEachProbedHostIntoTheEndedDayAndResetsIt) {
    ReportFixture f(Program::Desktop, kAfterMidnight);
    int router = f.Add("router", 1000, 0, 43'200);
    int web = f.Add("web", 5, 80, 3);
    ASSERT_TRUE(RunDailyReport(f.table, f.dir.path(), true, kAfterMidnight));

    std::vector<int32_t> logged = ReadHostLog(f.LogPath("2014_09_23", "router.log"));
    ASSERT_EQ(logged.size(), kSecondsPerDay);
    EXPECT_EQ(logged[43'199], 0);
    EXPECT_EQ(logged[43'200], 1);
    EXPECT_EQ(logged.back(), 43'200);
    EXPECT_EQ(ReadFileBytes(f.LogPath("2014_09_23", "router.log")).substr(0, 4), "0 0 ");

    std::vector<int32_t> webLog = ReadHostLog(f.LogPath("2014_09_23", "web_port_80.log"));
    ASSERT_EQ(webLog.size(), kSecondsPerDay);
    EXPECT_EQ(webLog[kSecondsPerDay - 3], 1);
    EXPECT_TRUE(f.WasReset(router));
    EXPECT_TRUE(f.WasReset(web));
}

TEST(DailyReport, ServiceTcpHostFileNameAndDay) {
    const int64_t now = FakeClock::ToCalendar(2014, 9, 24, 0, 0, 2);
    ReportFixture f(Program::Service, now);
    f.Add("host", 5, 8080, 10);
    ASSERT_TRUE(RunDailyReport(f.table, f.dir.path(), true, now));
    EXPECT_TRUE(Exists(f.LogPath("2014_09_23", "host_port_8080_svc.log")));
}

// The two programs look back by different amounts; at 01:00:04 only the service's 3605 s
// still land in the previous day.
TEST(DailyReport, ReportedDayDependsOnTheProgram) {
    const int64_t now = FakeClock::ToCalendar(2014, 9, 24, 1, 0, 4);
    ReportFixture desktop(Program::Desktop, now);
    desktop.Add("router", 1000, 0, 1);
    ASSERT_TRUE(RunDailyReport(desktop.table, desktop.dir.path(), true, now));
    EXPECT_TRUE(Exists(desktop.LogPath("2014_09_24", "router.log")));

    ReportFixture service(Program::Service, now);
    service.Add("router", 1000, 0, 1);
    ASSERT_TRUE(RunDailyReport(service.table, service.dir.path(), true, now));
    EXPECT_TRUE(Exists(service.LogPath("2014_09_23", "router_svc.log")));
}

TEST(DailyReport, ReportsOffStillResetsEveryHost) {
    ReportFixture f(Program::Service, kAfterMidnight);
    int a = f.Add("a", 1000, 0, 100);
    int b = f.Add("b", 2, 22, 100);
    ASSERT_TRUE(RunDailyReport(f.table, f.dir.path(), false, kAfterMidnight));
    EXPECT_TRUE(f.WasReset(a));
    EXPECT_TRUE(f.WasReset(b));
    EXPECT_TRUE(std::filesystem::is_empty(f.dir.path()));
}

TEST(DailyReport, PlaceholdersAndFreeSlotsAreLeftAlone) {
    ReportFixture f(Program::Desktop, kAfterMidnight);
    int placeholder = f.Add("-", 0, 0, 5);
    int stopped = f.Add("old", 1000, 0, 5);
    f.table.StopHost(stopped);
    ASSERT_TRUE(RunDailyReport(f.table, f.dir.path(), true, kAfterMidnight));
    EXPECT_EQ(f.table.Entry(placeholder).samples.size(), 5u);
    EXPECT_EQ(f.table.Entry(placeholder).successCount, 1u);
    EXPECT_EQ(f.table.Entry(stopped).samples.size(), 5u);
    EXPECT_TRUE(std::filesystem::is_empty(f.dir.path()));
}

TEST(DailyReport, UnopenableFileEndsTheReportAtThatHost) {
    ReportFixture f(Program::Desktop, kAfterMidnight);
    int first = f.Add("first", 1000, 0, 10);
    int blocked = f.Add("blocked", 1000, 0, 10);
    int later = f.Add("later", 1000, 0, 10);
    ASSERT_EQ(::mkdir((f.dir.path() + "/2014_09_23").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(f.LogPath("2014_09_23", "blocked.log").c_str(), 0755), 0);

    EXPECT_FALSE(RunDailyReport(f.table, f.dir.path(), true, kAfterMidnight));
    EXPECT_EQ(ReadHostLog(f.LogPath("2014_09_23", "first.log")).size(), kSecondsPerDay);
    EXPECT_TRUE(f.WasReset(first));
    EXPECT_EQ(f.table.Entry(blocked).samples.size(), 10u);
    EXPECT_EQ(f.table.Entry(blocked).lostCount, 1u);
    EXPECT_EQ(f.table.Entry(later).samples.size(), 10u);
    EXPECT_FALSE(Exists(f.LogPath("2014_09_23", "later.log")));
}

TEST(DailyReport, MissingDataFolderKeepsEveryHistory) {
    ReportFixture f(Program::Desktop, kAfterMidnight);
    int a = f.Add("a", 1000, 0, 10);
    EXPECT_FALSE(RunDailyReport(f.table, f.dir.path() + "/gone", true, kAfterMidnight));
    EXPECT_EQ(f.table.Entry(a).samples.size(), 10u);
}

TEST(DailyReport, ExistingDayFolderIsReusedAndOldFileReplaced) {
    ReportFixture f(Program::Desktop, kAfterMidnight);
    f.Add("router", 1000, 0, kSecondsPerDay);
    ASSERT_EQ(::mkdir((f.dir.path() + "/2014_09_23").c_str(), 0755), 0);
    test::WriteFileBytes(f.LogPath("2014_09_23", "router.log"), std::string(900'000, '9'));
    test::WriteFileBytes(f.LogPath("2014_09_23", "other.log"), "1 2 3 ");
    ASSERT_TRUE(RunDailyReport(f.table, f.dir.path(), true, kAfterMidnight));
    std::vector<int32_t> logged = ReadHostLog(f.LogPath("2014_09_23", "router.log"));
    ASSERT_EQ(logged.size(), kSecondsPerDay);
    EXPECT_EQ(logged.front(), 1);
    EXPECT_EQ(ReadFileBytes(f.LogPath("2014_09_23", "other.log")), "1 2 3 ");
}

// A name that could reach outside the data folder gets no file; its day is reset and the
// hosts after it are still written.
TEST(DailyReport, UnsafeNameGetsNoFileButIsReset) {
    ReportFixture f(Program::Desktop, kAfterMidnight);
    int unsafe = f.Add("../../escaped", 1000, 0, 10);
    int after = f.Add("after", 1000, 0, 10);
    ASSERT_TRUE(RunDailyReport(f.table, f.dir.path(), true, kAfterMidnight));
    EXPECT_TRUE(f.WasReset(unsafe));
    EXPECT_TRUE(f.WasReset(after));
    EXPECT_TRUE(Exists(f.LogPath("2014_09_23", "after.log")));
    EXPECT_FALSE(Exists(f.dir.path() + "/../escaped.log"));
    EXPECT_FALSE(Exists(f.dir.path() + "/escaped.log"));
    size_t files = 0;
    for (const auto& item : std::filesystem::recursive_directory_iterator(f.dir.path())) {
        files += item.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(files, 1u);
}

TEST(DailyTrigger, RunsOnceInTheFirstMinuteAndRearmsAfterIt) {
    ReportFixture f(Program::Desktop, FakeClock::ToCalendar(2014, 9, 23, 23, 59, 59));
    int router = f.Add("router", 1000, 0, 10);
    DailyTrigger trigger(f.table);

    EXPECT_FALSE(trigger.Tick(f.dir.path(), true));
    EXPECT_FALSE(trigger.ReportDone());
    EXPECT_EQ(f.table.Entry(router).samples.size(), 10u);

    f.clock.SetNow(kAfterMidnight);
    EXPECT_TRUE(trigger.Tick(f.dir.path(), true));
    EXPECT_TRUE(trigger.ReportDone());
    EXPECT_TRUE(f.WasReset(router));
    EXPECT_TRUE(Exists(f.LogPath("2014_09_23", "router.log")));

    // The rest of the minute: no second report, the new day's samples stay.
    for (int second = 31; second <= 59; ++second) {
        f.table.Entry(router).samples.push_back(second);
        f.clock.SetNow(FakeClock::ToCalendar(2014, 9, 24, 0, 0, second));
        EXPECT_FALSE(trigger.Tick(f.dir.path(), true)) << second;
    }
    EXPECT_EQ(f.table.Entry(router).samples.size(), 29u);

    f.clock.SetNow(FakeClock::ToCalendar(2014, 9, 24, 0, 1, 0));
    EXPECT_FALSE(trigger.Tick(f.dir.path(), true));
    EXPECT_FALSE(trigger.ReportDone());
    EXPECT_EQ(f.table.Entry(router).samples.size(), 29u);

    f.clock.SetNow(FakeClock::ToCalendar(2014, 9, 25, 0, 0, 0));
    EXPECT_TRUE(trigger.Tick(f.dir.path(), true));
    EXPECT_TRUE(Exists(f.LogPath("2014_09_24", "router.log")));
}

TEST(DailyTrigger, HourZeroOutsideMinuteZeroAndFailedLocalTimeClearTheFlag) {
    ReportFixture f(Program::Service, kAfterMidnight);
    f.Add("router", 1000, 0, 10);
    DailyTrigger trigger(f.table);
    EXPECT_TRUE(trigger.Tick(f.dir.path(), false));

    f.clock.SetLocalTimeFails(true);
    EXPECT_FALSE(trigger.Tick(f.dir.path(), false));
    EXPECT_FALSE(trigger.ReportDone());
    // Same minute again, conversion working: the flag was cleared, so it runs again.
    f.clock.SetLocalTimeFails(false);
    EXPECT_TRUE(trigger.Tick(f.dir.path(), false));

    f.clock.SetNow(FakeClock::ToCalendar(2014, 9, 24, 12, 0, 30));
    EXPECT_FALSE(trigger.Tick(f.dir.path(), false));
    EXPECT_FALSE(trigger.ReportDone());

    f.clock.SetNow(kAfterMidnight);
    EXPECT_TRUE(trigger.Tick(f.dir.path(), false));
    trigger.Clear();
    EXPECT_FALSE(trigger.ReportDone());
}

}  // namespace
}  // namespace qv
