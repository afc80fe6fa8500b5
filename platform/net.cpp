#include "platform/net.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace qv {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        Reset(other.Release());
    }
    return *this;
}

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool ReadAll(int fd, std::string& out, size_t limit) {
    char buffer[64 * 1024];
    while (out.size() < limit) {
        const size_t want = std::min(sizeof buffer, limit - out.size());
        ssize_t got = ::read(fd, buffer, want);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        out.append(buffer, static_cast<size_t>(got));
    }
    return true;
}

NetAddress NetAddress::WithPort(uint16_t port) const {
    NetAddress copy = *this;
    if (IsIPv6()) {
        reinterpret_cast<sockaddr_in6*>(&copy.storage)->sin6_port = htons(port);
    } else {
        reinterpret_cast<sockaddr_in*>(&copy.storage)->sin_port = htons(port);
    }
    return copy;
}

std::string NetAddress::Text() const {
    char host[NI_MAXHOST] = {};
    if (length == 0 ||
        getnameinfo(Sockaddr(), length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) {
        return std::string();
    }
    return host;
}

bool NetAddress::SameHost(const NetAddress& other) const {
    if (Family() != other.Family()) {
        return false;
    }
    if (IsIPv6()) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&storage);
        const auto* b = reinterpret_cast<const sockaddr_in6*>(&other.storage);
        return std::memcmp(&a->sin6_addr, &b->sin6_addr, sizeof a->sin6_addr) == 0 &&
               a->sin6_scope_id == b->sin6_scope_id;
    }
    if (Family() == AF_INET) {
        return reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in*>(&other.storage)->sin_addr.s_addr;
    }
    return false;
}

NetAddress NetAddress::FromIPv4(uint32_t address) {
    NetAddress a;
    auto* in = reinterpret_cast<sockaddr_in*>(&a.storage);
    in->sin_family = AF_INET;
    in->sin_addr.s_addr = address;
    a.length = sizeof(sockaddr_in);
    return a;
}

std::optional<NetAddress> NetAddress::FromSockaddr(const sockaddr* address, socklen_t length) {
    if (address == nullptr) {
        return std::nullopt;
    }
    socklen_t need = 0;
    if (address->sa_family == AF_INET) {
        need = sizeof(sockaddr_in);
    } else if (address->sa_family == AF_INET6) {
        need = sizeof(sockaddr_in6);
    }
    if (need == 0 || length < need) {
        return std::nullopt;
    }
    NetAddress a;
    std::memcpy(&a.storage, address, need);
    a.length = need;
    return a.WithPort(0);
}

namespace {

std::optional<NetAddress> FirstAddress(const std::string& name, int flags, int family) {
    if (name.empty()) {
        return std::nullopt;
    }
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* result = nullptr;
    std::optional<NetAddress> address;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &result) == 0) {
        for (addrinfo* ai = result; ai != nullptr && !address; ai = ai->ai_next) {
            address = NetAddress::FromSockaddr(ai->ai_addr, ai->ai_addrlen);
        }
    }
    if (result != nullptr) {
        freeaddrinfo(result);
    }
    return address;
}

}  // namespace

std::optional<NetAddress> ParseAddressLiteral(const std::string& text) {
    return FirstAddress(text, AI_NUMERICHOST, AF_UNSPEC);
}

std::optional<NetAddress> ResolveHost(const std::string& name, int family) {
    return FirstAddress(name, 0, family);
}

std::optional<uint32_t> ParseDottedIPv4(const std::string& text) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) {
        return std::nullopt;
    }
    return address.s_addr;
}

std::optional<uint32_t> ResolveIPv4(const std::string& name) {
    if (name.empty()) {
        return std::nullopt;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &result) == 0 && result != nullptr) {
        uint32_t address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
        freeaddrinfo(result);
        return address;
    }
    if (result != nullptr) {
        freeaddrinfo(result);
    }
    return ParseDottedIPv4(name);
}

std::string FormatIPv4(uint32_t address) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr in{};
    in.s_addr = address;
    inet_ntop(AF_INET, &in, text, sizeof text);
    return text;
}

WaitResult WaitReadable(int fd, int timeoutMs) {
    pollfd pfd{fd, POLLIN, 0};
    for (;;) {
        int n = ::poll(&pfd, 1, timeoutMs < 0 ? 0 : timeoutMs);
        if (n > 0) {
            return (pfd.revents & POLLNVAL) ? WaitResult::Error : WaitResult::Ready;
        }
        if (n == 0) {
            return WaitResult::Timeout;
        }
        if (errno != EINTR) {
            return WaitResult::Error;
        }
    }
}

std::string LocalHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return "localhost";
    }
    return name;
}

TcpSocket TcpSocket::Create(int family, int* error) {
    TcpSocket s;
    s.family_ = family;
    s.fd_.Reset(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (error != nullptr) {
        *error = s.fd_.Valid() ? 0 : errno;
    }
    return s;
}

int TcpSocket::BindAny() {
    sockaddr_storage local{};
    socklen_t length = sizeof(sockaddr_in);
    if (family_ == AF_INET6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&local);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_any;
        length = sizeof(sockaddr_in6);
    } else {
        auto* in = reinterpret_cast<sockaddr_in*>(&local);
        in->sin_family = AF_INET;
        in->sin_addr.s_addr = htonl(INADDR_ANY);
    }
    if (::bind(fd_.Get(), reinterpret_cast<sockaddr*>(&local), length) != 0) {
        return errno;
    }
    return 0;
}

int TcpSocket::Connect(uint32_t address, uint16_t port, int timeoutMs) {
    return Connect(NetAddress::FromIPv4(address), port, timeoutMs);
}

int TcpSocket::Connect(const NetAddress& address, uint16_t port, int timeoutMs) {
    if (!fd_.Valid()) {
        return EBADF;
    }
    int flags = fcntl(fd_.Get(), F_GETFL, 0);
    fcntl(fd_.Get(), F_SETFL, flags | O_NONBLOCK);
    const NetAddress peer = address.WithPort(port);
    int result = 0;
    if (::connect(fd_.Get(), peer.Sockaddr(), peer.length) != 0) {
        if (errno != EINPROGRESS) {
            result = errno;
        } else {
            pollfd pfd{fd_.Get(), POLLOUT, 0};
            int n;
            do {
                n = ::poll(&pfd, 1, timeoutMs < 0 ? 0 : timeoutMs);
            } while (n < 0 && errno == EINTR);
            if (n == 0) {
                result = ETIMEDOUT;
            } else if (n < 0) {
                result = errno;
            } else {
                int soError = 0;
                socklen_t len = sizeof soError;
                getsockopt(fd_.Get(), SOL_SOCKET, SO_ERROR, &soError, &len);
                result = soError;
            }
        }
    }
    fcntl(fd_.Get(), F_SETFL, flags);
    return result;
}

int TcpSocket::SendAll(const void* data, size_t size, int timeoutMs) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        pollfd pfd{fd_.Get(), POLLOUT, 0};
        int n = ::poll(&pfd, 1, timeoutMs < 0 ? 0 : timeoutMs);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n == 0 ? ETIMEDOUT : errno;
        }
        ssize_t sent = ::send(fd_.Get(), p, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return errno;
        }
        p += sent;
        size -= static_cast<size_t>(sent);
    }
    return 0;
}

int TcpSocket::Receive(void* data, size_t capacity, int timeoutMs, size_t* received) {
    *received = 0;
    for (;;) {
        WaitResult w = WaitReadable(fd_.Get(), timeoutMs);
        if (w == WaitResult::Timeout) {
            return ETIMEDOUT;
        }
        if (w == WaitResult::Error) {
            return errno != 0 ? errno : EIO;
        }
        ssize_t n = ::recv(fd_.Get(), data, capacity, MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return errno;
        }
        *received = static_cast<size_t>(n);
        return 0;
    }
}

}  // namespace qv
