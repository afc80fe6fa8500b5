// Host table: adding, statistics, the two recording rules, the daily reset, stopping, copying.
#include "core/host_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>

#include "support/lib/fake_clock.h"
#include "support/lib/recording_sink.h"

namespace qv {
namespace {

using test::RecordingMessageSink;

struct TableFixture {
    explicit TableFixture(Program program)
        : owned(std::make_unique<HostTable>(program, clock, sink, Hooks())), table(*owned) {}

    HostTable::Hooks Hooks() {
        HostTable::Hooks h;
        h.runProber = [this](HostTable&, int, uint32_t) { started += 1; };
        h.saveHostList = [this](const HostTable&) { ++saves; };
        h.onAddHost = [this](const std::string& name) { notedNames.push_back(name); };
        return h;
    }

    // Ends the table, joining its prober threads.
    void JoinProbers() { owned.reset(); }

    FakeClock clock{1'700'000'000, 5000};
    RecordingMessageSink sink;
    std::atomic<int> started{0};
    std::vector<std::string> notedNames;
    int saves = 0;
    std::unique_ptr<HostTable> owned;
    HostTable& table;
};

TEST(HostTable, AddHostInitialisesEntryAndStartsProber) {
    TableFixture f(Program::Desktop);
    auto slot = f.table.AddHost("router", 1000, 0);
    ASSERT_EQ(slot, 0);
    const HostEntry& e = f.table.Entry(0);
    EXPECT_EQ(e.active, 1);
    EXPECT_EQ(e.isIcmp, 1);
    EXPECT_EQ(e.minMs, 1000);
    EXPECT_EQ(e.maxMs, 1);
    EXPECT_EQ(f.table.hostCount, 1);

    auto tcp = f.table.AddHost("web", 5, 80);
    ASSERT_EQ(tcp, 1);
    EXPECT_EQ(f.table.Entry(1).isIcmp, 0);
    EXPECT_EQ(f.table.Entry(1).minMs, 5);
    EXPECT_EQ(f.table.Entry(1).port, 80);

    // Placeholders get a slot but no prober.
    auto empty = f.table.AddHost("-", 0, 0);
    ASSERT_EQ(empty, 2);
    f.JoinProbers();
    EXPECT_EQ(f.started.load(), 2);
}

TEST(HostTable, FullTableDesktopShowsMessageServiceIsSilent) {
    TableFixture desktop(Program::Desktop);
    for (int i = 0; i < kMaxHosts; ++i) {
        ASSERT_TRUE(desktop.table.AddHost("h" + std::to_string(i), 0, 0).has_value());
    }
    EXPECT_FALSE(desktop.table.AddHost("extra", 1000, 0, /*saveList=*/true).has_value());
    auto messages = desktop.sink.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "No free space - remove a host");
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_EQ(messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(desktop.saves, 1);  // the list is still written

    TableFixture service(Program::Service);
    for (int i = 0; i < kMaxHosts; ++i) {
        service.table.AddHost("h", 0, 0);
    }
    EXPECT_FALSE(service.table.AddHost("extra", 1000, 0).has_value());
    EXPECT_EQ(service.sink.Count(), 0u);
    EXPECT_EQ(service.notedNames.size(), 101u);  // every name is noted, placed or not
}

TEST(HostTable, NamesAreCutNeverOverflow) {
    TableFixture f(Program::Service);
    std::string longName(400, 'a');
    f.table.AddHost(longName, 0, 0);
    EXPECT_EQ(f.table.Entry(0).name.size(), kMaxNameChars);
    // Multi-byte characters count once and are never split.
    std::string wide;
    for (int i = 0; i < 300; ++i) {
        wide += "\xc3\xa9";  // é
    }
    f.table.AddHost(wide, 0, 0);
    EXPECT_EQ(f.table.Entry(1).name.size(), kMaxNameChars * 2);
    EXPECT_LE(f.table.Entry(1).nameA.size(), kMaxNameABytes);
    EXPECT_EQ(f.table.Entry(1).nameA.size() % 2, 0u);
}

TEST(HostTable, NoteSuccessAndLoss) {
    HostEntry e;
    e.minMs = 1000;
    e.maxMs = 1;
    HostTable::NoteSuccess(e, 40);
    EXPECT_EQ(e.successCount, 1u);
    EXPECT_EQ(e.currentMs, 40);
    EXPECT_EQ(e.minMs, 40);
    EXPECT_EQ(e.maxMs, 40);
    EXPECT_EQ(e.averageMs, 0);
    EXPECT_EQ(e.sumMs, 0u);
    EXPECT_EQ(e.up, 1);
    HostTable::NoteSuccess(e, 20);
    EXPECT_EQ(e.averageMs, 20);
    EXPECT_EQ(e.sumMs, 20u);
    EXPECT_EQ(e.minMs, 20);
    HostTable::NoteSuccess(e, 31);
    EXPECT_EQ(e.averageMs, 25);  // (20 + 31) / 2, integer division
    HostTable::NoteLoss(e);
    EXPECT_EQ(e.lostCount, 1u);
    EXPECT_EQ(e.currentMs, 0);
    EXPECT_EQ(e.up, 0);
}

TEST(HostTable, ServiceRecordingIcmpAndTcp) {
    TableFixture f(Program::Service);
    f.table.AddHost("icmp", 3000, 0);
    f.table.AddHost("tcp", 5, 80);
    HostEntry& icmp = f.table.Entry(0);
    HostEntry& tcp = f.table.Entry(1);

    f.table.RecordProbeSample(1, 12);
    for (int tick = 0; tick < 5; ++tick) {
        f.table.FillIdleSecond(icmp);
    }
    EXPECT_EQ(icmp.samples, (std::vector<int32_t>{12, 0, 0}));

    f.table.RecordProbeSample(2, -1);
    for (int tick = 0; tick < 400; ++tick) {
        f.table.FillIdleSecond(tcp);
    }
    ASSERT_EQ(tcp.samples.size(), 300u);
    EXPECT_EQ(tcp.samples[0], -1);
    EXPECT_EQ(std::count(tcp.samples.begin(), tcp.samples.end(), 0), 299);

    // Below 2000 ms: one sample per probe, no zeros.
    f.table.AddHost("fast", 1000, 0);
    f.table.RecordProbeSample(3, 5);
    f.table.FillIdleSecond(f.table.Entry(2));
    EXPECT_EQ(f.table.Entry(2).samples, (std::vector<int32_t>{5}));
}

TEST(HostTable, DesktopLateTickAppendsOneSamplePerSecond) {
    TableFixture f(Program::Desktop);
    f.table.AddHost("h", 1000, 0);
    HostEntry& e = f.table.Entry(0);
    int64_t start = f.clock.Now();
    EXPECT_EQ(e.nextSampleTime, start);
    e.lastResult = 17;
    f.table.RecordDueSamples(e, start + 3);
    EXPECT_EQ(e.samples, (std::vector<int32_t>{17, 17, 17}));
    f.table.RecordDueSamples(e, start + 3);  // nothing new
    EXPECT_EQ(e.samples.size(), 3u);
    e.lastResult = -1;
    f.table.RecordDueSamples(e, start + 4);
    EXPECT_EQ(e.samples.back(), -1);
    EXPECT_EQ(e.nextSampleTime, start + 4);
}

TEST(HostTable, ResetDayDiffersOnlyInTraceStarted) {
    for (Program program : {Program::Desktop, Program::Service}) {
        TableFixture f(program);
        f.table.AddHost("tcp", 5, 80);
        HostEntry& e = f.table.Entry(0);
        e.samples = {1, 2, 3};
        HostTable::NoteSuccess(e, 30);
        HostTable::NoteSuccess(e, 50);
        HostTable::NoteLoss(e);
        e.icmpSequence = 9;
        e.stateSeconds = 40;
        e.mailSent = e.soundPlayed = e.traceStarted = e.previousUp = e.trayShown = 1;
        e.traceCount = 4;
        e.graphScale = 7;
        e.lastResult = 33;
        e.up = 1;
        f.table.ResetDay(e);
        EXPECT_TRUE(e.samples.empty());
        EXPECT_EQ(e.minMs, 1000);
        EXPECT_EQ(e.maxMs, 1);
        EXPECT_EQ(e.lostCount, 0u);
        EXPECT_EQ(e.successCount, 0u);
        EXPECT_EQ(e.sumMs, 0u);
        EXPECT_EQ(e.averageMs, 0);
        EXPECT_EQ(e.icmpSequence, 0);
        EXPECT_EQ(e.stateSeconds, 0);
        EXPECT_EQ(e.mailSent + e.soundPlayed + e.previousUp + e.trayShown + e.graphScale, 0);
        EXPECT_EQ(e.traceStarted, program == Program::Desktop ? 0 : 1);
        EXPECT_EQ(e.traceCount, 4u);
        EXPECT_EQ(e.up, 1);
        EXPECT_EQ(e.lastResult, 33);
    }
}

TEST(HostTable, StopAllHostsGivesUpAfterTenSeconds) {
    TableFixture f(Program::Desktop);
    f.table.AddHost("a", 0, 0);
    f.table.AddHost("b", 0, 0);
    f.table.runningProbers = 2;  // two probers that never leave
    uint32_t before = f.clock.TickCount();
    f.table.StopAllHosts();
    EXPECT_EQ(f.clock.TickCount() - before, 10000u);
    EXPECT_EQ(f.table.runningProbers, 0);
    EXPECT_EQ(f.table.hostCount, 0);
    EXPECT_EQ(f.table.Entry(0).active, 0);
    EXPECT_EQ(f.table.Entry(1).active, 0);
}

TEST(HostTable, CopyHostIsDeep) {
    TableFixture f(Program::Desktop);
    f.table.AddHost("one", 1000, 0);
    f.table.AddHost("two", 7, 443);
    f.table.Entry(1).samples = {4, 5, 6};
    f.table.Entry(1).lostCount = 3;
    f.table.CopyHost(0, 1);
    f.table.Entry(1).samples[0] = 99;
    const HostEntry& d = f.table.Entry(0);
    EXPECT_EQ(d.name, "two");
    EXPECT_EQ(d.port, 443);
    EXPECT_EQ(d.isIcmp, 0);
    EXPECT_EQ(d.probeValue, 7);
    EXPECT_EQ(d.lostCount, 3u);
    EXPECT_EQ(d.samples, (std::vector<int32_t>{4, 5, 6}));
}

// Visits every field of an entry but the names and samples.
template <typename F>
void ForEachValue(HostEntry& e, F f) {
    f(e.isIcmp), f(e.port), f(e.probeValue), f(e.active), f(e.currentMs), f(e.averageMs);
    f(e.minMs), f(e.maxMs), f(e.lostCount), f(e.successCount), f(e.sumMs), f(e.up);
    f(e.graphScale), f(e.stateSeconds), f(e.mailSent), f(e.soundPlayed), f(e.traceStarted);
    f(e.previousUp), f(e.trayShown), f(e.traceCount), f(e.icmpSequence);
    f(e.secondsToNextProbe), f(e.lastResult), f(e.nextSampleTime), f(e.run), f(e.mailStretch);
    f(e.mailPending);
}

std::vector<int64_t> Values(HostEntry& e) {
    std::vector<int64_t> out;
    ForEachValue(e, [&](auto& field) { out.push_back(static_cast<int64_t>(field.Load())); });
    return out;
}

TEST(HostTable, ExchangeHostsSwapsEveryFieldAndEndsBothProbers) {
    TableFixture f(Program::Desktop);
    f.table.AddHost("one", 1000, 0);
    f.table.AddHost("two", 7, 443);
    int v = 2;
    for (int slot : {0, 1}) {
        ForEachValue(f.table.Entry(slot),
                     [&](auto& field) { field = static_cast<decltype(field.Load())>(v++); });
    }
    const uint32_t runOne = f.table.Entry(0).run;
    const uint32_t runTwo = f.table.Entry(1).run;
    ASSERT_TRUE(f.table.ProberShouldRun(1, runOne));
    f.table.Entry(0).samples = {1, 2};
    f.table.Entry(1).samples = {3};
    const std::vector<int64_t> one = Values(f.table.Entry(0));
    const std::vector<int64_t> two = Values(f.table.Entry(1));

    f.table.ExchangeHosts(0, 1);
    EXPECT_EQ(Values(f.table.Entry(0)), two);
    EXPECT_EQ(Values(f.table.Entry(1)), one);
    EXPECT_EQ(f.table.Entry(0).name, "two");
    EXPECT_EQ(f.table.Entry(1).nameA, "one");
    EXPECT_EQ(f.table.Entry(0).samples, (std::vector<int32_t>{3}));
    EXPECT_EQ(f.table.Entry(1).samples, (std::vector<int32_t>{1, 2}));
    // Each prober would now write into the other host's statistics: both must end.
    EXPECT_FALSE(f.table.ProberShouldRun(1, runOne));
    EXPECT_FALSE(f.table.ProberShouldRun(2, runTwo));
}

TEST(HostTable, ReusedSlotBelongsToTheNewRunOnly) {
    TableFixture f(Program::Desktop);
    f.table.AddHost("old", 1000, 0);
    uint32_t oldRun = f.table.Entry(0).run;
    EXPECT_TRUE(f.table.ProberShouldRun(1, oldRun));
    f.table.StopHost(0);
    EXPECT_FALSE(f.table.ProberShouldRun(1, oldRun));
    f.table.AddHost("new", 1000, 0);
    EXPECT_FALSE(f.table.ProberShouldRun(1, oldRun));
    EXPECT_TRUE(f.table.ProberShouldRun(1, f.table.Entry(0).run));
}

TEST(HostTable, DestructorJoinsProbersThatWatchActive) {
    FakeClock clock;
    RecordingMessageSink sink;
    std::atomic<int> ended{0};
    {
        HostTable::Hooks hooks;
        hooks.runProber = [&](HostTable& t, int k, uint32_t run) {
            while (t.ProberShouldRun(k, run)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            ended += 1;
        };
        HostTable table(Program::Service, clock, sink, hooks);
        table.AddHost("a", 1000, 0);
        table.AddHost("b", 1000, 0);
    }
    EXPECT_EQ(ended.load(), 2);
}

}  // namespace
}  // namespace qv
