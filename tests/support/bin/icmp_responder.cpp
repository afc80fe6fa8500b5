// A test host for ICMP probers: inside the network namespace it runs in, answers echo
// requests to chosen 127.x addresses after a delay, drops every n-th, stays silent, or
// sends a truncated reply that is nobody's answer. Prints "ready" once listening and one
// "request ADDR id=ID seq=SEQ" line per request; ends cleanly on SIGTERM or SIGINT.
//
// Usage: icmp_responder ADDR[,delay=MS][,drop=N][,silent][,foreign=MS] ...
#include <arpa/inet.h>
#include <errno.h>
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
    std::vector<uint8_t> packet;  // IPv4 header included
    uint32_t destination;
};

int64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool ParseHostArgument(const std::string& hostArg, std::map<uint32_t, HostBehaviour>& hosts) {
    size_t comma = hostArg.find(',');
    std::string addressText = hostArg.substr(0, comma);
    in_addr address{};
    if (inet_pton(AF_INET, addressText.c_str(), &address) != 1 ||
        (ntohl(address.s_addr) >> 24) != 127) {
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
    hosts[address.s_addr] = behaviour;
    return true;
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
    for (int i = 1; i < argc; ++i) {
        if (!ParseHostArgument(argv[i], hosts)) {
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
        pollfd fds[2] = {{signalFd, POLLIN, 0}, {listenFd, POLLIN, 0}};
        int n = poll(fds, 2, timeout);
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
                    HostBehaviour& b = host->second;
                    ++b.requests;
                    char text[INET_ADDRSTRLEN];
                    inet_ntop(AF_INET, &destination, text, sizeof text);
                    std::printf("request %s id=%u seq=%u\n", text, (icmp[4] << 8) | icmp[5],
                                icmp[6] | (icmp[7] << 8));
                    std::fflush(stdout);
                    bool dropped = b.dropEvery > 0 && b.requests % b.dropEvery == 0;
                    if (b.foreignAfterMs >= 0) {
                        // Only the 8-byte header: an echo reply too short to be anyone's.
                        pending.push_back({NowMs() + b.foreignAfterMs,
                                           BuildReply(destination, source, icmp, 8), source});
                    } else if (!b.silent && !dropped) {
                        pending.push_back({NowMs() + b.delayMs,
                                           BuildReply(destination, source, icmp, icmpSize),
                                           source});
                    }
                }
            }
        }
        now = NowMs();
        for (size_t i = 0; i < pending.size();) {
            if (pending[i].dueMs <= now) {
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
    close(sendFd);
    close(listenFd);
    close(signalFd);
    return 0;
}
