// The clock of the tests: time moves only when a test moves it.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>

#include "platform/clock.h"

namespace qv {

// A clock that only moves when told to. SleepMs advances it instead of waiting.
// Local time is UTC, so tests can name any wall-clock moment with ToCalendar().
class FakeClock final : public Clock {
  public:
    explicit FakeClock(int64_t now = 0, uint32_t tick = 0) : tick_(tick), nowMs_(now * 1000) {}

    uint32_t TickCount() override { return tick_.load(std::memory_order_relaxed); }
    int64_t Now() override { return nowMs_.load(std::memory_order_relaxed) / 1000; }
    bool LocalTime(int64_t t, std::tm& out) override;
    void SleepMs(uint32_t ms) override { AdvanceMs(ms); }

    void AdvanceMs(uint32_t ms) {
        tick_.fetch_add(ms, std::memory_order_relaxed);
        nowMs_.fetch_add(ms, std::memory_order_relaxed);
    }
    void SetTick(uint32_t tick) { tick_.store(tick, std::memory_order_relaxed); }
    void SetNow(int64_t now) { nowMs_.store(now * 1000, std::memory_order_relaxed); }
    void SetLocalTimeFails(bool fails) { localTimeFails_.store(fails); }

    // Calendar seconds of a UTC date and time (which is this clock's local time).
    static int64_t ToCalendar(int year, int month, int day, int hour = 0, int minute = 0,
                              int second = 0);

  private:
    std::atomic<uint32_t> tick_;
    std::atomic<int64_t> nowMs_;
    std::atomic<bool> localTimeFails_{false};
};

}  // namespace qv
