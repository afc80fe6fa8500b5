// Host log files: names, the exact bytes the writer produces, and the reader.
#include "core/host_log.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <climits>
#include <filesystem>
#include <iterator>
#include <sstream>

#include "core/host_file_name.h"
#include "core/trace_files.h"

#include "support/lib/file_size_limit.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

// What a stream imbued with the log locale writes for one value.
std::string StreamFormatted(int32_t value) {
    std::ostringstream out;
    out.imbue(HostLogLocale());
    out << value;
    return out.str();
}

std::string Grouped(int32_t value) {
    std::string s;
    AppendGroupedNumber(s, value);
    return s;
}

TEST(HostLogFormat, GroupsByThreesWithA0) {
    EXPECT_EQ(Grouped(0), "0");
    EXPECT_EQ(Grouped(-1), "-1");
    EXPECT_EQ(Grouped(999), "999");
    EXPECT_EQ(Grouped(1000),
              "1\xA0"
              "000");
    EXPECT_EQ(Grouped(1234),
              "1\xA0"
              "234");
    EXPECT_EQ(Grouped(1234567),
              "1\xA0"
              "234\xA0"
              "567");
    EXPECT_EQ(StreamFormatted(1234567),
              "1\xA0"
              "234\xA0"
              "567");
}

// The hand-made formatter must give exactly the bytes of the grouped stream format.
TEST(HostLogFormat, MatchesGroupedStreamForAnyValue) {
    std::vector<int32_t> values = {
        INT32_MIN, INT32_MIN + 1, -1234567, -1000, -999, -1,    0,     1,      9,      10,
        99,        100,           999,      1000,  9999, 10000, 99999, 100000, 999999, 1000000,
        INT32_MAX};
    for (int32_t v = -3000; v < 200000; v += 7) {
        values.push_back(v);
    }
    std::string expected;
    for (int32_t v : values) {
        ASSERT_EQ(Grouped(v), StreamFormatted(v)) << v;
        expected += StreamFormatted(v) + " ";
    }
    // The writer's own fast paths give the same bytes.
    TempDir dir;
    ASSERT_TRUE(WriteHostLog(dir.File("all.log"), values));
    std::string bytes = ReadFileBytes(dir.File("all.log"));
    size_t zeros = (kSecondsPerDay - values.size()) * 2;
    ASSERT_EQ(bytes.size(), zeros + expected.size());
    EXPECT_TRUE(bytes.compare(zeros, std::string::npos, expected) == 0);
    EXPECT_EQ(ReadHostLog(dir.File("all.log")).size(), kSecondsPerDay);
}

TEST(HostLogNames, DayFolderAndFileNames) {
    std::tm day{};
    day.tm_year = 2014 - 1900;
    day.tm_mon = 8;
    day.tm_mday = 3;
    EXPECT_EQ(DayFolderName(day), "2014_09_03");

    HostEntry icmp;
    icmp.name = "router";
    icmp.isIcmp = 1;
    EXPECT_EQ(HostLogFileName(icmp, Program::Desktop), "router.log");
    EXPECT_EQ(HostLogFileName(icmp, Program::Service), "router_svc.log");

    HostEntry tcp;
    tcp.name = "mailhost";
    tcp.isIcmp = 0;
    tcp.port = 25;
    EXPECT_EQ(HostLogFileName(tcp, Program::Desktop), "mailhost_port_25.log");
    EXPECT_EQ(HostLogFileName(tcp, Program::Service), "mailhost_port_25_svc.log");
    // The port field is a signed 16-bit value and prints as such.
    tcp.port = static_cast<int16_t>(-25536);
    EXPECT_EQ(HostLogFileName(tcp, Program::Desktop), "mailhost_port_-25536.log");
}

std::string Repeat(const std::string& piece, size_t n) {
    std::string s;
    s.reserve(piece.size() * n);
    for (size_t i = 0; i < n; ++i) {
        s += piece;
    }
    return s;
}

TEST(HostLogWriter, HalfDayGetsLeadingZeros) {
    TempDir dir;
    std::vector<int32_t> samples(43'200);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = i % 10 == 0 ? -1 : static_cast<int32_t>(i % 1500);
    }
    std::string path = dir.File("half.log");
    ASSERT_TRUE(WriteHostLog(path, samples));

    std::string expected = Repeat("0 ", 43'200);
    std::ostringstream stream;
    stream.imbue(HostLogLocale());
    for (int32_t v : samples) {
        stream << v << ' ';
    }
    expected += stream.str();
    std::string bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), expected.size());
    EXPECT_TRUE(bytes == expected);

    std::vector<int32_t> back = ReadHostLog(path);
    ASSERT_EQ(back.size(), kSecondsPerDay);
    EXPECT_TRUE(std::equal(back.begin() + 43'200, back.end(), samples.begin()));
    EXPECT_EQ(back[43'199], 0);
}

TEST(HostLogWriter, FullDayHasNoLeadingZerosAndLongerHistoryIsWrittenWhole) {
    TempDir dir;
    std::vector<int32_t> full(kSecondsPerDay, 7);
    full.front() = 1234;
    ASSERT_TRUE(WriteHostLog(dir.File("full.log"), full));
    std::string bytes = ReadFileBytes(dir.File("full.log"));
    EXPECT_EQ(bytes.substr(0, 7),
              "1\xA0"
              "234 7");
    EXPECT_EQ(ReadHostLog(dir.File("full.log")), full);

    std::vector<int32_t> longer(90'000, 5);
    longer.back() = -1;
    ASSERT_TRUE(WriteHostLog(dir.File("long.log"), longer));
    EXPECT_EQ(ReadFileBytes(dir.File("long.log")).size(), 89'999u * 2 + 3);
    EXPECT_EQ(ReadHostLog(dir.File("long.log")), longer);
}

TEST(HostLogWriter, EmptyHistoryIsADayOfZerosAndOldContentIsTruncated) {
    TempDir dir;
    std::string path = dir.File("host.log");
    WriteFileBytes(path, std::string(400'000, 'x'));
    ASSERT_TRUE(WriteHostLog(path, {}));
    EXPECT_EQ(ReadFileBytes(path), Repeat("0 ", kSecondsPerDay));
}

TEST(HostLogWriter, UnopenableFileFails) {
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.File("taken.log").c_str(), 0755), 0);
    EXPECT_FALSE(WriteHostLog(dir.File("taken.log"), {1, 2, 3}));
    EXPECT_FALSE(WriteHostLog(dir.File("missing/host.log"), {1, 2, 3}));
}

// A write that stops halfway, as on a full disk (here a file-size limit), fails with its
// error and leaves the old file as it was, with no temporary file beside it.
TEST(HostLogWriter, FullDiskFailsAndKeepsTheOldFile) {
    TempDir dir;
    const std::string path = dir.File("host.log");
    WriteFileBytes(path, "1 2 3 ");
    int error = 0;
    bool written = false;
    {
        test::ScopedFileSizeLimit limit(4096);
        written = WriteHostLog(path, {1, 2, 3}, &error);
    }

    EXPECT_FALSE(written);
    EXPECT_EQ(error, EFBIG);
    EXPECT_EQ(ReadFileBytes(path), "1 2 3 ");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}

// Every file of a host carries the same cut name, short enough for any suffix, and two
// long names never share it.
TEST(HostLogNames, LongNamesAreCutTheSameWayForEveryFile) {
    const std::string shared(240, 'a');
    std::string utf8;
    while (utf8.size() < 300) {
        utf8 += "\xc3\xa9";
    }
    const struct {
        std::string name;
        size_t kept;  // bytes of the name kept before "~" and the hash; npos: whole name
    } cases[] = {
        {"router", std::string::npos},
        {std::string(kMaxHostFileStemBytes, 'x'), std::string::npos},
        {std::string(kMaxHostFileStemBytes + 1, 'x'), kMaxHostFileStemBytes - 9},
        {shared + "one", kMaxHostFileStemBytes - 9},
        {utf8, kMaxHostFileStemBytes - 9},  // 222 bytes: 111 whole characters
        {std::string(5, 'a') + utf8, kMaxHostFileStemBytes - 10},  // no character split
    };
    for (const auto& c : cases) {
        const std::string stem = HostFileStem(c.name);
        if (c.kept == std::string::npos) {
            EXPECT_EQ(stem, c.name);
            continue;
        }
        EXPECT_EQ(stem.substr(0, c.kept), c.name.substr(0, c.kept)) << c.name;
        ASSERT_EQ(stem.size(), c.kept + 9) << c.name;
        EXPECT_EQ(stem[c.kept], '~');
        EXPECT_EQ(stem.find_first_not_of("0123456789abcdef", c.kept + 1), std::string::npos);
        EXPECT_EQ(HostFileStem(c.name), stem);  // the same every time
    }
    EXPECT_NE(HostFileStem(shared + "one"), HostFileStem(shared + "two"));

    HostEntry tcp;
    tcp.name = std::string(254, 'h');
    tcp.isIcmp = 0;
    tcp.port = static_cast<int16_t>(-32768);
    EXPECT_LE(HostLogFileName(tcp, Program::Service).size(), 255u);
    EXPECT_EQ(HostLogFileName(tcp, Program::Service),
              HostFileStem(tcp.name) + "_port_-32768_svc.log");
}

TEST(HostLogReader, TakesGroupedAndUngroupedNumbersAlike) {
    EXPECT_EQ(ParseHostLog("1\xA0"
                           "000 1\xA0"
                           "234\xA0"
                           "567 1000 1234567 -1 0 "),
              (std::vector<int32_t>{1000, 1234567, 1000, 1234567, -1, 0}));
    // Any white space separates values; line breaks of every kind included.
    EXPECT_EQ(ParseHostLog("  5\t6\r\r\n7\n8\r9"), (std::vector<int32_t>{5, 6, 7, 8, 9}));
}

TEST(HostLogReader, StopsAtTheFirstValueThatIsNotANumber) {
    EXPECT_EQ(ParseHostLog("1 2 x 3"), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(ParseHostLog("1 2abc 3"), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(ParseHostLog("1 - 3"), (std::vector<int32_t>{1}));
    EXPECT_EQ(ParseHostLog("\xA0"
                           "1 2"),
              (std::vector<int32_t>{}));
    // A value beyond 32 bits is not a sample.
    EXPECT_EQ(ParseHostLog("1 2147483647 2147483648 4"), (std::vector<int32_t>{1, 2147483647}));
    EXPECT_EQ(ParseHostLog("-2147483648 99999999999999999999 1"),
              (std::vector<int32_t>{INT32_MIN}));
    EXPECT_TRUE(ParseHostLog("").empty());
}

TEST(HostLogReader, MissingFileReadsAsNothing) {
    TempDir dir;
    EXPECT_TRUE(ReadHostLog(dir.File("none.log")).empty());
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
