#include "platform/clock.h"

#include <time.h>

#include <thread>

namespace qv {

uint32_t SystemClock::TickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

int64_t SystemClock::Now() {
    return static_cast<int64_t>(::time(nullptr));
}

bool SystemClock::LocalTime(int64_t t, std::tm& out) {
    time_t tt = static_cast<time_t>(t);
    return localtime_r(&tt, &out) != nullptr;
}

void SystemClock::SleepMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace qv
