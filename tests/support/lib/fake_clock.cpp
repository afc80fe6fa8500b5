#include "support/lib/fake_clock.h"

#include <time.h>

namespace qv {

bool FakeClock::LocalTime(int64_t t, std::tm& out) {
    if (localTimeFails_.load()) {
        return false;
    }
    time_t tt = static_cast<time_t>(t);
    return gmtime_r(&tt, &out) != nullptr;
}

int64_t FakeClock::ToCalendar(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return static_cast<int64_t>(timegm(&tm));
}

}  // namespace qv
