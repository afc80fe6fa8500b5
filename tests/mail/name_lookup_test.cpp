// The mail client's name lookup: what it finds, and that neither a silent name server nor
// its own time limit can hold up a stop.
#include "mail/name_lookup.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "mail/status_mail.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using std::chrono::steady_clock;

TEST(NameLookupTest, FindsNamesOfThisMachineAndTakesDottedAddressesAsTheyAre) {
    LookupResult local = LookupIPv4("localhost", 5000);
    ASSERT_EQ(local.end, LookupEnd::Found);
    EXPECT_EQ(FormatIPv4(local.address), "127.0.0.1");
    LookupResult dotted = LookupIPv4("127.0.0.9", 5000, [] { return true; });
    ASSERT_EQ(dotted.end, LookupEnd::Found);
    EXPECT_EQ(FormatIPv4(dotted.address), "127.0.0.9");
    EXPECT_EQ(LookupIPv4("", 5000).end, LookupEnd::NotFound);
}

// In a forked child with a mount and network namespace of its own: the resolver's name
// server is a socket on loopback that never answers. Returns the number of the check that
// failed, 0 when all passed.
int SilentNameServerChild(const std::string& folder) {
    if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return 10;
    }
    const std::string resolv = folder + "/resolv.conf";
    test::WriteFileBytes(resolv, "nameserver 127.0.0.1\noptions timeout:30 attempts:2\n");
    const std::string nss = folder + "/nsswitch.conf";
    test::WriteFileBytes(nss, "hosts: files dns\n");
    if (mount(resolv.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0 ||
        mount(nss.c_str(), "/etc/nsswitch.conf", nullptr, MS_BIND, nullptr) != 0) {
        return 11;
    }
    UniqueFd control(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq lo{};
    std::strncpy(lo.ifr_name, "lo", IFNAMSIZ - 1);
    lo.ifr_flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
    if (!control.Valid() || ioctl(control.Get(), SIOCSIFFLAGS, &lo) != 0) {
        return 12;
    }
    UniqueFd silent(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(53);
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!silent.Valid() ||
        bind(silent.Get(), reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
        return 13;
    }

    // The lookup really hangs: only its own limit ends it.
    auto start = steady_clock::now();
    if (LookupIPv4("mail.example.test", 700).end != LookupEnd::TimedOut) {
        return 1;
    }
    if (steady_clock::now() - start > std::chrono::milliseconds(1500)) {
        return 2;
    }
    // A stop 300 ms into the mail's lookup ends the mail at once, whatever the 10 s limit.
    SystemClock clock;
    SmtpAbort abort;
    std::string error;
    start = steady_clock::now();
    std::thread stopper([&abort] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        abort.Abort();
    });
    const bool sent = SendStatusMail(
        Program::Service, clock, "mail.example.test", 25, "ops@x", "ops@x", "up", "up",
        [&error](const std::string& text) { error = text; }, MailTimeouts{10000, 10000}, &abort);
    stopper.join();
    const auto took = steady_clock::now() - start;
    if (sent || took > std::chrono::seconds(2)) {
        return 3;
    }
    if (error != "Unable to connect to server mail.example.test (ffffffff)") {
        std::fprintf(stderr, "error text: %s\n", error.c_str());
        return 4;
    }
    return 0;
}

TEST(NameLookupTest, AStopEndsTheMailWhileTheNameServerIsSilent) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: a private mount and network namespace with a silent "
                        "name server";
    }
    test::TempDir dir;
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        _exit(SilentNameServerChild(dir.path()));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "check " << WEXITSTATUS(status) << " failed";
}

}  // namespace
}  // namespace qv
