// The exposition text, appended piece by piece to one string that keeps its room from
// scrape to scrape.
#include "service/metrics_text.h"

#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <concepts>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string_view>

#include "platform/utf8.h"

namespace qv {

namespace {

// Label values must be UTF-8, or Prometheus refuses the whole scrape: a name from a
// hand-edited host list gets U+FFFD for each byte that is not. Backslash, quote and line
// feed are escaped as the format asks.
void AppendLabelValue(std::string& out, std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const size_t start = i;
        const std::optional<uint32_t> cp = NextCodePoint(text, i);
        if (!cp) {
            out.append("\xEF\xBF\xBD");
            i = start + 1;
        } else if (*cp == '\\' || *cp == '"') {
            out += '\\';
            out += static_cast<char>(*cp);
        } else if (*cp == '\n') {
            out += "\\n";
        } else {
            out.append(text.substr(start, i - start));
        }
    }
}

void AppendNumber(std::string& out, std::integral auto value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    out.append(buffer, result.ptr);
}

// The shortest decimal that reads back as `value`, never in exponent form: "0.0005".
void AppendNumber(std::string& out, double value) {
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::fixed);
    out.append(buffer, result.ptr);
}

// A sum of whole milliseconds, in seconds, exactly: "20.653".
void AppendMilliseconds(std::string& out, uint64_t ms) {
    AppendNumber(out, ms / 1000);
    const auto rest = static_cast<unsigned>(ms % 1000);
    const char digits[4] = {'.', static_cast<char>('0' + rest / 100),
                            static_cast<char>('0' + rest / 10 % 10),
                            static_cast<char>('0' + rest % 10)};
    out.append(digits, sizeof(digits));
}

void AppendFamilyHead(std::string& out, std::string_view name, std::string_view help,
                      std::string_view type) {
    out.append("# HELP ").append(name).append(" ").append(help).append("\n");
    out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

// "name{labels} " for one series, ready for its value.
void AppendSeries(std::string& out, std::string_view name, std::string_view labels) {
    out.append(name).append("{").append(labels).append("} ");
}

}  // namespace

void CopyHostNumbers(HostTable& table, std::vector<HostNumbers>& hosts) {
    size_t count = 0;
    std::lock_guard<std::recursive_mutex> lock(table.SampleLock());
    for (int slot = 0; slot < kMaxHosts; ++slot) {
        const HostEntry& e = table.Entry(slot);
        // The hosts the tick watches.
        if (e.active == 0 || e.probeValue == 0) {
            continue;
        }
        if (count == hosts.size()) {
            hosts.emplace_back();
        }
        HostNumbers& h = hosts[count++];
        h.name.assign(e.name);
        h.icmp = e.isIcmp != 0;
        h.port = TcpPortOf(e);  // 40000, not the stored -25536
        h.up = e.up != 0;
        h.stateSeconds = e.stateSeconds;
        h.tally = e.tally;
    }
    hosts.resize(count);
}

void ReadProcessNumbers(ScrapeNumbers& numbers) {
    numbers.cpuSeconds.reset();
    numbers.residentBytes.reset();
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) == 0) {
        numbers.cpuSeconds =
            static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    if (std::FILE* statm = std::fopen("/proc/self/statm", "re")) {
        unsigned long size = 0, resident = 0;
        if (std::fscanf(statm, "%lu %lu", &size, &resident) == 2) {
            numbers.residentBytes =
                static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE));
        }
        std::fclose(statm);
    }
}

void WriteMetricsText(const ScrapeNumbers& numbers, std::string& out) {
    out.clear();
    const std::vector<HostNumbers>& hosts = numbers.hosts;

    // Each host's label set, written once for all its series.
    std::vector<std::string> labels(hosts.size());
    std::vector<size_t> baseLength(hosts.size());  // without the copy label
    for (size_t i = 0; i < hosts.size(); ++i) {
        const HostNumbers& h = hosts[i];
        std::string& l = labels[i];
        l.append("host=\"");
        AppendLabelValue(l, h.name);
        l.append(h.icmp ? "\",kind=\"icmp\"" : "\",kind=\"tcp\",port=\"");
        if (!h.icmp) {
            AppendNumber(l, h.port);
            l += '"';
        }
        // Told apart by what the labels say, not by the names: two names that are not
        // UTF-8 may come out alike.
        baseLength[i] = l.size();
        int copy = 1;
        for (size_t j = 0; j < i; ++j) {
            copy += std::string_view(labels[j]).substr(0, baseLength[j]) == l;
        }
        if (copy > 1) {
            l.append(",copy=\"");
            AppendNumber(l, copy);
            l += '"';
        }
    }

    const auto perHost = [&](std::string_view name, std::string_view help, std::string_view type,
                             auto value) {
        AppendFamilyHead(out, name, help, type);
        for (size_t i = 0; i < hosts.size(); ++i) {
            AppendSeries(out, name, labels[i]);
            AppendNumber(out, value(hosts[i]));
            out += '\n';
        }
    };
    perHost("quorvane_host_up", "1 when the host's last probe was answered, else 0.", "gauge",
            [](const HostNumbers& h) { return h.up ? 1 : 0; });
    perHost("quorvane_host_state_seconds",
            "How long the host has been in its current up or down state.", "gauge",
            [](const HostNumbers& h) { return h.stateSeconds; });
    perHost("quorvane_probes_total", "Probes sent to the host.", "counter",
            [](const HostNumbers& h) { return h.tally.answered + h.tally.lost; });
    perHost("quorvane_probes_lost_total", "Probes that got no answer within the timeout.",
            "counter", [](const HostNumbers& h) { return h.tally.lost; });

    AppendFamilyHead(out, "quorvane_rtt_seconds", "Round-trip time of the answered probes.",
                     "histogram");
    // The upper bounds as the "le" label writes them: 0.0005 ... 16.384, +Inf.
    std::array<std::string, ProbeTally::kBounds + 1> bounds;
    for (int b = 0; b < ProbeTally::kBounds; ++b) {
        AppendNumber(bounds[b], ProbeTally::UpperBoundSeconds(b));
    }
    bounds[ProbeTally::kBounds] = "+Inf";
    for (size_t i = 0; i < hosts.size(); ++i) {
        const ProbeTally& tally = hosts[i].tally;
        uint64_t cumulative = 0;
        for (int b = 0; b <= ProbeTally::kBounds; ++b) {
            cumulative += tally.buckets[b];
            out.append("quorvane_rtt_seconds_bucket{").append(labels[i]).append(",le=\"");
            out.append(bounds[b]).append("\"} ");
            AppendNumber(out, cumulative);
            out += '\n';
        }
        AppendSeries(out, "quorvane_rtt_seconds_sum", labels[i]);
        AppendMilliseconds(out, tally.sumMs);
        out += '\n';
        AppendSeries(out, "quorvane_rtt_seconds_count", labels[i]);
        AppendNumber(out, tally.answered);
        out += '\n';
    }

    AppendFamilyHead(out, "quorvane_notifications_total",
                     "Notifications given: e-mails, alarm sounds, traceroute captures.", "counter");
    const NotificationCounts& n = numbers.notifications;
    for (const auto& [channel, counts] :
         {std::pair{"mail", n.mail}, std::pair{"sound", n.sound}, std::pair{"trace", n.trace}}) {
        for (const auto& [result, value] :
             {std::pair{"ok", counts.ok}, std::pair{"failed", counts.failed}}) {
            out.append("quorvane_notifications_total{channel=\"").append(channel);
            out.append("\",result=\"").append(result).append("\"} ");
            AppendNumber(out, value);
            out += '\n';
        }
    }

    if (numbers.cpuSeconds) {
        AppendFamilyHead(out, "process_cpu_seconds_total",
                         "User and system CPU time spent in seconds.", "counter");
        out.append("process_cpu_seconds_total ");
        AppendNumber(out, *numbers.cpuSeconds);
        out += '\n';
    }
    if (numbers.residentBytes) {
        AppendFamilyHead(out, "process_resident_memory_bytes", "Resident memory size in bytes.",
                         "gauge");
        out.append("process_resident_memory_bytes ");
        AppendNumber(out, *numbers.residentBytes);
        out += '\n';
    }
}

}  // namespace qv
