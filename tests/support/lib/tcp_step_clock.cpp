// A clock for prober tests whose time moves only as far as the test allows.
#include "support/lib/tcp_step_clock.h"

#include <algorithm>
#include <chrono>

namespace qv::test {

TcpStepClock::TcpStepClock(uint32_t startTick, int64_t startNow)
    : startTick_(startTick), startNow_(startNow) {}

uint32_t TcpStepClock::TickCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    uint32_t tick = startTick_ + static_cast<uint32_t>(elapsed_);
    elapsed_ += advancePerRead_;
    ++tickReads_;
    changed_.notify_all();
    return tick;
}

int64_t TcpStepClock::Now() {
    std::lock_guard<std::mutex> lock(mutex_);
    return startNow_ + elapsed_ / 1000;
}

bool TcpStepClock::LocalTime(int64_t t, std::tm& out) {
    time_t tt = static_cast<time_t>(t);
    return gmtime_r(&tt, &out) != nullptr;
}

void TcpStepClock::SleepMs(uint32_t ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    int64_t end = elapsed_ + ms;
    if (!Covered(end)) {
        blockedEnds_.push_back(end);
        changed_.notify_all();
        changed_.wait(lock, [&] { return Covered(end); });
        blockedEnds_.erase(std::find(blockedEnds_.begin(), blockedEnds_.end(), end));
    }
    elapsed_ = std::max(elapsed_, end);
    sleeps_.push_back(ms);
    changed_.notify_all();
}

void TcpStepClock::AllowUntil(int64_t elapsedMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    limit_ = elapsedMs;
    changed_.notify_all();
}

void TcpStepClock::ReleaseAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
}

void TcpStepClock::SetAdvancePerRead(uint32_t ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    advancePerRead_ = ms;
}

bool TcpStepClock::WaitParked(int timeoutMs, int sleepers) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        auto parked = std::count_if(blockedEnds_.begin(), blockedEnds_.end(),
                                    [&](int64_t end) { return !Covered(end); });
        return parked >= sleepers;
    });
}

bool TcpStepClock::WaitTickReads(uint64_t reads, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return tickReads_ >= reads; });
}

int64_t TcpStepClock::ElapsedMs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return elapsed_;
}

std::vector<uint32_t> TcpStepClock::Sleeps() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_;
}

}  // namespace qv::test
