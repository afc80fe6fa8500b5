// The service program: the service's state, its control handler and the signal
// dispatcher that runs the service on a second thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace qv {

// Control codes that the dispatcher hands to ServiceCtrlHandler.
inline constexpr int kControlStop = 1;
inline constexpr int kControlContinue = 3;
inline constexpr int kControlInterrogate = 4;

// The current state as reported to the service manager.
enum class ServiceState : uint32_t { Stopped = 1, Running = 4 };

// Sends one status report to the service manager ("READY=1", "STOPPING=1", "STATUS=...").
using StatusNotifier = std::function<void(const char* state)>;

// The real reports: sd_notify, which does nothing unless systemd gave us NOTIFY_SOCKET.
void NotifySystemd(const char* state);

// The service's state, shared by the dispatcher (which changes it) and the service
// thread (which runs while it says running).
class ServiceControl {
  public:
    ServiceControl(std::string dataDir, StatusNotifier notify);

    const std::string& DataDirectory() const { return dataDir_; }
    ServiceState State() const { return state_.load(std::memory_order_acquire); }
    bool Running() const { return State() == ServiceState::Running; }

    // Tells the service manager the service is running and ready.
    void ReportRunning();
    // Tells the service manager a one-line status ("STATUS=").
    void ReportStatus(const std::string& status);
    // The control handler: logs the request and acts on it. A stop makes the state
    // stopped and wakes WaitWhileRunning; the service thread finishes its current tick.
    void ServiceCtrlHandler(int code);
    // Waits up to `timeout`, returning early on a stop; true while the service still runs.
    bool WaitWhileRunning(std::chrono::milliseconds timeout);

  private:
    const std::string dataDir_;
    StatusNotifier notify_;
    std::atomic<ServiceState> state_{ServiceState::Running};
    std::mutex mutex_;
    std::condition_variable stopped_;
};

// The control code of a signal: SIGTERM and SIGINT stop, SIGUSR1 continues, SIGUSR2
// interrogates; 0 for any other signal.
int ControlCodeOfSignal(int signalNumber);

// What the service thread runs; returns the program's exit status.
using ServiceBody = std::function<int(ServiceControl& control)>;

// Blocks the control signals for the calling thread (and so for every thread started
// after it), runs `body` on a second thread and hands each control signal to
// ServiceCtrlHandler until `body` returns; returns its status. SIGHUP is logged and
// otherwise ignored, and SIGPIPE ignored for the whole process. Call it before any other
// thread exists. The signals stay blocked afterwards, so a late stop request cannot kill
// the process on its way out.
int RunServiceDispatcher(const std::string& dataDir, const ServiceBody& body,
                         StatusNotifier notify);

}  // namespace qv
