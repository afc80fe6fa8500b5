// Both probers against IPv6 test hosts in a private network namespace (ICMPv6 over both
// socket kinds, TCP open and closed, a name known only by its IPv6 address), and the
// probers' names: a lookup never holds up a stop, an unknown name is lost every period
// while its message waits to be shown.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "core/host_table.h"
#include "core/icmp_packet.h"
#include "core/icmp_prober.h"
#include "core/probers.h"
#include "support/lib/netns.h"
#include "support/lib/recording_sink.h"
#include "support/lib/wait_for.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using test::IcmpResponder;
using test::RecordingMessageSink;
using test::TestNetNamespace;
using test::TestResolverFiles;
using Steady = std::chrono::steady_clock;

using test::WaitFor;

std::vector<int32_t> Samples(HostTable& table, int slot) {
    std::lock_guard<std::recursive_mutex> lock(table.SampleLock());
    return table.Entry(slot).samples;
}

// Runs body on a thread of its own (in the caller's network namespace), for tests that
// change the thread's view of files.
void OnOwnThread(const std::function<void()>& body) {
    std::thread(body).join();
}

// A stream socket on an IPv6 test address: listening, or only bound (so refusing).
UniqueFd Ipv6Port(const std::string& address, bool listening, uint16_t* port) {
    UniqueFd fd(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    NetAddress local = *ParseAddressLiteral(address);
    sockaddr_in6 bound{};
    socklen_t length = sizeof bound;
    if (!fd.Valid() || ::bind(fd.Get(), local.Sockaddr(), local.length) != 0 ||
        (listening && ::listen(fd.Get(), 4) != 0) ||
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
        return UniqueFd();
    }
    *port = ntohs(bound.sin6_port);
    return fd;
}

// A namespace whose loopback carries fd00::2 to fd00::6 besides ::1.
class Ipv6Test : public testing::TestWithParam<IcmpSocketKind> {
  protected:
    void SetUp() override {
        if (!ns_.Ok()) {
            GTEST_SKIP() << ns_.SkipReason();
        }
        for (const char* a : {"fd00::2", "fd00::3", "fd00::4", "fd00::5", "fd00::6"}) {
            std::string error;
            if (!ns_.AddIpv6Address(a, &error)) {
                GTEST_SKIP() << "no IPv6 in the test namespace: " << error;
            }
        }
    }
    void TearDown() override {
        table_.reset();
        responder_.Stop();
    }
    HostTable& Table(Program program = Program::Service) {
        if (!table_) {
            HostTable::Hooks hooks;
            hooks.runProber = [kind = GetParam()](HostTable& t, int k, uint32_t run) {
                if (t.EntryOfHost(k).isIcmp) {
                    RunIcmpProberWith(t, k, run, kind);
                } else {
                    RunTcpProber(t, k, run);
                }
            };
            table_ = std::make_unique<HostTable>(program, clock_, sink_, hooks);
        }
        return *table_;
    }
    void StartResponder(const std::vector<std::string>& hosts) {
        std::string error;
        ASSERT_TRUE(responder_.Start(hosts, &error)) << error;
    }

    TestNetNamespace ns_;
    IcmpResponder responder_;
    SystemClock clock_;
    RecordingMessageSink sink_;
    std::unique_ptr<HostTable> table_;
};

TEST_P(Ipv6Test, AnsweringAndSilentIcmpv6Hosts) {
    StartResponder({"fd00::2,delay=30", "fd00::3,silent"});
    int answering = Table().AddHost("fd00::2", 500, 0).value();
    int silent = Table().AddHost("fd00::3", 500, 0).value();
    HostEntry& a = Table().Entry(answering);
    HostEntry& s = Table().Entry(silent);
    ASSERT_TRUE(WaitFor([&] { return a.successCount >= 3 && s.lostCount >= 3; }, 5s));
    EXPECT_GE(a.minMs, 29);
    EXPECT_LE(a.maxMs, 80);
    EXPECT_EQ(a.lostCount, 0u);
    EXPECT_EQ(a.up, 1);
    EXPECT_EQ(s.successCount, 0u);
    EXPECT_EQ(s.up, 0);
    auto samples = Samples(Table(), silent);
    EXPECT_TRUE(std::all_of(samples.begin(), samples.end(), [](int32_t v) { return v == -1; }));
    // Sequence numbers name the samples, as over IPv4.
    auto requests = responder_.Requests();
    std::vector<unsigned> sequences;
    for (const auto& r : requests) {
        if (r.address == "fd00::2") {
            sequences.push_back(r.sequence);
        }
    }
    ASSERT_GE(sequences.size(), 3u);
    for (size_t i = 0; i < sequences.size(); ++i) {
        EXPECT_EQ(sequences[i], i);
    }
    EXPECT_TRUE(sink_.Messages().empty());
}

// Only raw sockets see each other's replies; TCP has no socket kind.
class Ipv6RawTest : public Ipv6Test {};

TEST_P(Ipv6RawTest, SameIdentifierAndAddressFromAnotherProgramIsNotAReply) {
    StartResponder({"fd00::2,delay=10"});
    int slot = Table(Program::Desktop).AddHost("fd00::2", 1000, 0).value();
    ASSERT_TRUE(WaitFor([&] { return !responder_.Requests().empty(); }, 2s));
    // Another program probing the same address with the same identifier, whose replies
    // would read as 500 ms here.
    auto id = static_cast<uint16_t>(responder_.Requests()[0].identifier);
    int rc = 0;
    IcmpSocket twin = IcmpSocket::Open(IcmpSocketKind::Raw, id, &rc, AF_INET6);
    ASSERT_TRUE(twin.Valid()) << rc;
    const NetAddress target = *ParseAddressLiteral("fd00::2");
    uint8_t packet[kEchoRequestSize];
    PrepareEchoRequest(packet, true);
    size_t twinReplies = 0;
    std::vector<uint8_t> buffer(65536);
    for (uint16_t seq = 0; seq < 22; ++seq) {
        StampEchoRequest(packet, id, seq, clock_.TickCount() - 500);
        ASSERT_EQ(twin.SendTo(target, packet, sizeof packet), 0);
        std::this_thread::sleep_for(100ms);
        size_t size = 0;
        while (twin.Receive(buffer.data(), buffer.size(), &size) == 0) {
            twinReplies += ParseEchoReply(buffer.data(), size, false, true) ? 1 : 0;
        }
    }
    HostEntry& e = Table().Entry(slot);
    EXPECT_GE(e.successCount, 2u);
    EXPECT_LE(e.maxMs, 100);
    EXPECT_EQ(e.lostCount, 0u);
    // The other program got its replies (and ours) too: the kernel does not split them.
    EXPECT_GE(twinReplies, 20u);
}

TEST_P(Ipv6RawTest, TcpHostOnAnIpv6AddressOpenAndClosed) {
    uint16_t openPort = 0;
    uint16_t closedPort = 0;
    UniqueFd open = Ipv6Port("fd00::4", true, &openPort);
    UniqueFd closed = Ipv6Port("fd00::4", false, &closedPort);
    ASSERT_TRUE(open.Valid() && closed.Valid());
    int o = Table(Program::Desktop).AddHost("fd00::4", 1, openPort).value();
    int c = Table().AddHost("fd00::4", 1, closedPort).value();
    HostEntry& oe = Table().Entry(o);
    HostEntry& ce = Table().Entry(c);
    ASSERT_TRUE(WaitFor([&] { return oe.successCount == 1 && ce.lostCount == 1; }, 5s))
        << "open " << oe.successCount << "/" << oe.lostCount << ", closed " << ce.successCount
        << "/" << ce.lostCount << ", messages " << sink_.Count()
        << (sink_.Count() > 0 ? ": " + sink_.Messages()[0].text : "");
    EXPECT_EQ(oe.up, 1);
    EXPECT_GE(oe.lastResult, 1);
    EXPECT_EQ(ce.up, 0);
    EXPECT_EQ(ce.lastResult, -1);
    pollfd pfd{open.Get(), POLLIN, 0};
    EXPECT_EQ(::poll(&pfd, 1, 0), 1);  // the connection is waiting to be accepted
}

TEST_P(Ipv6Test, NameWithOnlyAnIpv6AddressIsProbed) {
    StartResponder({"fd00::5,delay=20"});
    uint16_t port = 0;
    UniqueFd listening = Ipv6Port("fd00::5", true, &port);
    ASSERT_TRUE(listening.Valid());
    std::string skip;
    int icmp = -1;
    int tcp = -1;
    OnOwnThread([&] {
        TestResolverFiles files("fd00::5 aaaa-only.test\n", "nameserver 127.0.0.1\n");
        if (!files.Ok()) {
            skip = files.SkipReason();
            return;
        }
        // The probers start on this thread and keep its view of the files.
        icmp = Table().AddHost("aaaa-only.test", 500, 0).value();
        tcp = Table().AddHost("aaaa-only.test", 1, port).value();
    });
    if (!skip.empty()) {
        GTEST_SKIP() << skip;
    }
    HostEntry& ie = Table().Entry(icmp);
    HostEntry& te = Table().Entry(tcp);
    ASSERT_TRUE(WaitFor([&] { return ie.successCount >= 2 && te.successCount == 1; }, 6s));
    EXPECT_GE(ie.minMs, 19);
    EXPECT_GE(responder_.RequestCount("fd00::5"), 2u);
    EXPECT_EQ(sink_.Count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Ipv6Test,
                         testing::Values(IcmpSocketKind::Raw, IcmpSocketKind::Datagram),
                         [](const testing::TestParamInfo<IcmpSocketKind>& info) {
                             return std::string(info.param == IcmpSocketKind::Raw ? "Raw"
                                                                                  : "Datagram");
                         });
INSTANTIATE_TEST_SUITE_P(Raw, Ipv6RawTest, testing::Values(IcmpSocketKind::Raw));

// A sink that holds every caller until it is let go, as a box nobody clicks would.
class BlockingSink final : public MessageSink {
  public:
    void ShowMessage(std::string_view, std::string_view, MessageIcon) override {
        std::unique_lock<std::mutex> lock(mutex_);
        ++shown_;
        released_.wait(lock, [this] { return open_; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        released_.notify_all();
    }
    int Shown() {
        std::lock_guard<std::mutex> lock(mutex_);
        return shown_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool open_ = false;
    int shown_ = 0;
};

TEST(ProberNames, UnknownNameIsLostEveryPeriodWhileItsMessageIsOpen) {
    TestNetNamespace ns;
    if (!ns.Ok()) {
        GTEST_SKIP() << ns.SkipReason();
    }
    for (Program program : {Program::Desktop, Program::Service}) {
        SCOPED_TRACE(program == Program::Desktop ? "desktop" : "service");
        SystemClock clock;
        BlockingSink sink;
        HostTable::Hooks hooks;
        hooks.runProber = [](HostTable& t, int k, uint32_t run) {
            RunIcmpProberWith(t, k, run, IcmpSocketKind::Datagram,
                              [](const std::string&) { return std::optional<NetAddress>(); });
        };
        HostTable table(program, clock, sink, hooks);
        int slot = table.AddHost("nowhere.test", 200, 0).value();
        HostEntry& e = table.Entry(slot);
        ASSERT_TRUE(WaitFor([&] { return sink.Shown() == 1; }, 2s));
        // The box stays open; the periods go on being lost.
        ASSERT_TRUE(WaitFor([&] { return e.lostCount >= 6; }, 3s));
        EXPECT_EQ(sink.Shown(), 1);
        EXPECT_EQ(e.up, 0);
        if (program == Program::Desktop) {
            EXPECT_EQ(e.lastResult, -1);
            // The tick records the loss, never a 0 ms answer.
            table.RecordDueSamples(e, clock.Now() + 3);
            auto samples = Samples(table, slot);
            ASSERT_FALSE(samples.empty());
            EXPECT_EQ(samples.back(), -1);
        } else {
            auto samples = Samples(table, slot);
            EXPECT_GE(samples.size(), 6u);
            EXPECT_TRUE(
                std::all_of(samples.begin(), samples.end(), [](int32_t v) { return v == -1; }));
        }
        sink.Release();
    }
}

TEST(ProberNames, StopEndsWithinTwoSecondsWhileDnsNeverAnswers) {
    TestNetNamespace ns;
    if (!ns.Ok()) {
        GTEST_SKIP() << ns.SkipReason();
    }
    // A name server that takes every query and answers none; the resolver would wait for
    // it far longer than a stop may take.
    UniqueFd dns(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    NetAddress server = ParseAddressLiteral("127.0.0.1")->WithPort(53);
    ASSERT_EQ(::bind(dns.Get(), server.Sockaddr(), server.length), 0);
    SystemClock clock;
    RecordingMessageSink sink;
    auto table = std::make_unique<HostTable>(Program::Service, clock, sink);
    std::string skip;
    int icmp = -1;
    OnOwnThread([&] {
        TestResolverFiles files("127.0.0.1 localhost\n",
                                "nameserver 127.0.0.1\noptions timeout:30 attempts:5\n");
        if (!files.Ok()) {
            skip = files.SkipReason();
            return;
        }
        icmp = table->AddHost("silent-dns.test", 500, 0).value();
        table->AddHost("silent-dns.test", 1, 80);
    });
    if (!skip.empty()) {
        GTEST_SKIP() << skip;
    }
    HostEntry& e = table->Entry(icmp);
    // The lookup is under way (the server has a query) and every period is lost meanwhile.
    pollfd pfd{dns.Get(), POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 3000), 1);
    ASSERT_TRUE(WaitFor([&] { return e.lostCount >= 3; }, 3s));
    EXPECT_EQ(sink.Count(), 0u);  // not failed yet: only slow

    auto stop = Steady::now();
    table.reset();
    EXPECT_LT(Steady::now() - stop, 2s);
}

}  // namespace
}  // namespace qv
