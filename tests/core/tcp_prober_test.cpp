// TCP connect prober against loopback peers: results and statistics, the held connection,
// the interval, stopping, slots taken over by another run, and start-up failures.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <thread>
#include <vector>

#include "core/host_table.h"
#include "core/probers.h"
#include "platform/error_text.h"
#include "platform/net.h"
#include "support/lib/recording_sink.h"
#include "support/lib/tcp_loopback.h"
#include "support/lib/tcp_step_clock.h"

namespace qv {
namespace {

using test::RecordingMessageSink;
using test::TcpConnectLoopback;
using test::TcpPeerClosed;
using test::TcpRefusingPort;
using test::TcpStepClock;
using test::TcpTestListener;

constexpr int kWaitMs = 5000;  // generous real-time bound for things that happen at once

// Polls cond in real time until it holds or timeoutMs passes.
bool WaitFor(const std::function<bool()>& cond, int timeoutMs = kWaitMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A host table whose probers are the real TCP prober, with a count of probers that ended.
class TcpProberFixture {
  public:
    TcpProberFixture(Program program, Clock& clock, TcpStepClock* stepClock = nullptr,
                     HostResolver resolve = {})
        : stepClock_(stepClock) {
        HostTable::Hooks hooks;
        hooks.runProber = [this, resolve](HostTable& t, int hostNumber, uint32_t run) {
            RunTcpProberWith(t, hostNumber, run, resolve);
            std::lock_guard<std::mutex> lock(mutex_);
            ++finished_;
            done_.notify_all();
        };
        table_ = std::make_unique<HostTable>(program, clock, sink, std::move(hooks));
    }

    ~TcpProberFixture() {
        for (int slot = 0; slot < kMaxHosts; ++slot) {
            table_->StopHost(slot);
        }
        if (stepClock_ != nullptr) {
            stepClock_->ReleaseAll();
        }
        table_.reset();
    }

    HostTable& table() { return *table_; }
    HostEntry& entry(int slot = 0) { return table_->Entry(slot); }

    bool WaitProbersFinished(int count, int timeoutMs = kWaitMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return done_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return finished_ >= count; });
    }
    int Finished() {
        std::lock_guard<std::mutex> lock(mutex_);
        return finished_;
    }

    RecordingMessageSink sink;

  private:
    TcpStepClock* stepClock_;
    std::mutex mutex_;
    std::condition_variable done_;
    int finished_ = 0;
    std::unique_ptr<HostTable> table_;
};

std::vector<int32_t> Samples(HostTable& table, int slot = 0) {
    std::lock_guard<std::recursive_mutex> lock(table.SampleLock());
    return table.Entry(slot).samples;
}

// ---------------------------------------------------------------------------------------
// Results and statistics

TEST(TcpProber, ListeningPortSucceedsAndHoldsNoResultAsZeroOnTheDesktop) {
    for (Program program : {Program::Desktop, Program::Service}) {
        SCOPED_TRACE(program == Program::Desktop ? "desktop" : "service");
        TcpTestListener listener;
        ASSERT_TRUE(listener.Valid());
        TcpStepClock clock;  // does not move during the connect: the attempt takes 0 ms
        TcpProberFixture f(program, clock, &clock);
        ASSERT_EQ(f.table().AddHost("127.0.0.1", 1, listener.Port()), 0);

        ASSERT_TRUE(clock.WaitParked(kWaitMs));
        UniqueFd conn = listener.Accept(kWaitMs);
        EXPECT_TRUE(conn.Valid());
        const HostEntry& e = f.entry();
        EXPECT_EQ(e.successCount, 1u);
        EXPECT_EQ(e.lostCount, 0u);
        EXPECT_EQ(e.up, 1);
        EXPECT_EQ(e.currentMs, 0);
        EXPECT_EQ(e.minMs, 0);
        if (program == Program::Desktop) {
            EXPECT_EQ(e.lastResult, 1);  // a reachable host is never drawn as 0
            EXPECT_EQ(f.table().runningProbers, 1);
        } else {
            EXPECT_EQ(Samples(f.table()), std::vector<int32_t>{0});
            EXPECT_EQ(e.secondsToNextProbe, 59);
        }
        EXPECT_EQ(f.sink.Count(), 0u);
    }
}

TEST(TcpProber, SuccessTimeIsMeasuredAcrossTheAttempt) {
    for (Program program : {Program::Desktop, Program::Service}) {
        SCOPED_TRACE(program == Program::Desktop ? "desktop" : "service");
        TcpTestListener listener;
        ASSERT_TRUE(listener.Valid());
        TcpStepClock clock;
        clock.SetAdvancePerRead(7);  // t1 is read 7 ms after t0
        TcpProberFixture f(program, clock, &clock);
        ASSERT_EQ(f.table().AddHost("localhost", 1, listener.Port()), 0);

        ASSERT_TRUE(clock.WaitParked(kWaitMs));
        const HostEntry& e = f.entry();
        EXPECT_EQ(e.successCount, 1u);
        EXPECT_EQ(e.currentMs, 7);
        EXPECT_EQ(e.minMs, 1);  // stored interval (1) is below 7
        EXPECT_EQ(e.maxMs, 7);
        if (program == Program::Desktop) {
            EXPECT_EQ(e.lastResult, 7);
        } else {
            EXPECT_EQ(Samples(f.table()), std::vector<int32_t>{7});
        }
    }
}

TEST(TcpProber, ClosedPortIsALostProbe) {
    for (Program program : {Program::Desktop, Program::Service}) {
        SCOPED_TRACE(program == Program::Desktop ? "desktop" : "service");
        TcpRefusingPort closed;
        ASSERT_NE(closed.Port(), 0);
        TcpStepClock clock;
        TcpProberFixture f(program, clock, &clock);
        ASSERT_EQ(f.table().AddHost("127.0.0.1", 3, closed.Port()), 0);

        ASSERT_TRUE(clock.WaitParked(kWaitMs));
        const HostEntry& e = f.entry();
        EXPECT_EQ(e.lostCount, 1u);
        EXPECT_EQ(e.successCount, 0u);
        EXPECT_EQ(e.currentMs, 0);
        EXPECT_EQ(e.up, 0);
        if (program == Program::Desktop) {
            EXPECT_EQ(e.lastResult, -1);
        } else {
            EXPECT_EQ(Samples(f.table()), std::vector<int32_t>{-1});
            EXPECT_EQ(e.secondsToNextProbe, 179);
        }
        EXPECT_EQ(f.sink.Count(), 0u);  // a refused connection is not an error to show
    }
}

TEST(TcpProber, UnresolvableNameLosesEveryAttemptWithoutAMessage) {
    // A label longer than 63 bytes is refused by the resolver itself, and the namespace has
    // no way out, so nothing leaves the machine.
    const std::string name = std::string(70, 'x') + ".invalid";
    std::string why;
    bool ran = test::TcpRunInNewNetns(
        [&] {
            TcpStepClock clock;
            TcpProberFixture f(Program::Service, clock, &clock);
            ASSERT_EQ(f.table().AddHost(name, 1, 80), 0);
            ASSERT_TRUE(clock.WaitParked(kWaitMs));
            clock.AllowUntil(60'000);
            ASSERT_TRUE(WaitFor([&] { return f.entry().lostCount == 2u; }));
            ASSERT_TRUE(clock.WaitParked(kWaitMs));
            EXPECT_EQ(f.entry().lostCount, 2u);
            EXPECT_EQ(f.entry().successCount, 0u);
            EXPECT_EQ(f.entry().up, 0);
            EXPECT_EQ(Samples(f.table()), (std::vector<int32_t>{-1, -1}));
            EXPECT_EQ(f.sink.Count(), 0u);
        },
        &why);
    if (!ran) {
        GTEST_SKIP() << why;
    }
}

TEST(TcpProber, NameThatResolvesLateIsConnectedFromThenOn) {
    TcpTestListener listener;
    ASSERT_TRUE(listener.Valid());
    TcpStepClock clock;
    std::atomic<int> lookups{0};
    // Unknown for the first two attempts, as before the network is up.
    TcpProberFixture f(Program::Service, clock, &clock, [&](const std::string& name) {
        return ++lookups <= 2 || name != "late.test" ? std::nullopt
                                                     : ParseAddressLiteral("127.0.0.1");
    });
    ASSERT_EQ(f.table().AddHost("late.test", 1, listener.Port()), 0);
    ASSERT_TRUE(clock.WaitParked(kWaitMs));
    EXPECT_EQ(f.entry().lostCount, 1u);
    clock.AllowUntil(60'000);
    ASSERT_TRUE(WaitFor([&] { return f.entry().lostCount == 2u; }));
    ASSERT_TRUE(clock.WaitParked(kWaitMs));
    EXPECT_FALSE(listener.Accept(50).Valid());

    clock.AllowUntil(120'000);
    EXPECT_TRUE(listener.Accept(kWaitMs).Valid());
    ASSERT_TRUE(clock.WaitParked(kWaitMs));
    EXPECT_EQ(f.entry().successCount, 1u);
    EXPECT_EQ(f.entry().up, 1);
    EXPECT_EQ(Samples(f.table()), (std::vector<int32_t>{-1, -1, 0}));
    clock.AllowUntil(180'000);
    ASSERT_TRUE(WaitFor([&] { return f.entry().successCount == 2u; }));
    EXPECT_EQ(lookups, 3);  // a known name is not looked up again
    EXPECT_EQ(f.sink.Count(), 0u);
}

// ---------------------------------------------------------------------------------------
// The held connection and the interval

TEST(TcpProber, ConnectionStaysOpenUntilTheNextAttemptIsDue) {
    TcpTestListener listener;
    ASSERT_TRUE(listener.Valid());
    TcpStepClock clock;
    TcpProberFixture f(Program::Desktop, clock, &clock);
    ASSERT_EQ(f.table().AddHost("127.0.0.1", 1, listener.Port()), 0);

    UniqueFd first = listener.Accept(kWaitMs);
    ASSERT_TRUE(first.Valid());
    ASSERT_TRUE(clock.WaitParked(kWaitMs));
    EXPECT_FALSE(TcpPeerClosed(first.Get(), 50));

    // One millisecond before the next attempt: still open, nothing new.
    clock.AllowUntil(59'999);
    ASSERT_TRUE(clock.WaitParked(kWaitMs));
    EXPECT_EQ(clock.ElapsedMs(), 59'000);
    EXPECT_FALSE(TcpPeerClosed(first.Get(), 50));
    EXPECT_FALSE(listener.Accept(50).Valid());
    EXPECT_EQ(f.entry().successCount, 1u);

    // The attempt is due: the old connection is closed and a new one made.
    clock.AllowUntil(60'000);
    UniqueFd second = listener.Accept(kWaitMs);
    EXPECT_TRUE(second.Valid());
    EXPECT_TRUE(TcpPeerClosed(first.Get(), kWaitMs));
    ASSERT_TRUE(clock.WaitParked(kWaitMs));
    EXPECT_FALSE(TcpPeerClosed(second.Get(), 50));
    EXPECT_EQ(f.entry().successCount, 2u);
}

TEST(TcpProber, OneAttemptPerIntervalInSlicesOfASecondAcrossTheTickWrap) {
    TcpRefusingPort closed;
    // The second interval crosses the wrap of the 32-bit tick count.
    TcpStepClock clock(0xFFFFFFFFu - 150'000);
    TcpProberFixture f(Program::Service, clock, &clock);
    ASSERT_EQ(f.table().AddHost("127.0.0.1", 2, closed.Port()), 0);

    for (uint32_t attempt = 1; attempt <= 3; ++attempt) {
        SCOPED_TRACE(attempt);
        const int64_t due = static_cast<int64_t>(attempt) * 120'000;
        ASSERT_TRUE(clock.WaitParked(kWaitMs));
        EXPECT_EQ(f.entry().lostCount, attempt);
        clock.AllowUntil(due - 1);
        ASSERT_TRUE(clock.WaitParked(kWaitMs));
        EXPECT_EQ(f.entry().lostCount, attempt);  // not a millisecond early
        clock.AllowUntil(due);
        ASSERT_TRUE(WaitFor([&] { return f.entry().lostCount == attempt + 1; }));
    }
    ASSERT_TRUE(clock.WaitParked(kWaitMs));
    std::vector<uint32_t> sleeps = clock.Sleeps();
    for (uint32_t ms : sleeps) {
        EXPECT_LE(ms, 1000u);
        EXPECT_GT(ms, 0u);
    }
    EXPECT_EQ(std::accumulate(sleeps.begin(), sleeps.end(), int64_t{0}), 360'000);
    EXPECT_EQ(Samples(f.table()), (std::vector<int32_t>{-1, -1, -1, -1}));
}

// ---------------------------------------------------------------------------------------
// Stopping and slots taken over by another run

TEST(TcpProber, StoppedHostEndsWithinAboutASecond) {
    TcpTestListener listener;
    ASSERT_TRUE(listener.Valid());
    SystemClock clock;  // real sleeps: this is the one test that waits for real
    TcpProberFixture f(Program::Desktop, clock);
    ASSERT_EQ(f.table().AddHost("127.0.0.1", 1, listener.Port()), 0);
    ASSERT_TRUE(WaitFor([&] { return f.entry().successCount == 1u; }));
    ASSERT_TRUE(WaitFor([&] { return f.table().runningProbers == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // well inside the wait

    auto stopped = std::chrono::steady_clock::now();
    f.table().StopHost(0);
    ASSERT_TRUE(f.WaitProbersFinished(1, 3000));
    auto took = std::chrono::steady_clock::now() - stopped;
    EXPECT_LT(took, std::chrono::milliseconds(1300));
    EXPECT_EQ(f.table().runningProbers, 0);
    EXPECT_EQ(f.entry().successCount, 1u);
}

// Meant for ThreadSanitizer: the host list dialog's delete-then-add while the deleted
// host's prober is still starting. Its read of the name must be ordered before the new
// host's write; nothing else orders them here (runningProbers is a relaxed counter).
TEST(TcpProber, StopThenAddInTheSameSlotWhileTheProberStarts) {
    TcpRefusingPort closed;
    SystemClock clock;
    TcpProberFixture f(Program::Desktop, clock);
    ASSERT_EQ(f.table().AddHost("127.0.0.1", 1, closed.Port()), 0);
    ASSERT_TRUE(WaitFor([&] { return f.table().runningProbers == 1; }));
    f.table().StopHost(0);
    ASSERT_EQ(f.table().AddHost("localhost", 1, closed.Port()), 0);
    ASSERT_TRUE(f.WaitProbersFinished(1));
    EXPECT_EQ(f.entry().name, "localhost");
}

TEST(TcpProber, SlotTakenOverDuringTheWaitIsNotTouched) {
    for (Program program : {Program::Desktop, Program::Service}) {
        SCOPED_TRACE(program == Program::Desktop ? "desktop" : "service");
        TcpTestListener listener;
        ASSERT_TRUE(listener.Valid());
        TcpStepClock clock;
        TcpProberFixture f(program, clock, &clock);
        ASSERT_EQ(f.table().AddHost("127.0.0.1", 1, listener.Port()), 0);
        ASSERT_TRUE(clock.WaitParked(kWaitMs));
        UniqueFd first = listener.Accept(kWaitMs);
        ASSERT_TRUE(first.Valid());

        f.table().StopHost(0);
        // Interval 0: the new host gets no prober of its own in either program.
        ASSERT_EQ(f.table().AddHost("127.0.0.1", 0, listener.Port()), 0);
        f.entry().lastResult = 4242;
        clock.AllowUntil(600'000);
        ASSERT_TRUE(f.WaitProbersFinished(1));

        // The old run ended after its current slice, without another attempt or write.
        EXPECT_EQ(clock.ElapsedMs(), 1000);
        EXPECT_TRUE(TcpPeerClosed(first.Get(), kWaitMs));
        EXPECT_FALSE(listener.Accept(50).Valid());
        const HostEntry& e = f.entry();
        EXPECT_EQ(e.active, 1);
        EXPECT_EQ(e.successCount, 0u);
        EXPECT_EQ(e.lostCount, 0u);
        EXPECT_EQ(e.lastResult, 4242);
        EXPECT_TRUE(Samples(f.table()).empty());
        EXPECT_EQ(f.table().runningProbers, 0);
    }
}

TEST(TcpProber, SlotTakenOverDuringTheConnectIsNotWritten) {
    for (Program program : {Program::Desktop, Program::Service}) {
        SCOPED_TRACE(program == Program::Desktop ? "desktop" : "service");
        // With a backlog of 0 and one connection queued, the listener drops further SYNs,
        // so the prober's connect hangs until the test makes room.
        TcpTestListener listener(0);
        ASSERT_TRUE(listener.Valid());
        UniqueFd filler = TcpConnectLoopback(listener.Port());
        ASSERT_TRUE(filler.Valid());

        TcpStepClock clock;
        TcpProberFixture f(program, clock, &clock);
        ASSERT_EQ(f.table().AddHost("127.0.0.1", 1, listener.Port()), 0);
        ASSERT_TRUE(clock.WaitTickReads(1, kWaitMs));  // t0 read: the connect is next
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(f.Finished(), 0);

        f.table().StopHost(0);
        // Interval 0: the new host gets no prober of its own in either program.
        ASSERT_EQ(f.table().AddHost("127.0.0.1", 0, listener.Port()), 0);
        f.entry().lastResult = 4242;

        // Make room: the retransmitted SYN gets through and the old connect completes.
        UniqueFd queued = listener.Accept(kWaitMs);
        ASSERT_TRUE(queued.Valid());
        UniqueFd proberConn = listener.Accept(10'000);
        EXPECT_TRUE(proberConn.Valid());  // the old run did connect...
        ASSERT_TRUE(f.WaitProbersFinished(1, 10'000));

        const HostEntry& e = f.entry();  // ...but wrote nothing into the new host
        EXPECT_EQ(e.successCount, 0u);
        EXPECT_EQ(e.lostCount, 0u);
        EXPECT_EQ(e.currentMs, 0);
        EXPECT_EQ(e.up, 0);
        EXPECT_EQ(e.lastResult, 4242);
        EXPECT_EQ(e.secondsToNextProbe, 0);
        EXPECT_TRUE(Samples(f.table()).empty());
        EXPECT_TRUE(clock.Sleeps().empty());
    }
}

// ---------------------------------------------------------------------------------------
// Start-up failures

// Lowers the open-file limit so that the next socket cannot be created; restores it after.
class NoFreeFileDescriptors {
  public:
    NoFreeFileDescriptors() {
        getrlimit(RLIMIT_NOFILE, &saved_);
        int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (probe < 0) {
            return;
        }
        ::close(probe);
        rlimit lowered = saved_;
        lowered.rlim_cur = static_cast<rlim_t>(probe);
        active_ = setrlimit(RLIMIT_NOFILE, &lowered) == 0;
    }
    ~NoFreeFileDescriptors() { Restore(); }
    void Restore() {
        if (active_) {
            setrlimit(RLIMIT_NOFILE, &saved_);
            active_ = false;
        }
    }
    bool Active() const { return active_; }

  private:
    rlimit saved_{};
    bool active_ = false;
};

TEST(TcpProber, SocketThatCannotBeCreatedIsReportedAndEndsTheProber) {
    TcpStepClock clock;
#ifdef QV_UNDEFINED_SANITIZER
    GTEST_SKIP() << "UndefinedBehaviorSanitizer needs free descriptors for its own checks of "
                    "virtual calls, and this test leaves none";
#endif
    TcpProberFixture f(Program::Desktop, clock, &clock);
    {
        NoFreeFileDescriptors noFds;
        ASSERT_TRUE(noFds.Active());
        ASSERT_EQ(f.table().AddHost("127.0.0.1", 1, 80), 0);
        ASSERT_TRUE(f.WaitProbersFinished(1));
    }
    // Handed on beside the prober, which does not wait for it.
    ASSERT_TRUE(WaitFor([&] { return f.sink.Count() >= 1; }));
    auto messages = f.sink.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, SystemErrorText(EMFILE));
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_EQ(messages[0].icon, MessageIcon::Information);
    // The host stays in the table, unprobed and down.
    EXPECT_EQ(f.entry().active, 1);
    EXPECT_EQ(f.entry().up, 0);
    EXPECT_EQ(f.entry().lostCount, 0u);
    EXPECT_EQ(f.table().runningProbers, 0);
    EXPECT_EQ(clock.ElapsedMs(), 0);
}

TEST(TcpProber, SocketThatCannotBeBoundIsReportedAndEndsTheProber) {
    std::string why;
    bool ran = test::TcpRunInNewNetns(
        [&] {
            // In this namespace the only local ports are two that are already taken.
            {
                std::ofstream range("/proc/sys/net/ipv4/ip_local_port_range");
                range << "40000 40001\n";
                ASSERT_TRUE(range.good());
            }
            std::vector<UniqueFd> held;
            for (uint16_t port : {40000, 40001}) {
                UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
                sockaddr_in a{};
                a.sin_family = AF_INET;
                a.sin_port = htons(port);
                ASSERT_EQ(::bind(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
                held.push_back(std::move(fd));
            }
            TcpStepClock clock;
            TcpProberFixture f(Program::Service, clock, &clock);
            ASSERT_EQ(f.table().AddHost("127.0.0.1", 1, 80), 0);
            ASSERT_TRUE(f.WaitProbersFinished(1));
            ASSERT_TRUE(WaitFor([&] { return f.sink.Count() >= 1; }));
            auto messages = f.sink.Messages();
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0].text, SystemErrorText(EADDRINUSE));
            EXPECT_EQ(messages[0].caption, "Error");
            EXPECT_EQ(messages[0].icon, MessageIcon::Information);
            EXPECT_EQ(f.entry().lostCount, 0u);
            EXPECT_TRUE(Samples(f.table()).empty());
        },
        &why);
    if (!ran) {
        GTEST_SKIP() << why;
    }
}

}  // namespace
}  // namespace qv
