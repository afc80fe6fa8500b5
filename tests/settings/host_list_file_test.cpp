// The host list file: byte-exact round trips, line endings, the defaults of a missing
// file, long lines and the names that must never get in or out.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <memory>

#include "core/host_table.h"
#include "settings/config_files.h"
#include "support/lib/fake_clock.h"
#include "support/lib/recording_sink.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using test::ReadFileBytes;
using test::RecordingMessageSink;
using test::TempDir;
using test::WriteFileBytes;

// A host table whose probers only count their starts (nothing goes on the network).
struct Table {
    explicit Table(Program program) : table(program, clock, sink, Hooks()) {}

    HostTable::Hooks Hooks() {
        HostTable::Hooks h;
        h.runProber = [this](HostTable&, int, uint32_t) { proberStarts.fetch_add(1); };
        h.saveHostList = [this](const HostTable&) { ++saves; };
        return h;
    }

    int ActiveCount() const {
        int n = 0;
        for (int i = 0; i < kMaxHosts; ++i) {
            n += table.Entry(i).active != 0 ? 1 : 0;
        }
        return n;
    }

    FakeClock clock{1'700'000'000, 0};
    RecordingMessageSink sink;
    std::atomic<int> proberStarts{0};
    int saves = 0;
    HostTable table;
};

const char kHostList[] =
    "0 127.0.0.1 5000\r\r\n"
    "80 127.0.0.1 5\r\r\n"
    "0 - 0\r\r\n"
    "-25536 web.example 10\r\r\n"
    "0 db-1.example 2000\r\r\n";

TEST(HostListFile, LoadsEveryLineAndSavesTheSameBytes) {
    TempDir in;
    WriteFileBytes(in.File("conf01.dat"), kHostList);
    Table t(Program::Desktop);
    LoadHostList(in.path(), t.table);

    ASSERT_EQ(t.ActiveCount(), 5);
    const HostEntry& icmp = t.table.Entry(0);
    EXPECT_EQ(icmp.name, "127.0.0.1");
    EXPECT_EQ(icmp.isIcmp, 1);
    EXPECT_EQ(icmp.probeValue, 5000);
    const HostEntry& tcp = t.table.Entry(1);
    EXPECT_EQ(tcp.isIcmp, 0);
    EXPECT_EQ(tcp.port, 80);
    EXPECT_EQ(tcp.probeValue, 5);
    EXPECT_EQ(t.table.Entry(2).name, "-");
    EXPECT_EQ(t.table.Entry(2).probeValue, 0);
    // The negative number restores a port above 32767.
    EXPECT_EQ(static_cast<uint16_t>(t.table.Entry(3).port), 40000);
    EXPECT_EQ(t.table.Entry(3).isIcmp, 0);
    EXPECT_EQ(t.saves, 0);  // loading never writes the list

    TempDir out;
    ASSERT_TRUE(SaveHostList(out.path(), t.table));
    EXPECT_EQ(ReadFileBytes(out.File("conf01.dat")), kHostList);
}

TEST(HostListFile, HighPortSurvivesSaveAndReload) {
    TempDir dir;
    Table first(Program::Desktop);
    first.table.AddHost("127.0.0.2", 5, 65535);
    first.table.AddHost("127.0.0.3", 5, 32768);
    ASSERT_TRUE(SaveHostList(dir.path(), first.table));
    EXPECT_EQ(ReadFileBytes(dir.File("conf01.dat")),
              "-1 127.0.0.2 5\r\r\n-32768 127.0.0.3 5\r\r\n");

    Table second(Program::Service);
    LoadHostList(dir.path(), second.table);
    EXPECT_EQ(static_cast<uint16_t>(second.table.Entry(0).port), 65535);
    EXPECT_EQ(static_cast<uint16_t>(second.table.Entry(1).port), 32768);
    EXPECT_EQ(second.table.Entry(1).isIcmp, 0);
}

TEST(HostListFile, SavesOnlyActiveSlotsInSlotOrder) {
    TempDir dir;
    Table t(Program::Desktop);
    t.table.AddHost("a", 1000, 0);
    t.table.AddHost("b", 2000, 0);
    t.table.AddHost("c", 3000, 0);
    t.table.StopHost(1);
    t.table.AddHost("d", 4000, 0, /*saveList=*/false, /*startProber=*/false);  // takes slot 1
    t.table.StopHost(2);
    ASSERT_TRUE(SaveHostList(dir.path(), t.table));
    EXPECT_EQ(ReadFileBytes(dir.File("conf01.dat")), "0 a 1000\r\r\n0 d 4000\r\r\n");
}

TEST(HostListFile, MissingFileGivesDesktopTwoDefaultHostsAndServiceNone) {
    TempDir dir;
    Table desktop(Program::Desktop);
    LoadHostList(dir.path(), desktop.table);
    ASSERT_EQ(desktop.ActiveCount(), 2);
    for (int slot = 0; slot < 2; ++slot) {
        const HostEntry& e = desktop.table.Entry(slot);
        EXPECT_EQ(e.name, kDefaultHostNames[slot]);
        EXPECT_EQ(e.isIcmp, 1);
        EXPECT_EQ(e.probeValue, 1000);
    }
    EXPECT_EQ(desktop.saves, 0);
    struct stat st {};
    EXPECT_NE(stat(dir.File("conf01.dat").c_str(), &st), 0);  // not written

    Table service(Program::Service);
    LoadHostList(dir.path(), service.table);
    EXPECT_EQ(service.ActiveCount(), 0);
}

TEST(HostListFile, UnreadableFileCountsAsMissing) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.File("conf01.dat").c_str(), 0755), 0);
    Table desktop(Program::Desktop);
    LoadHostList(dir.path(), desktop.table);
    EXPECT_EQ(desktop.ActiveCount(), 2);
}

TEST(HostListFile, LfAndCrLfFilesLoadTheSame) {
    for (const char* end : {"\n", "\r\n", "\r\r\n"}) {
        TempDir dir;
        WriteFileBytes(dir.File("conf01.dat"),
                       std::string("0 127.0.0.1 1000") + end + "443 127.0.0.1 3" + end);
        Table t(Program::Desktop);
        LoadHostList(dir.path(), t.table);
        ASSERT_EQ(t.ActiveCount(), 2) << "line end of " << std::string(end).size() << " bytes";
        EXPECT_EQ(t.table.Entry(0).name, "127.0.0.1");
        EXPECT_EQ(t.table.Entry(1).port, 443);
        EXPECT_EQ(t.table.Entry(1).probeValue, 3);
    }
}

TEST(HostListFile, UnsafeNamesAndIncompleteLinesAreSkipped) {
    TempDir dir;
    WriteFileBytes(dir.File("conf01.dat"),
                   "0 ../../etc 1000\r\r\n"
                   "0 a\\b 1000\r\r\n"
                   "0 .. 1000\r\r\n"
                   "0 . 1000\r\r\n"
                   "0 -rf 1000\r\r\n"
                   "0 bad\x01name 1000\r\r\n"
                   "\r\r\n"
                   "0 onlytwo\r\r\n"
                   "x host 1000\r\r\n"
                   "0 host x\r\r\n"
                   "0 good 1000\r\r\n");
    Table t(Program::Desktop);
    LoadHostList(dir.path(), t.table);
    ASSERT_EQ(t.ActiveCount(), 1);
    EXPECT_EQ(t.table.Entry(0).name, "good");
}

TEST(HostListFile, NamesTheFormatCannotCarryAreNotSaved) {
    TempDir dir;
    Table t(Program::Desktop);
    t.table.AddHost("", 1000, 0, false, false);
    t.table.AddHost("two words", 1000, 0, false, false);
    t.table.AddHost("a/b", 1000, 0, false, false);
    t.table.AddHost("ok", 1000, 0, false, false);
    ASSERT_TRUE(SaveHostList(dir.path(), t.table));
    EXPECT_EQ(ReadFileBytes(dir.File("conf01.dat")), "0 ok 1000\r\r\n");
}

TEST(HostListFile, LineLongerThanAPieceReadsAsTwoLines) {
    // The first 709 characters end in padding; the rest is a line of its own.
    std::string first = "0 127.0.0.1 1000";
    std::string line =
        first + std::string(kMaxPieceChars - first.size(), ' ') + "0 127.0.0.2 2000\r\r\n";
    TempDir dir;
    WriteFileBytes(dir.File("conf01.dat"), line);
    Table t(Program::Service);
    LoadHostList(dir.path(), t.table);
    ASSERT_EQ(t.ActiveCount(), 2);
    EXPECT_EQ(t.table.Entry(0).name, "127.0.0.1");
    EXPECT_EQ(t.table.Entry(1).name, "127.0.0.2");
    EXPECT_EQ(t.table.Entry(1).probeValue, 2000);
}

TEST(HostListFile, LongNameIsCutToItsField) {
    TempDir dir;
    WriteFileBytes(dir.File("conf01.dat"), "0 " + std::string(400, 'h') + " 1000\r\r\n");
    Table t(Program::Desktop);
    LoadHostList(dir.path(), t.table);
    ASSERT_EQ(t.ActiveCount(), 1);
    EXPECT_EQ(t.table.Entry(0).name, std::string(kMaxNameChars, 'h'));
}

TEST(HostListFile, StopsAtAFullTable) {
    std::string text;
    for (int i = 0; i < kMaxHosts + 1; ++i) {
        text += "0 h" + std::to_string(i) + " 0\r\r\n";
    }
    TempDir dir;
    WriteFileBytes(dir.File("conf01.dat"), text);
    Table t(Program::Desktop);
    LoadHostList(dir.path(), t.table);
    EXPECT_EQ(t.ActiveCount(), kMaxHosts);
    EXPECT_EQ(t.table.Entry(kMaxHosts - 1).name, "h99");
    EXPECT_EQ(t.sink.Count(), 1u);  // "No free space - remove a host"
}

TEST(HostListFile, FailedSaveKeepsThePreviousList) {
    TempDir dir;
    WriteFileBytes(dir.File("conf01.dat"), kHostList);
    Table t(Program::Desktop);
    t.table.AddHost("127.0.0.9", 1000, 0);
    EXPECT_FALSE(SaveHostList(dir.File("missing-folder"), t.table));
    EXPECT_EQ(ReadFileBytes(dir.File("conf01.dat")), kHostList);
}

}  // namespace
}  // namespace qv
