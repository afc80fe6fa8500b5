// The daily report and its trigger: which hosts are written where, which are reset, and
// when the report runs.
#include "core/daily_report.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <set>

#include "core/host_file_name.h"
#include "core/host_log.h"
#include "platform/error_text.h"
#include "support/lib/fake_clock.h"
#include "support/lib/file_size_limit.h"
#include "support/lib/recording_sink.h"
#include "support/lib/scoped_umask.h"
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

std::tm Day(int year, int month, int day) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    return t;
}

// Every name under `dir`, relative to it, links included.
std::set<std::string> Tree(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& item : std::filesystem::recursive_directory_iterator(dir)) {
        names.insert(std::filesystem::relative(item.path(), dir).string());
    }
    return names;
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
const std::tm kEnded = Day(2014, 9, 23);

TEST(DailyReport, WritesEachProbedHostIntoTheEndedDayAndResetsIt) {
    ReportFixture f(Program::Desktop, kAfterMidnight);
    int router = f.Add("router", 1000, 0, 43'200);
    int web = f.Add("web", 5, 80, 3);
    ASSERT_TRUE(RunDailyReport(f.table, f.dir.path(), true, kEnded).empty());

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
    ReportFixture f(Program::Service, kAfterMidnight);
    f.Add("host", 5, 8080, 10);
    ASSERT_TRUE(RunDailyReport(f.table, f.dir.path(), true, kEnded).empty());
    EXPECT_TRUE(Exists(f.LogPath("2014_09_23", "host_port_8080_svc.log")));
}

TEST(DailyReport, Ipv6HostsGetTheirFilesInTheDayFolder) {
    for (Program program : {Program::Desktop, Program::Service}) {
        ReportFixture f(program, kAfterMidnight);
        f.Add("::1", 1000, 0, 10);
        f.Add("fe80::1%eth0", 1000, 0, 10);
        f.Add("2001:db8::7", 5, 443, 10);
        ASSERT_TRUE(RunDailyReport(f.table, f.dir.path(), true, kEnded).empty());
        const std::string suffix = program == Program::Service ? "_svc.log" : ".log";
        const std::set<std::string> files{"::1" + suffix, "fe80::1%eth0" + suffix,
                                          "2001:db8::7_port_443" + suffix};
        std::set<std::string> expected{"2014_09_23"};
        for (const std::string& file : files) {
            expected.insert("2014_09_23/" + file);
            const std::vector<int32_t> logged = ReadHostLog(f.LogPath("2014_09_23", file));
            ASSERT_EQ(logged.size(), kSecondsPerDay) << file;
            EXPECT_EQ(logged.back(), 10) << file;
        }
        EXPECT_EQ(Tree(f.dir.path()), expected);
    }
}

TEST(DailyReport, ReportsOffStillResetsEveryHost) {
    ReportFixture f(Program::Service, kAfterMidnight);
    int a = f.Add("a", 1000, 0, 100);
    int b = f.Add("b", 2, 22, 100);
    ASSERT_TRUE(RunDailyReport(f.table, f.dir.path(), false, kEnded).empty());
    EXPECT_TRUE(f.WasReset(a));
    EXPECT_TRUE(f.WasReset(b));
    EXPECT_TRUE(std::filesystem::is_empty(f.dir.path()));
}

TEST(DailyReport, PlaceholdersAndFreeSlotsAreLeftAlone) {
    ReportFixture f(Program::Desktop, kAfterMidnight);
    int placeholder = f.Add("-", 0, 0, 5);
    int stopped = f.Add("old", 1000, 0, 5);
    f.table.StopHost(stopped);
    ASSERT_TRUE(RunDailyReport(f.table, f.dir.path(), true, kEnded).empty());
    EXPECT_EQ(f.table.Entry(placeholder).samples.size(), 5u);
    EXPECT_EQ(f.table.Entry(placeholder).successCount, 1u);
    EXPECT_EQ(f.table.Entry(stopped).samples.size(), 5u);
    EXPECT_TRUE(std::filesystem::is_empty(f.dir.path()));
}

// One host whose file cannot be written is reported and keeps its day; the others are
// written, long names among them (cut in the file name only).
TEST(DailyReport, AnUnwritableHostDoesNotStopTheOthers) {
    ReportFixture f(Program::Desktop, FakeClock::ToCalendar(2014, 9, 23, 23, 59, 50));
    const std::string long250(250, 'n');
    std::string long300;
    while (long300.size() < 300) {
        long300 += "\xc3\xa9";  // 150 characters, 300 bytes
    }
    int first = f.Add("first", 1000, 0, 10);
    int blocked = f.Add("blocked", 1000, 0, 10);
    int tcp250 = f.Add(long250, 5, 80, 10);
    int utf300 = f.Add(long300, 1000, 0, 10);
    int later = f.Add("later", 1000, 0, 10);
    ASSERT_EQ(::mkdir((f.dir.path() + "/2014_09_23").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(f.LogPath("2014_09_23", "blocked.log").c_str(), 0755), 0);

    DailyTrigger trigger(f.table);
    EXPECT_FALSE(trigger.Tick(f.dir.path(), true));
    f.clock.SetNow(FakeClock::ToCalendar(2014, 9, 24, 0, 0, 5));
    EXPECT_TRUE(trigger.Tick(f.dir.path(), true));

    for (int slot : {first, tcp250, utf300, later}) {
        EXPECT_TRUE(f.WasReset(slot)) << slot;
    }
    EXPECT_EQ(f.table.Entry(blocked).samples.size(), 10u);
    EXPECT_EQ(f.table.Entry(blocked).lostCount, 1u);
    EXPECT_EQ(f.table.Entry(tcp250).name, long250);
    EXPECT_EQ(Tree(f.dir.path()),
              (std::set<std::string>{"2014_09_23", "2014_09_23/first.log", "2014_09_23/later.log",
                                     "2014_09_23/blocked.log",
                                     "2014_09_23/" + HostFileStem(long250) + "_port_80.log",
                                     "2014_09_23/" + HostFileStem(long300) + ".log"}));
    EXPECT_EQ(ReadHostLog(f.LogPath("2014_09_23", "later.log")).size(), kSecondsPerDay);

    std::vector<test::RecordedMessage> messages = f.sink.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "The daily log of host blocked was not written: " +
                                    f.LogPath("2014_09_23", "blocked.log") + ": " +
                                    SystemErrorText(EISDIR));
    EXPECT_EQ(messages[0].caption, "Error");
}

// A write that stops halfway (a full disk; here a file-size limit) leaves the old file as
// it was and no partial or temporary file.
TEST(DailyReport, AFailedWriteLeavesNoPartialFile) {
    ReportFixture f(Program::Service, kAfterMidnight);
    int router = f.Add("router", 1000, 0, kSecondsPerDay);
    int fresh = f.Add("fresh", 1000, 0, 10);
    ASSERT_EQ(::mkdir((f.dir.path() + "/2014_09_23").c_str(), 0755), 0);
    test::WriteFileBytes(f.LogPath("2014_09_23", "router_svc.log"), "1 2 3 ");

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previous), 0);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::vector<HostLogFailure> failures = RunDailyReport(f.table, f.dir.path(), true, kEnded);
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &previous, nullptr);

    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].host, "router");
    EXPECT_EQ(failures[0].path, f.LogPath("2014_09_23", "router_svc.log"));
    EXPECT_EQ(failures[0].error, EFBIG);
    EXPECT_EQ(failures[1].host, "fresh");
    EXPECT_EQ(ReadFileBytes(f.LogPath("2014_09_23", "router_svc.log")), "1 2 3 ");
    EXPECT_EQ(Tree(f.dir.path()),
              (std::set<std::string>{"2014_09_23", "2014_09_23/router_svc.log"}));
    EXPECT_EQ(f.table.Entry(router).samples.size(), kSecondsPerDay);
    EXPECT_EQ(f.table.Entry(fresh).samples.size(), 10u);
}

// At midnight on a full disk: the day folder made for the report goes again when no log
// went into it; one that held files before stays.
TEST(DailyReport, ADayFolderThatReceivedNoFileIsRemoved) {
    for (const bool folderExisted : {false, true}) {
        SCOPED_TRACE(folderExisted ? "folder existed" : "folder made");
        ReportFixture f(Program::Desktop, kAfterMidnight);
        int router = f.Add("router", 1000, 0, kSecondsPerDay);
        if (folderExisted) {
            ASSERT_EQ(::mkdir((f.dir.path() + "/2014_09_23").c_str(), 0755), 0);
        }
        std::vector<HostLogFailure> failures;
        {
            test::ScopedFileSizeLimit full(4096);
            failures = RunDailyReport(f.table, f.dir.path(), true, kEnded);
        }
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].error, EFBIG);
        EXPECT_EQ(Exists(f.dir.path() + "/2014_09_23"), folderExisted);
        EXPECT_EQ(f.table.Entry(router).samples.size(), kSecondsPerDay) << "kept for a retry";
        // The next report, with room again, makes the folder and writes the day.
        EXPECT_TRUE(RunDailyReport(f.table, f.dir.path(), true, kEnded).empty());
        EXPECT_EQ(ReadHostLog(f.LogPath("2014_09_23", "router.log")).size(), kSecondsPerDay);
    }
}

// The data folder may belong to a user while the service runs as root: a link there is
// refused with a message naming it, and what it points at stays untouched.
TEST(DailyReport, LinksInTheDataFolderAreRefusedAndTheirTargetsUntouched) {
    TempDir elsewhere;
    const std::string target = elsewhere.File("precious");
    test::WriteFileBytes(target, "keep me");
    {
        ReportFixture f(Program::Service, kAfterMidnight);
        int a = f.Add("a", 1000, 0, 10);
        ASSERT_EQ(::symlink(elsewhere.path().c_str(), (f.dir.path() + "/2014_09_23").c_str()), 0);
        std::vector<HostLogFailure> failures = RunDailyReport(f.table, f.dir.path(), true, kEnded);
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(HostLogFailureText(failures[0]),
                  "The daily logs were not written: " + f.dir.path() +
                      "/2014_09_23 is a symbolic link; it is not followed");
        EXPECT_EQ(f.table.Entry(a).samples.size(), 10u);
    }
    {
        ReportFixture f(Program::Service, kAfterMidnight);
        int linked = f.Add("linked", 1000, 0, 10);
        int plain = f.Add("plain", 1000, 0, 10);
        ASSERT_EQ(::mkdir((f.dir.path() + "/2014_09_23").c_str(), 0755), 0);
        ASSERT_EQ(::symlink(target.c_str(), f.LogPath("2014_09_23", "linked_svc.log").c_str()), 0);
        std::vector<HostLogFailure> failures = RunDailyReport(f.table, f.dir.path(), true, kEnded);
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(HostLogFailureText(failures[0]),
                  "The daily log of host linked was not written: " +
                      f.LogPath("2014_09_23", "linked_svc.log") +
                      " is a symbolic link; it is not followed");
        EXPECT_EQ(f.table.Entry(linked).samples.size(), 10u);
        EXPECT_TRUE(f.WasReset(plain));
        EXPECT_TRUE(std::filesystem::is_symlink(f.LogPath("2014_09_23", "linked_svc.log")));
    }
    EXPECT_EQ(ReadFileBytes(target), "keep me");
    EXPECT_EQ(Tree(elsewhere.path()), (std::set<std::string>{"precious"}));
}

TEST(DailyReport, NewDayFolderIs0755WhateverTheUmask) {
    for (mode_t mask : {000, 077}) {
        ReportFixture f(Program::Desktop, kAfterMidnight);
        f.Add("router", 1000, 0, 10);
        test::ScopedUmask umask(mask);
        ASSERT_TRUE(RunDailyReport(f.table, f.dir.path(), true, kEnded).empty());
        EXPECT_EQ(test::ModeOf(f.dir.path() + "/2014_09_23"), 0755) << mask;
    }
}

TEST(DailyReport, MissingDataFolderKeepsEveryHistory) {
    ReportFixture f(Program::Desktop, kAfterMidnight);
    int a = f.Add("a", 1000, 0, 10);
    int b = f.Add("b", 1000, 0, 10);
    std::vector<HostLogFailure> failures =
        RunDailyReport(f.table, f.dir.path() + "/gone", true, kEnded);
    ASSERT_EQ(failures.size(), 1u);  // the folder, once
    EXPECT_EQ(failures[0].host, "");
    EXPECT_EQ(failures[0].error, ENOENT);
    EXPECT_EQ(f.table.Entry(a).samples.size(), 10u);
    EXPECT_EQ(f.table.Entry(b).samples.size(), 10u);
}

TEST(DailyReport, ExistingDayFolderIsReusedAndOldFileReplaced) {
    ReportFixture f(Program::Desktop, kAfterMidnight);
    f.Add("router", 1000, 0, kSecondsPerDay);
    ASSERT_EQ(::mkdir((f.dir.path() + "/2014_09_23").c_str(), 0755), 0);
    test::WriteFileBytes(f.LogPath("2014_09_23", "router.log"), std::string(900'000, '9'));
    test::WriteFileBytes(f.LogPath("2014_09_23", "other.log"), "1 2 3 ");
    ASSERT_TRUE(RunDailyReport(f.table, f.dir.path(), true, kEnded).empty());
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
    ASSERT_TRUE(RunDailyReport(f.table, f.dir.path(), true, kEnded).empty());
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

int64_t At(int day, int hour, int minute, int second) {
    return FakeClock::ToCalendar(2014, 9, day, hour, minute, second);
}

// Ticks at the given times (September 2014); returns the ticks that ran the report and the
// day folders found afterwards.
struct TickRun {
    std::vector<int> reportedAt;
    std::set<std::string> tree;
};

TickRun RunTicks(Program program, const std::vector<int64_t>& times) {
    ReportFixture f(program, times.front());
    f.Add("router", 1000, 0, 10);
    DailyTrigger trigger(f.table);
    TickRun run;
    for (size_t i = 0; i < times.size(); ++i) {
        f.clock.SetNow(times[i]);
        if (trigger.Tick(f.dir.path(), true)) {
            run.reportedAt.push_back(static_cast<int>(i));
        }
        EXPECT_EQ(trigger.ReportDone(), !run.reportedAt.empty() && run.reportedAt.back() == int(i));
        f.table.Entry(0).samples.push_back(1);
    }
    run.tree = Tree(f.dir.path());
    return run;
}

TEST(DailyTrigger, ReportsEachEndedDayOnceAtTheFirstTickAfterIt) {
    using Files = std::set<std::string>;
    const Files day23 = {"2014_09_23", "2014_09_23/router.log"};
    struct Case {
        const char* what;
        std::vector<int64_t> times;
        std::vector<int> reportedAt;
        Files tree;
    };
    const Case cases[] = {
        {"ticks through the minute 00:00 and after it",
         {At(23, 23, 59, 59), At(24, 0, 0, 0), At(24, 0, 0, 30), At(24, 0, 0, 59), At(24, 0, 1, 0),
          At(24, 12, 0, 0)},
         {1},
         day23},
        {"minute 00:00 missed: 23:59:50, then 00:02:10",
         {At(23, 23, 59, 50), At(24, 0, 2, 10), At(24, 0, 2, 11)},
         {1},
         day23},
        {"suspended for days: the last day seen is reported",
         {At(23, 10, 0, 0), At(27, 8, 0, 0), At(27, 8, 0, 1)},
         {1},
         day23},
        {"two midnights",
         {At(23, 23, 0, 0), At(24, 0, 0, 1), At(25, 0, 0, 1)},
         {1, 2},
         {"2014_09_23", "2014_09_23/router.log", "2014_09_24", "2014_09_24/router.log"}},
        {"first tick in the minute 00:00 reports the day before",
         {At(24, 0, 0, 40), At(24, 0, 0, 41)},
         {0},
         day23},
        {"first tick after the minute 00:00 does not", {At(24, 0, 1, 0), At(24, 23, 0, 0)}, {}, {}},
        {"clock set back over midnight reports nothing twice",
         {At(23, 23, 59, 58), At(24, 0, 0, 1), At(23, 23, 59, 59), At(24, 0, 0, 0),
          At(24, 0, 0, 1)},
         {1},
         day23},
    };
    for (const Case& c : cases) {
        TickRun run = RunTicks(Program::Desktop, c.times);
        EXPECT_EQ(run.reportedAt, c.reportedAt) << c.what;
        EXPECT_EQ(run.tree, c.tree) << c.what;
    }
}

// The service too names the day folder after the day that ended, wherever the ticks fall.
TEST(DailyTrigger, ServiceReportsTheDayThatEnded) {
    ReportFixture f(Program::Service, FakeClock::ToCalendar(2015, 1, 1, 0, 0, 10));
    f.Add("router", 1000, 0, 10);
    DailyTrigger trigger(f.table);
    EXPECT_TRUE(trigger.Tick(f.dir.path(), true));
    EXPECT_EQ(Tree(f.dir.path()),
              (std::set<std::string>{"2014_12_31", "2014_12_31/router_svc.log"}));

    // Not the day an hour before the late tick (the 24th): the day of the previous tick.
    TickRun service = RunTicks(Program::Service, {At(23, 10, 0, 0), At(25, 0, 30, 0)});
    EXPECT_EQ(service.tree, (std::set<std::string>{"2014_09_23", "2014_09_23/router_svc.log"}));
}

// A tick without the local time changes nothing; the next tick that knows it reports.
TEST(DailyTrigger, FailedLocalTimeKeepsThePreviousDate) {
    ReportFixture f(Program::Desktop, At(23, 23, 59, 59));
    int router = f.Add("router", 1000, 0, 10);
    DailyTrigger trigger(f.table);
    EXPECT_FALSE(trigger.Tick(f.dir.path(), false));
    f.clock.SetNow(At(24, 0, 0, 30));
    f.clock.SetLocalTimeFails(true);
    EXPECT_FALSE(trigger.Tick(f.dir.path(), false));
    EXPECT_EQ(f.table.Entry(router).samples.size(), 10u);
    f.clock.SetLocalTimeFails(false);
    f.clock.SetNow(At(24, 0, 5, 0));
    EXPECT_TRUE(trigger.Tick(f.dir.path(), false));
    EXPECT_TRUE(f.WasReset(router));

    trigger.Clear();  // as at a new start: a tick at 00:00 reports again
    f.clock.SetNow(At(25, 0, 0, 3));
    EXPECT_TRUE(trigger.Tick(f.dir.path(), false));
}

}  // namespace
}  // namespace qv
