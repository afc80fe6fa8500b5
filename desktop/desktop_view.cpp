#include "desktop/desktop_view.h"

#include <cstdio>
#include <mutex>

#include "core/watcher.h"
#include "platform/utf8.h"

namespace qv {

bool DesktopTick(MonitorContext& ctx, WindowSideState& state, DesktopTickView& view) {
    bool allUp = true;
    std::string balloon;
    HostTable& table = ctx.table;
    for (int slot = 0; slot < kMaxHosts; ++slot) {
        HostEntry& entry = table.Entry(slot);
        if (entry.active == 0 || entry.probeValue == 0) {
            continue;
        }
        size_t sampleCount;
        {
            std::lock_guard<std::recursive_mutex> lock(table.SampleLock());
            // The name is read under the lock: the owning thread changes it under it too.
            if (!entry.name.empty() && entry.name[0] == '-') {
                continue;
            }
            table.RecordDueSamples(entry, ctx.seams.clock.Now());
            sampleCount = entry.samples.size();
        }
        if (entry.up == 0) {
            allUp = false;
        }
        const int pane = slot - state.firstVisibleSlot;
        if (pane >= 0 && pane < kPanes) {
            view.ShowStatistics(pane, StatisticsLine(entry, sampleCount));
        }
        const NotifySettings& kind = entry.isIcmp ? ctx.settings.icmp : ctx.settings.tcp;
        WatchHost(ctx, entry, kind, ctx.settings.general, &balloon);
    }
    if (!balloon.empty()) {
        view.ShowBalloon(FitBalloonText(balloon));
    }
    if (allUp != state.lastAllUp) {
        view.SetTrayStatus(allUp);
        state.lastAllUp = allUp;
    }
    const bool reported =
        ctx.dailyTrigger.Tick(ctx.dataDirectory, ctx.settings.general.dailyReports != 0);
    if (reported) {
        state.scrollMinutes = 0;
    }
    return reported;
}

uint32_t LostPercentage(const HostEntry& entry, size_t sampleCount) {
    const uint64_t samples = sampleCount;
    const int64_t probeValue = entry.probeValue;
    uint64_t probes = samples;
    if (entry.isIcmp) {
        if (probeValue >= 1000) {
            probes = samples / static_cast<uint64_t>(probeValue / 1000);
        } else if (probeValue > 0) {
            probes = samples * 1000 / static_cast<uint64_t>(probeValue);
        }
    } else if (probeValue > 0) {
        probes = samples / static_cast<uint64_t>(probeValue * 60);
    }
    if (probes == 0) {
        probes = 1;
    }
    return static_cast<uint32_t>(uint64_t{entry.lostCount} * 100 / probes);
}

std::string StatisticsLine(const HostEntry& entry, size_t sampleCount) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "curr: %d ms   avg: %d ms   min: %d ms   max: %d ms   lost: %u/%u%%",
                  static_cast<int>(entry.currentMs), static_cast<int>(entry.averageMs),
                  static_cast<int>(entry.minMs), static_cast<int>(entry.maxMs),
                  static_cast<unsigned>(entry.lostCount),
                  static_cast<unsigned>(LostPercentage(entry, sampleCount)));
    return line;
}

std::string FitBalloonText(std::string_view text) {
    if (CountChars(text) <= kMaxBalloonChars) {
        return std::string(text);
    }
    std::vector<std::string_view> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        end = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    const size_t n = lines.size();
    for (size_t keep = n - 1; keep >= 1; --keep) {
        std::string fitted;
        for (size_t i = 0; i < keep; ++i) {
            fitted.append(lines[i]);
        }
        fitted.append("and ").append(std::to_string(n - keep)).append(" more");
        if (CountChars(fitted) <= kMaxBalloonChars) {
            return fitted;
        }
    }
    // Not even one whole notice fits beside the count: cut the first one.
    std::string rest = n > 1 ? "\r\nand " + std::to_string(n - 1) + " more" : "";
    std::string first = CutToChars(lines[0], kMaxBalloonChars - CountChars(rest));
    return first + rest;
}

int ScrollBack(int scrollMinutes, int minutes, const std::tm& now) {
    const int sinceMidnight = now.tm_hour * 60 + now.tm_min;
    return scrollMinutes < sinceMidnight - minutes ? scrollMinutes + minutes : scrollMinutes;
}

int ScrollForward(int scrollMinutes, int minutes) {
    return scrollMinutes >= minutes ? scrollMinutes - minutes : 0;
}

int PaneAtY(int y, int firstFrameTop, int frameHeight) {
    for (int k = 0; k < kPanes; ++k) {
        const int top = firstFrameTop + k * (frameHeight + 3);
        if (y >= top && y <= top + frameHeight) {
            return k;
        }
    }
    return -1;
}

int TabCount(int hostCount) {
    return hostCount > 0 ? (hostCount - 1) / kPanes + 1 : 0;
}

std::vector<std::string> TabCaptions(const HostTable& table, int firstSlot) {
    std::vector<std::string> captions;
    for (int slot = firstSlot; slot < kMaxHosts && captions.size() < kPanes; ++slot) {
        if (slot >= 0 && table.Entry(slot).active != 0) {
            captions.push_back(PaneCaption(table.Entry(slot)));
        }
    }
    return captions;
}

std::string PaneCaption(const HostEntry& e) {
    if (e.isIcmp) {
        return e.name + ":" + std::to_string(static_cast<int>(e.probeValue / 1000)) + " sec";
    }
    return e.name + ":port " + std::to_string(TcpPortOf(e)) + ":" +
           std::to_string(static_cast<int>(e.probeValue)) + " min";
}

}  // namespace qv
