// The ICMP echo prober end to end, in real time, against test hosts in a private network
// namespace: answers, silence, loss, foreign and late datagrams, stopping, start-up
// failures, a tick wrap, over both socket kinds and in both programs.
#include "core/icmp_prober.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <tuple>

#include "core/host_table.h"
#include "core/icmp_packet.h"
#include "platform/error_text.h"
#include "support/lib/netns.h"
#include "support/lib/recording_sink.h"
#include "support/lib/wait_for.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using test::IcmpResponder;
using test::RecordingMessageSink;
using test::TestNetNamespace;

using Steady = std::chrono::steady_clock;

using test::WaitFor;

long MsSince(Steady::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count());
}

std::vector<int32_t> Samples(HostTable& table, int slot) {
    std::lock_guard<std::recursive_mutex> lock(table.SampleLock());
    return table.Entry(slot).samples;
}

// The system clock with its tick moved, so that it wraps soon after the test starts.
class ShiftedClock final : public Clock {
  public:
    explicit ShiftedClock(uint32_t shift) : shift_(shift) {}
    uint32_t TickCount() override { return system_.TickCount() + shift_; }
    int64_t Now() override { return system_.Now(); }
    bool LocalTime(int64_t t, std::tm& out) override { return system_.LocalTime(t, out); }
    void SleepMs(uint32_t ms) override { system_.SleepMs(ms); }

  private:
    SystemClock system_;
    uint32_t shift_;
};

using Param = std::tuple<IcmpSocketKind, Program>;

class IcmpProberTest : public testing::TestWithParam<Param> {
  protected:
    void SetUp() override {
        if (!ns_.Ok()) {
            GTEST_SKIP() << ns_.SkipReason();
        }
    }
    void TearDown() override {
        table_.reset();  // joins the probers
        responder_.Stop();
    }

    IcmpSocketKind Kind() const { return std::get<0>(GetParam()); }
    Program TheProgram() const { return std::get<1>(GetParam()); }

    void StartResponder(const std::vector<std::string>& hostArgs) {
        std::string error;
        ASSERT_TRUE(responder_.Start(hostArgs, &error)) << error;
    }
    HostTable& Table() {
        if (!table_) {
            HostTable::Hooks hooks;
            IcmpSocketKind kind = Kind();
            hooks.runProber = [kind](HostTable& t, int k, uint32_t run) {
                RunIcmpProberWith(t, k, run, kind);
            };
            table_ = std::make_unique<HostTable>(TheProgram(), *clock_, sink_, hooks);
        }
        return *table_;
    }
    int Add(const std::string& name, int32_t timeout) {
        auto slot = Table().AddHost(name, timeout, 0);
        EXPECT_TRUE(slot);
        return slot.value_or(0);
    }

    TestNetNamespace ns_;
    IcmpResponder responder_;
    SystemClock systemClock_;
    Clock* clock_ = &systemClock_;
    RecordingMessageSink sink_;
    std::unique_ptr<HostTable> table_;
};

// Behaviour that is the same in both programs runs in the service program only.
class IcmpProberOneProgramTest : public IcmpProberTest {};

TEST_P(IcmpProberTest, AnsweringHostOneRequestPerPeriod) {
    StartResponder({"127.0.0.2,delay=30"});
    int slot = Add("127.0.0.2", 1000);
    HostEntry& e = Table().Entry(slot);
    auto start = Steady::now();
    ASSERT_TRUE(WaitFor([&] { return e.successCount >= 3; }, 5s));
    EXPECT_GE(MsSince(start), 1900);  // three answers take two periods
    EXPECT_GE(e.currentMs, 29);
    EXPECT_LE(e.currentMs, 80);
    EXPECT_EQ(e.up, 1);
    EXPECT_EQ(e.lostCount, 0u);
    EXPECT_GE(e.minMs, 29);

    auto requests = responder_.Requests();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_LE(requests.size(), 4u);
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].sequence, i);
        EXPECT_EQ(requests[i].identifier, requests[0].identifier);
    }
    // base + k with base from 12 bits of the tick.
    EXPECT_GE(requests[0].identifier, 1u);
    EXPECT_LE(requests[0].identifier, 4095u + 1u);

    if (TheProgram() == Program::Service) {
        auto samples = Samples(Table(), slot);
        ASSERT_GE(samples.size(), 3u);
        for (int32_t s : samples) {
            EXPECT_GE(s, 29);
            EXPECT_LE(s, 80);
        }
    } else {
        EXPECT_GE(e.lastResult, 29);
        EXPECT_EQ(Table().runningProbers, 1);
        EXPECT_TRUE(Samples(Table(), slot).empty());  // the tick records, not the prober
        Table().StopHost(slot);
        EXPECT_TRUE(WaitFor([&] { return Table().runningProbers == 0; }, 1500ms));
    }
}

TEST_P(IcmpProberTest, SilentHostLosesOneProbePerTimeout) {
    StartResponder({"127.0.0.3,silent"});
    int slot = Add("127.0.0.3", 500);
    HostEntry& e = Table().Entry(slot);
    std::this_thread::sleep_for(2750ms);
    uint32_t lost = e.lostCount;
    EXPECT_GE(lost, 5u);
    EXPECT_LE(lost, 6u);
    EXPECT_EQ(e.successCount, 0u);
    EXPECT_EQ(e.up, 0);
    size_t requests = responder_.RequestCount("127.0.0.3");
    EXPECT_GE(requests, lost);
    EXPECT_LE(requests, lost + 1);
    if (TheProgram() == Program::Service) {
        auto samples = Samples(Table(), slot);
        EXPECT_GE(samples.size(), 5u);
        EXPECT_TRUE(std::all_of(samples.begin(), samples.end(), [](int32_t s) { return s == -1; }));
    } else {
        EXPECT_EQ(e.lastResult, -1);
    }
}

TEST_P(IcmpProberOneProgramTest, EveryFifthDroppedShowsInLostCount) {
    StartResponder({"127.0.0.4,delay=2,drop=5"});
    int slot = Add("127.0.0.4", 250);
    HostEntry& e = Table().Entry(slot);
    ASSERT_TRUE(WaitFor([&] { return e.successCount + e.lostCount >= 12; }, 6s));
    Table().StopHost(slot);
    std::this_thread::sleep_for(400ms);  // the prober notices within one 250 ms slice
    // The finished probes are the first ones the responder saw: every fifth was lost.
    uint32_t done = e.successCount + e.lostCount;
    EXPECT_EQ(e.lostCount, done / 5);
    EXPECT_GE(responder_.RequestCount("127.0.0.4"), done);
}

TEST_P(IcmpProberOneProgramTest, ForeignDatagramDoesNotEndTheWait) {
    // A truncated echo reply with our identifier 100 ms after each request; no answer.
    StartResponder({"127.0.0.5,foreign=100"});
    auto start = Steady::now();
    int slot = Add("127.0.0.5", 2500);
    HostEntry& e = Table().Entry(slot);
    ASSERT_TRUE(WaitFor([&] { return e.lostCount >= 1; }, 4s));
    long ms = MsSince(start);
    // The interrupted first slice counts in full: lost after about 2100 ms.
    EXPECT_GE(ms, 1950);
    EXPECT_LE(ms, 2450);
    EXPECT_EQ(e.successCount, 0u);
}

TEST_P(IcmpProberOneProgramTest, LateRepliesCorrectEarlierLosses) {
    // Corrections need the service program's one sample per probe.
    // Every reply arrives 100 ms after its 250 ms timeout, during the next probe's wait.
    StartResponder({"127.0.0.6,delay=350"});
    int slot = Add("127.0.0.6", 250);
    HostEntry& e = Table().Entry(slot);
    std::this_thread::sleep_for(2100ms);
    Table().StopHost(slot);
    std::this_thread::sleep_for(400ms);  // the prober notices within one 250 ms slice

    EXPECT_EQ(e.successCount, 0u);
    auto samples = Samples(Table(), slot);
    ASSERT_GE(samples.size(), 6u);
    // Probe 0's reply never corrects; every later probe's sample was turned into its
    // response time, except perhaps the last one, still waiting for its reply.
    EXPECT_EQ(samples[0], -1);
    for (size_t i = 1; i + 1 < samples.size(); ++i) {
        EXPECT_GE(samples[i], 350) << i;
        EXPECT_LE(samples[i], 450) << i;
    }
    auto lost = static_cast<uint32_t>(std::count(samples.begin(), samples.end(), -1));
    EXPECT_EQ(e.lostCount, lost);
}

TEST_P(IcmpProberOneProgramTest, ProbersOfOneTableKeepToTheirOwnReplies) {
    StartResponder({"127.0.0.2,delay=10", "127.0.0.3,delay=90", "127.0.0.4,silent"});
    int fast = Add("127.0.0.2", 1000);
    int slow = Add("127.0.0.3", 1000);
    int silent = Add("127.0.0.4", 500);
    HostEntry& f = Table().Entry(fast);
    HostEntry& s = Table().Entry(slow);
    ASSERT_TRUE(WaitFor([&] { return f.successCount >= 2 && s.successCount >= 2; }, 4s));
    EXPECT_LE(f.maxMs, 60);
    EXPECT_GE(s.minMs, 89);
    EXPECT_EQ(Table().Entry(silent).successCount, 0u);
    EXPECT_GE(Table().Entry(silent).lostCount, 2u);
    EXPECT_EQ(f.lostCount + s.lostCount, 0u);
}

TEST_P(IcmpProberTest, UnresolvableNameIsReportedOnceAndEachPeriodIsLost) {
    // Nothing beyond loopback is reachable from the test namespace, DNS included.
    const auto added = std::chrono::steady_clock::now();
    int slot = Add("no-such-host.invalid", 1000);
    HostEntry& e = Table().Entry(slot);
    // A period is lost when it is over, like an unanswered one, so that the losses never
    // run ahead of the seconds recorded (a lost share above 100 %); the message follows.
    ASSERT_TRUE(WaitFor([&] { return e.lostCount >= 1; }, 10s));
    EXPECT_GE(std::chrono::steady_clock::now() - added, 900ms);
    ASSERT_TRUE(WaitFor([&] { return sink_.Count() >= 1 && e.lostCount >= 3; }, 10s));
    auto messages = sink_.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Can't resolve no-such-host.invalid");
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_EQ(messages[0].icon,
              TheProgram() == Program::Desktop ? MessageIcon::Error : MessageIcon::None);
    EXPECT_EQ(e.successCount, 0u);
    EXPECT_EQ(e.up, 0);
    EXPECT_EQ(e.active, 1);
    if (TheProgram() == Program::Service) {
        auto samples = Samples(Table(), slot);
        EXPECT_GE(samples.size(), 3u);
        EXPECT_TRUE(std::all_of(samples.begin(), samples.end(), [](int32_t s) { return s == -1; }));
    } else {
        EXPECT_EQ(e.lastResult, -1);
        EXPECT_EQ(Table().runningProbers, 1);  // still in its loop, trying the name again
    }
}

// Time that runs only as fast as the prober sleeps, until the name resolves; from then on
// it runs in real time, so that replies are timed for real.
class InstantUntilResolvedClock final : public Clock {
  public:
    uint32_t TickCount() override {
        return real_.load() ? jumped_.load() + (system_.TickCount() - realFrom_.load())
                            : jumped_.load();
    }
    int64_t Now() override { return system_.Now(); }
    bool LocalTime(int64_t t, std::tm& out) override { return system_.LocalTime(t, out); }
    void SleepMs(uint32_t ms) override {
        if (real_.load()) {
            system_.SleepMs(ms);
        } else {
            jumped_ += ms;
        }
    }
    void RunInRealTime() {
        realFrom_ = system_.TickCount();
        real_ = true;
    }

  private:
    SystemClock system_;
    std::atomic<uint32_t> jumped_{5000};
    std::atomic<uint32_t> realFrom_{0};
    std::atomic<bool> real_{false};
};

TEST_P(IcmpProberOneProgramTest, NameThatResolvesLateIsProbedFromThenOn) {
    // A service started before the network: the name resolves only after 150 s. Meanwhile
    // every period is lost, and the name is tried every period in the first minute, then
    // once a minute.
    struct Late {
        InstantUntilResolvedClock clock;
        std::mutex mutex;
        std::vector<uint32_t> lookups;  // ticks since the start
    };
    auto late = std::make_shared<Late>();  // owned by the table's prober too
    HostTable::Hooks hooks;
    hooks.runProber = [late, kind = Kind()](HostTable& t, int k, uint32_t run) {
        RunIcmpProberWith(t, k, run, kind, [late](const std::string& name) {
            const uint32_t since = late->clock.TickCount() - 5000;
            std::lock_guard<std::mutex> lock(late->mutex);
            late->lookups.push_back(since);
            if (name != "late.test" || since < 150'000) {
                return std::optional<NetAddress>();
            }
            late->clock.RunInRealTime();
            return ParseAddressLiteral("127.0.0.7");
        });
    };
    StartResponder({"127.0.0.7,delay=20"});
    table_ = std::make_unique<HostTable>(Program::Service, late->clock, sink_, hooks);
    int slot = Add("late.test", 1000);
    HostEntry& e = Table().Entry(slot);
    ASSERT_TRUE(WaitFor([&] { return e.successCount >= 2; }, 10s));
    const std::vector<int32_t> samples = Samples(Table(), slot);
    const uint32_t lost = e.lostCount;

    ASSERT_EQ(sink_.Count(), 1u);
    EXPECT_EQ(sink_.Messages()[0].text, "Can't resolve late.test");
    std::vector<uint32_t> times;
    {
        std::lock_guard<std::mutex> lock(late->mutex);
        times = late->lookups;
    }
    ASSERT_GE(times.size(), 3u);
    EXPECT_EQ(times[0], 0u);
    for (size_t i = 1; i < times.size(); ++i) {
        const uint32_t gap = times[i] - times[i - 1];
        if (times[i] < 60'000) {
            EXPECT_LE(gap, 1000u) << i;  // every period
        } else {
            EXPECT_GE(gap, 60'000u) << i;  // at most once a minute
            EXPECT_LE(gap, 61'000u) << i;
        }
    }
    EXPECT_GE(times.back(), 150'000u);
    EXPECT_LE(times.back(), 211'000u);

    // One lost sample per period until then, followed by answers only. Sequence numbers went
    // on counting, so the first request on the wire carries the index of its sample.
    EXPECT_GE(lost, 150u);
    EXPECT_LE(lost, 212u);
    ASSERT_GE(samples.size(), lost + 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        if (i < lost) {
            EXPECT_EQ(samples[i], -1) << i;
        } else {
            EXPECT_GE(samples[i], 19) << i;
            EXPECT_LE(samples[i], 80) << i;
        }
    }
    auto requests = responder_.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].sequence, lost);
}

TEST_P(IcmpProberOneProgramTest, ResponseTimeAcrossTickWrap) {
    // The tick wraps about 1.5 s after the first probe.
    ShiftedClock shifted(0xFFFFFFFFu - 1500u - SystemClock().TickCount());
    clock_ = &shifted;
    StartResponder({"127.0.0.2,delay=40"});
    int slot = Add("127.0.0.2", 1000);
    HostEntry& e = Table().Entry(slot);
    ASSERT_TRUE(WaitFor([&] { return e.successCount >= 3; }, 5s));
    EXPECT_GE(e.minMs, 38);
    EXPECT_LE(e.maxMs, 90);
    EXPECT_EQ(e.lostCount, 0u);
    table_.reset();  // before the clock goes
}

std::string ParamName(const testing::TestParamInfo<Param>& info) {
    std::string kind = std::get<0>(info.param) == IcmpSocketKind::Raw ? "Raw" : "Datagram";
    return kind + (std::get<1>(info.param) == Program::Desktop ? "Desktop" : "Service");
}

INSTANTIATE_TEST_SUITE_P(KindsAndPrograms, IcmpProberTest,
                         testing::Combine(testing::Values(IcmpSocketKind::Raw,
                                                          IcmpSocketKind::Datagram),
                                          testing::Values(Program::Desktop, Program::Service)),
                         ParamName);
INSTANTIATE_TEST_SUITE_P(Kinds, IcmpProberOneProgramTest,
                         testing::Combine(testing::Values(IcmpSocketKind::Raw,
                                                          IcmpSocketKind::Datagram),
                                          testing::Values(Program::Service)),
                         ParamName);

TEST(IcmpProber, StopAfterSuccessWithLongTimeoutEndsWithinASecond) {
    TestNetNamespace ns;
    if (!ns.Ok()) {
        GTEST_SKIP() << ns.SkipReason();
    }
    IcmpResponder responder;
    std::string error;
    ASSERT_TRUE(responder.Start({"127.0.0.2"}, &error)) << error;
    SystemClock clock;
    RecordingMessageSink sink;
    HostTable table(Program::Desktop, clock, sink);
    int slot = table.AddHost("127.0.0.2", 60000, 0).value();
    ASSERT_TRUE(WaitFor([&] { return table.Entry(slot).successCount == 1; }, 3s));
    ASSERT_EQ(table.runningProbers, 1);
    std::this_thread::sleep_for(300ms);  // well into the 60 s sleep
    auto stop = Steady::now();
    table.StopHost(slot);
    EXPECT_TRUE(WaitFor([&] { return table.runningProbers == 0; }, 2s));
    EXPECT_LE(MsSince(stop), 1100);
    EXPECT_EQ(responder.RequestCount("127.0.0.2"), 1u);
}

TEST(IcmpProber, SocketRefusalShowsTheSystemsText) {
    TestNetNamespace ns;
    if (!ns.Ok()) {
        GTEST_SKIP() << ns.SkipReason();
    }
    FILE* f = std::fopen("/proc/sys/net/ipv4/ping_group_range", "w");
    ASSERT_NE(f, nullptr);
    std::fputs("1 0", f);
    std::fclose(f);
    SystemClock clock;
    RecordingMessageSink sink;
    HostTable::Hooks hooks;
    hooks.runProber = [](HostTable& t, int k, uint32_t run) {
        RunIcmpProberWith(t, k, run, IcmpSocketKind::Datagram);
    };
    HostTable table(Program::Service, clock, sink, hooks);
    int slot = table.AddHost("127.0.0.2", 1000, 0).value();
    ASSERT_TRUE(WaitFor([&] { return sink.Count() >= 1; }, 3s));
    auto messages = sink.Messages();
    EXPECT_EQ(messages[0].text, SystemErrorText(EACCES));
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_EQ(messages[0].icon, MessageIcon::Information);
    EXPECT_EQ(table.Entry(slot).active, 1);
}

TEST(IcmpProber, SameIdentifierFromAnotherTargetIsNotAReply) {
    TestNetNamespace ns;
    if (!ns.Ok()) {
        GTEST_SKIP() << ns.SkipReason();
    }
    IcmpResponder responder;
    std::string error;
    ASSERT_TRUE(responder.Start({"127.0.0.2,delay=10", "127.0.0.3"}, &error)) << error;
    SystemClock clock;
    RecordingMessageSink sink;
    HostTable::Hooks hooks;
    hooks.runProber = [](HostTable& t, int k, uint32_t run) {
        RunIcmpProberWith(t, k, run, IcmpSocketKind::Raw);
    };
    HostTable table(Program::Service, clock, sink, hooks);
    int slot = table.AddHost("127.0.0.2", 1000, 0).value();
    ASSERT_TRUE(WaitFor([&] { return !responder.Requests().empty(); }, 2s));
    // Another raw socket that happened to pick the same identifier, probing another host
    // with requests whose replies would read as 500 ms.
    auto id = static_cast<uint16_t>(responder.Requests()[0].identifier);
    int rc = 0;
    IcmpSocket twin = IcmpSocket::Open(IcmpSocketKind::Raw, id, &rc);
    ASSERT_TRUE(twin.Valid());
    uint8_t packet[kEchoRequestSize];
    PrepareEchoRequest(packet);
    for (uint16_t seq = 0; seq < 22; ++seq) {
        StampEchoRequest(packet, id, seq, clock.TickCount() - 500);
        ASSERT_EQ(twin.SendTo(*ParseDottedIPv4("127.0.0.3"), packet, sizeof packet), 0);
        std::this_thread::sleep_for(100ms);
    }
    HostEntry& e = table.Entry(slot);
    EXPECT_GE(e.successCount, 2u);
    EXPECT_LE(e.maxMs, 100);
}

TEST(IcmpProber, ReusedSlotEndsTheOldRun) {
    TestNetNamespace ns;
    if (!ns.Ok()) {
        GTEST_SKIP() << ns.SkipReason();
    }
    IcmpResponder responder;
    std::string error;
    ASSERT_TRUE(responder.Start({"127.0.0.2", "127.0.0.3"}, &error)) << error;
    SystemClock clock;
    RecordingMessageSink sink;
    HostTable table(Program::Desktop, clock, sink);
    int slot = table.AddHost("127.0.0.2", 1000, 0).value();
    ASSERT_TRUE(WaitFor([&] { return table.Entry(slot).successCount == 1; }, 3s));
    // Deleted and taken by another host before the old prober looked again.
    table.StopHost(slot);
    ASSERT_EQ(table.AddHost("127.0.0.3", 1000, 0).value(), slot);
    std::this_thread::sleep_for(2200ms);
    EXPECT_EQ(table.runningProbers, 1);
    EXPECT_EQ(responder.RequestCount("127.0.0.2"), 1u);
    EXPECT_GE(responder.RequestCount("127.0.0.3"), 2u);
}

}  // namespace
}  // namespace qv
