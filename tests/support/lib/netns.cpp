// Private network namespaces and the ICMP responder for tests.
#include "support/lib/netns.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
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
    // Where the kernel has no IPv6, the IPv6 tests find no ::1 and say so.
    WriteProcFile("/proc/sys/net/ipv6/icmp/echo_ignore_all", "1");
    ok_ = true;
}

bool TestNetNamespace::AddIpv6Address(const std::string& address, std::string* error) {
    in6_addr bytes{};
    if (inet_pton(AF_INET6, address.c_str(), &bytes) != 1) {
        *error = "not an IPv6 address: " + address;
        return false;
    }
    UniqueFd s(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!s.Valid()) {
        *error = std::string("netlink: ") + std::strerror(errno);
        return false;
    }
    struct {
        nlmsghdr header;
        ifaddrmsg message;
        char attributes[64];
    } request{};
    request.header.nlmsg_type = RTM_NEWADDR;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK | NLM_F_CREATE | NLM_F_EXCL;
    request.header.nlmsg_seq = 1;
    request.message.ifa_family = AF_INET6;
    request.message.ifa_prefixlen = 128;
    request.message.ifa_flags = IFA_F_NODAD;
    request.message.ifa_index = if_nametoindex("lo");
    size_t length = NLMSG_LENGTH(sizeof(ifaddrmsg));
    auto* attribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&request) + length);
    attribute->rta_type = IFA_LOCAL;
    attribute->rta_len = RTA_LENGTH(sizeof bytes);
    std::memcpy(RTA_DATA(attribute), &bytes, sizeof bytes);
    length = NLMSG_ALIGN(length) + RTA_ALIGN(attribute->rta_len);
    attribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&request) + length);
    attribute->rta_type = IFA_ADDRESS;
    attribute->rta_len = RTA_LENGTH(sizeof bytes);
    std::memcpy(RTA_DATA(attribute), &bytes, sizeof bytes);
    length = NLMSG_ALIGN(length) + RTA_ALIGN(attribute->rta_len);
    request.header.nlmsg_len = static_cast<uint32_t>(length);
    if (::send(s.Get(), &request, length, 0) != static_cast<ssize_t>(length)) {
        *error = std::string("netlink send: ") + std::strerror(errno);
        return false;
    }
    char answer[512];
    ssize_t got = ::recv(s.Get(), answer, sizeof answer, 0);
    const auto* reply = reinterpret_cast<const nlmsghdr*>(answer);
    if (got < static_cast<ssize_t>(NLMSG_LENGTH(sizeof(nlmsgerr))) ||
        reply->nlmsg_type != NLMSG_ERROR) {
        *error = "netlink: no answer";
        return false;
    }
    const int rc = reinterpret_cast<const nlmsgerr*>(NLMSG_DATA(reply))->error;
    if (rc != 0) {
        *error = "cannot add " + address + " to lo: " + std::strerror(-rc);
        return false;
    }
    return true;
}

TestResolverFiles::TestResolverFiles(const std::string& hosts, const std::string& resolvConf) {
    if (::geteuid() != 0) {
        skipReason_ = "needs root for a private mount namespace";
        return;
    }
    original_.Reset(::open("/proc/thread-self/ns/mnt", O_RDONLY | O_CLOEXEC));
    if (!original_.Valid() || ::unshare(CLONE_NEWNS) != 0) {
        skipReason_ = std::string("mount namespaces unavailable: ") + std::strerror(errno);
        original_.Reset();
        return;
    }
    const std::string hostsFile = dir_.File("hosts");
    const std::string resolvFile = dir_.File("resolv.conf");
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        skipReason_ = std::string("cannot make the mounts private: ") + std::strerror(errno);
        return;
    }
    WriteFileBytes(hostsFile, hosts);
    WriteFileBytes(resolvFile, resolvConf);
    for (const auto& [from, to] :
         {std::pair{hostsFile, "/etc/hosts"}, std::pair{resolvFile, "/etc/resolv.conf"}}) {
        if (::mount(from.c_str(), to, nullptr, MS_BIND, nullptr) != 0) {
            skipReason_ =
                "cannot put " + from + " in the place of " + to + ": " + std::strerror(errno);
            return;
        }
    }
    ok_ = true;
}

TestResolverFiles::~TestResolverFiles() {
    if (original_.Valid()) {
        ::setns(original_.Get(), CLONE_NEWNS);  // fails harmlessly while lookups linger
    }
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
