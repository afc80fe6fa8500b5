// Loopback TCP peers for prober tests: a listening port that the test accepts on, a port
// that refuses every connection, and a thread in a fresh network namespace.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/net.h"

namespace qv::test {

// Listens on 127.0.0.1 at a port the system picks.
class TcpTestListener {
  public:
    explicit TcpTestListener(int backlog = 16);

    bool Valid() const { return fd_.Valid(); }
    uint16_t Port() const { return port_; }
    // Accepts one connection, waiting at most timeoutMs; an invalid fd when none came.
    UniqueFd Accept(int timeoutMs);

  private:
    UniqueFd fd_;
    uint16_t port_ = 0;
};

// A loopback port that is bound but not listening, so every connection to it is refused.
// Holding it keeps anyone else from listening there meanwhile.
class TcpRefusingPort {
  public:
    TcpRefusingPort();
    uint16_t Port() const { return port_; }

  private:
    UniqueFd fd_;
    uint16_t port_ = 0;
};

// A client connection to 127.0.0.1:port made at once (invalid fd on failure).
UniqueFd TcpConnectLoopback(uint16_t port);

// Whether the peer of a connected socket has closed it, waiting at most timeoutMs for that.
bool TcpPeerClosed(int fd, int timeoutMs);

// Runs body on a new thread that first moves into a network namespace of its own (only a
// loopback device, down). Threads it starts inherit the namespace. Returns false, with the
// reason, when the namespace cannot be made (no root); body is then not run.
bool TcpRunInNewNetns(const std::function<void()>& body, std::string* why);

}  // namespace qv::test
