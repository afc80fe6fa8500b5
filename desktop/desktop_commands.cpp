#include "desktop/desktop_commands.h"

#include "core/host_file_name.h"

namespace qv {
namespace {

bool SwitchesChanged(const NotifySettings& a, const NotifySettings& b) {
    return a.emailEnabled != b.emailEnabled || a.trayEnabled != b.trayEnabled ||
           a.soundEnabled != b.soundEnabled;
}

}  // namespace

int64_t SecondsSinceMidnight(const std::tm& now) {
    return int64_t{now.tm_hour} * 3600 + int64_t{now.tm_min} * 60 + now.tm_sec;
}

std::string HistorySnapshotFileName(const std::string& hostName) {
    return "tmp_" + HostFileStem(hostName) + ".log";
}

void ResetWatchersForOptions(HostTable& table, const Settings& before, const Settings& after) {
    const bool icmp = SwitchesChanged(before.icmp, after.icmp) ||
                      before.general.tracertAfter != after.general.tracertAfter;
    const bool tcp = SwitchesChanged(before.tcp, after.tcp);
    if (!icmp && !tcp) {
        return;
    }
    for (int slot = 0; slot < kMaxHosts; ++slot) {
        HostEntry& e = table.Entry(slot);
        const bool isIcmp = e.isIcmp != 0;
        if (e.active == 0 || (isIcmp ? !icmp : !tcp)) {
            continue;
        }
        e.previousUp = 1;
        e.stateSeconds = 0;
        e.mailSent = 0;
        e.soundPlayed = 0;
        e.trayShown = 0;
        if (isIcmp) {
            e.traceStarted = 0;
        }
    }
}

std::string ServiceProgramPath(const std::string& programPath) {
    const size_t slash = programPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : programPath.substr(0, slash);
    return folder + "/" + kServiceProgramName;
}

std::vector<std::string> ServiceCommandLine(const std::string& serviceProgram, bool serviceMode,
                                            const std::string& dataDir) {
    return {serviceProgram, serviceMode ? "-i" : "-d", dataDir};
}

std::vector<std::string> ServiceBoxTexts(std::string_view errorOutput) {
    std::vector<std::string> texts;
    while (!errorOutput.empty()) {
        const size_t end = errorOutput.find('\n');
        std::string_view line = errorOutput.substr(0, end);
        errorOutput.remove_prefix(end == std::string_view::npos ? errorOutput.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.starts_with(kServiceBoxPrefix)) {
            line.remove_prefix(kServiceBoxPrefix.size());
        }
        if (!line.empty()) {
            texts.emplace_back(line);
        }
    }
    return texts;
}

}  // namespace qv
