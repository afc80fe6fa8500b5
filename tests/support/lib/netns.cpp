// Private network namespaces and the ICMP responder for tests.
#include "support/lib/netns.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/lib/support_dir.h"

namespace qv::test {

namespace {

bool WriteProcFile(const char* path, const char* value) {
    int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    size_t length = std::strlen(value);
    bool ok = ::write(fd, value, length) == static_cast<ssize_t>(length);
    ::close(fd);
    return ok;
}

bool BringLoopbackUp() {
    UniqueFd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!s.Valid()) {
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    if (::ioctl(s.Get(), SIOCGIFFLAGS, &request) != 0) {
        return false;
    }
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
    return ::ioctl(s.Get(), SIOCSIFFLAGS, &request) == 0;
}

}  // namespace

TestNetNamespace::TestNetNamespace() {
    if (::geteuid() != 0) {
        skipReason_ = "needs root to create a network namespace for its test hosts";
        return;
    }
    original_.Reset(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC));
    if (!original_.Valid()) {
        skipReason_ =
            std::string("cannot open this thread's network namespace: ") + std::strerror(errno);
        return;
    }
    if (::unshare(CLONE_NEWNET) != 0) {
        skipReason_ = std::string("network namespaces unavailable: ") + std::strerror(errno);
        original_.Reset();
        return;
    }
    // /proc/sys/net belongs to the namespace of the thread that opens it.
    if (!BringLoopbackUp() || !WriteProcFile("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1") ||
        !WriteProcFile("/proc/sys/net/ipv4/ping_group_range", "0 2147483647")) {
        skipReason_ = std::string("cannot set up the test namespace: ") + std::strerror(errno);
        return;
    }
    ok_ = true;
}

TestNetNamespace::~TestNetNamespace() {
    if (original_.Valid()) {
        ::setns(original_.Get(), CLONE_NEWNET);
    }
}

bool IcmpResponder::Start(const std::vector<std::string>& hostArgs, std::string* error) {
    std::vector<std::string> argv{std::string(SupportBinDir()) + "/icmp_responder"};
    argv.insert(argv.end(), hostArgs.begin(), hostArgs.end());
    UniqueFd out(::open(dir_.File("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    UniqueFd err(::open(dir_.File("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    int startError = 0;
    child_ = ChildProcess::Start(argv, out.Get(), err.Get(), &startError);
    if (!child_.Valid()) {
        *error = "cannot start icmp_responder: " + std::string(std::strerror(startError));
        return false;
    }
    for (int i = 0; i < 500; ++i) {
        if (ReadFileBytes(dir_.File("out")).rfind("ready\n", 0) == 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    *error = "icmp_responder did not get ready: " + ReadFileBytes(dir_.File("err"));
    Stop();
    return false;
}

void IcmpResponder::Stop() {
    if (child_.Valid()) {
        ::kill(child_.Pid(), SIGTERM);
        child_.Wait();
    }
}

std::vector<ResponderRequest> IcmpResponder::Requests() const {
    std::vector<ResponderRequest> requests;
    std::istringstream in(ReadFileBytes(dir_.File("out")));
    std::string line;
    while (std::getline(in, line)) {
        char address[64] = {};
        ResponderRequest r;
        if (std::sscanf(line.c_str(), "request %63s id=%u seq=%u", address, &r.identifier,
                        &r.sequence) == 3) {
            r.address = address;
            requests.push_back(r);
        }
    }
    return requests;
}

size_t IcmpResponder::RequestCount(const std::string& address) const {
    size_t count = 0;
    for (const ResponderRequest& r : Requests()) {
        count += r.address == address ? 1 : 0;
    }
    return count;
}

}  // namespace qv::test
