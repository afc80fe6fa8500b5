// The built service program run on a data folder by a test, and its end awaited.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "platform/process.h"

#ifdef QV_SERVICE_PROGRAM

namespace qv::test {

// The service program running on a data folder; killed at the end if still running.
// A thread waits for its end, so the test can wait with a time limit.
class ServiceProcess {
  public:
    // `args` after the program path; `workDir` is its working directory.
    ServiceProcess(std::vector<std::string> args, const std::string& workDir,
                   const std::string& outputPath) {
        std::vector<std::string> argv{"env", "-C", workDir, QV_SERVICE_PROGRAM};
        argv.insert(argv.end(), args.begin(), args.end());
        UniqueFd output(::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        int error = 0;
        ChildProcess child = ChildProcess::Start(argv, output.Get(), output.Get(), &error);
        pid_ = child.Pid();
        if (child.Valid()) {
            waiter_ = std::thread([this, c = std::move(child)]() mutable {
                int status = c.Wait();
                std::lock_guard<std::mutex> lock(mutex_);
                status_ = status;
                ended_.notify_all();
            });
        }
    }
    ~ServiceProcess() {
        if (Running()) {
            ::kill(pid_, SIGKILL);
        }
        if (waiter_.joinable()) {
            waiter_.join();
        }
    }
    bool Started() const { return pid_ > 0; }
    void Signal(int signalNumber) {
        if (Running()) {
            ::kill(pid_, signalNumber);
        }
    }
    bool Running() {
        std::lock_guard<std::mutex> lock(mutex_);
        return pid_ > 0 && !status_.has_value();
    }
    // Waits up to `limit` for the end: the exit code (128 + signal), or nothing.
    std::optional<int> WaitForExit(std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        ended_.wait_for(lock, limit, [this] { return status_.has_value(); });
        return status_;
    }

  private:
    pid_t pid_ = -1;
    std::thread waiter_;
    std::mutex mutex_;
    std::condition_variable ended_;
    std::optional<int> status_;
};

}  // namespace qv::test

#endif  // QV_SERVICE_PROGRAM
