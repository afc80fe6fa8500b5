// Name lookups that run beside the caller, so that a thread waiting for one can give it up
// at any time: a resolver that never answers must not hold up the end of the thread.
#pragma once

#include <string>

#include "platform/net.h"

namespace qv {

class NameLookup {
  public:
    enum class Status { Idle, Pending, Found, NotFound };

    NameLookup() = default;
    // A lookup still under way is given up.
    ~NameLookup() { Abandon(); }
    NameLookup(const NameLookup&) = delete;
    NameLookup& operator=(const NameLookup&) = delete;

    // Starts looking `name` up (either family, or `family` alone; the first address in the
    // system's order). An address literal is answered at once. A lookup under way is given
    // up first.
    void Start(const std::string& name, int family = AF_UNSPEC);
    // Waits at most timeoutMs for the answer (0: only looks).
    Status Wait(int timeoutMs);
    Status status() const { return status_; }
    // The address found (Status::Found).
    const NetAddress& address() const { return address_; }
    // Gives the lookup under way up; the system finishes it on its own and we free it then.
    void Abandon();

    // Lookups given up and not yet finished by the system, for tests.
    static size_t AbandonedCount();

    // One lookup with everything the system's resolver points into.
    struct Request;

  private:
    // A literal or an empty name needs no resolver: answers it and returns true.
    bool AnswerWithoutResolver(const std::string& name, int family);

    Request* request_ = nullptr;
    Status status_ = Status::Idle;
    NetAddress address_;
};

}  // namespace qv
