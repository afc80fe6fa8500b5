// Traceroute capture files: listing order and filter, timestamps, the 4095-byte head,
// deleting inside the folder only, sorting.
#include "desktop/trace_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace
}  // namespace qv
