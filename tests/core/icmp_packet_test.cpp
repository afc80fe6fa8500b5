// ICMP echo packets and the prober's timing rules: request layout and checksum, reply
// parsing, response time across a tick wrap, late replies and the reply wait's slices.
#include "core/icmp_packet.h"

#include <gtest/gtest.h>

#include <array>

namespace qv {
namespace {

std::array<uint8_t, kEchoRequestSize> Request(uint16_t id, uint16_t seq, uint32_t tick) {
    std::array<uint8_t, kEchoRequestSize> packet{};
    packet.fill(0xAA);  // whatever was there before is overwritten
    PrepareEchoRequest(packet.data());
    StampEchoRequest(packet.data(), id, seq, tick);
    return packet;
}

TEST(IcmpPacket, RequestLayoutMatchesKnownVector) {
    auto p = Request(0x1234, 0x0001, 0x04030201);
    const uint8_t head[12] = {8, 0, 0x8C, 0x71, 0x12, 0x34, 0x01, 0x00, 0x01, 0x02, 0x03, 0x04};
    for (size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(p[i], head[i]) << "byte " << i;
    }
    for (size_t i = 12; i < kEchoRequestSize; ++i) {
        EXPECT_EQ(p[i], 0x45) << "byte " << i;
    }
}

TEST(IcmpPacket, ChecksumVerifiesToZeroForManyStamps) {
    const uint16_t ids[] = {0, 1, 0x1001, 0xFFFF};
    const uint32_t ticks[] = {0, 0xFFFFFFFF, 0x80000000, 123456789};
    for (uint16_t id : ids) {
        for (uint32_t tick : ticks) {
            for (uint16_t seq : {uint16_t{0}, uint16_t{0xFF}, uint16_t{0xFFFF}}) {
                auto p = Request(id, seq, tick);
                EXPECT_EQ(InternetChecksum(p.data(), p.size()), 0) << id << " " << tick;
            }
        }
    }
    // Odd lengths pad with a zero byte.
    const uint8_t odd[3] = {0x01, 0x02, 0x03};
    EXPECT_EQ(InternetChecksum(odd, 3), static_cast<uint16_t>(~(0x0102 + 0x0300)));
}

TEST(IcmpPacket, RestampingReplacesOldFields) {
    std::array<uint8_t, kEchoRequestSize> p{};
    PrepareEchoRequest(p.data());
    StampEchoRequest(p.data(), 7, 9, 0xDEADBEEF);
    StampEchoRequest(p.data(), 0x1234, 0x0001, 0x04030201);
    EXPECT_EQ(p, Request(0x1234, 0x0001, 0x04030201));
}

// An echo reply as it arrives: the request turned into type 0, optionally behind an IPv4
// header of `ihl` 32-bit words.
std::vector<uint8_t> Reply(uint16_t id, uint16_t seq, uint32_t tick, int ihl, uint8_t type = 0) {
    auto request = Request(id, seq, tick);
    std::vector<uint8_t> bytes;
    if (ihl > 0) {
        bytes.assign(static_cast<size_t>(ihl) * 4, 0);
        bytes[0] = static_cast<uint8_t>(0x40 | ihl);
        bytes[9] = 1;
    }
    bytes.insert(bytes.end(), request.begin(), request.end());
    bytes[static_cast<size_t>(ihl) * 4] = type;
    return bytes;
}

TEST(IcmpPacket, ParsesReplyWithAndWithoutIpHeader) {
    auto raw = Reply(0x0ABC, 0x0102, 0x11223344, 5);
    auto r = ParseEchoReply(raw.data(), raw.size(), true);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->identifier, 0x0ABC);
    EXPECT_EQ(r->sequence, 0x0102);
    EXPECT_EQ(r->tick, 0x11223344u);

    // A header with options is longer than 20 bytes: IHL decides where ICMP starts.
    auto withOptions = Reply(0x0ABC, 7, 99, 7);
    r = ParseEchoReply(withOptions.data(), withOptions.size(), true);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->identifier, 0x0ABC);
    EXPECT_EQ(r->sequence, 7);
    EXPECT_EQ(r->tick, 99u);

    auto dgram = Reply(0x0ABC, 0xFFFF, 0xFFFFFFFF, 0);
    r = ParseEchoReply(dgram.data(), dgram.size(), false);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->sequence, 0xFFFF);
    EXPECT_EQ(r->tick, 0xFFFFFFFFu);
}

TEST(IcmpPacket, RejectsWhatIsNotAnEchoReply) {
    // Our own outgoing request, seen by a raw socket on loopback.
    auto request = Reply(5, 1, 1000, 5, 8);
    EXPECT_FALSE(ParseEchoReply(request.data(), request.size(), true));
    auto unreachable = Reply(5, 1, 1000, 0, 3);
    EXPECT_FALSE(ParseEchoReply(unreachable.data(), unreachable.size(), false));
    // Too short to carry the tick (a bare 8-byte header), or a truncated IP header.
    auto full = Reply(5, 1, 1000, 5);
    EXPECT_FALSE(ParseEchoReply(full.data(), 20 + 8, true));
    EXPECT_TRUE(ParseEchoReply(full.data(), 20 + 12, true));
    EXPECT_FALSE(ParseEchoReply(full.data(), 10, true));
    EXPECT_FALSE(ParseEchoReply(full.data() + 20, 8, false));
    // IHL below 5 or not IPv4.
    auto bad = full;
    bad[0] = 0x44;
    EXPECT_FALSE(ParseEchoReply(bad.data(), bad.size(), true));
    bad[0] = 0x65;
    EXPECT_FALSE(ParseEchoReply(bad.data(), bad.size(), true));
    // Parsed as datagram, a raw datagram's IP header does not read as an echo reply.
    EXPECT_FALSE(ParseEchoReply(full.data(), full.size(), false));
}

TEST(IcmpPacket, Icmpv6RequestsAndReplies) {
    std::vector<uint8_t> request(kEchoRequestSize);
    PrepareEchoRequest(request.data(), true);
    StampEchoRequest(request.data(), 0x0ABC, 9, 0x11223344);
    EXPECT_EQ(request[0], 128);
    EXPECT_EQ(request[1], 0);
    // Our own request (seen on loopback) is no reply; the kernel's answer, type 129, is,
    // and an ICMPv6 message never starts with an IP header, whatever the socket.
    EXPECT_FALSE(ParseEchoReply(request.data(), request.size(), false, true));
    auto reply = request;
    reply[0] = 129;
    for (bool raw : {false, true}) {
        auto r = ParseEchoReply(reply.data(), reply.size(), raw, true);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->identifier, 0x0ABC);
        EXPECT_EQ(r->sequence, 9);
        EXPECT_EQ(r->tick, 0x11223344u);
    }
    // An IPv4 echo reply (type 0) is not an ICMPv6 one, nor the other way round.
    reply[0] = 0;
    EXPECT_FALSE(ParseEchoReply(reply.data(), reply.size(), false, true));
    reply[0] = 129;
    EXPECT_FALSE(ParseEchoReply(reply.data(), reply.size(), false, false));
    EXPECT_FALSE(ParseEchoReply(reply.data(), 11, false, true));
}

TEST(IcmpPacket, ForeignIdentifierIsReportedAsIs) {
    // Matching is the prober's business: the parser reports the identifier unchanged.
    auto other = Reply(0x0102, 3, 50, 5);
    auto r = ParseEchoReply(other.data(), other.size(), true);
    ASSERT_TRUE(r);
    EXPECT_NE(r->identifier, 0x0201);
    EXPECT_EQ(r->identifier, 0x0102);
}

TEST(IcmpPacket, RoundTripAcrossTickWrap) {
    EXPECT_EQ(TickDiffMs(1030, 1000), 30u);
    EXPECT_EQ(TickDiffMs(1000, 1000), 0u);
    // Sent 10 ms before the wrap, received 20 ms after: 30 ms, one less for the wrap.
    EXPECT_EQ(TickDiffMs(20, 0xFFFFFFF6u), 29u);
    EXPECT_EQ(TickDiffMs(0, 0xFFFFFFFFu), 0u);
}

TEST(IcmpPacket, LateReplyForSampleDueNow) {
    std::vector<int32_t> samples{5, -1, 7};
    auto d = DecideLateReply(3, samples);
    EXPECT_EQ(d.action, LateReplyAction::RecordDueNow);
    std::vector<int32_t> none;
    EXPECT_EQ(DecideLateReply(0, none).action, LateReplyAction::RecordDueNow);
}

TEST(IcmpPacket, LateReplyCorrectsOnlyEarlierLostSamples) {
    std::vector<int32_t> samples{-1, -1, 7, 0};
    auto d = DecideLateReply(1, samples);
    EXPECT_EQ(d.action, LateReplyAction::CorrectEarlier);
    EXPECT_EQ(d.index, 1u);
    // Sequence 0 never corrects, even over a lost sample.
    EXPECT_EQ(DecideLateReply(0, samples).action, LateReplyAction::Ignore);
    // A sample that is not -1 stays.
    EXPECT_EQ(DecideLateReply(2, samples).action, LateReplyAction::Ignore);
    EXPECT_EQ(DecideLateReply(3, samples).action, LateReplyAction::Ignore);
    // Beyond the due sample.
    EXPECT_EQ(DecideLateReply(5, samples).action, LateReplyAction::Ignore);
    EXPECT_EQ(DecideLateReply(0xFFFF, samples).action, LateReplyAction::Ignore);
}

TEST(IcmpPacket, LateReplyAfterSequenceWrap) {
    // A 1 s host in the service program passes 65,536 samples after about 18 hours; the
    // sequence number then names the newest sample with its low 16 bits.
    std::vector<int32_t> samples(65536 + 10, 3);
    samples[65536 + 4] = -1;
    samples[4] = -1;  // same low bits, but 18 hours old
    auto d = DecideLateReply(4, samples);
    EXPECT_EQ(d.action, LateReplyAction::CorrectEarlier);
    EXPECT_EQ(d.index, 65536u + 4u);
    EXPECT_EQ(DecideLateReply(10, samples).action, LateReplyAction::RecordDueNow);
    samples[65536 + 4] = 8;
    EXPECT_EQ(DecideLateReply(4, samples).action, LateReplyAction::Ignore);
    // Exactly 65,536 samples: sequence 0 is due now.
    std::vector<int32_t> wrapped(65536, -1);
    EXPECT_EQ(DecideLateReply(0, wrapped).action, LateReplyAction::RecordDueNow);
    d = DecideLateReply(65535, wrapped);
    EXPECT_EQ(d.action, LateReplyAction::CorrectEarlier);
    EXPECT_EQ(d.index, 65535u);
}

TEST(IcmpPacket, OnlyRepliesToRequestsWeSentAreOurs) {
    SentProbes sent;
    sent.Sent(7, 1000);
    sent.Sent(8, 2000);
    for (uint16_t s = 9; s <= 7 + SentProbes::kKept; ++s) {
        sent.Sent(s, 3000u + s);  // the last one, 263, takes the place of 7
    }
    struct Case {
        uint16_t sequence;
        uint32_t tick;
        bool ours;
    } cases[] = {
        {8, 2000, true},     // the oldest still kept
        {263, 3263, true},   // the newest
        {8, 2001, false},    // our sequence with another program's tick
        {263, 1000, false},  // another program's request that shares our sequence
        {264, 3264, false},  // never sent
        {7, 1000, false},    // sent, but too long ago
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sent.Matches(c.sequence, c.tick), c.ours) << c.sequence << " " << c.tick;
    }
}

TEST(IcmpReplyWait, ShortTimeoutIsOneSlice) {
    ReplyWait w(500);
    EXPECT_EQ(w.NextSlice(), 500u);
    EXPECT_TRUE(w.SliceExpired(500));
}

TEST(IcmpReplyWait, LongTimeoutInSecondSlices) {
    ReplyWait w(2500);
    EXPECT_EQ(w.NextSlice(), 1000u);
    EXPECT_FALSE(w.SliceExpired(1000));
    EXPECT_EQ(w.NextSlice(), 1000u);
    EXPECT_FALSE(w.SliceExpired(2000));
    EXPECT_EQ(w.NextSlice(), 500u);
    EXPECT_TRUE(w.SliceExpired(2500));
}

TEST(IcmpReplyWait, DriftDoesNotCostAnotherSlice) {
    // Each slice ends a millisecond late: the probe is still lost at the timeout.
    ReplyWait w(2000);
    EXPECT_EQ(w.NextSlice(), 1000u);
    EXPECT_FALSE(w.SliceExpired(1001));
    EXPECT_EQ(w.NextSlice(), 999u);
    EXPECT_TRUE(w.SliceExpired(2001));
}

TEST(IcmpReplyWait, ForeignDatagramCountsTheInterruptedSliceInFull) {
    // 2500 ms timeout, a foreign datagram 100 ms after sending: lost after about 2100 ms.
    ReplyWait w(2500);
    EXPECT_EQ(w.NextSlice(), 1000u);
    w.Interrupted(100);
    EXPECT_EQ(w.NextSlice(), 1000u);
    EXPECT_FALSE(w.SliceExpired(1100));
    EXPECT_EQ(w.NextSlice(), 1000u);
    EXPECT_EQ(w.waited(), 3000u);
    EXPECT_TRUE(w.SliceExpired(2100));
}

TEST(IcmpReplyWait, DatagramAtTheTimeoutEndsWithAnEmptySlice) {
    ReplyWait w(1000);
    EXPECT_EQ(w.NextSlice(), 1000u);
    w.Interrupted(1003);
    EXPECT_EQ(w.NextSlice(), 0u);
    EXPECT_TRUE(w.SliceExpired(1003));
}

}  // namespace
}  // namespace qv
