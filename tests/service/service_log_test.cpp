// The service log: emptying, appending lines with CR CR LF, and losing lines quietly.
#include "service/service_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

TEST(ServiceLogTest, NoTextEmptiesAnExistingLogAndCreatesAMissingOne) {
    TempDir dir;
    const std::string log = dir.File("BrevixSvc.log");
    EXPECT_EQ(ServiceLogPath(dir.path()), log);
    EXPECT_EQ(ServiceLogPath(dir.path() + "/"), log);

    WriteServiceLog(dir.path(), std::nullopt);
    EXPECT_TRUE(std::filesystem::exists(log));
    EXPECT_EQ(ReadFileBytes(log), "");

    WriteFileBytes(log, "old run\r\r\n");
    WriteServiceLog(dir.path(), std::nullopt);
    EXPECT_EQ(ReadFileBytes(log), "");
}

TEST(ServiceLogTest, EachTextIsAppendedAsOneLineEndingInCrCrLf) {
    TempDir dir;
    WriteServiceLog(dir.path(), "Start");
    WriteServiceLog(dir.path(), dir.path());
    WriteServiceLog(dir.path(), "");
    WriteServiceLog(dir.path(), "h\xc3\xa9te");
    EXPECT_EQ(ReadFileBytes(dir.File("BrevixSvc.log")),
              "Start\r\r\n" + dir.path() + "\r\r\n\r\r\nh\xc3\xa9te\r\r\n");
}

TEST(ServiceLogTest, AMissingFolderLosesTheLineWithoutCreatingAnything) {
    TempDir dir;
    const std::string missing = dir.File("not-there");
    WriteServiceLog(missing, std::nullopt);
    WriteServiceLog(missing, "lost");
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST(ServiceLogTest, LinesFromTwoThreadsAtOnceStayWhole) {
    TempDir dir;
    const std::string first(200, 'a');
    const std::string second(200, 'b');
    constexpr int kLines = 300;
    auto writer = [&](const std::string& text) {
        for (int i = 0; i < kLines; ++i) {
            WriteServiceLog(dir.path(), text);
        }
    };
    std::thread a(writer, first);
    std::thread b(writer, second);
    a.join();
    b.join();

    const std::string bytes = ReadFileBytes(dir.File("BrevixSvc.log"));
    int firsts = 0;
    int seconds = 0;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\r\n", start);
        ASSERT_NE(end, std::string::npos);
        std::string line = bytes.substr(start, end - start);
        if (line == first) {
            ++firsts;
        } else if (line == second) {
            ++seconds;
        } else {
            FAIL() << "torn line: " << line.substr(0, 40);
        }
        start = end + 3;
    }
    EXPECT_EQ(firsts, kLines);
    EXPECT_EQ(seconds, kLines);
}

TEST(ServiceLogSinkTest, EachMessageIsOneLogLineAndOneStderrLine) {
    TempDir dir;
    std::FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    ServiceLogSink sink(dir.path(), err);
    sink.ShowMessage("Can't resolve host nonexistent.invalid", "Error", MessageIcon::Error);
    sink.ShowMessage("first\r\nsecond\r\n", "Error", MessageIcon::Error);

    EXPECT_EQ(ReadFileBytes(dir.File("BrevixSvc.log")),
              "Can't resolve host nonexistent.invalid\r\r\nfirst second\r\r\n");
    std::rewind(err);
    char buffer[256] = {};
    const size_t n = std::fread(buffer, 1, sizeof buffer - 1, err);
    std::fclose(err);
    EXPECT_EQ(std::string(buffer, n),
              "Halvoric: Can't resolve host nonexistent.invalid\nHalvoric: first second\n");
}

std::string ReadAll(std::FILE* file) {
    std::rewind(file);
    std::string text;
    char buffer[512];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
    }
    return text;
}

// A peer's reply reaches the log as it came: it must not be able to write lines of its own
// or send the terminal of whoever reads the log escape sequences.
TEST(ServiceLogTest, ATextIsAlwaysOneLineWithoutControlCharacters) {
    TempDir dir;
    WriteServiceLog(dir.path(), "550-Service stopped.\r\n550-Start\r\n");
    EXPECT_EQ(ReadFileBytes(dir.File("BrevixSvc.log")), "550-Service stopped. 550-Start\r\r\n");

    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"a\r\r\nb\nc\rd\n\n", "a b c d"},
        {std::string("nul\0byte", 8), "nul?byte"},
        {"\x1b[2Jesc\x7f", "?[2Jesc?"},
        {"tab\there", "tab here"},
        {"csi \xc2\x9b"
         "31m",
         "csi ?31m"},
        {"h\xc3\xa9te \xc2\xa0", "h\xc3\xa9te \xc2\xa0"},  // printable UTF-8 stays
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OneLogLine(c.in), c.out) << c.in;
    }
}

// As root, the service writes into a folder that a user owns: whatever the user put in the
// log's place is refused, named on stderr, and what it points at stays as it was.
TEST(ServiceLogTest, ALinkOrSpecialFileInTheLogsPlaceIsNeverWritten) {
    TempDir elsewhere;
    const std::string target = elsewhere.File("precious");
    const struct {
        const char* what;
        std::function<int(const std::string&)> place;
        const char* why;
    } cases[] = {
        {"symbolic link",
         [&](const std::string& log) { return ::symlink(target.c_str(), log.c_str()); },
         " is a symbolic link; it is not followed"},
        {"hard link", [&](const std::string& log) { return ::link(target.c_str(), log.c_str()); },
         " has other names (hard links); it is not written"},
        {"fifo", [](const std::string& log) { return ::mkfifo(log.c_str(), 0600); },
         " is not a regular file"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        WriteFileBytes(target, "keep me");
        const std::string log = dir.File("BrevixSvc.log");
        ASSERT_EQ(c.place(log), 0) << c.what;
        std::FILE* err = std::tmpfile();
        ASSERT_NE(err, nullptr);
        WriteServiceLog(dir.path(), std::nullopt, err);
        WriteServiceLog(dir.path(), "Start", err);
        EXPECT_EQ(ReadAll(err), "Halvoric: " + log + c.why + "\n") << c.what;
        std::fclose(err);
        EXPECT_EQ(ReadFileBytes(target), "keep me") << c.what;
    }
}

}  // namespace
}  // namespace qv
