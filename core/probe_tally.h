// Every probe result a host has had since it was placed, for the metrics endpoint: answered
// and lost probes and the answers' round-trip times in doubling buckets. Unlike the day's
// statistics it never resets, so that the numbers only grow, as counters must.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

namespace qv {

struct ProbeTally {
    // Upper bounds 0.5 ms * 2^i: a reply counted as 0 ms (from this machine or the LAN) and
    // a satellite link's 600 ms each get a bucket of their own. The last one holds the rest.
    static constexpr int kBounds = 16;
    static constexpr double UpperBoundSeconds(int i) {
        return 0.0005 * static_cast<double>(uint32_t{1} << i);
    }

    uint64_t answered = 0;
    uint64_t lost = 0;
    uint64_t sumMs = 0;
    std::array<uint64_t, kBounds + 1> buckets{};  // not cumulative

    // One sample as the history records it: a time in ms, or -1 for a lost probe. A late
    // reply that afterwards corrects a loss in the history leaves it counted lost here.
    void Add(int32_t value) {
        if (value < 0) {
            ++lost;
            return;
        }
        ++answered;
        sumMs += static_cast<uint32_t>(value);
        // The first i with value <= 0.5 * 2^i, that is 2 * value <= 2^i.
        const uint64_t twice = uint64_t{2} * static_cast<uint32_t>(value);
        const int i = value == 0 ? 0 : static_cast<int>(std::bit_width(twice - 1));
        ++buckets[i < kBounds ? i : kBounds];
    }
};

}  // namespace qv
