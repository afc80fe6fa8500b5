// Status mail off the tick: one worker thread sends queued messages one at a time, in
// order, and keeps each host's result until the host's tick collects it. Failure texts
// are written through a hook, each host's repeats collapsed to one line a minute.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/mail_security.h"
#include "core/mail_sender.h"
#include "platform/clock.h"

namespace qv {

struct MailRequest {
    uint32_t run = 0;      // the host's run (HostEntry::run): whose result it is
    uint32_t stretch = 0;  // the host's up or down stretch the message announces
    std::string server;
    int port = 0;
    std::string from;
    std::string to;
    std::string subject;
    std::string body;
};

struct MailResult {
    uint32_t stretch = 0;
    bool accepted = false;
};

// Holds back repeats of a host's failure text: the same text for the same host is written
// at most once a minute, and the next line of it says how many were held back.
class MailFailureLog {
  public:
    static constexpr int64_t kWindowSeconds = 60;

    // The lines to write now for a failure of host `run`.
    std::vector<std::string> Failed(uint32_t run, const std::string& text, int64_t now);
    // The host's mail went through: the count of its held-back repeats, if any.
    std::vector<std::string> Succeeded(uint32_t run, int64_t now);
    // Every count still held back.
    std::vector<std::string> Flush();

  private:
    struct Held {
        std::string text;
        int64_t since = 0;  // when its last line was written
        uint32_t repeats = 0;
    };
    // Ends the minute of every other host whose minute is over.
    void Sweep(uint32_t run, int64_t now, std::vector<std::string>& lines);

    std::map<uint32_t, Held> held_;
};

class MailQueue {
  public:
    using ErrorHook = std::function<void(const std::string& line)>;

    MailQueue(MailSender& sender, Clock& clock);
    // Stop().
    ~MailQueue();
    MailQueue(const MailQueue&) = delete;
    MailQueue& operator=(const MailQueue&) = delete;

    // Where failure lines go; nowhere until set.
    void SetErrorHook(ErrorHook hook);
    using TestDone = std::function<void(bool accepted, const std::string& error)>;

    // Queues a message behind the others (the worker starts with the first one). False
    // once stopped.
    bool Enqueue(MailRequest request);
    // Queues a message the user asked for (a test e-mail), sent with `security` rather than
    // the sender's own. Its outcome goes to `done`, on the worker thread, instead of being
    // kept as a host's result or logged; a message dropped or aborted by Stop never calls it.
    bool EnqueueTest(MailRequest request, MailSecurityOptions security, TestDone done);
    // The result of host `run`'s message, once; nothing while it is queued or in flight.
    std::optional<MailResult> TakeResult(uint32_t run);
    // For tests: blocks until nothing is queued or in flight (results and lines included);
    // false when that took longer than `limit`.
    bool WaitIdle(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Drops what is queued, aborts the conversation in flight (its result is dropped too),
    // joins the worker and writes the repeat counts still held back. Never waits on a
    // mail server.
    void Stop();

    // Messages the server accepted and messages that failed, since the start (a
    // conversation aborted by Stop is neither).
    uint64_t AcceptedCount() const { return acceptedCount_.load(std::memory_order_relaxed); }
    uint64_t FailedCount() const { return failedCount_.load(std::memory_order_relaxed); }

  private:
    void Work();

    MailSender& sender_;
    Clock& clock_;
    MailFailureLog failures_;  // the worker's alone, until Stop has joined it
    std::mutex mutex_;
    std::condition_variable changed_;
    struct Job {
        MailRequest request;
        std::optional<MailSecurityOptions> security;  // set for a test mail
        TestDone done;
    };
    std::deque<Job> queue_;
    std::deque<std::pair<uint32_t, MailResult>> results_;
    ErrorHook hook_;
    bool busy_ = false;
    bool stopping_ = false;
    std::atomic<uint64_t> acceptedCount_{0};
    std::atomic<uint64_t> failedCount_{0};
    std::thread worker_;
};

}  // namespace qv
