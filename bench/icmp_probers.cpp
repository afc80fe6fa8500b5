// Runs N ICMP probers (service program rules) against consecutive addresses for T seconds
// and prints the probes done, the mean response time, the CPU time and the wake-ups of
// the process, and what a bystander ICMP socket received meanwhile. With --ipv6-first the
// same run follows over IPv6, in the same process, and the two are compared.
//
// Usage: icmp_probers [--hosts N] [--first 127.0.0.1] [--ipv6-first fd00::1] [--seconds T]
//                     [--timeout MS] [--kind auto|raw|datagram] [--samples yes]
// An IPv4 first address counts up in its last three bytes, an IPv6 one in its last two.
#include <arpa/inet.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/host_table.h"
#include "core/icmp_prober.h"
#include "platform/clock.h"
#include "platform/icmp_socket.h"
#include "platform/message_sink.h"
#include "platform/net.h"

namespace {

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
}

// The i-th address from `first` ("127.0.0.1" + 2 = "127.0.0.3", "fd00::1" + 2 = "fd00::3").
std::optional<std::string> NthAddress(const std::string& first, int i) {
    in_addr v4{};
    if (inet_pton(AF_INET, first.c_str(), &v4) == 1) {
        v4.s_addr = htonl(ntohl(v4.s_addr) + static_cast<uint32_t>(i));
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &v4, text, sizeof text);
        return std::string(text);
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, first.c_str(), &v6) == 1) {
        const unsigned low = ((v6.s6_addr[14] << 8) | v6.s6_addr[15]) + static_cast<unsigned>(i);
        v6.s6_addr[14] = static_cast<uint8_t>(low >> 8);
        v6.s6_addr[15] = static_cast<uint8_t>(low);
        char text[INET6_ADDRSTRLEN];
        inet_ntop(AF_INET6, &v6, text, sizeof text);
        return std::string(text);
    }
    return std::nullopt;
}

struct Options {
    int hosts = 100;
    int seconds = 60;
    int timeout = 1000;
    qv::IcmpSocketKind kind = qv::IcmpSocketKind::Auto;
    bool showSamples = false;
};

struct PhaseResult {
    long probes = 0;
    double cpuSeconds = 0;
};

PhaseResult RunPhase(const Options& o, const std::string& first) {
    const bool ipv6 = first.find(':') != std::string::npos;
    // A socket with an identifier no prober uses: it should never wake up.
    int error = 0;
    qv::IcmpSocket bystander =
        qv::IcmpSocket::Open(o.kind, 0xF00D, &error, ipv6 ? AF_INET6 : AF_INET);
    std::atomic<bool> stop{false};
    std::atomic<long> bystanderDatagrams{0};
    std::thread watcher([&] {
        std::vector<uint8_t> buffer(65536);
        while (!stop.load() && bystander.Valid()) {
            if (bystander.WaitReadable(1000) == qv::WaitResult::Ready) {
                size_t size = 0;
                if (bystander.Receive(buffer.data(), buffer.size(), &size) == 0) {
                    bystanderDatagrams.fetch_add(1);
                }
            }
        }
    });

    qv::SystemClock clock;
    qv::StderrMessageSink sink;
    qv::HostTable::Hooks hooks;
    hooks.runProber = [kind = o.kind](qv::HostTable& t, int k, uint32_t run) {
        qv::RunIcmpProberWith(t, k, run, kind);
    };
    PhaseResult result;
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    {
        qv::HostTable table(qv::Program::Service, clock, sink, hooks);
        for (int i = 0; i < o.hosts; ++i) {
            table.AddHost(*NthAddress(first, i), o.timeout, 0);
        }
        std::this_thread::sleep_for(std::chrono::seconds(o.seconds));
        for (int i = 0; i < o.hosts; ++i) {
            table.StopHost(i);
        }

        long lost = 0;
        double rttSum = 0;
        long rttCount = 0;
        std::lock_guard<std::recursive_mutex> lock(table.SampleLock());
        for (int i = 0; i < o.hosts; ++i) {
            const qv::HostEntry& e = table.Entry(i);
            result.probes += static_cast<long>(e.successCount + e.lostCount);
            lost += static_cast<long>(e.lostCount);
            if (o.showSamples) {
                std::printf("host %d:", i + 1);
                for (int32_t s : e.samples) {
                    std::printf(" %d", s);
                }
                std::printf("\n");
            }
            for (int32_t s : e.samples) {
                if (s >= 0) {
                    rttSum += s;
                    ++rttCount;
                }
            }
        }
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        double user = Seconds(after.ru_utime) - Seconds(before.ru_utime);
        double system = Seconds(after.ru_stime) - Seconds(before.ru_stime);
        result.cpuSeconds = user + system;
        long wakeups = (after.ru_nvcsw - before.ru_nvcsw) + (after.ru_nivcsw - before.ru_nivcsw);
        const long probes = result.probes;
        std::printf("family %s hosts %d seconds %d timeout %d socket %s\n", ipv6 ? "ipv6" : "ipv4",
                    o.hosts, o.seconds, o.timeout,
                    !bystander.Valid()                       ? "none"
                    : o.kind == qv::IcmpSocketKind::Datagram ? "datagram"
                                                             : "raw (or datagram where refused)");
        std::printf("probes %ld lost %ld mean_rtt_ms %.3f\n", probes, lost,
                    rttCount ? rttSum / rttCount : -1.0);
        std::printf("cpu_user_s %.3f cpu_sys_s %.3f cpu_us_per_probe %.2f\n", user, system,
                    probes ? (user + system) * 1e6 / probes : 0.0);
        std::printf("context_switches %ld per_probe %.2f bystander_datagrams %ld\n", wakeups,
                    probes ? static_cast<double>(wakeups) / probes : 0.0,
                    bystanderDatagrams.load());
        std::fflush(stdout);
    }
    stop.store(true);
    watcher.join();
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    std::string first = "127.0.0.1";
    std::string ipv6First;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        std::string value = argv[i + 1];
        if (option == "--hosts") {
            o.hosts = std::atoi(value.c_str());
        } else if (option == "--first") {
            first = value;
        } else if (option == "--ipv6-first") {
            ipv6First = value;
        } else if (option == "--seconds") {
            o.seconds = std::atoi(value.c_str());
        } else if (option == "--timeout") {
            o.timeout = std::atoi(value.c_str());
        } else if (option == "--samples") {
            o.showSamples = value == "yes";
        } else if (option == "--kind") {
            o.kind = value == "raw"        ? qv::IcmpSocketKind::Raw
                     : value == "datagram" ? qv::IcmpSocketKind::Datagram
                                           : qv::IcmpSocketKind::Auto;
        }
    }
    if (o.hosts < 1 || o.hosts > qv::kMaxHosts) {
        std::fprintf(stderr, "icmp_probers: 1 to %d hosts\n", qv::kMaxHosts);
        return 2;
    }
    for (const std::string& address : {first, ipv6First}) {
        if (!address.empty() && !NthAddress(address, 0)) {
            std::fprintf(stderr, "icmp_probers: bad address %s\n", address.c_str());
            return 2;
        }
    }

    const PhaseResult v4 = RunPhase(o, first);
    if (ipv6First.empty()) {
        return 0;
    }
    const PhaseResult v6 = RunPhase(o, ipv6First);
    const double perV4 = v4.probes ? v4.cpuSeconds * 1e6 / v4.probes : 0.0;
    const double perV6 = v6.probes ? v6.cpuSeconds * 1e6 / v6.probes : 0.0;
    std::printf("cpu_us_per_probe ipv4 %.2f ipv6 %.2f ipv6_vs_ipv4 %+.1f%%\n", perV4, perV6,
                perV4 > 0 ? (perV6 / perV4 - 1) * 100 : 0.0);
    return 0;
}
