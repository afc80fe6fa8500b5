// Traceroute capture with fake tools: file naming, tool fallback, start failures, unsafe
// names and ending captures that still run.
#include "core/traceroute.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "core/host_file_name.h"
#include "platform/error_text.h"
#include "support/lib/recording_sink.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using test::ReadFileBytes;
using test::RecordingMessageSink;
using test::TempDir;
using test::WriteFileBytes;

// A stand-in for the traceroute tool: prints its arguments, one per line, and something
// on standard error that must not reach the capture.
const char kFakeTool[] =
    "#!/bin/sh\n"
    "echo \"hops of $#\"\n"
    "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done\n"
    "echo noise >&2\n";

std::string MakeTool(const TempDir& dir, const std::string& name, const std::string& body,
                     mode_t mode = 0755) {
    std::string path = dir.File(name);
    WriteFileBytes(path, body);
    ::chmod(path.c_str(), mode);
    return path;
}

bool WaitIdle(TracerouteCapture& capture) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (capture.PendingCaptures() != 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::set<std::string> Listing(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(dir)) {
        names.insert(item.path().filename().string());
    }
    return names;
}

struct CaptureFixture {
    TempDir tools;
    TempDir data;
    RecordingMessageSink sink;
    std::string fake = MakeTool(tools, "fake-trace", kFakeTool);
};

TEST(TracerouteCapture, NumbersCapturesAndKeepsWhatTheToolPrinted) {
    CaptureFixture f;
    TracerouteCapture capture(f.data.path(), f.sink, {f.fake});
    HostEntry entry;
    entry.name = "router";
    for (int i = 0; i < 3; ++i) {
        capture.Start(entry);
    }
    EXPECT_EQ(entry.traceCount, 3u);
    ASSERT_TRUE(WaitIdle(capture));
    EXPECT_EQ(Listing(f.data.path()),
              (std::set<std::string>{"router_1.trace", "router_2.trace", "router_3.trace"}));
    EXPECT_EQ(ReadFileBytes(f.data.File("router_3.trace")), "hops of 1\n[router]\n");
    EXPECT_EQ(f.sink.Count(), 0u);
}

TEST(TracerouteCapture, NameIsTakenWhenStartingAndOldCaptureIsReplaced) {
    CaptureFixture f;
    WriteFileBytes(f.data.File("router_1.trace"), std::string(5000, 'o'));
    TracerouteCapture capture(f.data.path(), f.sink, {f.fake});
    HostEntry entry;
    entry.name = "router";
    capture.Start(entry);
    entry.name = "changed";
    ASSERT_TRUE(WaitIdle(capture));
    EXPECT_EQ(ReadFileBytes(f.data.File("router_1.trace")), "hops of 1\n[router]\n");
    EXPECT_EQ(Listing(f.data.path()).size(), 1u);
}

TEST(TracerouteCapture, HostsProbedOverIpv6AreTracedOverIpv6) {
    CaptureFixture f;
    TracerouteCapture capture(f.data.path(), f.sink, {f.fake});
    struct Case {
        const char* name;
        uint8_t probedOverIpv6;
        const char* file;
        const char* printed;
    };
    for (const Case& c : {
             Case{"::1", 0, "::1_1.trace", "hops of 2\n[-6]\n[::1]\n"},
             Case{"fe80::1%eth0", 0, "fe80::1%eth0_1.trace", "hops of 2\n[-6]\n[fe80::1%eth0]\n"},
             Case{"v6only.test", 1, "v6only.test_1.trace", "hops of 2\n[-6]\n[v6only.test]\n"},
             Case{"v4.test", 0, "v4.test_1.trace", "hops of 1\n[v4.test]\n"},
             // A literal says what it is, whatever the prober found.
             Case{"10.0.0.1", 1, "10.0.0.1_1.trace", "hops of 1\n[10.0.0.1]\n"},
         }) {
        HostEntry entry;
        entry.name = c.name;
        entry.targetIsIpv6 = c.probedOverIpv6;
        capture.Start(entry);
        ASSERT_TRUE(WaitIdle(capture));
        EXPECT_EQ(ReadFileBytes(f.data.File(c.file)), c.printed) << c.name;
    }
    EXPECT_EQ(Listing(f.data.path()).size(), 5u);  // every capture inside the data folder
    EXPECT_EQ(f.sink.Count(), 0u);
}

TEST(TracerouteCapture, FallsBackToTheNextToolThatExists) {
    CaptureFixture f;
    TracerouteCapture capture(f.data.path(), f.sink, {f.tools.File("absent-tool"), f.fake});
    HostEntry entry;
    entry.name = "10.0.0.1";
    capture.Start(entry);
    ASSERT_TRUE(WaitIdle(capture));
    EXPECT_EQ(ReadFileBytes(f.data.File("10.0.0.1_1.trace")), "hops of 1\n[10.0.0.1]\n");
}

TEST(TracerouteCapture, StartFailureIsReportedWithTheSystemsText) {
    CaptureFixture f;
    std::string notRunnable = MakeTool(f.tools, "not-runnable", kFakeTool, 0644);
    {
        TracerouteCapture capture(f.data.path(), f.sink, {notRunnable});
        HostEntry entry;
        entry.name = "router";
        capture.Start(entry);
        ASSERT_TRUE(WaitIdle(capture));
    }
    {
        TracerouteCapture capture(f.data.path(), f.sink, {f.tools.File("no-such-tool")});
        HostEntry entry;
        entry.name = "router";
        capture.Start(entry);
        ASSERT_TRUE(WaitIdle(capture));
    }
    std::vector<test::RecordedMessage> messages = f.sink.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, SystemErrorText(EACCES));
    EXPECT_EQ(messages[1].text, SystemErrorText(ENOENT));
    for (const auto& m : messages) {
        EXPECT_EQ(m.caption, "Error");
        EXPECT_EQ(m.icon, MessageIcon::Information);
    }
    EXPECT_TRUE(Listing(f.data.path()).empty());
}

TEST(TracerouteCapture, UnwritableCaptureFileIsReported) {
    CaptureFixture f;
    TracerouteCapture capture(f.data.path() + "/missing", f.sink, {f.fake});
    HostEntry entry;
    entry.name = "router";
    capture.Start(entry);
    ASSERT_TRUE(WaitIdle(capture));
    ASSERT_EQ(f.sink.Count(), 1u);
    EXPECT_EQ(f.sink.Messages()[0].text,
              f.data.path() + "/missing/router_1.trace: " + SystemErrorText(ENOENT));
}

// A link a user put in the data folder in place of the next capture is refused; the tool
// does not run and the file the link points at stays as it was.
TEST(TracerouteCapture, ALinkInTheCapturesPlaceIsRefused) {
    CaptureFixture f;
    const std::string target = f.tools.File("precious");
    WriteFileBytes(target, "keep me");
    ASSERT_EQ(::symlink(target.c_str(), f.data.File("router_1.trace").c_str()), 0);
    TracerouteCapture capture(f.data.path(), f.sink, {f.fake});
    HostEntry entry;
    entry.name = "router";
    capture.Start(entry);
    ASSERT_TRUE(WaitIdle(capture));
    EXPECT_EQ(ReadFileBytes(target), "keep me");
    ASSERT_EQ(f.sink.Count(), 1u);
    EXPECT_EQ(f.sink.Messages()[0].text,
              f.data.File("router_1.trace") + " is a symbolic link; it is not followed");
}

// A name too long for a file name is cut in the file name only; the tool gets it whole.
TEST(TracerouteCapture, ALongNameIsCutInTheFileNameOnly) {
    CaptureFixture f;
    TracerouteCapture capture(f.data.path(), f.sink, {f.fake});
    HostEntry entry;
    entry.name = std::string(250, 'h');
    capture.Start(entry);
    ASSERT_TRUE(WaitIdle(capture));
    const std::string file = HostFileStem(entry.name) + "_1.trace";
    EXPECT_EQ(Listing(f.data.path()), (std::set<std::string>{file}));
    EXPECT_EQ(ReadFileBytes(f.data.File(file)), "hops of 1\n[" + entry.name + "]\n");
    EXPECT_EQ(f.sink.Count(), 0u);
}

// Host names reach only an argument vector and a file name inside the data folder.
TEST(TracerouteCapture, UnsafeNamesNeverLeaveTheDataFolderOrReachAShell) {
    CaptureFixture f;
    TracerouteCapture capture(f.data.path(), f.sink, {f.fake});
    for (const char* name : {"a;touch x", "../x", "", "-n", "a\nb"}) {
        HostEntry entry;
        entry.name = name;
        capture.Start(entry);
        EXPECT_EQ(entry.traceCount, 0u) << name;
    }
    for (const char* name : {"$(id)", "a;touch_x", "`id`|x&"}) {
        HostEntry entry;
        entry.name = name;
        capture.Start(entry);
    }
    ASSERT_TRUE(WaitIdle(capture));
    EXPECT_EQ(Listing(f.data.path()),
              (std::set<std::string>{"$(id)_1.trace", "a;touch_x_1.trace", "`id`|x&_1.trace"}));
    EXPECT_EQ(ReadFileBytes(f.data.File("$(id)_1.trace")), "hops of 1\n[$(id)]\n");
    EXPECT_EQ(ReadFileBytes(f.data.File("a;touch_x_1.trace")), "hops of 1\n[a;touch_x]\n");
    EXPECT_EQ(Listing(f.tools.path()), (std::set<std::string>{"fake-trace"}));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(f.data.path()).parent_path() / "x"));
    EXPECT_FALSE(std::filesystem::exists("touch_x"));
    EXPECT_FALSE(std::filesystem::exists("x"));
}

TEST(TracerouteCapture, DestructorEndsCapturesThatStillRun) {
    CaptureFixture f;
    std::string slow = MakeTool(f.tools, "slow-trace", "#!/bin/sh\necho started\nexec sleep 30\n");
    auto begin = std::chrono::steady_clock::now();
    {
        TracerouteCapture capture(f.data.path(), f.sink, {slow});
        HostEntry a;
        a.name = "one";
        HostEntry b;
        b.name = "two";
        capture.Start(a);
        capture.Start(b);
        // Let the tools get going so the processes, not only the threads, are ended.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while ((ReadFileBytes(f.data.File("one_1.trace")).empty() ||
                ReadFileBytes(f.data.File("two_1.trace")).empty()) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(capture.PendingCaptures(), 2u);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
    EXPECT_EQ(ReadFileBytes(f.data.File("one_1.trace")), "started\n");
}

}  // namespace
}  // namespace qv
