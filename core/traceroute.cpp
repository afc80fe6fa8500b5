// Traceroute capture threads and their processes.
#include "core/traceroute.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>

#include "core/host_file_name.h"
#include "core/host_name.h"
#include "platform/error_text.h"
#include "platform/net.h"
#include "platform/process.h"
#include "platform/safe_file.h"

namespace qv {

TracerouteCapture::TracerouteCapture(std::string dataDir, MessageSink& sink,
                                     std::vector<std::string> tools)
    : dataDir_(std::move(dataDir)), sink_(sink), tools_(std::move(tools)) {}

TracerouteCapture::~TracerouteCapture() {
    std::lock_guard<std::mutex> lock(capturesMutex_);
    captures_.ForEach([](Capture& c) {
        std::lock_guard<std::mutex> captureLock(c.mutex);
        c.stopping = true;
        if (c.pid > 0) {
            ::kill(c.pid, SIGKILL);
        }
    });
    captures_.JoinAll();
}

void TracerouteCapture::Start(HostEntry& entry) {
    // The name goes into a file name and an argument vector: it must be one safe token.
    std::string name = entry.name;
    if (!IsValidHostName(name)) {
        return;
    }
    entry.traceCount += 1;
    std::string path =
        dataDir_ + "/" + HostFileStem(name) + "_" + std::to_string(entry.traceCount) + ".trace";
    // The route to the address the prober probes: the tool would pick IPv4 for a name with
    // addresses of both families.
    std::optional<NetAddress> literal = ParseAddressLiteral(name);
    const bool ipv6 = literal ? literal->IsIPv6() : entry.targetIsIpv6 != 0;

    std::lock_guard<std::mutex> lock(capturesMutex_);
    captures_.Start([this, name = std::move(name), path = std::move(path), ipv6](Capture& capture) {
        Run(capture, name, path, ipv6);
    });
}

size_t TracerouteCapture::PendingCaptures() {
    std::lock_guard<std::mutex> lock(capturesMutex_);
    captures_.ReapFinished();
    return captures_.Size();
}

void TracerouteCapture::Run(Capture& capture, const std::string& name, const std::string& path,
                            bool ipv6) {
    // The data folder may belong to another user than ours: a link put in the capture's
    // place is refused, never followed.
    int openError = 0;
    UniqueFd file = OpenFileForWriting(AT_FDCWD, path, WriteMode::Truncate, &openError);
    if (!file.Valid()) {
        failedCount_.fetch_add(1, std::memory_order_relaxed);
        sink_.ShowMessage(FileErrorText(path, openError), "Error", MessageIcon::Information);
        return;
    }
    std::string tool = tools_.empty() ? std::string("traceroute") : tools_.front();
    for (const std::string& candidate : tools_) {
        if (ProgramExists(candidate)) {
            tool = candidate;
            break;
        }
    }

    ChildProcess child;
    int error = 0;
    {
        std::lock_guard<std::mutex> lock(capture.mutex);
        if (capture.stopping) {
            ::unlink(path.c_str());
            return;
        }
        std::vector<std::string> argv{tool, name};
        if (ipv6) {
            argv.insert(argv.begin() + 1, "-6");  // traceroute and tracepath alike
        }
        child = ChildProcess::Start(argv, file.Get(), -1, &error);
        if (child.Valid()) {
            capture.pid = child.Pid();
        }
    }
    if (!child.Valid()) {
        // No tool ran: leave no empty capture behind.
        ::unlink(path.c_str());
        failedCount_.fetch_add(1, std::memory_order_relaxed);
        sink_.ShowMessage(SystemErrorText(error), "Error", MessageIcon::Information);
        return;
    }
    file.Reset();

    // Wait without reaping first, so the destructor never signals a reused process id.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(child.Pid()), &info, WEXITED | WNOWAIT) != 0 &&
           errno == EINTR) {
    }
    bool stopped = false;
    {
        std::lock_guard<std::mutex> lock(capture.mutex);
        capture.pid = -1;
        stopped = capture.stopping;
    }
    child.Wait();
    if (!stopped) {
        completedCount_.fetch_add(1, std::memory_order_relaxed);
    }
}

}  // namespace qv
