// Test hosts in a private network namespace: the calling thread (and the threads and
// processes it starts) moves into a fresh namespace with only loopback, where the kernel
// ignores echo requests (IPv4 and IPv6) so that the icmp_responder program alone answers
// them.
#pragma once

#include <string>
#include <vector>

#include "platform/net.h"
#include "platform/process.h"
#include "support/lib/temp_dir.h"

namespace qv::test {

class TestNetNamespace {
  public:
    // Enters a new namespace; on failure Ok() is false and SkipReason() says why.
    TestNetNamespace();
    // Returns the calling thread to the namespace it came from. The namespace itself goes
    // away with the last thread or process in it.
    ~TestNetNamespace();
    TestNetNamespace(const TestNetNamespace&) = delete;
    TestNetNamespace& operator=(const TestNetNamespace&) = delete;

    bool Ok() const { return ok_; }
    const std::string& SkipReason() const { return skipReason_; }

    // Gives loopback one more IPv6 address (a /128, usable at once), such as "fd00::2".
    // False with *error set when it cannot.
    bool AddIpv6Address(const std::string& address, std::string* error);

  private:
    UniqueFd original_;
    bool ok_ = false;
    std::string skipReason_;
};

// The calling thread (and the threads it starts) sees its own /etc/hosts and
// /etc/resolv.conf, in a private mount namespace; everything else stays as it is. Use it
// on a thread of its own that ends with it: the system's lookup threads started from there
// share that view and may outlive the test, and while they do the thread cannot go back.
class TestResolverFiles {
  public:
    TestResolverFiles(const std::string& hosts, const std::string& resolvConf);
    ~TestResolverFiles();
    TestResolverFiles(const TestResolverFiles&) = delete;
    TestResolverFiles& operator=(const TestResolverFiles&) = delete;

    bool Ok() const { return ok_; }
    const std::string& SkipReason() const { return skipReason_; }

  private:
    TempDir dir_;
    UniqueFd original_;
    bool ok_ = false;
    std::string skipReason_;
};

struct ResponderRequest {
    std::string address;
    unsigned identifier = 0;
    unsigned sequence = 0;
};

// The icmp_responder program, started in the calling thread's namespace.
class IcmpResponder {
  public:
    IcmpResponder() = default;
    ~IcmpResponder() { Stop(); }
    IcmpResponder(const IcmpResponder&) = delete;
    IcmpResponder& operator=(const IcmpResponder&) = delete;

    // Host arguments as the program takes them ("127.0.0.2,delay=30"); returns once it listens.
    bool Start(const std::vector<std::string>& hostArgs, std::string* error);
    // Ends it with SIGTERM and waits for it.
    void Stop();
    // The requests it has seen so far, in order.
    std::vector<ResponderRequest> Requests() const;
    size_t RequestCount(const std::string& address) const;

  private:
    TempDir dir_;
    ChildProcess child_;
};

}  // namespace qv::test
