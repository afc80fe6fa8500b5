// The service's control handler and the signal dispatcher, in-process.
#include "service/service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "log_lines.h"
#include "service/service_log.h"
#include "service/service_main.h"
#include "support/lib/fake_clock.h"
#include "support/lib/fake_seams.h"
#include "support/lib/recording_sink.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using test::LogLines;
using test::TempDir;
using ::testing::ElementsAre;

// Waits (a few seconds at most) until the log holds `count` lines.
bool WaitForLogLines(const std::string& dataDir, size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        if (LogLines(dataDir).size() >= count) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

struct RecordedReports {
    std::mutex mutex;
    std::vector<std::string> reports;
    StatusNotifier Notifier() {
        return [this](const char* state) {
            std::lock_guard<std::mutex> lock(mutex);
            reports.push_back(state);
        };
    }
    std::vector<std::string> Get() {
        std::lock_guard<std::mutex> lock(mutex);
        return reports;
    }
};

TEST(ServiceControlTest, ControlCodesOfTheSignals) {
    EXPECT_EQ(ControlCodeOfSignal(SIGTERM), kControlStop);
    EXPECT_EQ(ControlCodeOfSignal(SIGINT), kControlStop);
    EXPECT_EQ(ControlCodeOfSignal(SIGUSR1), kControlContinue);
    EXPECT_EQ(ControlCodeOfSignal(SIGUSR2), kControlInterrogate);
    EXPECT_EQ(ControlCodeOfSignal(SIGHUP), 0);
}

TEST(ServiceControlTest, HandlerLogsEachRequestAndOnlyStopChangesTheState) {
    TempDir dir;
    RecordedReports reports;
    ServiceControl control(dir.path(), reports.Notifier());
    control.ReportRunning();
    control.ServiceCtrlHandler(kControlContinue);
    control.ServiceCtrlHandler(kControlInterrogate);
    control.ServiceCtrlHandler(77);
    EXPECT_TRUE(control.Running());
    control.ServiceCtrlHandler(kControlStop);
    EXPECT_EQ(control.State(), ServiceState::Stopped);
    control.ServiceCtrlHandler(kControlContinue);  // a continue does not restart it
    EXPECT_EQ(control.State(), ServiceState::Stopped);

    EXPECT_THAT(LogLines(dir.path()),
                ElementsAre("ServiceCtrlHandler()", "Service start.", "ServiceCtrlHandler()",
                            "ServiceCtrlHandler()", "ServiceCtrlHandler()", "Service stopped.",
                            "ServiceCtrlHandler()", "Service start."));
    EXPECT_THAT(reports.Get(), ElementsAre("READY=1", "STOPPING=1"));
}

TEST(ServiceControlTest, WaitRunsOutWhileRunningAndEndsEarlyOnStop) {
    TempDir dir;
    ServiceControl control(dir.path(), nullptr);
    EXPECT_TRUE(control.WaitWhileRunning(std::chrono::milliseconds(10)));

    const auto start = std::chrono::steady_clock::now();
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        control.ServiceCtrlHandler(kControlStop);
    });
    EXPECT_FALSE(control.WaitWhileRunning(std::chrono::seconds(30)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    stopper.join();
    EXPECT_FALSE(control.WaitWhileRunning(std::chrono::seconds(30)));  // at once
}

TEST(ServiceDispatcherTest, SignalsReachTheHandlerUntilTheBodyReturns) {
    TempDir dir;
    RecordedReports reports;
    const pthread_t dispatcher = pthread_self();
    bool allSeen = false;
    bool stopSeen = false;
    const int status = RunServiceDispatcher(
        dir.path(),
        [&](ServiceControl& control) {
            control.ReportRunning();
            // The dispatcher's own end signal, sent from elsewhere, must not end it.
            pthread_kill(dispatcher, SIGRTMIN);
            // Signals to the dispatcher's thread only, one at a time, so none coalesce.
            pthread_kill(dispatcher, SIGUSR1);
            bool ok = WaitForLogLines(dir.path(), 2);
            pthread_kill(dispatcher, SIGUSR2);
            ok = ok && WaitForLogLines(dir.path(), 3);
            pthread_kill(dispatcher, SIGTERM);
            while (control.WaitWhileRunning(std::chrono::seconds(5))) {
            }
            stopSeen = control.State() == ServiceState::Stopped;
            allSeen = ok;
            return 7;
        },
        reports.Notifier());
    EXPECT_EQ(status, 7);
    EXPECT_TRUE(allSeen);
    EXPECT_TRUE(stopSeen);
    EXPECT_THAT(LogLines(dir.path()),
                ElementsAre("ServiceCtrlHandler()", "Service start.", "ServiceCtrlHandler()",
                            "ServiceCtrlHandler()", "Service stopped."));
    EXPECT_THAT(reports.Get(), ElementsAre("READY=1", "STOPPING=1"));
}

TEST(ServiceDispatcherTest, HangUpIsLoggedAndIgnoredAndABrokenPipeEndsNothing) {
    TempDir dir;
    const pthread_t dispatcher = pthread_self();
    ssize_t written = 0;
    int writeError = 0;
    bool runningAfter = false;
    const int status = RunServiceDispatcher(
        dir.path(),
        [&](ServiceControl& control) {
            pthread_kill(dispatcher, SIGHUP);
            const bool logged = WaitForLogLines(dir.path(), 1);
            // A write to a pipe nobody reads, as to a mail server that hung up.
            int fds[2];
            if (::pipe(fds) != 0) {
                return 9;
            }
            ::close(fds[0]);
            written = ::write(fds[1], "x", 1);
            writeError = errno;
            ::close(fds[1]);
            runningAfter = control.Running();
            pthread_kill(dispatcher, SIGTERM);
            while (control.WaitWhileRunning(std::chrono::seconds(5))) {
            }
            return logged ? 0 : 8;
        },
        nullptr);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(written, -1);
    EXPECT_EQ(writeError, EPIPE);
    EXPECT_TRUE(runningAfter);
    EXPECT_THAT(LogLines(dir.path()),
                ElementsAre("SIGHUP ignored.", "ServiceCtrlHandler()", "Service stopped."));
}

TEST(ServiceDispatcherTest, ABodyThatGivesUpEndsTheDispatcherWithItsStatus) {
    TempDir dir;
    EXPECT_EQ(RunServiceDispatcher(
                  dir.path(), [](ServiceControl&) { return 2; }, nullptr),
              2);
    EXPECT_TRUE(LogLines(dir.path()).empty());
}

TEST(ServiceStatusTest, SaysHowManyProbedHostsThereAreAndHowManyAreDown) {
    FakeClock clock;
    test::RecordingMessageSink sink;
    HostTable table(Program::Service, clock, sink, test::NoProbers());
    EXPECT_EQ(ServiceStatusText(table),
              "Monitoring no hosts: the host list conf01.dat is empty or missing");
    table.AddHost("a", 1000, 0);
    table.AddHost("-", 0, 0);  // a placeholder is not probed
    EXPECT_EQ(ServiceStatusText(table), "Monitoring 1 host, 1 down");
    table.Entry(0).up = 1;
    EXPECT_EQ(ServiceStatusText(table), "Monitoring 1 host, up");
    table.AddHost("b", 2, 80);
    table.AddHost("c", 1000, 0);
    table.Entry(3).up = 1;
    EXPECT_EQ(ServiceStatusText(table), "Monitoring 3 hosts, 1 down");
    table.Entry(2).up = 1;
    EXPECT_EQ(ServiceStatusText(table), "Monitoring 3 hosts, all up");
}

}  // namespace
}  // namespace qv
