// Recording stand-ins for the watcher's seams: mail (answering at once, or when the test
// says), sound and traceroute.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "core/mail_sender.h"
#include "core/traceroute.h"
#include "platform/sound_player.h"

namespace qv::test {

struct SentMail {
    std::string server;
    int port;
    std::string from;
    std::string to;
    std::string subject;
    std::string body;
};

class FakeMailSender final : public MailSender {
  public:
    bool Send(const std::string& server, int port, const std::string& from, const std::string& to,
              const std::string& subject, const std::string& body) override {
        attempts.push_back({server, port, from, to, subject, body});
        return succeed;
    }
    bool SendReporting(const std::string& server, int port, const std::string& from,
                       const std::string& to, const std::string& subject, const std::string& body,
                       std::string* error) override {
        *error = succeed ? "" : errorText;
        return Send(server, port, from, to, subject, body);
    }
    bool SendWith(const MailSecurityOptions& security, const std::string& server, int port,
                  const std::string& from, const std::string& to, const std::string& subject,
                  const std::string& body, std::string* error) override {
        securities.push_back(security);
        return SendReporting(server, port, from, to, subject, body, error);
    }
    void SetSecurity(const MailSecurityOptions& security) override { applied.push_back(security); }
    // Read and changed by the test only while the mail worker is idle.
    std::vector<MailSecurityOptions> securities;  // of each SendWith
    std::vector<MailSecurityOptions> applied;     // of each SetSecurity
    bool succeed = true;
    std::string errorText = "Socket Error";
    std::vector<SentMail> attempts;
};

// Each conversation begins (its subject is recorded) and then waits until the test lets it
// end with Release, or until Abort, after which every conversation fails at once.
class GatedMailSender final : public MailSender {
  public:
    bool Send(const std::string&, int, const std::string&, const std::string&,
              const std::string& subject, const std::string&) override {
        std::unique_lock<std::mutex> lock(mutex_);
        subjects_.push_back(subject);
        maxInFlight_ = std::max(maxInFlight_, ++inFlight_);
        changed_.notify_all();
        changed_.wait(lock, [this] { return aborted_ || !answers_.empty(); });
        --inFlight_;
        if (aborted_) {
            return false;
        }
        const bool accepted = answers_.front();
        answers_.pop_front();
        return accepted;
    }
    void Abort() override {
        std::lock_guard<std::mutex> lock(mutex_);
        aborted_ = true;
        changed_.notify_all();
    }
    // Ends the conversation in flight (or the next one) with this answer.
    void Release(bool accepted = true) {
        std::lock_guard<std::mutex> lock(mutex_);
        answers_.push_back(accepted);
        changed_.notify_all();
    }
    // Waits until `count` conversations have begun (for 5 s at most, so that a message
    // that never comes fails the test instead of hanging it); the subjects begun so far.
    std::vector<std::string> WaitForBegun(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(5), [&] { return subjects_.size() >= count; });
        return subjects_;
    }
    int MaxInFlight() {
        std::lock_guard<std::mutex> lock(mutex_);
        return maxInFlight_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> subjects_;
    std::deque<bool> answers_;
    bool aborted_ = false;
    int inFlight_ = 0;
    int maxInFlight_ = 0;
};

class FakeSoundPlayer final : public SoundPlayer {
  public:
    void Play(const std::string& path) override { played.push_back(path); }
    std::vector<std::string> played;
};

class FakeTraceroute final : public TracerouteLauncher {
  public:
    void Start(HostEntry& entry) override {
        entry.traceCount += 1;
        traced.push_back(entry.name);
    }
    std::vector<std::string> traced;
};

// Probers that end at once: for tests that set `up` and the statistics themselves.
inline HostTable::Hooks NoProbers() {
    HostTable::Hooks hooks;
    hooks.runProber = [](HostTable&, int, uint32_t) {};
    return hooks;
}

}  // namespace qv::test
