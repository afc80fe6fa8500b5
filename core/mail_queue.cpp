// The status mail worker and the collapsing of its failure lines.
#include "core/mail_queue.h"

#include <algorithm>
#include <utility>

#include "core/host_table.h"

namespace qv {

namespace {

// Every host has at most one message outstanding, so more results than this means some
// belong to hosts that were removed before they collected them.
constexpr size_t kMaxResults = 2 * kMaxHosts;

std::string RepeatLine(const std::string& text, uint32_t repeats) {
    return text + " (" + std::to_string(repeats) + (repeats == 1 ? " more time)" : " more times)");
}

// A clock set back counts as a minute gone by, so it cannot hold lines back for longer.
bool MinuteOver(int64_t since, int64_t now) {
    return now < since || now - since >= MailFailureLog::kWindowSeconds;
}

}  // namespace

void MailFailureLog::Sweep(uint32_t run, int64_t now, std::vector<std::string>& lines) {
    for (auto it = held_.begin(); it != held_.end();) {
        if (it->first != run && MinuteOver(it->second.since, now)) {
            if (it->second.repeats > 0) {
                lines.push_back(RepeatLine(it->second.text, it->second.repeats));
            }
            it = held_.erase(it);
        } else {
            ++it;
        }
    }
}

std::vector<std::string> MailFailureLog::Failed(uint32_t run, const std::string& text,
                                                int64_t now) {
    std::vector<std::string> lines;
    Sweep(run, now, lines);
    auto it = held_.find(run);
    if (it == held_.end()) {
        held_[run] = Held{text, now, 0};
        lines.push_back(text);
        return lines;
    }
    Held& held = it->second;
    if (held.text == text && !MinuteOver(held.since, now)) {
        held.repeats += 1;
        return lines;
    }
    if (held.text == text) {
        lines.push_back(held.repeats > 0 ? RepeatLine(text, held.repeats) : text);
    } else {
        if (held.repeats > 0) {
            lines.push_back(RepeatLine(held.text, held.repeats));
        }
        lines.push_back(text);
    }
    held = Held{text, now, 0};
    return lines;
}

std::vector<std::string> MailFailureLog::Succeeded(uint32_t run, int64_t now) {
    std::vector<std::string> lines;
    Sweep(run, now, lines);
    auto it = held_.find(run);
    if (it != held_.end()) {
        if (it->second.repeats > 0) {
            lines.push_back(RepeatLine(it->second.text, it->second.repeats));
        }
        held_.erase(it);
    }
    return lines;
}

std::vector<std::string> MailFailureLog::Flush() {
    std::vector<std::string> lines;
    for (const auto& [run, held] : held_) {
        if (held.repeats > 0) {
            lines.push_back(RepeatLine(held.text, held.repeats));
        }
    }
    held_.clear();
    return lines;
}

MailQueue::MailQueue(MailSender& sender, Clock& clock) : sender_(sender), clock_(clock) {}

MailQueue::~MailQueue() {
    Stop();
}

void MailQueue::SetErrorHook(ErrorHook hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = std::move(hook);
}

bool MailQueue::Enqueue(MailRequest request) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
        return false;
    }
    queue_.push_back(Job{std::move(request), std::nullopt, nullptr});
    if (!worker_.joinable()) {
        worker_ = std::thread(&MailQueue::Work, this);
    }
    changed_.notify_all();
    return true;
}

bool MailQueue::EnqueueTest(MailRequest request, MailSecurityOptions security, TestDone done) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
        return false;
    }
    queue_.push_back(Job{std::move(request), std::move(security), std::move(done)});
    if (!worker_.joinable()) {
        worker_ = std::thread(&MailQueue::Work, this);
    }
    changed_.notify_all();
    return true;
}

std::optional<MailResult> MailQueue::TakeResult(uint32_t run) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(results_.begin(), results_.end(),
                           [run](const auto& result) { return result.first == run; });
    if (it == results_.end()) {
        return std::nullopt;
    }
    MailResult result = it->second;
    results_.erase(it);
    return result;
}

bool MailQueue::WaitIdle(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit,
                             [this] { return stopping_ || (queue_.empty() && !busy_); });
}

void MailQueue::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            return;
        }
        stopping_ = true;
        queue_.clear();
    }
    changed_.notify_all();
    sender_.Abort();
    if (worker_.joinable()) {
        worker_.join();
    }
    ErrorHook hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hook = hook_;
    }
    for (const std::string& line : failures_.Flush()) {
        if (hook) {
            hook(line);
        }
    }
}

void MailQueue::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) {
            return;
        }
        Job job = std::move(queue_.front());
        queue_.pop_front();
        const MailRequest& request = job.request;
        busy_ = true;
        lock.unlock();

        std::string error;
        const bool accepted =
            job.security
                ? sender_.SendWith(*job.security, request.server, request.port, request.from,
                                   request.to, request.subject, request.body, &error)
                : sender_.SendReporting(request.server, request.port, request.from, request.to,
                                        request.subject, request.body, &error);
        if (job.done) {
            lock.lock();
            const bool stopping = stopping_;
            lock.unlock();
            if (!stopping) {
                job.done(accepted, error);
            }
            lock.lock();
            busy_ = false;
            changed_.notify_all();
            continue;
        }

        lock.lock();
        // An aborted conversation failed because of the stop, not the server.
        if (stopping_) {
            busy_ = false;
            changed_.notify_all();
            return;
        }
        ErrorHook hook = hook_;
        lock.unlock();
        (accepted ? acceptedCount_ : failedCount_).fetch_add(1, std::memory_order_relaxed);
        const int64_t now = clock_.Now();
        std::vector<std::string> lines;
        if (accepted) {
            lines = failures_.Succeeded(request.run, now);
        } else if (!error.empty()) {
            lines = failures_.Failed(request.run, error, now);
        }
        for (const std::string& line : lines) {
            if (hook) {
                hook(line);
            }
        }

        lock.lock();
        results_.emplace_back(request.run, MailResult{request.stretch, accepted});
        if (results_.size() > kMaxResults) {
            results_.pop_front();
        }
        busy_ = false;
        changed_.notify_all();
    }
}

}  // namespace qv
