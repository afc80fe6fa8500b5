// The built HalvoricSvc run as the service on a temp data folder: its log, its answers
// to the control signals, its end, and the e-mail errors it notes.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/settings.h"
#include "log_lines.h"
#include "platform/icmp_socket.h"
#include "platform/net.h"
#include "platform/process.h"
#include "service/service_log.h"
#include "service_process.h"
#include "settings/config_files.h"
#include "support/lib/tcp_loopback.h"
#include "support/lib/temp_dir.h"

#ifdef QV_SERVICE_PROGRAM

namespace qv {
namespace {

using test::LogLines;
using test::ReadFileBytes;
using test::ServiceProcess;
using test::TempDir;
using test::WriteFileBytes;
using ::testing::ElementsAre;
using Clock = std::chrono::steady_clock;

// Waits until the log holds at least `count` lines (a few seconds at most).
std::vector<std::string> WaitForLines(const std::string& dataDir, size_t count,
                                      std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = Clock::now() + limit;
    std::vector<std::string> lines = LogLines(dataDir);
    while (lines.size() < count && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lines = LogLines(dataDir);
    }
    return lines;
}

class ServiceRunTest : public ::testing::Test {
  protected:
    std::string DataDir() const { return dir.File("data"); }
    std::string Output() const { return ReadFileBytes(dir.File("output")); }
    // Two TCP hosts on a closed loopback port. (TCP, so that no user lacks the right to
    // probe them and no prober adds a message of its own to the log.)
    void WriteTwoHosts() {
        std::filesystem::create_directories(DataDir());
        const std::string line = std::to_string(closedPort.Port()) + " 127.0.0.1 5\r\r\n";
        WriteFileBytes(DataDir() + "/conf01.dat", line + line);
    }

    TempDir dir;
    test::TcpRefusingPort closedPort;  // held for the whole test: nothing may listen there
};

TEST_F(ServiceRunTest, StartLogsHostsControlsAreLoggedAndStopEndsItPromptly) {
    WriteTwoHosts();
    ServiceProcess service({DataDir()}, dir.path(), dir.File("output"));
    ASSERT_TRUE(service.Started());

    const std::vector<std::string> start = WaitForLines(DataDir(), 4);
    EXPECT_THAT(start, ElementsAre("Start", DataDir(), "127.0.0.1", "127.0.0.1")) << Output();
    // A few ticks later nothing more has been logged.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(LogLines(DataDir()).size(), 4u) << Output();

    service.Signal(SIGUSR1);
    std::vector<std::string> lines = WaitForLines(DataDir(), 6);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_THAT(std::vector<std::string>(lines.begin() + 4, lines.end()),
                ElementsAre("ServiceCtrlHandler()", "Service start."));
    EXPECT_TRUE(service.Running());

    service.Signal(SIGUSR2);
    lines = WaitForLines(DataDir(), 7);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[6], "ServiceCtrlHandler()");
    EXPECT_TRUE(service.Running());

    const auto stopAt = Clock::now();
    service.Signal(SIGTERM);
    std::optional<int> status = service.WaitForExit(std::chrono::seconds(5));
    const auto took = Clock::now() - stopAt;
    ASSERT_TRUE(status.has_value()) << "still running 5 s after SIGTERM";
    EXPECT_EQ(*status, 0) << Output();
    EXPECT_LT(took, std::chrono::milliseconds(2500));
    lines = LogLines(DataDir());
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_THAT(std::vector<std::string>(lines.begin() + 7, lines.end()),
                ElementsAre("ServiceCtrlHandler()", "Service stopped."));
}

TEST_F(ServiceRunTest, ASecondStartBeginsAFreshLog) {
    WriteTwoHosts();
    {
        ServiceProcess first({DataDir()}, dir.path(), dir.File("output"));
        ASSERT_EQ(WaitForLines(DataDir(), 4).size(), 4u) << Output();
        first.Signal(SIGINT);  // a stop like SIGTERM
        ASSERT_TRUE(first.WaitForExit(std::chrono::seconds(5)).has_value());
        ASSERT_EQ(LogLines(DataDir()).size(), 6u);
    }
    ServiceProcess second({DataDir()}, dir.path(), dir.File("output"));
    // Wait for the fresh start: the stop lines of the first run must be gone.
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (LogLines(DataDir()) !=
               std::vector<std::string>{"Start", DataDir(), "127.0.0.1", "127.0.0.1"} &&
           Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_THAT(LogLines(DataDir()), ElementsAre("Start", DataDir(), "127.0.0.1", "127.0.0.1"));
    second.Signal(SIGTERM);
    EXPECT_EQ(second.WaitForExit(std::chrono::seconds(5)), std::optional<int>(0)) << Output();
}

TEST_F(ServiceRunTest, ASecondServiceOnTheSameFolderRefusesAndLeavesTheFirstAlone) {
    WriteTwoHosts();
    ServiceProcess first({DataDir()}, dir.path(), dir.File("output"));
    const std::vector<std::string> start = WaitForLines(DataDir(), 4);
    ASSERT_EQ(start.size(), 4u) << Output();

    ServiceProcess second({DataDir()}, dir.path(), dir.File("output2"));
    const std::optional<int> status = second.WaitForExit(std::chrono::seconds(5));
    ASSERT_TRUE(status.has_value()) << "the second service program is still running";
    EXPECT_NE(*status, 0);
    const std::string said = ReadFileBytes(dir.File("output2"));
    EXPECT_NE(
        said.find("Halvoric: Another service program already runs on the data folder " + DataDir()),
        std::string::npos)
        << said;
    EXPECT_EQ(LogLines(DataDir()), start);
    EXPECT_TRUE(first.Running());

    // A symlink in the lock's place is not followed, and not taken for the lock.
    first.Signal(SIGTERM);
    ASSERT_EQ(first.WaitForExit(std::chrono::seconds(5)), std::optional<int>(0)) << Output();
    const std::string lock = DataDir() + "/HalvoricSvc.lock";
    ASSERT_EQ(::unlink(lock.c_str()), 0);
    ASSERT_EQ(::symlink(dir.File("elsewhere").c_str(), lock.c_str()), 0);
    ServiceProcess third({DataDir()}, dir.path(), dir.File("output3"));
    EXPECT_NE(third.WaitForExit(std::chrono::seconds(5)).value_or(0), 0);
    EXPECT_NE(ReadFileBytes(dir.File("output3")).find("Halvoric: Can't open " + lock),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.File("elsewhere")));
    EXPECT_EQ(LogLines(DataDir()).back(), "Service stopped.");
}

TEST_F(ServiceRunTest, RefusedMailIsRetriedEveryTickAndLoggedOnceAMinuteWithACount) {
    int icmpError = 0;
    if (!IcmpSocket::Open(IcmpSocketKind::Auto, 1, &icmpError).Valid()) {
        GTEST_SKIP() << "this user may not open ICMP sockets (needs root, CAP_NET_RAW or "
                        "net.ipv4.ping_group_range), so the ICMP host would log that instead";
    }
    std::filesystem::create_directories(DataDir());
    // The prober looks the name up again every second: a label longer than 63 bytes is
    // refused by the resolver itself, so no lookup leaves the machine.
    const std::string unknown = std::string(70, 'x') + ".invalid";
    WriteFileBytes(DataDir() + "/conf01.dat", "0 " + unknown + " 1000\r\r\n");
    Settings settings;
    settings.icmp.emailEnabled = 1;
    settings.icmp.emailAfter = 0;
    settings.icmp.emailAddress = "monitor@example.invalid";
    settings.icmp.smtpServer = "127.0.0.1";
    settings.icmp.smtpPort = closedPort.Port();
    ASSERT_TRUE(SaveSettings(DataDir(), settings));

    ServiceProcess service({DataDir()}, dir.path(), dir.File("output"));
    ASSERT_TRUE(service.Started());
    ASSERT_GE(WaitForLines(DataDir(), 3).size(), 3u);
    const auto begin = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    const auto seconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count() /
        1000.0;
    service.Signal(SIGTERM);
    std::optional<int> status = service.WaitForExit(std::chrono::seconds(5));
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0) << Output();

    const std::vector<std::string> lines = LogLines(DataDir());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_THAT(std::vector<std::string>(lines.begin(), lines.begin() + 3),
                ElementsAre("Start", DataDir(), unknown));
    const std::string refused = "Unable to connect to server 127.0.0.1 (100007f)";
    std::vector<std::string> mailErrors;
    int resolveErrors = 0;
    for (size_t i = 3; i < lines.size(); ++i) {
        if (lines[i].rfind(refused, 0) == 0) {
            mailErrors.push_back(lines[i]);
        } else if (lines[i].find("resolve") != std::string::npos &&
                   lines[i].find(unknown) != std::string::npos) {
            ++resolveErrors;
        } else if (lines[i] != "ServiceCtrlHandler()" && lines[i] != "Service stopped.") {
            ADD_FAILURE() << "unexpected log line: " << lines[i];
        }
    }
    EXPECT_EQ(resolveErrors, 1);  // shown once, however often the name is tried again
    // The first failure is logged as it is; the retries of every later tick (about one a
    // second) are counted, and their count is logged when the monitoring ends.
    ASSERT_EQ(mailErrors.size(), 2u);
    EXPECT_EQ(mailErrors[0], refused);
    int repeats = 0;
    ASSERT_EQ(std::sscanf(mailErrors[1].c_str() + refused.size(), " (%d more times)", &repeats), 1)
        << mailErrors[1];
    EXPECT_GE(repeats, 2);
    EXPECT_LE(repeats, static_cast<int>(seconds) + 1);
    EXPECT_EQ(lines.back(), mailErrors[1]);
    EXPECT_EQ(lines[lines.size() - 2], "Service stopped.");
}

// Also the first start in a folder that does not exist yet: the folder is made first, so
// the opening lines are not lost.
// "-d" alone is an option (the usage, status 2, nothing made); the folder "-d" is "./-d".
TEST_F(ServiceRunTest, AFolderNamedDashDIsGivenAsDotSlash) {
    {
        ServiceProcess refused({"-d"}, dir.path(), dir.File("output"));
        std::optional<int> status = refused.WaitForExit(std::chrono::seconds(5));
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(*status, 2);
        EXPECT_FALSE(std::filesystem::exists(dir.File("-d")));
    }
    ServiceProcess service({"./-d"}, dir.path(), dir.File("output"));
    ASSERT_TRUE(service.Started());
    const std::string dataDir = dir.File("-d");
    EXPECT_THAT(WaitForLines(dataDir, 2), ElementsAre("Start", "./-d")) << Output();
    EXPECT_TRUE(std::filesystem::is_directory(dataDir));
    service.Signal(SIGTERM);
    std::optional<int> status = service.WaitForExit(std::chrono::seconds(5));
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(Output(), "");
}

TEST(ServiceProgramTest, CommandLinesThatDoNothingPrintNothingAndExitZero) {
    TempDir dir;
    test::TcpRefusingPort closedPort;  // held for the whole test: nothing may listen there
    for (std::vector<std::string> args :
         {std::vector<std::string>{}, std::vector<std::string>{"-I", dir.path()},
          std::vector<std::string>{"a", "b", "c"}}) {
        ServiceProcess program(args, dir.path(), dir.File("output"));
        std::optional<int> status = program.WaitForExit(std::chrono::seconds(5));
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(*status, 0);
        EXPECT_EQ(ReadFileBytes(dir.File("output")), "");
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("BrevixSvc.log")));
}

}  // namespace
}  // namespace qv

#endif  // QV_SERVICE_PROGRAM
