// Time as the monitor sees it: a wrapping 32-bit millisecond tick for probe timing,
// calendar seconds and local time for samples, file names and mail dates.
#pragma once

#include <cstdint>
#include <ctime>

namespace qv {

class Clock {
  public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary start, truncated to 32 bits (wraps after ~49.7 days).
    virtual uint32_t TickCount() = 0;
    // Calendar time in seconds since 1970-01-01 UTC.
    virtual int64_t Now() = 0;
    // Local time of a calendar time; false when it cannot be computed.
    virtual bool LocalTime(int64_t t, std::tm& out) = 0;
    virtual void SleepMs(uint32_t ms) = 0;
};

class SystemClock final : public Clock {
  public:
    uint32_t TickCount() override;
    int64_t Now() override;
    bool LocalTime(int64_t t, std::tm& out) override;
    void SleepMs(uint32_t ms) override;
};

}  // namespace qv
