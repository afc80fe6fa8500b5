// ICMP echo packets and the prober's timing rules as pure functions over bytes and ticks,
// so that every rule can be checked without a socket or a clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace qv {

constexpr size_t kEchoRequestSize = 44;
constexpr size_t kEchoPayloadOffset = 12;
constexpr uint8_t kEchoPayloadByte = 0x45;  // 'E'

// RFC 1071 Internet checksum of `size` bytes, ready to store in network byte order at the
// checksum field (a packet holding its checksum sums to 0).
uint16_t InternetChecksum(const uint8_t* data, size_t size);

// Writes the constant part of a request: type 8 (ICMPv6: 128), code 0, sequence 0, the
// 0x45 payload.
void PrepareEchoRequest(uint8_t* packet, bool ipv6 = false);
// Writes the send tick, the identifier and the sequence into a prepared request and then
// its checksum. Identifier in network byte order; sequence and tick least significant
// byte first.
void StampEchoRequest(uint8_t* packet, uint16_t identifier, uint16_t sequence, uint32_t tick);

struct EchoReply {
    uint16_t identifier;  // host order
    uint16_t sequence;
    uint32_t tick;  // the tick count the request carried
};

// Reads an echo reply from a received datagram. With hasIpHeader the datagram starts with
// the IPv4 header, whose length is taken from its IHL field. Anything that is not an
// echo reply (type 0; ICMPv6: 129) long enough to carry the tick is not a reply. ICMPv6
// messages never carry the IP header (the kernel strips it from raw sockets too).
std::optional<EchoReply> ParseEchoReply(const uint8_t* data, size_t size, bool hasIpHeader,
                                        bool ipv6 = false);

// Milliseconds from `from` to `to` on the wrapping tick counter. A wrap (to < from) costs
// one millisecond more, as the counter has always been read.
uint32_t TickDiffMs(uint32_t to, uint32_t from);

// What a late reply (response time not below the timeout) does to the history.
enum class LateReplyAction {
    RecordDueNow,    // the reply belongs to the probe whose sample is due now
    CorrectEarlier,  // it turns an earlier lost sample into its response time
    Ignore,
};
struct LateReplyDecision {
    LateReplyAction action;
    size_t index;  // the sample to correct (CorrectEarlier)
};
// The sequence number is the index of the probe's sample. It is only 16 bits wide, so it
// names the latest sample index, at most samples.size(), with the same low 16 bits.
// Sequence 0 never corrects.
LateReplyDecision DecideLateReply(uint16_t sequence, const std::vector<int32_t>& samples);

// The send ticks of a prober's recent requests. A raw ICMP socket sees the echo replies of
// every program on the machine, and identifiers are only 16 bits, so two programs probing
// the same address (the desktop program and the service, say) can share one; a reply is
// ours only when it carries the very tick we sent with its sequence number.
class SentProbes {
  public:
    static constexpr uint16_t kKept = 256;
    void Sent(uint16_t sequence, uint32_t tick);
    bool Matches(uint16_t sequence, uint32_t tick) const;

  private:
    struct Probe {
        bool sent = false;
        uint16_t sequence = 0;
        uint32_t tick = 0;
    };
    Probe probes_[kKept];
};

// Bookkeeping of the wait for one reply, in slices of at most a second: `waited` sums the
// slices asked for, `elapsed` is the time since sending as last measured. A slice that a
// foreign datagram interrupted counts in full.
class ReplyWait {
  public:
    explicit ReplyWait(uint32_t timeoutMs) : timeoutMs_(timeoutMs) {}
    // The length of the next slice; adds it to `waited`.
    uint32_t NextSlice();
    // A slice expired `elapsedNow` ms after sending; true when the probe is lost.
    bool SliceExpired(uint32_t elapsedNow);
    // A datagram that was not the reply arrived `elapsedNow` ms after sending.
    void Interrupted(uint32_t elapsedNow) { elapsed_ = elapsedNow; }

    uint32_t waited() const { return waited_; }
    uint32_t elapsed() const { return elapsed_; }

  private:
    uint32_t timeoutMs_;
    uint32_t elapsed_ = 0;
    uint32_t waited_ = 0;
};

}  // namespace qv
