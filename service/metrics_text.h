// What a Prometheus scrape of the service reads: the numbers copied out of the host table,
// and the text exposition format (version 0.0.4) written straight from them. Nothing is
// built in between, so that a scrape of 100 hosts costs a small share of what probing
// them does.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/host_table.h"
#include "core/probe_tally.h"

namespace qv {

// What the watcher's notifications came to, since the start.
struct ChannelCounts {
    uint64_t ok = 0;
    uint64_t failed = 0;
};
struct NotificationCounts {
    ChannelCounts mail;
    ChannelCounts sound;
    ChannelCounts trace;
};
using NotificationSource = std::function<NotificationCounts()>;

// One watched host's numbers, as they stood at the copy.
struct HostNumbers {
    std::string name;
    bool icmp = true;
    int port = 0;
    bool up = false;
    int32_t stateSeconds = 0;
    ProbeTally tally;
};

// Everything one scrape shows.
struct ScrapeNumbers {
    std::vector<HostNumbers> hosts;
    NotificationCounts notifications;
    // This process's CPU time and resident memory, where they could be read.
    std::optional<double> cpuSeconds;
    std::optional<double> residentBytes;
};

// Copies the numbers of the hosts the tick watches into `hosts` (reusing its room), holding
// SampleLock for the copy alone.
void CopyHostNumbers(HostTable& table, std::vector<HostNumbers>& hosts);

// Reads this process's CPU time and resident memory into `numbers`.
void ReadProcessNumbers(ScrapeNumbers& numbers);

// Writes the exposition text of `numbers` into `out` (replacing what it held). Each host's
// series carry host, kind and, for TCP, port; a host whose labels would equal an earlier
// one's (listed twice, or a name that is not UTF-8 coming out like another) gets a "copy"
// label, since equal series would spoil the whole scrape.
void WriteMetricsText(const ScrapeNumbers& numbers, std::string& out);

}  // namespace qv
