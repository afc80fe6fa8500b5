// Raw and datagram ICMP sockets for the echo prober.
#include "platform/icmp_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/filter.h>
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace qv {

namespace {

// How many datagram ICMP sockets of this network namespace hold the identifier. The
// kernel lets a second socket bind one that is taken, and then only one of the two gets
// the replies.
int DatagramIdentifierHolders(uint16_t identifier, bool ipv6) {
    std::ifstream table(ipv6 ? "/proc/thread-self/net/icmp6" : "/proc/thread-self/net/icmp");
    char port[8];
    std::snprintf(port, sizeof port, ":%04X", identifier);
    std::string line;
    std::getline(table, line);  // column titles
    int holders = 0;
    while (std::getline(table, line)) {
        // "  sl: local_address rem_address ...": the local port ends the second field.
        size_t start = line.find(':');
        size_t local = line.find_first_not_of(' ', start + 1);
        size_t end = line.find(' ', local);
        if (start == std::string::npos || local == std::string::npos || end == std::string::npos ||
            end < local + 5) {
            continue;
        }
        if (line.compare(end - 5, 5, port) == 0) {
            ++holders;
        }
    }
    return holders;
}

// Binds a datagram ICMP socket to the identifier, 0 for one the kernel picks: the kernel
// puts the bound "port" into our requests as their identifier. *identifier is the one it
// got. Returns 0 or the errno.
int BindIdentifier(int fd, int family, uint16_t* identifier) {
    sockaddr_storage local{};
    socklen_t localLength = sizeof(sockaddr_in);
    uint16_t* port = nullptr;
    if (family == AF_INET6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&local);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_any;
        port = &in6->sin6_port;
        localLength = sizeof(sockaddr_in6);
    } else {
        auto* in = reinterpret_cast<sockaddr_in*>(&local);
        in->sin_family = AF_INET;
        in->sin_addr.s_addr = htonl(INADDR_ANY);
        port = &in->sin_port;
    }
    *port = htons(*identifier);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), localLength) != 0) {
        return errno;
    }
    socklen_t len = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
        return errno;
    }
    *identifier = ntohs(*port);
    return 0;
}

}  // namespace

int AttachEchoReplyFilter(int fd, uint16_t identifier, bool ipv6) {
    // An IPv4 packet starts with the IPv4 header (X = its length from IHL); an ICMPv6
    // socket sees the ICMPv6 message from its first byte (X = 0).
    const sock_filter headerLength = BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0);
    const sock_filter noHeader = BPF_STMT(BPF_LDX | BPF_IMM, 0);
    sock_filter code[] = {
        ipv6 ? noHeader : headerLength,
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),                        // ICMP type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ipv6 ? 129u : 0u, 0, 3),  // echo reply
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),                        // identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFFu),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    if (::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0) {
        return errno;
    }
    // Whatever arrived before the filter was in place is dropped.
    char scratch[256];
    while (::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT) >= 0) {
    }
    return 0;
}

IcmpSocket IcmpSocket::Open(IcmpSocketKind kind, uint16_t identifier, int* error, int family) {
    IcmpSocket s;
    const bool ipv6 = family == AF_INET6;
    const int protocol = ipv6 ? static_cast<int>(IPPROTO_ICMPV6) : static_cast<int>(IPPROTO_ICMP);
    s.family_ = ipv6 ? AF_INET6 : AF_INET;
    int rawError = 0;
    if (kind != IcmpSocketKind::Datagram) {
        UniqueFd fd(::socket(s.family_, SOCK_RAW | SOCK_CLOEXEC, protocol));
        if (fd.Valid()) {
            // The kernel tests this type mask before it copies a packet into the socket,
            // so our own echo requests seen on loopback cost nothing.
            if (ipv6) {
                icmp6_filter types{};
                ICMP6_FILTER_SETBLOCKALL(&types);
                ICMP6_FILTER_SETPASS(ICMP6_ECHO_REPLY, &types);
                ::setsockopt(fd.Get(), SOL_ICMPV6, ICMP6_FILTER, &types, sizeof types);
            } else {
                icmp_filter types{~(1u << ICMP_ECHOREPLY)};
                ::setsockopt(fd.Get(), SOL_RAW, ICMP_FILTER, &types, sizeof types);
            }
            int rc = AttachEchoReplyFilter(fd.Get(), identifier, ipv6);
            if (rc != 0) {
                *error = rc;
                return s;
            }
            s.fd_ = std::move(fd);
            s.identifier_ = identifier;
            s.raw_ = true;
            *error = 0;
            return s;
        }
        rawError = errno;
        if (kind == IcmpSocketKind::Raw) {
            *error = rawError;
            return s;
        }
    }

    UniqueFd fd(::socket(s.family_, SOCK_DGRAM | SOCK_CLOEXEC, protocol));
    if (!fd.Valid()) {
        // With neither kind allowed, the raw socket's refusal is the one worth showing.
        *error = rawError != 0 ? rawError : errno;
        return s;
    }
    // The identifier asked for, unless another socket holds it. That one may have bound it
    // first or at the same moment; of two that count after binding, the later sees both.
    uint16_t bound = identifier;
    int rc = BindIdentifier(fd.Get(), s.family_, &bound);
    if (rc == EADDRINUSE || (rc == 0 && DatagramIdentifierHolders(bound, ipv6) > 1)) {
        fd = UniqueFd(::socket(s.family_, SOCK_DGRAM | SOCK_CLOEXEC, protocol));
        bound = 0;
        rc = fd.Valid() ? BindIdentifier(fd.Get(), s.family_, &bound) : errno;
    }
    if (rc != 0) {
        *error = rc;
        return s;
    }
    s.fd_ = std::move(fd);
    s.identifier_ = bound;
    s.raw_ = false;
    *error = 0;
    return s;
}

int IcmpSocket::ConnectTo(const NetAddress& address) {
    if (address.Family() != family_) {
        return EAFNOSUPPORT;
    }
    if (::connect(fd_.Get(), address.Sockaddr(), address.length) != 0) {
        return errno;
    }
    return 0;
}

int IcmpSocket::SendTo(const NetAddress& address, const void* data, size_t size) {
    if (address.Family() != family_) {
        return EAFNOSUPPORT;
    }
    ssize_t n;
    do {
        n = ::sendto(fd_.Get(), data, size, MSG_NOSIGNAL, address.Sockaddr(), address.length);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return errno;
    }
    return static_cast<size_t>(n) == size ? 0 : EMSGSIZE;
}

WaitResult IcmpSocket::WaitReadable(int timeoutMs) {
    return qv::WaitReadable(fd_.Get(), timeoutMs);
}

int IcmpSocket::Receive(void* buffer, size_t capacity, size_t* received, NetAddress* source) {
    *received = 0;
    sockaddr_storage from{};
    socklen_t len = sizeof from;
    ssize_t n;
    do {
        n = ::recvfrom(fd_.Get(), buffer, capacity, MSG_DONTWAIT,
                       reinterpret_cast<sockaddr*>(&from), &len);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return errno == EWOULDBLOCK ? EAGAIN : errno;
    }
    *received = static_cast<size_t>(n);
    if (source != nullptr) {
        *source = NetAddress::FromSockaddr(reinterpret_cast<sockaddr*>(&from), len)
                      .value_or(NetAddress());
    }
    return 0;
}

}  // namespace qv
