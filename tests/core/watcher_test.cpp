// The status watcher tick by tick: when each announcement falls due, what a short stretch
// silences, and the service tick around it. No prober threads; `up` is set by the test.
#include "core/watcher.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/lib/fake_clock.h"
#include "support/lib/fake_seams.h"
#include "support/lib/recording_sink.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using test::FakeMailSender;
using test::FakeSoundPlayer;
using test::FakeTraceroute;

HostTable::Hooks NoProbers() {
    HostTable::Hooks hooks;
    hooks.runProber = [](HostTable&, int, uint32_t) {};
    return hooks;
}

class WatcherTest : public ::testing::Test {
  protected:
    // With `gatedMail` each conversation of the mail worker ends when the test says.
    explicit WatcherTest(Program program = Program::Service, bool gatedMail = false)
        : gatedMail_(gatedMail),
          ctx(program, dir.path(),
              MonitorSeams{clock, sink, sound, trace,
                           gatedMail ? static_cast<MailSender&>(gated) : mail},
              NoProbers()) {
        NotifySettings& icmp = ctx.settings.icmp;
        icmp.emailEnabled = 1;
        icmp.emailAfter = 60;
        icmp.emailAddress = "ops@localhost";
        icmp.smtpServer = "localhost";
        icmp.smtpPort = 2525;
        icmp.soundEnabled = 1;
        icmp.soundAfter = 30;
        icmp.soundFile = "/tmp/alarm.wav";
        icmp.trayEnabled = 1;
        icmp.trayAfter = 5;
        ctx.settings.general.tracertAfter = 10;
    }

    HostEntry& AddIcmp(const std::string& name) {
        int slot = *ctx.table.AddHost(name, 1000, 0);
        return ctx.table.Entry(slot);
    }

    // Runs `ticks` watcher ticks of one host with `up` held at the given value. Unless
    // gated, the mail worker finishes between ticks, like a server that answers at once.
    void Ticks(HostEntry& e, uint8_t up, int ticks = 1, std::string* tray = nullptr) {
        e.up = up;
        const NotifySettings& kind = e.isIcmp ? ctx.settings.icmp : ctx.settings.tcp;
        for (int i = 0; i < ticks; ++i) {
            WatchHost(ctx, e, kind, ctx.settings.general, tray);
            ASSERT_TRUE(gatedMail_ || ctx.mailQueue.WaitIdle());
        }
    }

    std::vector<std::string> Subjects() const {
        std::vector<std::string> s;
        for (const auto& m : mail.attempts) {
            s.push_back(m.subject);
        }
        return s;
    }

    test::TempDir dir;
    FakeClock clock{FakeClock::ToCalendar(2026, 12, 9, 12, 0, 0)};
    test::RecordingMessageSink sink;
    FakeSoundPlayer sound;
    FakeTraceroute trace;
    FakeMailSender mail;
    test::GatedMailSender gated;
    const bool gatedMail_;
    MonitorContext ctx;
};

class DesktopWatcherTest : public WatcherTest {
  protected:
    DesktopWatcherTest() : WatcherTest(Program::Desktop) {}
};

TEST_F(WatcherTest, OutageAnnouncementsFallDueAtTheirTicks) {
    HostEntry& e = AddIcmp("router");
    Ticks(e, 1, 500);  // long up; its UP at start is suppressed (0 s of down before it)
    EXPECT_TRUE(mail.attempts.empty());

    e.up = 0;
    for (int tick = 1; tick <= 100; ++tick) {
        Ticks(e, 0, 1);
        EXPECT_EQ(trace.traced.size(), tick >= 10 ? 1u : 0u) << "tick " << tick;
        EXPECT_EQ(sound.played.size(), tick >= 30 ? 1u : 0u) << "tick " << tick;
        EXPECT_EQ(mail.attempts.size(), tick >= 60 ? 1u : 0u) << "tick " << tick;
    }
    ASSERT_EQ(mail.attempts.size(), 1u);
    const auto& down = mail.attempts[0];
    EXPECT_EQ(down.subject, "Host router is DOWN");
    EXPECT_EQ(down.body, down.subject);
    EXPECT_EQ(down.from, "ops@localhost");
    EXPECT_EQ(down.to, "ops@localhost");
    EXPECT_EQ(down.server, "localhost");
    EXPECT_EQ(down.port, 2525);
    EXPECT_EQ(sound.played[0], "/tmp/alarm.wav");

    // Back after 100 s of down time: the UP mail comes 60 ticks later, nothing else.
    Ticks(e, 1, 59);
    EXPECT_EQ(mail.attempts.size(), 1u);
    Ticks(e, 1, 1);
    ASSERT_EQ(mail.attempts.size(), 2u);
    EXPECT_EQ(mail.attempts[1].subject, "Host router is UP");
    Ticks(e, 1, 300);
    EXPECT_EQ(mail.attempts.size(), 2u);
    EXPECT_EQ(sound.played.size(), 1u);
    EXPECT_EQ(trace.traced.size(), 1u);
}

TEST_F(WatcherTest, ShortOutageIsTracedButSilencesBothMails) {
    HostEntry& e = AddIcmp("router");
    Ticks(e, 1, 3 * 3600);  // up for hours
    Ticks(e, 0, 20);
    EXPECT_EQ(trace.traced.size(), 1u);
    EXPECT_TRUE(sound.played.empty());
    Ticks(e, 1, 600);
    EXPECT_TRUE(mail.attempts.empty());  // no DOWN (too short), UP suppressed (down too short)
}

TEST_F(WatcherTest, ASecondOutageGetsItsOwnTracerouteAndSound) {
    HostEntry& e = AddIcmp("router");
    Ticks(e, 1, 100);
    Ticks(e, 0, 3000);  // a long outage: one of each
    EXPECT_EQ(trace.traced.size(), 1u);
    EXPECT_EQ(sound.played.size(), 1u);
    Ticks(e, 1, 100);
    Ticks(e, 0, 40);
    EXPECT_EQ(trace.traced.size(), 2u);
    EXPECT_EQ(sound.played.size(), 2u);
    EXPECT_EQ(e.traceCount, 2u);
}

TEST_F(WatcherTest, TcpPeriodsAreMinutesAndTcpHostsAreNeverTraced) {
    NotifySettings& tcp = ctx.settings.tcp;
    tcp.emailEnabled = 1;
    tcp.emailAfter = 2;
    tcp.emailAddress = "ops@localhost";
    tcp.soundEnabled = 1;
    tcp.soundAfter = 1;
    ctx.settings.general.tracertAfter = 1;
    HostEntry& e = ctx.table.Entry(*ctx.table.AddHost("web", 5, 80));
    // Up for only 10 s, shorter than the 2-minute e-mail period: the outage after it is
    // not mailed, though its sound still plays at 60 s.
    Ticks(e, 1, 10);
    Ticks(e, 0, 200);
    EXPECT_TRUE(mail.attempts.empty());
    EXPECT_EQ(sound.played.size(), 1u);
    Ticks(e, 1, 119);
    EXPECT_TRUE(mail.attempts.empty());
    Ticks(e, 1, 1);
    ASSERT_EQ(mail.attempts.size(), 1u);
    EXPECT_EQ(mail.attempts[0].subject, "Host web port 80 is reachable");
    Ticks(e, 1, 100);

    Ticks(e, 0, 59);
    EXPECT_EQ(sound.played.size(), 1u);
    Ticks(e, 0, 1);
    EXPECT_EQ(sound.played.size(), 2u);  // 60th tick
    Ticks(e, 0, 59);
    EXPECT_EQ(mail.attempts.size(), 1u);
    Ticks(e, 0, 1);  // 120th tick
    ASSERT_EQ(mail.attempts.size(), 2u);
    EXPECT_EQ(mail.attempts[1].subject, "Host web port 80 is unreachable");
    Ticks(e, 0, 5000);
    EXPECT_TRUE(trace.traced.empty());
}

TEST_F(WatcherTest, ZeroEmailPeriodAnnouncesEveryChangeIncludingTheFirstUp) {
    ctx.settings.icmp.emailAfter = 0;
    HostEntry& e = AddIcmp("a");
    Ticks(e, 1, 1);
    EXPECT_EQ(Subjects(), (std::vector<std::string>{"Host a is UP"}));
    Ticks(e, 0, 1);
    Ticks(e, 1, 1);
    Ticks(e, 1, 5);
    EXPECT_EQ(Subjects(),
              (std::vector<std::string>{"Host a is UP", "Host a is DOWN", "Host a is UP"}));
}

TEST_F(WatcherTest, FailingMailIsRetriedEveryTickUntilItGoesThrough) {
    ctx.settings.icmp.emailAfter = 3;
    HostEntry& e = AddIcmp("a");
    mail.succeed = false;
    Ticks(e, 0, 2);
    EXPECT_TRUE(mail.attempts.empty());
    Ticks(e, 0, 5);  // ticks 3..7
    EXPECT_EQ(mail.attempts.size(), 5u);
    mail.succeed = true;
    Ticks(e, 0, 1);
    Ticks(e, 0, 10);
    EXPECT_EQ(mail.attempts.size(), 6u);
}

class MailWorkerWatcherTest : public WatcherTest {
  protected:
    MailWorkerWatcherTest() : WatcherTest(Program::Service, true) {
        ctx.settings.icmp.emailAfter = 3;
    }
    // Ends the conversation in flight and lets the worker settle.
    void Answer(bool accepted) {
        gated.Release(accepted);
        EXPECT_TRUE(ctx.mailQueue.WaitIdle(std::chrono::seconds(5)));
    }
    using Subjects = std::vector<std::string>;
};

TEST_F(MailWorkerWatcherTest, MailFlagWaitsForAcceptanceAndFailuresAreRetriedLater) {
    HostEntry& e = AddIcmp("a");
    Ticks(e, 0, 3);
    EXPECT_EQ(gated.WaitForBegun(1), Subjects{"Host a is DOWN"});
    // While the conversation lasts, ticks go on without a flag or a second message.
    Ticks(e, 0, 5);
    EXPECT_EQ(e.mailSent, 0);
    EXPECT_EQ(e.stateSeconds, 8);

    Answer(false);
    EXPECT_EQ(e.mailSent, 0);
    Ticks(e, 0);  // collects the failure and queues the message again
    EXPECT_EQ(gated.WaitForBegun(2), (Subjects{"Host a is DOWN", "Host a is DOWN"}));
    Answer(true);
    EXPECT_EQ(e.mailSent, 0);
    Ticks(e, 0);
    EXPECT_EQ(e.mailSent, 1);
    Ticks(e, 0, 100);
    EXPECT_TRUE(ctx.mailQueue.WaitIdle());
    EXPECT_EQ(gated.WaitForBegun(0).size(), 2u);
}

TEST_F(MailWorkerWatcherTest, LateAnswerMarksNeitherTheNextStretchNorTheSlotsNextHost) {
    HostEntry& e = AddIcmp("a");
    Ticks(e, 0, 3);
    gated.WaitForBegun(1);
    // Up again before the DOWN message is through: the UP stretch is due after 3 ticks.
    Ticks(e, 1, 2);
    Answer(true);
    Ticks(e, 1);
    EXPECT_EQ(e.mailSent, 0);
    EXPECT_EQ(gated.WaitForBegun(2), (Subjects{"Host a is DOWN", "Host a is UP"}));
    Answer(true);
    Ticks(e, 1);
    EXPECT_EQ(e.mailSent, 1);

    // The host is removed while its message is out; the next host takes the slot.
    Ticks(e, 0, 3);
    gated.WaitForBegun(3);
    const int slot = static_cast<int>(&e - &ctx.table.Entry(0));
    ctx.table.StopHost(slot);
    HostEntry& next = ctx.table.Entry(*ctx.table.AddHost("b", 1000, 0));
    ASSERT_EQ(&next, &e);
    Ticks(next, 0, 2);
    Answer(true);  // a's message, accepted
    Ticks(next, 0);
    EXPECT_EQ(next.mailSent, 0);
    EXPECT_EQ(gated.WaitForBegun(4).back(), "Host b is DOWN");
    Answer(false);
    Ticks(next, 0);
    EXPECT_EQ(next.mailSent, 0);
    EXPECT_EQ(gated.WaitForBegun(5).back(), "Host b is DOWN");
}

TEST_F(MailWorkerWatcherTest, HostMovedToAnotherSlotKeepsItsMessageInFlight) {
    ctx.table.AddHost("gone", 1000, 0);
    HostEntry& e = AddIcmp("a");
    ctx.table.StopHost(0);
    Ticks(e, 0, 3);
    gated.WaitForBegun(1);
    ctx.table.CopyHost(0, 1);
    ctx.table.StopHost(1);
    HostEntry& moved = ctx.table.Entry(0);
    Answer(true);
    Ticks(moved, 0, 5);
    EXPECT_EQ(moved.mailSent, 1);
    EXPECT_TRUE(ctx.mailQueue.WaitIdle(std::chrono::seconds(5)));
    EXPECT_EQ(gated.WaitForBegun(0).size(), 1u);
}

TEST_F(WatcherTest, ServiceTickWatchesEveryProbedHostInSlotOrder) {
    ctx.settings.icmp.soundAfter = 3;
    HostEntry& a = AddIcmp("a");
    HostEntry& b = AddIcmp("b");
    ctx.settings.icmp.soundFile = "/tmp/alarm.wav";
    ctx.table.AddHost("-", 0, 0);  // placeholder: never watched
    a.up = 0;
    b.up = 0;
    for (int i = 0; i < 3; ++i) {
        ServiceTick(ctx);
    }
    // Both sounds in the same tick: the player cuts the first off when the second starts.
    EXPECT_EQ(sound.played.size(), 2u);
    EXPECT_EQ(a.stateSeconds, 3);
    EXPECT_EQ(ctx.table.Entry(2).stateSeconds, 0);
}

TEST_F(WatcherTest, ServiceTickFillsIdleSecondsAndRunsTheDailyTrigger) {
    HostEntry& e = AddIcmp("slow");
    e.probeValue = 3000;
    ctx.table.RecordProbeSample(1, 42);
    ctx.settings.general.dailyReports = 0;
    ServiceTick(ctx);
    ServiceTick(ctx);
    ServiceTick(ctx);
    EXPECT_EQ(e.samples, (std::vector<int32_t>{42, 0, 0}));

    clock.SetNow(FakeClock::ToCalendar(2026, 12, 10, 0, 0, 30));
    ServiceTick(ctx);
    EXPECT_TRUE(ctx.dailyTrigger.ReportDone());
    EXPECT_TRUE(e.samples.empty());  // reset without a file
    EXPECT_EQ(e.minMs, 1000);
}

TEST_F(DesktopWatcherTest, TrayLinesAreCollectedOncePerStretch) {
    HostEntry& e = AddIcmp("a");
    std::string tray;
    Ticks(e, 0, 4, &tray);
    EXPECT_EQ(tray, "");
    Ticks(e, 0, 1, &tray);
    EXPECT_EQ(tray, "Host a is DOWN\r\n");
    Ticks(e, 0, 20, &tray);
    EXPECT_EQ(tray, "Host a is DOWN\r\n");
    // Up after 25 s down: the UP notice comes 5 ticks later (25 >= 5, not suppressed).
    tray.clear();
    Ticks(e, 1, 5, &tray);
    EXPECT_EQ(tray, "Host a is UP\r\n");
}

TEST_F(WatcherTest, StatusTextKeepsLongMultiByteNamesWhole) {
    std::string longName;
    for (size_t i = 0; i < kMaxNameChars; ++i) {
        longName += "\xe6\xbc\xa2";  // one 3-byte character
    }
    struct Case {
        std::string name;
        int port;
        int32_t probeValue;
        bool up;
        std::string status;
    };
    const Case cases[] = {
        {"router", 0, 5000, true, "Host router is UP"},
        {longName, 0, 1000, false, "Host " + longName + " is DOWN"},
        {longName, 8080, 5, true, "Host " + longName + " port 8080 is reachable"},
        {"web", 80, 2, false, "Host web port 80 is unreachable"},
        // Above 32767 the stored 16 bits are negative; the texts show the real port.
        {"db", 40000, 2, true, "Host db port 40000 is reachable"},
        {"top", 65535, 1, false, "Host top port 65535 is unreachable"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status.substr(0, 20));
        const int slot = *ctx.table.AddHost(c.name, c.probeValue, c.port);
        EXPECT_EQ(StatusText(ctx.table.Entry(slot), c.up), c.status);
        ctx.table.StopHost(slot);
    }
}

TEST_F(WatcherTest, ServiceProgramNeverWritesTrayText) {
    HostEntry& e = AddIcmp("a");
    std::string tray;
    Ticks(e, 0, 100, &tray);
    EXPECT_EQ(tray, "");
}

}  // namespace
}  // namespace qv
