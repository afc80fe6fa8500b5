// getaddrinfo_a with gai_suspend in slices. A lookup given up on may still be running in
// the C library: its request block is then freed by the completion notice, never here.
#include "mail/name_lookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <ctime>

#include "platform/net.h"

namespace qv {

namespace {

constexpr int kSliceMs = 50;

// One request, shared by the caller and the C library's completion notice until both let
// go of it.
struct Request {
    gaicb block{};
    addrinfo hints{};
    std::string name;
    std::atomic<int> holders{2};
};

void Release(Request* request) {
    if (request->holders.fetch_sub(1) == 1) {
        if (request->block.ar_result != nullptr) {
            freeaddrinfo(request->block.ar_result);
        }
        delete request;
    }
}

void Completed(sigval value) {
    Release(static_cast<Request*>(value.sival_ptr));
}

}  // namespace

LookupResult LookupIPv4(const std::string& name, int timeoutMs,
                        const std::function<bool()>& cancelled) {
    LookupResult result;
    if (name.empty()) {
        return result;
    }
    if (std::optional<uint32_t> dotted = ParseDottedIPv4(name)) {
        return LookupResult{LookupEnd::Found, *dotted};
    }
    auto* request = new Request;
    request->name = name;
    request->hints.ai_family = AF_INET;
    request->hints.ai_socktype = SOCK_STREAM;
    request->block.ar_name = request->name.c_str();
    request->block.ar_request = &request->hints;
    sigevent notice{};
    notice.sigev_notify = SIGEV_THREAD;
    notice.sigev_notify_function = Completed;
    notice.sigev_value.sival_ptr = request;
    gaicb* list[] = {&request->block};
    if (getaddrinfo_a(GAI_NOWAIT, list, 1, &notice) != 0) {
        delete request;
        return result;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = EAI_INPROGRESS;
    while ((status = gai_error(&request->block)) == EAI_INPROGRESS) {
        if (cancelled && cancelled()) {
            result.end = LookupEnd::Cancelled;
            break;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            result.end = LookupEnd::TimedOut;
            break;
        }
        const long sliceMs = std::min<long>(left, kSliceMs);
        timespec slice{0, sliceMs * 1000000L};
        const gaicb* waiting[] = {&request->block};
        gai_suspend(waiting, 1, &slice);
    }
    if (status == EAI_INPROGRESS) {
        // A request taken back before it started gets no completion notice.
        if (gai_cancel(&request->block) == EAI_CANCELED) {
            Release(request);
        }
        Release(request);
        return result;
    }
    if (status == 0 && request->block.ar_result != nullptr) {
        result.end = LookupEnd::Found;
        result.address =
            reinterpret_cast<sockaddr_in*>(request->block.ar_result->ai_addr)->sin_addr.s_addr;
    }
    Release(request);
    return result;
}

}  // namespace qv
