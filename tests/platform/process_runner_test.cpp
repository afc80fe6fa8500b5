// Running a program to its end: a program that hangs, one that ignores SIGTERM, and one
// whose grandchild keeps its standard error open all end in bounded time.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "platform/process.h"
#include "support/lib/support_dir.h"

namespace qv {
namespace {

std::string Stubborn() {
    return std::string(test::SupportBinDir()) + "/stubborn_program";
}

// Gone, or a zombie waiting for whoever adopted it.
bool ProcessGone(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidField, name, state;
    return !(stat >> pidField >> name >> state) || state == "Z" || state == "X";
}

TEST(SystemProcessRunner, EveryRunEndsInBoundedTime) {
    using Clock = std::chrono::steady_clock;
    using Output = SystemProcessRunner::Output;
    struct Case {
        const char* mode;
        int runMs;        // the runner's limit (0: none)
        int endWithinMs;  // EndRunsWithin from another thread after 100 ms (-1: not)
        bool cutShort;
        int exitCode;
        const char* output;  // the start of what it wrote
        int maxMs;
    };
    const Case cases[] = {
        {"hang", 300, -1, true, 128 + SIGTERM, "started\n", 2000},
        {"hang", 0, 200, true, 128 + SIGTERM, "started\n", 2000},
        {"deaf", 300, -1, true, 128 + SIGKILL, "started\n", 3000},
        {"closes", 300, -1, true, 128 + SIGTERM, "", 2000},
        // Ends by itself: its code counts, and the grandchild holding stderr goes.
        {"grandchild", 0, -1, false, 3, "grandchild ", 3000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        SystemProcessRunner runner(Output::ErrorOnly, {c.runMs, /*ownGroup=*/true});
        std::thread ender;
        if (c.endWithinMs >= 0) {
            ender = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                runner.EndRunsWithin(c.endWithinMs);
            });
        }
        const auto start = Clock::now();
        const ProcessResult result = runner.Run({Stubborn(), c.mode});
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        if (ender.joinable()) {
            ender.join();
        }
        EXPECT_EQ(result.startError, 0);
        EXPECT_EQ(result.cutShort, c.cutShort);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(result.output.rfind(c.output, 0), 0u) << result.output;
        EXPECT_LT(ms, c.maxMs);
        if (std::string(c.mode) == "grandchild") {
            const int grandchild = std::stoi(result.output.substr(11));
            for (int i = 0; i < 100 && !ProcessGone(grandchild); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            EXPECT_TRUE(ProcessGone(grandchild)) << "the grandchild outlived the run";
        }
    }
}

TEST(SystemProcessRunner, AQuickProgramKeepsItsOutputAndCode) {
    SystemProcessRunner runner(SystemProcessRunner::Output::Both, {5000, true});
    const ProcessResult result = runner.Run({"sh", "-c", "echo out; echo err >&2; exit 4"});
    EXPECT_FALSE(result.cutShort);
    EXPECT_EQ(result.exitCode, 4);
    EXPECT_EQ(result.output, "out\nerr\n");
    EXPECT_EQ(runner.Run({"/nonexistent/program"}).startError, ENOENT);
}

}  // namespace
}  // namespace qv
