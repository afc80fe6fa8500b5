// A process runner that records every command and answers with preset exit codes.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/process.h"

namespace qv::test {

class RecordingRunner final : public ProcessRunner {
  public:
    // Commands whose words contain `verb` (e.g. "start", "enable-linger") end with `code`.
    void FailVerb(const std::string& verb, int code) { exitCodes_[verb] = code; }
    // Commands whose words contain `verb` cannot be started at all (errno `error`).
    void UnstartableVerb(const std::string& verb, int error) { startErrors_[verb] = error; }

    // With a clock, the tick count at every call is kept too.
    explicit RecordingRunner(Clock* clock = nullptr) : clock_(clock) {}

    ProcessResult Run(const std::vector<std::string>& argv) override {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(argv);
        ticks_.push_back(clock_ != nullptr ? clock_->TickCount() : 0);
        ProcessResult result;
        result.exitCode = 0;
        for (const std::string& word : argv) {
            if (auto it = startErrors_.find(word); it != startErrors_.end()) {
                result.startError = it->second;
                result.exitCode = -1;
            }
            if (auto it = exitCodes_.find(word); it != exitCodes_.end()) {
                result.exitCode = it->second;
            }
        }
        return result;
    }

    // Every command as one space-joined line.
    std::vector<std::string> Lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> lines;
        for (const auto& argv : calls_) {
            std::string line;
            for (const std::string& word : argv) {
                line.append(line.empty() ? "" : " ").append(word);
            }
            lines.push_back(line);
        }
        return lines;
    }
    std::vector<uint32_t> Ticks() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return ticks_;
    }

  private:
    mutable std::mutex mutex_;
    Clock* clock_;
    std::vector<std::vector<std::string>> calls_;
    std::vector<uint32_t> ticks_;
    std::map<std::string, int> exitCodes_;
    std::map<std::string, int> startErrors_;
};

}  // namespace qv::test
