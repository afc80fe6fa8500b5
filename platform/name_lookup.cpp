// Lookups through getaddrinfo_a. A request the resolver is still working on cannot be
// taken back (gai_cancel says so), so a given-up request is kept until the system is done
// with it and freed by a later lookup.
#include "platform/name_lookup.h"

#include <netdb.h>
#include <time.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// ThreadSanitizer does not know the threads glibc starts for getaddrinfo_a (they bypass
// its interceptors, and the first allocation in one crashes it), so a sanitizer build
// looks names up on a thread of its own that is left to finish by itself when given up.
#if defined(__SANITIZE_THREAD__)
#define QV_LOOKUP_ON_OWN_THREAD 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QV_LOOKUP_ON_OWN_THREAD 1
#endif
#endif

namespace qv {

bool NameLookup::AnswerWithoutResolver(const std::string& name, int family) {
    address_ = NetAddress();
    if (std::optional<NetAddress> literal = ParseAddressLiteral(name)) {
        address_ = *literal;
        status_ =
            family == AF_UNSPEC || literal->Family() == family ? Status::Found : Status::NotFound;
        return true;
    }
    if (name.empty()) {
        status_ = Status::NotFound;
        return true;
    }
    return false;
}

#ifdef QV_LOOKUP_ON_OWN_THREAD

struct NameLookup::Request {
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        std::optional<NetAddress> address;
    };
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();
};

void NameLookup::Start(const std::string& name, int family) {
    Abandon();
    if (AnswerWithoutResolver(name, family)) {
        return;
    }
    request_ = new Request();
    std::thread([shared = request_->shared, name, family] {
        std::optional<NetAddress> address = ResolveHost(name, family);
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->address = address;
        shared->finished = true;
        shared->done.notify_all();
    }).detach();
    status_ = Status::Pending;
}

NameLookup::Status NameLookup::Wait(int timeoutMs) {
    if (status_ != Status::Pending) {
        return status_;
    }
    {
        auto& shared = *request_->shared;
        std::unique_lock<std::mutex> lock(shared.mutex);
        if (!shared.done.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                                  [&] { return shared.finished; })) {
            return status_;
        }
        if (shared.address) {
            address_ = *shared.address;
        }
        status_ = shared.address ? Status::Found : Status::NotFound;
    }
    delete request_;
    request_ = nullptr;
    return status_;
}

void NameLookup::Abandon() {
    delete request_;  // the thread keeps what it shares and ends by itself
    request_ = nullptr;
    status_ = Status::Idle;
}

size_t NameLookup::AbandonedCount() {
    return 0;
}

#else

struct NameLookup::Request {
    std::string name;
    addrinfo hints{};
    gaicb block{};
};

namespace {

std::mutex& AbandonedMutex() {
    static std::mutex mutex;
    return mutex;
}

// Never destroyed: the resolver may still write into these requests while the process
// ends.
std::vector<NameLookup::Request*>& Abandoned() {
    static auto* requests = new std::vector<NameLookup::Request*>();
    return *requests;
}

void Free(NameLookup::Request* request) {
    if (request->block.ar_result != nullptr) {
        freeaddrinfo(request->block.ar_result);
    }
    delete request;
}

// Frees the given-up requests that the system has finished.
void SweepAbandoned() {
    std::lock_guard<std::mutex> lock(AbandonedMutex());
    auto& requests = Abandoned();
    for (auto it = requests.begin(); it != requests.end();) {
        if (gai_error(&(*it)->block) != EAI_INPROGRESS) {
            Free(*it);
            it = requests.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace

void NameLookup::Start(const std::string& name, int family) {
    Abandon();
    SweepAbandoned();
    if (AnswerWithoutResolver(name, family)) {
        return;
    }
    auto* request = new Request();
    request->name = name;
    request->hints.ai_family = family;
    request->hints.ai_socktype = SOCK_STREAM;
    request->block.ar_name = request->name.c_str();
    request->block.ar_request = &request->hints;
    gaicb* list[1] = {&request->block};
    if (getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) != 0) {
        delete request;
        status_ = Status::NotFound;
        return;
    }
    request_ = request;
    status_ = Status::Pending;
}

NameLookup::Status NameLookup::Wait(int timeoutMs) {
    if (status_ != Status::Pending) {
        return status_;
    }
    const gaicb* list[1] = {&request_->block};
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    // gai_suspend ends early on signals and, in some versions, says "system error" rather
    // than "try again" when its time is up: the time left is measured each round instead.
    while (gai_error(&request_->block) == EAI_INPROGRESS) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long spentMs =
            (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1'000'000;
        const long leftMs = timeoutMs - spentMs;
        if (leftMs <= 0) {
            return status_;
        }
        const timespec left{leftMs / 1000, (leftMs % 1000) * 1'000'000};
        gai_suspend(list, 1, &left);
    }
    if (gai_error(&request_->block) == 0) {
        for (addrinfo* ai = request_->block.ar_result; ai != nullptr; ai = ai->ai_next) {
            if (std::optional<NetAddress> a =
                    NetAddress::FromSockaddr(ai->ai_addr, ai->ai_addrlen)) {
                address_ = *a;
                status_ = Status::Found;
                break;
            }
        }
    }
    if (status_ != Status::Found) {
        status_ = Status::NotFound;
    }
    Free(request_);
    request_ = nullptr;
    return status_;
}

void NameLookup::Abandon() {
    if (request_ == nullptr) {
        return;
    }
    const int rc = gai_cancel(&request_->block);
    if (rc == EAI_CANCELED || rc == EAI_ALLDONE) {
        Free(request_);
    } else {
        std::lock_guard<std::mutex> lock(AbandonedMutex());
        Abandoned().push_back(request_);
    }
    request_ = nullptr;
    status_ = Status::Idle;
}

size_t NameLookup::AbandonedCount() {
    SweepAbandoned();
    std::lock_guard<std::mutex> lock(AbandonedMutex());
    return Abandoned().size();
}

#endif

}  // namespace qv
