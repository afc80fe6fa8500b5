// Polling for the tests that watch real threads and real time: until a condition holds
// or the time is up.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace qv::test {

// True when the condition held within the limit.
inline bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace qv::test
