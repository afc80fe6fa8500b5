// Traceroute capture files: listing order and filter, timestamps, the 4095-byte head,
// deleting inside the folder only, sorting.
#include "desktop/trace_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <vector>

#include "core/host_log.h"

#include "support/lib/fake_clock.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using test::TempDir;
using test::WriteFileBytes;

std::vector<std::string> Names(const std::vector<TraceFileRow>& rows) {
    std::vector<std::string> names;
    for (const TraceFileRow& r : rows) {
        names.push_back(r.name);
    }
    return names;
}

TEST(TraceFiles, ListsTraceFilesOfTheFolderNewestInsertionOnTop) {
    TempDir dir;
    for (const char* name : {"a_10.trace", "b_1.trace", "a_2.trace", "notes.txt", "x.trace.1"}) {
        WriteFileBytes(dir.File(name), "hops");
    }
    ASSERT_EQ(::mkdir(dir.File("folder.trace").c_str(), 0755), 0);
    WriteFileBytes(dir.File("folder.trace/deep.trace"), "hops");

    FakeClock clock;  // local time is UTC
    std::vector<TraceFileRow> rows = ListTraceFiles(dir.path(), clock);
    EXPECT_EQ(Names(rows), std::vector<std::string>({"b_1.trace", "a_2.trace", "a_10.trace"}));
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    EXPECT_EQ(rows[0].timestamp.substr(0, 10), FormatTraceTimestamp(utc).substr(0, 10));
    clock.SetLocalTimeFails(true);
    EXPECT_EQ(ListTraceFiles(dir.path(), clock)[0].timestamp, "");
    EXPECT_TRUE(ListTraceFiles(dir.File("missing"), clock).empty());
}

TEST(TraceFiles, TimestampsAreZeroPaddedAndSortChronologically) {
    std::tm t{};
    ASSERT_TRUE(FakeClock().LocalTime(FakeClock::ToCalendar(2014, 9, 3, 8, 5, 1), t));
    EXPECT_EQ(FormatTraceTimestamp(t), "2014.09.03 08:05:01");
    std::vector<TraceFileRow> rows = {{"c.trace", "2014.10.01 00:00:00"},
                                      {"a.trace", "2014.09.23 10:00:00"},
                                      {"b.trace", "2014.09.23 09:59:59"}};
    for (int click = 0; click < 2; ++click) {
        SortTraceFiles(rows, TraceColumn::Timestamp);
        EXPECT_EQ(Names(rows), std::vector<std::string>({"b.trace", "a.trace", "c.trace"}));
    }
    SortTraceFiles(rows, TraceColumn::File);
    EXPECT_EQ(Names(rows), std::vector<std::string>({"a.trace", "b.trace", "c.trace"}));
}

TEST(TraceFiles, ReadsTheHeadAndDeletesOnlyInsideTheFolder) {
    TempDir outer;
    ASSERT_EQ(::mkdir(outer.File("data").c_str(), 0755), 0);
    const std::string data = outer.File("data");
    WriteFileBytes(data + "/r_1.trace", "1  gw (10.0.0.1)\n");
    WriteFileBytes(outer.File("keep.trace"), "x");
    EXPECT_EQ(ReadTraceHead(data + "/r_1.trace"), "1  gw (10.0.0.1)\n");
    EXPECT_FALSE(ReadTraceHead(data + "/none.trace"));

    EXPECT_TRUE(DeleteTraceFile(data, "r_1.trace"));
    EXPECT_FALSE(DeleteTraceFile(data, "r_1.trace"));
    EXPECT_FALSE(DeleteTraceFile(data, "../keep.trace"));
    EXPECT_FALSE(DeleteTraceFile(data, ".."));
    EXPECT_EQ(test::ReadFileBytes(outer.File("keep.trace")), "x");
}

// What File > Open log and the trace logs dialog may be handed: each is refused at once,
// with a reason, instead of blocking on a FIFO or reading without end.
TEST(UserChosenFiles, OnlyBoundedRegularFilesAreRead) {
    TempDir dir;
    const std::string day(1000, '7');
    WriteFileBytes(dir.File("day.log"), "1 2 -1 ");
    ASSERT_EQ(::mkfifo(dir.File("fifo.log").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir.File("zero.log"));
    std::filesystem::create_symlink(dir.File("day.log"), dir.File("link.log"));
    std::filesystem::create_directory(dir.File("folder.log"));
    WriteFileBytes(dir.File("big.log"), std::string(kMaxHostLogBytes + 1, '0'));
    WriteFileBytes(dir.File("edge.log"), std::string(kMaxHostLogBytes - 2, '0') + " 5");
    struct Case {
        const char* name;
        bool logRead;     // the log reader gives values
        bool traceRead;   // the trace reader shows the head
        const char* why;  // part of the reason when refused
    };
    const Case cases[] = {
        {"day.log", true, true, ""},
        {"link.log", true, true, ""},  // a link to a regular file is followed
        {"edge.log", true, true, ""},
        {"fifo.log", false, false, "not a regular file"},
        {"zero.log", false, false, "not a regular file"},
        {"folder.log", false, false, "not a regular file"},
        {"big.log", false, true, "larger than 2 MB"},  // a trace shows only its head
        {"none.log", false, false, "No such file"},
    };
    for (const Case& c : cases) {
        std::string why;
        std::optional<std::vector<int32_t>> values = ReadHostLogFile(dir.File(c.name), &why);
        EXPECT_EQ(values.has_value(), c.logRead) << c.name;
        if (!c.logRead) {
            EXPECT_NE(why.find(c.why), std::string::npos) << c.name << ": " << why;
            EXPECT_NE(why.find(c.name), std::string::npos) << "names the file: " << why;
        }
        why.clear();
        std::optional<std::string> head = ReadTraceHead(dir.File(c.name), &why);
        EXPECT_EQ(head.has_value(), c.traceRead) << c.name;
        if (head) {
            EXPECT_LE(head->size(), kTraceShownBytes);
        } else {
            EXPECT_NE(why.find(c.why), std::string::npos) << c.name << ": " << why;
        }
    }
    EXPECT_EQ(ReadHostLogFile(dir.File("link.log")), (std::vector<int32_t>{1, 2, -1}));
    EXPECT_EQ(ReadHostLogFile(dir.File("edge.log")), (std::vector<int32_t>{0, 5}));
}

}  // namespace
}  // namespace qv
