#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "platform/net.h"

extern char** environ;

namespace qv {

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        if (Valid()) {
            Wait();
        }
        pid_ = other.pid_;
        ownGroup_ = other.ownGroup_;
        other.pid_ = -1;
    }
    return *this;
}

ChildProcess::~ChildProcess() {
    if (Valid()) {
        Wait();
    }
}

ChildProcess ChildProcess::Start(const std::vector<std::string>& argv, int stdoutFd, int stderrFd,
                                 int* error, bool ownGroup) {
    ChildProcess child;
    if (argv.empty()) {
        *error = EINVAL;
        return child;
    }
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (stdoutFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    if (stderrFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stderrFd, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (ownGroup) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        *error = rc;
        return child;
    }
    *error = 0;
    child.pid_ = pid;
    child.ownGroup_ = ownGroup;
    return child;
}

namespace {

int ExitCodeOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

int ChildProcess::Wait() {
    if (!Valid()) {
        return -1;
    }
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &status, 0);
    } while (r < 0 && errno == EINTR);
    pid_ = -1;
    return r < 0 ? -1 : ExitCodeOf(status);
}

bool ChildProcess::Exited() const {
    if (!Valid()) {
        return true;
    }
    // WNOWAIT: the child stays a zombie, so its pid and group cannot be reused yet.
    siginfo_t info{};
    int r;
    do {
        r = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (r < 0 && errno == EINTR);
    return r < 0 || info.si_pid != 0;
}

int ChildProcess::End(int graceMs) {
    if (!Valid()) {
        return -1;
    }
    const pid_t target = ownGroup_ ? -pid_ : pid_;
    ::kill(target, SIGTERM);
    const int64_t giveUp = SteadyMs() + graceMs;
    while (!Exited() && SteadyMs() < giveUp) {
        ::usleep(10'000);
    }
    // The group is cleared while its leader is not yet waited for; a leader that ended on
    // SIGTERM is a zombie and unmoved by this.
    if (ownGroup_ || !Exited()) {
        ::kill(target, SIGKILL);
    }
    return Wait();
}

ProcessResult SystemProcessRunner::Run(const std::vector<std::string>& argv) {
    ProcessResult result;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        result.startError = errno;
        return result;
    }
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    int error = 0;
    const int stdoutFd = output_ == Output::Both ? writeEnd.Get() : -1;
    ChildProcess child =
        ChildProcess::Start(argv, stdoutFd, writeEnd.Get(), &error, limits_.ownGroup);
    writeEnd.Reset();
    if (!child.Valid()) {
        result.startError = error;
        return result;
    }
    const int64_t limitEnd = limits_.runMs > 0 ? SteadyMs() + limits_.runMs : INT64_MAX;
    int64_t exitedAt = -1;
    bool endOfOutput = false;
    char buffer[4096];
    for (;;) {
        const int64_t now = SteadyMs();
        int64_t deadline = std::min(limitEnd, endBy_.load(std::memory_order_relaxed));
        if (exitedAt >= 0) {
            deadline = std::min(deadline, exitedAt + kOutputAfterEndMs);
        }
        if (now >= deadline) {
            break;
        }
        // Short slices: the end of the program and a later EndRunsWithin are noticed.
        pollfd p{readEnd.Get(), POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(deadline - now, 50)));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready > 0) {
            ssize_t n = ::read(readEnd.Get(), buffer, sizeof buffer);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
            if (n <= 0) {
                endOfOutput = true;
                break;
            }
            result.output.append(buffer, static_cast<size_t>(n));
        }
        if (exitedAt < 0 && child.Exited()) {
            exitedAt = SteadyMs();
        }
    }
    // A program that closed its output may still run: it has until the same deadline.
    while (endOfOutput && !child.Exited() &&
           SteadyMs() < std::min(limitEnd, endBy_.load(std::memory_order_relaxed))) {
        ::usleep(20'000);
    }
    if (child.Exited()) {
        // Ended by itself; what it started and left holding the output goes with its group.
        result.exitCode = endOfOutput ? child.Wait() : child.End(0);
        return result;
    }
    result.cutShort = true;
    result.exitCode = child.End(kTermGraceMs);
    return result;
}

void SystemProcessRunner::EndRunsWithin(int ms) {
    const int64_t by = SteadyMs() + std::max(ms, 0);
    int64_t current = endBy_.load(std::memory_order_relaxed);
    while (by < current && !endBy_.compare_exchange_weak(current, by, std::memory_order_relaxed)) {
    }
}

bool ProgramExists(const std::string& name) {
    if (name.empty()) {
        return false;
    }
    if (name.find('/') != std::string::npos) {
        return ::access(name.c_str(), X_OK) == 0;
    }
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        std::string candidate = end > start ? dirs.substr(start, end - start) : std::string(".");
        candidate.push_back('/');
        candidate.append(name);
        if (::access(candidate.c_str(), X_OK) == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::string RunningProgramPath() {
    char path[4096] = {};
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

}  // namespace qv
