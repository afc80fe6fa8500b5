// The status mail worker: order and results of queued messages, its stop, and how it
// collapses a host's repeated failure texts.
#include "core/mail_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/lib/fake_clock.h"
#include "support/lib/fake_seams.h"

namespace qv {
namespace {

using Lines = std::vector<std::string>;

MailRequest Request(uint32_t run, uint32_t stretch, const std::string& subject) {
    return MailRequest{run, stretch, "mail.local", 25, "ops@local", "ops@local", subject, subject};
}

TEST(MailQueueTest, SendsOneAtATimeInOrderAndStopAbortsTheOneInFlight) {
    test::GatedMailSender mail;
    FakeClock clock;
    MailQueue queue(mail, clock);
    for (uint32_t run = 1; run <= 3; ++run) {
        ASSERT_TRUE(queue.Enqueue(Request(run, 10 + run, "m" + std::to_string(run))));
    }
    EXPECT_EQ(mail.WaitForBegun(1), Lines{"m1"});
    EXPECT_FALSE(queue.TakeResult(1).has_value());  // still in flight
    mail.Release(true);
    mail.Release(false);
    mail.Release(true);
    ASSERT_TRUE(queue.WaitIdle());
    EXPECT_EQ(mail.WaitForBegun(3), (Lines{"m1", "m2", "m3"}));
    EXPECT_EQ(mail.MaxInFlight(), 1);

    std::optional<MailResult> second = queue.TakeResult(2);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->stretch, 12u);
    EXPECT_FALSE(second->accepted);
    EXPECT_FALSE(queue.TakeResult(2).has_value());  // given once
    std::optional<MailResult> first = queue.TakeResult(1);
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(first->accepted);

    ASSERT_TRUE(queue.Enqueue(Request(4, 1, "m4")));
    ASSERT_TRUE(queue.Enqueue(Request(5, 1, "m5")));
    mail.WaitForBegun(4);
    queue.Stop();                                // returns although nobody answers m4
    EXPECT_EQ(mail.WaitForBegun(0).size(), 4u);  // m5 was dropped
    EXPECT_FALSE(queue.TakeResult(4).has_value());
    EXPECT_FALSE(queue.Enqueue(Request(6, 1, "m6")));
}

TEST(MailQueueTest, ATestMailReportsToItsCallerAloneWithItsOwnSecurity) {
    test::FakeMailSender mail;
    mail.succeed = false;
    mail.errorText = "SMTP login refused: 535 no";
    FakeClock clock;
    MailQueue queue(mail, clock);
    Lines logged;
    queue.SetErrorHook([&logged](const std::string& line) { logged.push_back(line); });
    std::vector<std::pair<bool, std::string>> outcomes;
    const MailSecurityOptions tls{MailSecurity::Tls, "u", "p", ""};
    ASSERT_TRUE(queue.EnqueueTest(
        Request(7, 1, "test"), tls,
        [&outcomes](bool sent, const std::string& error) { outcomes.emplace_back(sent, error); }));
    ASSERT_TRUE(queue.WaitIdle());
    EXPECT_EQ(outcomes,
              (std::vector<std::pair<bool, std::string>>{{false, "SMTP login refused: 535 no"}}));
    EXPECT_EQ(mail.securities, std::vector<MailSecurityOptions>{tls});
    EXPECT_TRUE(logged.empty());
    EXPECT_FALSE(queue.TakeResult(7).has_value());
}

TEST(MailFailureLogTest, SameTextOfAHostIsWrittenOnceAMinuteWithItsCount) {
    struct Step {
        uint32_t run;
        std::string text;  // empty: the mail went through
        int64_t now;
        Lines lines;
    };
    const Step steps[] = {
        {1, "E", 0, {"E"}},
        {1, "E", 1, {}},
        {2, "F", 2, {"F"}},  // hosts are counted apart
        {2, "F", 3, {}},
        {1, "E", 59, {}},
        {1, "E", 60, {"E (2 more times)"}},
        {1, "E", 61, {}},
        // Host 2's minute is over: its count comes out with the next line of anyone.
        // A new text of host 1 ends the count of its old one.
        {1, "G", 62, {"F (1 more time)", "E (1 more time)", "G"}},
        {1, "G", 63, {}},
        {1, "", 64, {"G (1 more time)"}},
        {1, "E", 65, {"E"}},
        {1, "E", 30, {"E"}},  // a clock set back does not hold lines back longer
        {1, "E", 31, {}},
    };
    MailFailureLog log;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.now);
        Lines lines = step.text.empty() ? log.Succeeded(step.run, step.now)
                                        : log.Failed(step.run, step.text, step.now);
        EXPECT_EQ(lines, step.lines);
    }
    EXPECT_EQ(log.Flush(), Lines{"E (1 more time)"});
    EXPECT_EQ(log.Flush(), Lines{});
}

TEST(MailQueueTest, FailureLinesReachTheHookCollapsedByTheClock) {
    test::FakeMailSender mail;
    mail.succeed = false;
    mail.errorText = "Unable to connect to server mail.local (ffffffff)";
    FakeClock clock(1000);
    Lines lines;
    {
        MailQueue queue(mail, clock);
        queue.SetErrorHook([&lines](const std::string& line) { lines.push_back(line); });
        // A failure a second, as the watcher retries at every tick, for 63 seconds.
        for (int second = 0; second < 63; ++second) {
            ASSERT_TRUE(queue.Enqueue(Request(7, 1, "Host a is DOWN")));
            ASSERT_TRUE(queue.WaitIdle());
            clock.AdvanceMs(1000);
        }
        EXPECT_EQ(lines, (Lines{mail.errorText, mail.errorText + " (59 more times)"}));
    }
    // The stop writes what was still held back.
    EXPECT_EQ(lines.back(), mail.errorText + " (2 more times)");
    EXPECT_EQ(mail.attempts.size(), 63u);
}

}  // namespace
}  // namespace qv
