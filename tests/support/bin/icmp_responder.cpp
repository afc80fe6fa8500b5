// A test host for ICMP probers: inside the network namespace it runs in, answers echo
// requests to chosen 127.x or IPv6 addresses after a delay, drops every n-th, stays
// silent, or sends a truncated reply that is nobody's answer. Prints "ready" once
// listening and one "request ADDR id=ID seq=SEQ" line per request; ends cleanly on SIGTERM
// or SIGINT.
//
// Usage: icmp_responder ADDR[,delay=MS][,drop=N][,silent][,foreign=MS] ...
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/icmp_packet.h"

namespace {

struct HostBehaviour {
    int delayMs = 0;
    int dropEvery = 0;  // 0: never
    bool silent = false;
    int foreignAfterMs = -1;  // -1: no truncated datagram
    uint64_t requests = 0;
};

struct PendingSend {
    int64_t dueMs;
    std::vector<uint8_t> packet;  // IPv4 header included; ICMPv6: the message only
    uint32_t destination;
    bool ipv6 = false;
    in6_addr source6{};
    in6_addr destination6{};
};

// IPv6 hosts by their address bytes.
using Ipv6Key = std::string;
Ipv6Key KeyOf(const in6_addr& a) {
    return Ipv6Key(reinterpret_cast<const char*>(&a), sizeof a);
}

int64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool ParseHostArgument(const std::string& hostArg, std::map<uint32_t, HostBehaviour>& hosts,
                       std::map<Ipv6Key, HostBehaviour>& hosts6) {
    size_t comma = hostArg.find(',');
    std::string addressText = hostArg.substr(0, comma);
    in_addr address{};
    in6_addr address6{};
    const bool ipv6 = inet_pton(AF_INET6, addressText.c_str(), &address6) == 1;
    if (!ipv6 && (inet_pton(AF_INET, addressText.c_str(), &address) != 1 ||
                  (ntohl(address.s_addr) >> 24) != 127)) {
        std::fprintf(stderr, "icmp_responder: not a 127.x address: %s\n", addressText.c_str());
        return false;
    }
    HostBehaviour behaviour;
    while (comma != std::string::npos) {
        size_t next = hostArg.find(',', comma + 1);
        std::string option =
            hostArg.substr(comma + 1, next == std::string::npos ? next : next - comma - 1);
        if (option.rfind("delay=", 0) == 0) {
            behaviour.delayMs = std::atoi(option.c_str() + 6);
        } else if (option.rfind("drop=", 0) == 0) {
            behaviour.dropEvery = std::atoi(option.c_str() + 5);
        } else if (option == "silent") {
            behaviour.silent = true;
        } else if (option.rfind("foreign=", 0) == 0) {
            behaviour.foreignAfterMs = std::atoi(option.c_str() + 8);
        } else {
            std::fprintf(stderr, "icmp_responder: unknown option: %s\n", option.c_str());
            return false;
        }
        comma = next;
    }
    if (ipv6) {
        hosts6[KeyOf(address6)] = behaviour;
    } else {
        hosts[address.s_addr] = behaviour;
    }
    return true;
}

// Decides what to do with a request to a host: prints it and queues the reply, if any.
// `reply` is the ICMP message to send (type already set); `makeForeign` cuts it short.
void NoteRequest(HostBehaviour& b, const char* addressText, const uint8_t* icmp, PendingSend reply,
                 std::vector<PendingSend>& pending) {
    ++b.requests;
    std::printf("request %s id=%u seq=%u\n", addressText, (icmp[4] << 8) | icmp[5],
                icmp[6] | (icmp[7] << 8));
    std::fflush(stdout);
    bool dropped = b.dropEvery > 0 && b.requests % b.dropEvery == 0;
    if (b.foreignAfterMs >= 0) {
        // Only the 8-byte header: an echo reply too short to be anyone's.
        const size_t header = reply.ipv6 ? 0 : 20;
        reply.packet.resize(header + 8);
        if (!reply.ipv6) {
            uint16_t total = htons(static_cast<uint16_t>(reply.packet.size()));
            std::memcpy(reply.packet.data() + 2, &total, 2);
            uint8_t* r = reply.packet.data() + header;
            r[2] = 0;
            r[3] = 0;
            uint16_t checksum = qv::InternetChecksum(r, 8);
            r[2] = static_cast<uint8_t>(checksum >> 8);
            r[3] = static_cast<uint8_t>(checksum);
        }
        reply.dueMs = NowMs() + b.foreignAfterMs;
        pending.push_back(std::move(reply));
    } else if (!b.silent && !dropped) {
        reply.dueMs = NowMs() + b.delayMs;
        pending.push_back(std::move(reply));
    }
}

// Sends an ICMPv6 message from `source` (one of our test addresses) to `destination`;
// the kernel fills in the checksum.
void SendIpv6(int fd, const PendingSend& p) {
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_addr = p.destination6;
    iovec data{const_cast<uint8_t*>(p.packet.data()), p.packet.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in6_pktinfo))] = {};
    msghdr message{};
    message.msg_name = &to;
    message.msg_namelen = sizeof to;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = IPPROTO_IPV6;
    c->cmsg_type = IPV6_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in6_pktinfo));
    in6_pktinfo info{};
    info.ipi6_addr = p.source6;
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    sendmsg(fd, &message, 0);
}

// An IPv4 datagram from `source` to `destination` carrying `icmp` as an echo reply.
std::vector<uint8_t> BuildReply(uint32_t source, uint32_t destination, const uint8_t* icmp,
                                size_t icmpSize) {
    std::vector<uint8_t> packet(20 + icmpSize);
    uint8_t* ip = packet.data();
    ip[0] = 0x45;
    ip[8] = 64;  // TTL
    ip[9] = IPPROTO_ICMP;
    uint16_t total = htons(static_cast<uint16_t>(packet.size()));
    std::memcpy(ip + 2, &total, 2);
    std::memcpy(ip + 12, &source, 4);
    std::memcpy(ip + 16, &destination, 4);
    uint8_t* reply = ip + 20;
    std::memcpy(reply, icmp, icmpSize);
    reply[0] = 0;  // echo reply
    reply[2] = 0;
    reply[3] = 0;
    uint16_t checksum = qv::InternetChecksum(reply, icmpSize);
    reply[2] = static_cast<uint8_t>(checksum >> 8);
    reply[3] = static_cast<uint8_t>(checksum);
    return packet;
}

}  // namespace

int main(int argc, char** argv) {
    std::map<uint32_t, HostBehaviour> hosts;
    std::map<Ipv6Key, HostBehaviour> hosts6;
    for (int i = 1; i < argc; ++i) {
        if (!ParseHostArgument(argv[i], hosts, hosts6)) {
            return 2;
        }
    }

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);

    int listenFd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    int sendFd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    int fd6 = -1;
    if (!hosts6.empty()) {
        fd6 = socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
        int on = 1;
        icmp6_filter types{};
        ICMP6_FILTER_SETBLOCKALL(&types);
        ICMP6_FILTER_SETPASS(ICMP6_ECHO_REQUEST, &types);
        if (fd6 < 0 || setsockopt(fd6, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on) != 0 ||
            setsockopt(fd6, IPPROTO_ICMPV6, ICMP6_FILTER, &types, sizeof types) != 0) {
            std::fprintf(stderr, "icmp_responder: ICMPv6: %s\n", std::strerror(errno));
            return 1;
        }
    }
    if (signalFd < 0 || listenFd < 0 || sendFd < 0) {
        std::fprintf(stderr, "icmp_responder: %s\n", std::strerror(errno));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    std::vector<PendingSend> pending;
    std::vector<uint8_t> buffer(65536);
    for (;;) {
        int64_t now = NowMs();
        int timeout = -1;
        for (const PendingSend& p : pending) {
            int64_t wait = p.dueMs > now ? p.dueMs - now : 0;
            if (timeout < 0 || wait < timeout) {
                timeout = static_cast<int>(wait);
            }
        }
        pollfd fds[3] = {{signalFd, POLLIN, 0}, {listenFd, POLLIN, 0}, {fd6, POLLIN, 0}};
        int n = poll(fds, fd6 >= 0 ? 3 : 2, timeout);
        if (n < 0 && errno != EINTR) {
            std::fprintf(stderr, "icmp_responder: poll: %s\n", std::strerror(errno));
            return 1;
        }
        if (n > 0 && (fds[0].revents & POLLIN)) {
            break;
        }
        if (n > 0 && (fds[1].revents & POLLIN)) {
            ssize_t size = recv(listenFd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (size >= 28) {
                const uint8_t* ip = buffer.data();
                size_t headerLength = static_cast<size_t>(ip[0] & 0x0F) * 4;
                uint32_t source;
                uint32_t destination;
                std::memcpy(&source, ip + 12, 4);
                std::memcpy(&destination, ip + 16, 4);
                const uint8_t* icmp = ip + headerLength;
                size_t icmpSize = static_cast<size_t>(size) - headerLength;
                auto host = hosts.find(destination);
                if (headerLength >= 20 && static_cast<size_t>(size) >= headerLength + 8 &&
                    icmp[0] == 8 && host != hosts.end()) {
                    char text[INET_ADDRSTRLEN];
                    inet_ntop(AF_INET, &destination, text, sizeof text);
                    PendingSend reply;
                    reply.packet = BuildReply(destination, source, icmp, icmpSize);
                    reply.destination = source;
                    NoteRequest(host->second, text, icmp, std::move(reply), pending);
                }
            }
        }
        if (n > 0 && fd6 >= 0 && (fds[2].revents & POLLIN)) {
            sockaddr_in6 from{};
            iovec data{buffer.data(), buffer.size()};
            alignas(cmsghdr) char control[256];
            msghdr message{};
            message.msg_name = &from;
            message.msg_namelen = sizeof from;
            message.msg_iov = &data;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            ssize_t size = recvmsg(fd6, &message, MSG_DONTWAIT);
            const in6_pktinfo* info = nullptr;
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
                    info = reinterpret_cast<const in6_pktinfo*>(CMSG_DATA(c));
                }
            }
            const uint8_t* icmp = buffer.data();
            if (size >= 8 && info != nullptr && icmp[0] == ICMP6_ECHO_REQUEST) {
                auto host = hosts6.find(KeyOf(info->ipi6_addr));
                if (host != hosts6.end()) {
                    char text[INET6_ADDRSTRLEN];
                    inet_ntop(AF_INET6, &info->ipi6_addr, text, sizeof text);
                    PendingSend reply;
                    reply.ipv6 = true;
                    reply.packet.assign(icmp, icmp + size);
                    reply.packet[0] = ICMP6_ECHO_REPLY;
                    reply.source6 = info->ipi6_addr;
                    reply.destination6 = from.sin6_addr;
                    NoteRequest(host->second, text, icmp, std::move(reply), pending);
                }
            }
        }
        now = NowMs();
        for (size_t i = 0; i < pending.size();) {
            if (pending[i].dueMs <= now && pending[i].ipv6) {
                SendIpv6(fd6, pending[i]);
                pending.erase(pending.begin() + static_cast<long>(i));
            } else if (pending[i].dueMs <= now) {
                sockaddr_in to{};
                to.sin_family = AF_INET;
                to.sin_addr.s_addr = pending[i].destination;
                sendto(sendFd, pending[i].packet.data(), pending[i].packet.size(), 0,
                       reinterpret_cast<sockaddr*>(&to), sizeof to);
                pending.erase(pending.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
    }
    if (fd6 >= 0) {
        close(fd6);
    }
    close(sendFd);
    close(listenFd);
    close(signalFd);
    return 0;
}
