// Configuration files edited by hand: values the dialogs never write, and files that are
// not regular files, must neither break nor hang either program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <thread>

#include "core/host_table.h"
#include "settings/config_files.h"
#include "support/lib/fake_clock.h"
#include "support/lib/recording_sink.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using test::RecordingMessageSink;
using test::TempDir;
using test::WriteFileBytes;

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

TEST(HandEditedFiles, ProbeValuesOutsideTheDialogsRangeAreSafe) {
    struct Case {
        const char* line;
        int32_t probeValue;          // as loaded
        int32_t secondsToNextProbe;  // after the service program records one result
    };
    const Case cases[] = {
        // TCP minutes whose seconds do not fit in 32 bits, either way.
        {"80 127.0.0.1 35791395", 35791395, kMax},
        {"80 127.0.0.1 2147483647", kMax, kMax},
        {"80 127.0.0.1 -35791395", -35791395, 59},  // probed once a minute
        {"80 127.0.0.1 -2147483648", std::numeric_limits<int32_t>::min(), 59},
        {"80 127.0.0.1 1", 1, 59},
        // ICMP timeouts below a second are raised to one; 0 stays an unprobed placeholder.
        {"0 127.0.0.1 1", 1000, 0},
        {"0 127.0.0.1 999", 1000, 0},
        {"0 127.0.0.1 -7", 1000, 0},
        {"0 127.0.0.1 1000", 1000, 0},
        {"0 127.0.0.1 2500", 2500, 1},
        {"0 - 0", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        TempDir dir;
        WriteFileBytes(dir.File("conf01.dat"), std::string(c.line) + "\r\r\n");
        FakeClock clock(1'700'000'000);
        RecordingMessageSink sink;
        HostTable::Hooks hooks;
        hooks.runProber = [](HostTable&, int, uint32_t) {};
        HostTable table(Program::Service, clock, sink, hooks);
        LoadHostList(dir.path(), table);
        HostEntry& e = table.Entry(0);
        ASSERT_EQ(e.active, 1);
        EXPECT_EQ(e.probeValue, c.probeValue);
        if (c.probeValue != 0) {
            table.RecordProbeSample(1, 5);
            EXPECT_EQ(e.secondsToNextProbe, c.secondsToNextProbe);
        }
    }
}

TEST(HandEditedFiles, FifosInPlaceOfTheFilesAreNotReadAndNeverBlock) {
    TempDir dir;
    for (const char* name : {kHostListFile, kIcmpSettingsFile, kTcpSettingsFile, kTabNamesFile}) {
        ASSERT_EQ(::mkfifo(dir.File(name).c_str(), 0600), 0) << name;
    }
    std::atomic<bool> done{false};
    int desktopHosts = -1;
    int serviceHosts = -1;
    Settings settings;
    TabNames names;
    std::thread loader([&] {
        FakeClock clock(1'700'000'000);
        RecordingMessageSink sink;
        HostTable::Hooks hooks;
        hooks.runProber = [](HostTable&, int, uint32_t) {};
        HostTable desktop(Program::Desktop, clock, sink, hooks);
        HostTable service(Program::Service, clock, sink, hooks);
        LoadHostList(dir.path(), desktop);
        LoadHostList(dir.path(), service);
        desktopHosts = desktop.hostCount;
        serviceHosts = service.Entry(0).active;
        LoadSettings(dir.path(), settings, Program::Desktop, "/opt/q/Quorvane");
        LoadTabNames(dir.path(), names);
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(done) << "a loader is blocked opening a FIFO";
    while (!done) {
        // Free the blocked reader with a writer that comes and goes, so the test ends.
        for (const char* name :
             {kHostListFile, kIcmpSettingsFile, kTcpSettingsFile, kTabNamesFile}) {
            int fd = ::open(dir.File(name).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                ::close(fd);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    loader.join();
    // Each counts as missing: defaults everywhere.
    EXPECT_EQ(desktopHosts, 2);
    EXPECT_EQ(serviceHosts, 0);
    Settings defaults;
    SetDefaultSettings(defaults, "/opt/q/Quorvane");
    EXPECT_EQ(settings.icmp.emailAddress, defaults.icmp.emailAddress);
    EXPECT_EQ(settings.tcp.soundFile, defaults.tcp.soundFile);
    EXPECT_EQ(names[0], DefaultTabName(0));
}

}  // namespace
}  // namespace qv
