// Runs N ICMP probers (service program rules) against consecutive 127.x addresses for T
// seconds and prints the probes done, the mean response time, the CPU time and the
// wake-ups of the process, and what a bystander ICMP socket received meanwhile.
//
// Usage: icmp_probers [--hosts N] [--first 127.0.0.1] [--seconds T] [--timeout MS]
//                     [--kind auto|raw|datagram] [--samples yes]
#include <arpa/inet.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/host_table.h"
#include "core/icmp_prober.h"
#include "platform/clock.h"
#include "platform/icmp_socket.h"
#include "platform/message_sink.h"

namespace {

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    int hosts = 100;
    std::string first = "127.0.0.1";
    int seconds = 60;
    int timeout = 1000;
    qv::IcmpSocketKind kind = qv::IcmpSocketKind::Auto;
    bool showSamples = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        std::string value = argv[i + 1];
        if (option == "--hosts") {
            hosts = std::atoi(value.c_str());
        } else if (option == "--first") {
            first = value;
        } else if (option == "--seconds") {
            seconds = std::atoi(value.c_str());
        } else if (option == "--timeout") {
            timeout = std::atoi(value.c_str());
        } else if (option == "--samples") {
            showSamples = value == "yes";
        } else if (option == "--kind") {
            kind = value == "raw"        ? qv::IcmpSocketKind::Raw
                   : value == "datagram" ? qv::IcmpSocketKind::Datagram
                                         : qv::IcmpSocketKind::Auto;
        }
    }
    if (hosts < 1 || hosts > qv::kMaxHosts) {
        std::fprintf(stderr, "icmp_probers: 1 to %d hosts\n", qv::kMaxHosts);
        return 2;
    }
    in_addr base{};
    if (inet_pton(AF_INET, first.c_str(), &base) != 1) {
        std::fprintf(stderr, "icmp_probers: bad address %s\n", first.c_str());
        return 2;
    }

    // A socket with an identifier no prober uses: it should never wake up.
    int error = 0;
    qv::IcmpSocket bystander = qv::IcmpSocket::Open(kind, 0xF00D, &error);
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
    hooks.runProber = [kind](qv::HostTable& t, int k, uint32_t run) {
        qv::RunIcmpProberWith(t, k, run, kind);
    };
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    {
        qv::HostTable table(qv::Program::Service, clock, sink, hooks);
        for (int i = 0; i < hosts; ++i) {
            in_addr a{};
            a.s_addr = htonl(ntohl(base.s_addr) + static_cast<uint32_t>(i));
            char text[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, &a, text, sizeof text);
            table.AddHost(text, timeout, 0);
        }
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        for (int i = 0; i < hosts; ++i) {
            table.StopHost(i);
        }

        long probes = 0;
        long lost = 0;
        double rttSum = 0;
        long rttCount = 0;
        std::lock_guard<std::recursive_mutex> lock(table.SampleLock());
        for (int i = 0; i < hosts; ++i) {
            const qv::HostEntry& e = table.Entry(i);
            probes += static_cast<long>(e.successCount + e.lostCount);
            lost += static_cast<long>(e.lostCount);
            if (showSamples) {
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
        long wakeups = (after.ru_nvcsw - before.ru_nvcsw) + (after.ru_nivcsw - before.ru_nivcsw);
        std::printf("hosts %d seconds %d timeout %d socket %s\n", hosts, seconds, timeout,
                    bystander.RepliesCarryIpHeader() ? "raw" : "datagram");
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
    return 0;
}
