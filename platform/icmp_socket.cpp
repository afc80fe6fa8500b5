// Raw and datagram ICMP sockets for the echo prober.
#include "platform/icmp_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/filter.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace qv {

namespace {

// Whether a datagram ICMP socket of this network namespace holds the identifier already.
// Some kernels let a second socket bind it without complaint, and then only one of the
// two receives the replies, so look before binding.
bool DatagramIdentifierTaken(uint16_t identifier) {
    std::ifstream table("/proc/thread-self/net/icmp");
    char port[8];
    std::snprintf(port, sizeof port, ":%04X", identifier);
    std::string line;
    std::getline(table, line);  // column titles
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
            return true;
        }
    }
    return false;
}

}  // namespace

int AttachEchoReplyFilter(int fd, uint16_t identifier) {
    // The packet starts with the IPv4 header; X = its length from IHL.
    sock_filter code[] = {
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),  // ICMP type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 3),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),  // identifier
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

IcmpSocket IcmpSocket::Open(IcmpSocketKind kind, uint16_t identifier, int* error) {
    IcmpSocket s;
    int rawError = 0;
    if (kind != IcmpSocketKind::Datagram) {
        UniqueFd fd(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
        if (fd.Valid()) {
            int rc = AttachEchoReplyFilter(fd.Get(), identifier);
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

    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!fd.Valid()) {
        // With neither kind allowed, the raw socket's refusal is the one worth showing.
        *error = rawError != 0 ? rawError : errno;
        return s;
    }
    // The kernel puts the bound "port" into our requests as their identifier.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = DatagramIdentifierTaken(identifier) ? 0 : htons(identifier);
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        if (errno != EADDRINUSE || local.sin_port == 0) {
            *error = errno;
            return s;
        }
        local.sin_port = 0;
        if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            *error = errno;
            return s;
        }
    }
    socklen_t len = sizeof local;
    if (::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&local), &len) != 0) {
        *error = errno;
        return s;
    }
    s.fd_ = std::move(fd);
    s.identifier_ = ntohs(local.sin_port);
    s.raw_ = false;
    *error = 0;
    return s;
}

int IcmpSocket::SendTo(uint32_t address, const void* data, size_t size) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = address;
    ssize_t n;
    do {
        n = ::sendto(fd_.Get(), data, size, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&peer),
                     sizeof peer);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return errno;
    }
    return static_cast<size_t>(n) == size ? 0 : EMSGSIZE;
}

WaitResult IcmpSocket::WaitReadable(int timeoutMs) {
    return qv::WaitReadable(fd_.Get(), timeoutMs);
}

int IcmpSocket::Receive(void* buffer, size_t capacity, size_t* received, uint32_t* source) {
    *received = 0;
    sockaddr_in from{};
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
        *source = from.sin_addr.s_addr;
    }
    return 0;
}

}  // namespace qv
