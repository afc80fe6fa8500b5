#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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
                                 int* error) {
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
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        *error = rc;
        return child;
    }
    *error = 0;
    child.pid_ = pid;
    return child;
}

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
    if (r < 0) {
        return -1;
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
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
    ChildProcess child = ChildProcess::Start(argv, stdoutFd, writeEnd.Get(), &error);
    writeEnd.Reset();
    if (!child.Valid()) {
        result.startError = error;
        return result;
    }
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(readEnd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        result.output.append(buffer, static_cast<size_t>(n));
    }
    result.exitCode = child.Wait();
    return result;
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
