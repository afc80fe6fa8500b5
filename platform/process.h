// Starting other programs: always an argument vector, never a shell.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
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
    // With `ownGroup` the child leads a process group of its own, so that it can be ended
    // with everything it started (EndGroup).
    static ChildProcess Start(const std::vector<std::string>& argv, int stdoutFd, int stderrFd,
                              int* error, bool ownGroup = false);

    bool Valid() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    // Waits without a time limit; the exit code, or 128 + signal number.
    int Wait();
    // Whether the child has ended; it is not waited for (Wait still gives its code).
    bool Exited() const;
    // Ends the child: SIGTERM (to its whole group when it leads one), up to `graceMs` for it
    // to go, then SIGKILL; waits for it. The exit code, as Wait's.
    int End(int graceMs);

  private:
    pid_t pid_ = -1;
    bool ownGroup_ = false;
};

struct ProcessResult {
    int startError = 0;     // errno when the program could not be started
    int exitCode = -1;      // exit code, or 128 + signal number
    std::string output;     // what the runner collects: standard output and error, or error only
    bool cutShort = false;  // the runner ended it (time limit, or the program is ending)
};

// Runs a program to its end and collects what it printed. Tests replace it with a recorder.
class ProcessRunner {
  public:
    virtual ~ProcessRunner() = default;
    virtual ProcessResult Run(const std::vector<std::string>& argv) = 0;
    // Runs in progress, and runs started later, get `ms` more to end; a program still
    // running then is ended (cutShort). For a program that is ending. Thread-safe.
    virtual void EndRunsWithin(int ms) { (void)ms; }
};

class SystemProcessRunner final : public ProcessRunner {
  public:
    enum class Output {
        Both,       // standard output and standard error
        ErrorOnly,  // standard error; standard output goes to /dev/null
    };
    struct Limits {
        // The longest a run may take, in ms; 0 for no limit.
        int runMs = 0;
        // The program runs in a process group of its own, which ends with it: a grandchild
        // it left behind cannot outlive a run that is cut short.
        bool ownGroup = false;
    };
    // How long the output is still read after the program ended: a grandchild that kept
    // standard error open must not hold the run for good.
    static constexpr int kOutputAfterEndMs = 1000;
    // How long an ended program has between SIGTERM and SIGKILL.
    static constexpr int kTermGraceMs = 1000;

    explicit SystemProcessRunner(Output output = Output::Both) : output_(output) {}
    SystemProcessRunner(Output output, Limits limits) : output_(output), limits_(limits) {}
    ProcessResult Run(const std::vector<std::string>& argv) override;
    void EndRunsWithin(int ms) override;

  private:
    Output output_;
    Limits limits_{};
    // Steady-clock ms by which every run ends; none while it holds the largest value.
    std::atomic<int64_t> endBy_{INT64_MAX};
};

// Whether a program of that name can be found on PATH (or, with a "/", exists and is executable).
bool ProgramExists(const std::string& name);

// Full path of the running program file.
std::string RunningProgramPath();

}  // namespace qv
