// The ICMP socket layer against a test host in a private network namespace: both socket
// kinds reach the host, a raw socket wakes only for its own replies, a datagram socket
// whose identifier is taken matches on the kernel's.
#include "platform/icmp_socket.h"

#include <gtest/gtest.h>

#include <latch>
#include <thread>
#include <vector>

#include "core/icmp_packet.h"
#include "support/lib/netns.h"

namespace qv {
namespace {

using test::IcmpResponder;
using test::TestNetNamespace;

constexpr const char* kHost = "127.0.0.2";

uint32_t Address(const char* text) {
    return *ParseDottedIPv4(text);
}

int SendRequest(IcmpSocket& s, const char* to, uint16_t seq, uint32_t tick) {
    uint8_t packet[kEchoRequestSize];
    PrepareEchoRequest(packet);
    StampEchoRequest(packet, s.Identifier(), seq, tick);
    return s.SendTo(Address(to), packet, sizeof packet);
}

// The first datagram that arrives within timeoutMs, parsed.
std::optional<EchoReply> ReceiveOne(IcmpSocket& s, int timeoutMs, bool* anything) {
    *anything = false;
    if (s.WaitReadable(timeoutMs) != WaitResult::Ready) {
        return std::nullopt;
    }
    std::vector<uint8_t> buffer(65536);
    size_t size = 0;
    if (s.Receive(buffer.data(), buffer.size(), &size) != 0) {
        return std::nullopt;
    }
    *anything = true;
    return ParseEchoReply(buffer.data(), size, s.RepliesCarryIpHeader());
}

class IcmpSocketTest : public testing::TestWithParam<IcmpSocketKind> {
  protected:
    void SetUp() override {
        if (!ns_.Ok()) {
            GTEST_SKIP() << ns_.SkipReason();
        }
        std::string error;
        ASSERT_TRUE(responder_.Start({kHost, "127.0.0.3,silent"}, &error)) << error;
    }

    TestNetNamespace ns_;
    IcmpResponder responder_;
};

TEST_P(IcmpSocketTest, EchoRequestGetsItsReply) {
    int error = -1;
    IcmpSocket s = IcmpSocket::Open(GetParam(), 0x0123, &error);
    ASSERT_TRUE(s.Valid()) << error;
    EXPECT_EQ(error, 0);
    EXPECT_EQ(s.RepliesCarryIpHeader(), GetParam() == IcmpSocketKind::Raw);
    EXPECT_EQ(s.Identifier(), 0x0123);

    ASSERT_EQ(SendRequest(s, kHost, 7, 0xCAFE0001), 0);
    bool anything = false;
    // A raw socket's first datagram must already be the reply, not our own request.
    auto reply = ReceiveOne(s, 2000, &anything);
    ASSERT_TRUE(anything);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->identifier, 0x0123);
    EXPECT_EQ(reply->sequence, 7);
    EXPECT_EQ(reply->tick, 0xCAFE0001u);

    auto requests = responder_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].identifier, 0x0123u);
    EXPECT_EQ(requests[0].sequence, 7u);
}

TEST_P(IcmpSocketTest, SocketWakesOnlyForItsOwnReplies) {
    int error = 0;
    IcmpSocket mine = IcmpSocket::Open(GetParam(), 0x0200, &error);
    IcmpSocket other = IcmpSocket::Open(GetParam(), 0x0201, &error);
    ASSERT_TRUE(mine.Valid() && other.Valid());

    for (uint16_t seq = 0; seq < 3; ++seq) {
        ASSERT_EQ(SendRequest(mine, kHost, seq, 1000 + seq), 0);
    }
    ASSERT_EQ(SendRequest(other, "127.0.0.3", 0, 5), 0);  // unanswered
    bool anything = false;
    EXPECT_FALSE(ReceiveOne(other, 300, &anything));
    EXPECT_FALSE(anything) << "woke for another socket's replies or requests";
    for (uint16_t seq = 0; seq < 3; ++seq) {
        auto reply = ReceiveOne(mine, 1000, &anything);
        ASSERT_TRUE(reply) << seq;
        EXPECT_EQ(reply->sequence, seq);
    }
}

TEST_P(IcmpSocketTest, SendToUnreachableAddressFails) {
    int error = 0;
    IcmpSocket s = IcmpSocket::Open(GetParam(), 0x0300, &error);
    ASSERT_TRUE(s.Valid());
    // The namespace has no route beyond loopback, so nothing leaves this machine.
    EXPECT_NE(SendRequest(s, "192.0.2.1", 0, 0), 0);
}

INSTANTIATE_TEST_SUITE_P(BothKinds, IcmpSocketTest,
                         testing::Values(IcmpSocketKind::Raw, IcmpSocketKind::Datagram),
                         [](const auto& info) {
                             return info.param == IcmpSocketKind::Raw ? "Raw" : "Datagram";
                         });

TEST(IcmpSocket, TakenDatagramIdentifierFallsBackToTheKernels) {
    TestNetNamespace ns;
    if (!ns.Ok()) {
        GTEST_SKIP() << ns.SkipReason();
    }
    IcmpResponder responder;
    std::string text;
    ASSERT_TRUE(responder.Start({kHost}, &text)) << text;

    int error = 0;
    IcmpSocket first = IcmpSocket::Open(IcmpSocketKind::Datagram, 0x0400, &error);
    IcmpSocket second = IcmpSocket::Open(IcmpSocketKind::Datagram, 0x0400, &error);
    ASSERT_TRUE(first.Valid() && second.Valid()) << error;
    EXPECT_EQ(first.Identifier(), 0x0400);
    EXPECT_NE(second.Identifier(), 0x0400);

    ASSERT_EQ(SendRequest(second, kHost, 1, 42), 0);
    bool anything = false;
    auto reply = ReceiveOne(second, 2000, &anything);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->identifier, second.Identifier());
    EXPECT_FALSE(ReceiveOne(first, 100, &anything));
}

TEST(IcmpSocket, DatagramSocketsOpenedTogetherNeverShareAnIdentifier) {
    // Probers start side by side, and two of them can ask for one identifier at the same
    // moment. The kernel lets both bind it, and then only one of them gets the replies.
    TestNetNamespace ns;
    if (!ns.Ok()) {
        GTEST_SKIP() << ns.SkipReason();
    }
    for (uint16_t round = 0; round < 200; ++round) {
        const auto wanted = static_cast<uint16_t>(0x0600 + round);
        std::latch start(2);
        IcmpSocket sockets[2];
        int errors[2] = {};
        auto open = [&](int i) {
            start.arrive_and_wait();
            sockets[i] = IcmpSocket::Open(IcmpSocketKind::Datagram, wanted, &errors[i]);
        };
        std::thread other(open, 1);
        open(0);
        other.join();
        ASSERT_TRUE(sockets[0].Valid() && sockets[1].Valid()) << errors[0] << " " << errors[1];
        ASSERT_NE(sockets[0].Identifier(), sockets[1].Identifier()) << "round " << round;
    }
}

TEST(IcmpSocket, AutoPrefersRawAndRefusalReportsErrno) {
    TestNetNamespace ns;
    if (!ns.Ok()) {
        GTEST_SKIP() << ns.SkipReason();
    }
    int error = 0;
    IcmpSocket autoKind = IcmpSocket::Open(IcmpSocketKind::Auto, 1, &error);
    ASSERT_TRUE(autoKind.Valid());
    EXPECT_TRUE(autoKind.RepliesCarryIpHeader());  // we are root here

    // No group may open datagram ICMP sockets in this namespace now.
    FILE* f = std::fopen("/proc/sys/net/ipv4/ping_group_range", "w");
    ASSERT_NE(f, nullptr);
    std::fputs("1 0", f);
    std::fclose(f);
    IcmpSocket refused = IcmpSocket::Open(IcmpSocketKind::Datagram, 2, &error);
    EXPECT_FALSE(refused.Valid());
    EXPECT_EQ(error, EACCES);
}

}  // namespace
}  // namespace qv
