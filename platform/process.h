// Starting other programs: always an argument vector, never a shell.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qv {

class ChildProcess {
  public:
    ChildProcess() = default;
    ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // A child that was never waited for is waited for here.
    ~ChildProcess();

    // Starts argv[0] (looked up on PATH when it holds no "/"). The child's standard output
    // goes to stdoutFd (or /dev/null when -1), its standard error to stderrFd (or /dev/null),
    // its standard input is /dev/null. On failure Valid() is false and *error holds errno.
    static ChildProcess Start(const std::vector<std::string>& argv, int stdoutFd, int stderrFd,
                              int* error);

    bool Valid() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    // Waits without a time limit; the exit code, or 128 + signal number.
    int Wait();

  private:
    pid_t pid_ = -1;
};

struct ProcessResult {
    int startError = 0;  // errno when the program could not be started
    int exitCode = -1;   // exit code, or 128 + signal number
    std::string output;  // what the runner collects: standard output and error, or error only
};

// Runs a program to its end and collects what it printed. Tests replace it with a recorder.
class ProcessRunner {
  public:
    virtual ~ProcessRunner() = default;
    virtual ProcessResult Run(const std::vector<std::string>& argv) = 0;
};

class SystemProcessRunner final : public ProcessRunner {
  public:
    enum class Output {
        Both,       // standard output and standard error
        ErrorOnly,  // standard error; standard output goes to /dev/null
    };
    explicit SystemProcessRunner(Output output = Output::Both) : output_(output) {}
    ProcessResult Run(const std::vector<std::string>& argv) override;

  private:
    Output output_;
};

// Whether a program of that name can be found on PATH (or, with a "/", exists and is executable).
bool ProgramExists(const std::string& name);

// Full path of the running program file.
std::string RunningProgramPath();

}  // namespace qv
