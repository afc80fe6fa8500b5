// A clock for prober tests whose time moves only as far as the test allows: sleeps block
// until the test lets time run past their end, so intervals of minutes take no real time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace qv::test {

class TcpStepClock final : public Clock {
  public:
    // Time starts at `startTick` on the tick count and `startNow` in calendar seconds.
    explicit TcpStepClock(uint32_t startTick = 0, int64_t startNow = 1'700'000'000);

    // Returns the tick, then moves time on by the per-read step (0 unless set).
    uint32_t TickCount() override;
    int64_t Now() override;
    bool LocalTime(int64_t t, std::tm& out) override;
    // Waits until the test allows time to reach the end of this sleep, then moves there.
    void SleepMs(uint32_t ms) override;

    // Lets time run up to `elapsedMs` after the start.
    void AllowUntil(int64_t elapsedMs);
    // From now on every sleep returns at once.
    void ReleaseAll();
    // Each TickCount() read moves time on by this much (to give attempts a duration).
    void SetAdvancePerRead(uint32_t ms);

    // Waits, at most timeoutMs of real time, until `sleepers` threads are blocked in a sleep
    // that the current allowance does not cover. False when that did not happen.
    bool WaitParked(int timeoutMs, int sleepers = 1);
    // Waits, at most timeoutMs of real time, until TickCount() was read `reads` times.
    bool WaitTickReads(uint64_t reads, int timeoutMs);

    int64_t ElapsedMs() const;
    // Every completed sleep, in order.
    std::vector<uint32_t> Sleeps() const;

  private:
    bool Covered(int64_t end) const { return released_ || end <= limit_; }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    const uint32_t startTick_;
    const int64_t startNow_;
    int64_t elapsed_ = 0;
    int64_t limit_ = 0;
    bool released_ = false;
    uint32_t advancePerRead_ = 0;
    uint64_t tickReads_ = 0;
    std::vector<int64_t> blockedEnds_;
    std::vector<uint32_t> sleeps_;
};

}  // namespace qv::test
