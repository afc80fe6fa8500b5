// Traceroute capture: when a host has been down long enough, the route to it is traced
// on a thread of its own into "<name>_<n>.trace" in the data folder (the name cut as in
// HostFileStem).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/host_table.h"
#include "platform/message_sink.h"
#include "platform/thread_set.h"

namespace qv {

// What the status watcher calls to trace a host; tests put a recorder in its place.
class TracerouteLauncher {
  public:
    virtual ~TracerouteLauncher() = default;
    virtual void Start(HostEntry& entry) = 0;
};

class TracerouteCapture final : public TracerouteLauncher {
  public:
    // `tools` are tried in order; the first one found is run as {tool, host name}, or
    // {tool, "-6", host name} for a host probed over IPv6.
    TracerouteCapture(std::string dataDir, MessageSink& sink,
                      std::vector<std::string> tools = {"traceroute", "tracepath"});
    // Ends every capture still running (its process is killed) and joins its thread.
    ~TracerouteCapture();
    TracerouteCapture(const TracerouteCapture&) = delete;
    TracerouteCapture& operator=(const TracerouteCapture&) = delete;

    // Numbers the capture (traceCount + 1) and starts it; returns at once. A name that is
    // not a valid host name starts nothing.
    void Start(HostEntry& entry) override;

    // Captures whose threads have not been joined yet.
    size_t PendingCaptures();

    // Captures whose tool ran to its end, and captures that could not be made (no file,
    // no tool), since the start. One ended by the destructor is neither.
    uint64_t CompletedCount() const { return completedCount_.load(std::memory_order_relaxed); }
    uint64_t FailedCount() const { return failedCount_.load(std::memory_order_relaxed); }

  private:
    struct Capture {
        std::mutex mutex;  // guards pid and stopping
        pid_t pid = -1;    // the running tool, not yet reaped
        bool stopping = false;
    };

    void Run(Capture& capture, const std::string& name, const std::string& path, bool ipv6);

    const std::string dataDir_;
    MessageSink& sink_;
    const std::vector<std::string> tools_;
    std::mutex capturesMutex_;
    ThreadSet<Capture> captures_;
    std::atomic<uint64_t> completedCount_{0};
    std::atomic<uint64_t> failedCount_{0};
};

}  // namespace qv
