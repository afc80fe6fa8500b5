// The socket an ICMP prober sends its echo requests through and reads its replies from:
// a raw ICMP socket with a kernel-side filter when allowed, else the unprivileged ICMP
// datagram socket.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/net.h"

namespace qv {

enum class IcmpSocketKind {
    Auto,      // raw when allowed, else datagram
    Raw,       // AF_INET, SOCK_RAW, IPPROTO_ICMP (root or CAP_NET_RAW)
    Datagram,  // AF_INET, SOCK_DGRAM, IPPROTO_ICMP (net.ipv4.ping_group_range)
};

class IcmpSocket {
  public:
    IcmpSocket() = default;
    IcmpSocket(IcmpSocket&&) = default;
    IcmpSocket& operator=(IcmpSocket&&) = default;

    // Opens a socket for echo requests with `identifier`. A raw socket only wakes for echo
    // replies carrying it. A datagram socket is bound so the kernel uses it; when another
    // socket holds it already, the kernel picks one and Identifier() tells which. On
    // failure Valid() is false and *error holds errno.
    static IcmpSocket Open(IcmpSocketKind kind, uint16_t identifier, int* error);

    bool Valid() const { return fd_.Valid(); }
    int Fd() const { return fd_.Get(); }
    // The identifier our requests carry on the wire and replies are matched on.
    uint16_t Identifier() const { return identifier_; }
    // Raw sockets deliver the whole IPv4 datagram, datagram sockets only the ICMP message.
    bool RepliesCarryIpHeader() const { return raw_; }

    // Sends one ICMP message to an IPv4 address (network byte order). 0 or errno.
    int SendTo(uint32_t address, const void* data, size_t size);
    // Waits at most timeoutMs for something to read.
    WaitResult WaitReadable(int timeoutMs);
    // Reads one datagram without blocking; *source is its sender (IPv4, network byte
    // order) when not null. 0 or errno (EAGAIN: nothing there after all).
    int Receive(void* buffer, size_t capacity, size_t* received, uint32_t* source = nullptr);

  private:
    UniqueFd fd_;
    uint16_t identifier_ = 0;
    bool raw_ = false;
};

// Attaches the classic BPF filter that passes only ICMP echo replies with `identifier` to a
// raw ICMP socket. 0 or errno.
int AttachEchoReplyFilter(int fd, uint16_t identifier);

}  // namespace qv
