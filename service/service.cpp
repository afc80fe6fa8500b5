// The service's state and control handler, and the signal dispatcher.
#include "service/service.h"

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <systemd/sd-daemon.h>

#include <cstdio>
#include <system_error>
#include <thread>

#include "service/service_log.h"

namespace qv {

void NotifySystemd(const char* state) {
    ::sd_notify(0, state);
}

ServiceControl::ServiceControl(std::string dataDir, StatusNotifier notify)
    : dataDir_(std::move(dataDir)), notify_(std::move(notify)) {}

void ServiceControl::ReportRunning() {
    if (notify_) {
        notify_("READY=1");
    }
}

void ServiceControl::ReportStatus(const std::string& status) {
    if (notify_) {
        notify_(("STATUS=" + status).c_str());
    }
}

void ServiceControl::ServiceCtrlHandler(int code) {
    WriteServiceLog(dataDir_, "ServiceCtrlHandler()");
    if (code == kControlStop) {
        WriteServiceLog(dataDir_, "Service stopped.");
        if (notify_) {
            // Stopping, not stopped: the current tick (perhaps a daily report) finishes
            // before the process ends.
            notify_("STOPPING=1");
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            state_.store(ServiceState::Stopped, std::memory_order_release);
        }
        stopped_.notify_all();
    } else if (code == kControlContinue) {
        WriteServiceLog(dataDir_, "Service start.");
    }
}

bool ServiceControl::WaitWhileRunning(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    stopped_.wait_for(lock, timeout, [this] { return !Running(); });
    return Running();
}

int ControlCodeOfSignal(int signalNumber) {
    switch (signalNumber) {
        case SIGTERM:
        case SIGINT:
            return kControlStop;
        case SIGUSR1:
            return kControlContinue;
        case SIGUSR2:
            return kControlInterrogate;
        default:
            return 0;
    }
}

int RunServiceDispatcher(const std::string& dataDir, const ServiceBody& body,
                         StatusNotifier notify) {
    // The service thread tells the dispatcher it has ended with a signal of its own, so
    // the dispatcher never has to poll.
    const int endedSignal = SIGRTMIN;
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2, SIGHUP, endedSignal}) {
        sigaddset(&signals, s);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // A peer that hangs up while we write (a mail server, say) is an error of that write,
    // not the end of the service.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);

    ServiceControl control(dataDir, std::move(notify));
    std::atomic<int> status{0};
    std::atomic<bool> ended{false};
    const pthread_t dispatcher = pthread_self();
    std::thread serviceThread;
    try {
        serviceThread = std::thread([&] {
            status.store(body(control));
            ended.store(true);
            pthread_kill(dispatcher, endedSignal);
        });
    } catch (const std::system_error& e) {
        WriteServiceLog(dataDir, std::string("Can't start the service thread: ") + e.what());
        std::fprintf(stderr, "Halvoric: Can't start the service thread: %s\n", e.what());
        return 1;
    }
    for (;;) {
        siginfo_t info;
        int signalNumber = sigwaitinfo(&signals, &info);
        if (signalNumber < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (signalNumber == endedSignal) {
            // The same signal sent from outside must not leave the service unattended.
            if (ended.load()) {
                break;
            }
            continue;
        }
        if (signalNumber == SIGHUP) {
            // A closed terminal or a reload request: neither is a reason to stop monitoring.
            WriteServiceLog(dataDir, "SIGHUP ignored.");
            continue;
        }
        control.ServiceCtrlHandler(ControlCodeOfSignal(signalNumber));
    }
    serviceThread.join();
    return status.load();
}

}  // namespace qv
