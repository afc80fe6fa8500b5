// The socket an ICMP prober sends its echo requests through and reads its replies from:
// a raw ICMP (ICMPv6 for IPv6 targets) socket with kernel-side filters when allowed, else
// the unprivileged ICMP datagram socket of the same family.
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
    // failure Valid() is false and *error holds errno. `family` is AF_INET or AF_INET6.
    static IcmpSocket Open(IcmpSocketKind kind, uint16_t identifier, int* error,
                           int family = AF_INET);

    bool Valid() const { return fd_.Valid(); }
    int Fd() const { return fd_.Get(); }
    // The identifier our requests carry on the wire and replies are matched on.
    uint16_t Identifier() const { return identifier_; }
    bool IsIPv6() const { return family_ == AF_INET6; }
    // Raw IPv4 sockets deliver the whole IPv4 datagram; datagram sockets and ICMPv6 sockets
    // only the ICMP message.
    bool RepliesCarryIpHeader() const { return raw_ && !IsIPv6(); }

    // Ties the socket to its one target. The kernel then hands a raw socket only what
    // comes from that address, and skips it, without copying the packet, for everybody
    // else's replies: with a hundred probers that is most of the cost of receiving. 0 or
    // errno; a socket that could not be tied still works, filtered as before.
    int ConnectTo(const NetAddress& address);
    int ConnectTo(uint32_t address) { return ConnectTo(NetAddress::FromIPv4(address)); }
    // Sends one ICMP message to an address of the socket's family. 0 or errno.
    int SendTo(const NetAddress& address, const void* data, size_t size);
    int SendTo(uint32_t address, const void* data, size_t size) {
        return SendTo(NetAddress::FromIPv4(address), data, size);
    }
    // Waits at most timeoutMs for something to read.
    WaitResult WaitReadable(int timeoutMs);
    // Reads one datagram without blocking; *source is its sender when not null. 0 or
    // errno (EAGAIN: nothing there after all).
    int Receive(void* buffer, size_t capacity, size_t* received, NetAddress* source = nullptr);

  private:
    UniqueFd fd_;
    uint16_t identifier_ = 0;
    bool raw_ = false;
    int family_ = AF_INET;
};

// Attaches the classic BPF filter that passes only echo replies with `identifier` to a raw
// ICMP socket (ICMPv6 with `ipv6`). 0 or errno.
int AttachEchoReplyFilter(int fd, uint16_t identifier, bool ipv6 = false);

}  // namespace qv
