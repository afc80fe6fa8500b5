// ICMP echo request layout, reply parsing and the timing rules of the ICMP prober.
#include "core/icmp_packet.h"

#include <cstring>

namespace qv {

namespace {

constexpr uint8_t kTypeEchoReply = 0;
constexpr uint8_t kTypeEchoRequest = 8;
constexpr uint8_t kTypeEchoReplyV6 = 129;
constexpr uint8_t kTypeEchoRequestV6 = 128;
constexpr size_t kIpHeaderMin = 20;

uint16_t ReadLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

uint16_t InternetChecksum(const uint8_t* data, size_t size) {
    // Sum of 16-bit words in network order; the result is stored back the same way.
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 1 < size; i += 2) {
        sum += static_cast<uint32_t>((data[i] << 8) | data[i + 1]);
    }
    if (i < size) {
        sum += static_cast<uint32_t>(data[i] << 8);
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<uint16_t>(~sum);
}

void PrepareEchoRequest(uint8_t* packet, bool ipv6) {
    std::memset(packet, 0, kEchoRequestSize);
    packet[0] = ipv6 ? kTypeEchoRequestV6 : kTypeEchoRequest;
    packet[1] = 0;
    std::memset(packet + kEchoPayloadOffset, kEchoPayloadByte,
                kEchoRequestSize - kEchoPayloadOffset);
}

void StampEchoRequest(uint8_t* packet, uint16_t identifier, uint16_t sequence, uint32_t tick) {
    packet[8] = static_cast<uint8_t>(tick);
    packet[9] = static_cast<uint8_t>(tick >> 8);
    packet[10] = static_cast<uint8_t>(tick >> 16);
    packet[11] = static_cast<uint8_t>(tick >> 24);
    packet[2] = 0;
    packet[3] = 0;
    packet[4] = static_cast<uint8_t>(identifier >> 8);
    packet[5] = static_cast<uint8_t>(identifier);
    packet[6] = static_cast<uint8_t>(sequence);
    packet[7] = static_cast<uint8_t>(sequence >> 8);
    uint16_t checksum = InternetChecksum(packet, kEchoRequestSize);
    packet[2] = static_cast<uint8_t>(checksum >> 8);
    packet[3] = static_cast<uint8_t>(checksum);
}

std::optional<EchoReply> ParseEchoReply(const uint8_t* data, size_t size, bool hasIpHeader,
                                        bool ipv6) {
    size_t offset = 0;
    if (hasIpHeader && !ipv6) {
        if (size < kIpHeaderMin || (data[0] >> 4) != 4) {
            return std::nullopt;
        }
        offset = static_cast<size_t>(data[0] & 0x0F) * 4;
        if (offset < kIpHeaderMin) {
            return std::nullopt;
        }
    }
    // Type, code, checksum, identifier, sequence and the 4-byte tick.
    if (size < offset + 12) {
        return std::nullopt;
    }
    const uint8_t* icmp = data + offset;
    // A raw socket also sees our own outgoing requests on loopback: only replies count.
    if (icmp[0] != (ipv6 ? kTypeEchoReplyV6 : kTypeEchoReply)) {
        return std::nullopt;
    }
    EchoReply reply{};
    reply.identifier = static_cast<uint16_t>((icmp[4] << 8) | icmp[5]);
    reply.sequence = ReadLe16(icmp + 6);
    reply.tick = ReadLe32(icmp + 8);
    return reply;
}

uint32_t TickDiffMs(uint32_t to, uint32_t from) {
    uint32_t diff = to - from;
    if (to < from) {
        diff -= 1;
    }
    return diff;
}

LateReplyDecision DecideLateReply(uint16_t sequence, const std::vector<int32_t>& samples) {
    const size_t n = samples.size();
    // The newest index not above n whose low 16 bits are the sequence number.
    const size_t back = static_cast<uint16_t>(static_cast<uint16_t>(n) - sequence);
    if (back == 0) {
        return {LateReplyAction::RecordDueNow, n};
    }
    if (sequence == 0 || back > n) {
        return {LateReplyAction::Ignore, 0};
    }
    const size_t index = n - back;
    if (samples[index] == -1) {
        return {LateReplyAction::CorrectEarlier, index};
    }
    return {LateReplyAction::Ignore, 0};
}

void SentProbes::Sent(uint16_t sequence, uint32_t tick) {
    probes_[sequence % kKept] = Probe{true, sequence, tick};
}

bool SentProbes::Matches(uint16_t sequence, uint32_t tick) const {
    const Probe& p = probes_[sequence % kKept];
    return p.sent && p.sequence == sequence && p.tick == tick;
}

uint32_t ReplyWait::NextSlice() {
    // Once the timeout has been reached the slice is empty: one last look, then the loss.
    uint32_t remaining = elapsed_ < timeoutMs_ ? timeoutMs_ - elapsed_ : 0;
    uint32_t slice = remaining < 1000 ? remaining : 1000;
    waited_ += slice;
    return slice;
}

bool ReplyWait::SliceExpired(uint32_t elapsedNow) {
    elapsed_ = elapsedNow;
    // Slices end a little after they were asked to, so the measured time counts too:
    // otherwise a millisecond of drift would cost another whole slice.
    return waited_ >= timeoutMs_ || elapsed_ >= timeoutMs_;
}

}  // namespace qv
