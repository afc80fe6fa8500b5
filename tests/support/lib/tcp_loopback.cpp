// Loopback TCP peers for prober tests.
#include "support/lib/tcp_loopback.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <thread>

namespace qv::test {

namespace {

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// Binds fd to 127.0.0.1 at a port the system picks; returns that port (0 on failure).
uint16_t BindLoopback(int fd) {
    sockaddr_in a = Loopback(0);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        return 0;
    }
    socklen_t len = sizeof a;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        return 0;
    }
    return ntohs(a.sin_port);
}

}  // namespace

TcpTestListener::TcpTestListener(int backlog) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
        return;
    }
    uint16_t port = BindLoopback(fd.Get());
    if (port == 0 || ::listen(fd.Get(), backlog) != 0) {
        return;
    }
    fd_ = std::move(fd);
    port_ = port;
}

UniqueFd TcpTestListener::Accept(int timeoutMs) {
    if (WaitReadable(fd_.Get(), timeoutMs) != WaitResult::Ready) {
        return UniqueFd();
    }
    return UniqueFd(::accept4(fd_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
}

TcpRefusingPort::TcpRefusingPort() {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
        return;
    }
    port_ = BindLoopback(fd.Get());
    fd_ = std::move(fd);
}

UniqueFd TcpConnectLoopback(uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a = Loopback(port);
    if (!fd.Valid() || ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        return UniqueFd();
    }
    return fd;
}

bool TcpPeerClosed(int fd, int timeoutMs) {
    if (WaitReadable(fd, timeoutMs) != WaitResult::Ready) {
        return false;
    }
    char byte = 0;
    ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR);
}

bool TcpRunInNewNetns(const std::function<void()>& body, std::string* why) {
    bool ran = false;
    std::thread worker([&] {
        if (::unshare(CLONE_NEWNET) != 0) {
            *why = std::string("cannot create a network namespace (needs root): ") +
                   std::strerror(errno);
            return;
        }
        ran = true;
        body();
    });
    worker.join();
    return ran;
}

}  // namespace qv::test
