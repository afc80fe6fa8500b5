#include "desktop/graph_plan.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace qv {
namespace {

constexpr int kSecondsPerMinute = 60;
constexpr int kPixelsPerMinute = 60;

void AddSample(GraphPlan& plan, bool tcp, int x, int baseline, int h, GraphInk ink) {
    if (h <= 0) {
        return;  // a line one pixel short of its start draws nothing
    }
    if (tcp) {
        // Six pixels wide, left of x, ending one row above the baseline.
        plan.rects.push_back({x - 6, baseline - h, 6, h, ink});
    } else {
        plan.rects.push_back({x, baseline - h + 1, 1, h, ink});
    }
}

void PlanAxis(GraphPlan& plan, int scrollMinutes, const std::tm& now, int right, int bottom,
              int graphHeight) {
    const int left = 0;
    int hour = now.tm_hour - scrollMinutes / 60;
    int minute = now.tm_min - scrollMinutes % 60;
    if (minute < 0) {
        minute += 60;
        hour -= 1;
    }
    hour = ((hour % 24) + 24) % 24;

    const int axisRow = bottom - 15;
    if (right - 1 > left + 1) {
        plan.rects.push_back({left + 1, axisRow, right - 1 - (left + 1), 1, GraphInk::Axis});
    }
    const int tickHeight = graphHeight / 10;
    for (int x = right - now.tm_sec - 1; x >= left + 1; x -= kPixelsPerMinute) {
        if (tickHeight > 0) {
            plan.rects.push_back({x, axisRow - tickHeight + 1, 1, tickHeight, GraphInk::Axis});
        }
        if (x > 11 && x < right - 16) {
            GraphLabel label{x - 10, bottom - 14, {}};
            std::snprintf(label.text, sizeof label.text, "%02u:%02u",
                          static_cast<unsigned>(hour % 24), static_cast<unsigned>(minute % 60));
            plan.labels.push_back(label);
        }
        if (--minute < 0) {
            minute = 59;
            if (--hour < 0) {
                hour = 23;
            }
        }
    }
}

}  // namespace

void PlanGraph(HostTable& table, int slot, int scrollMinutes, const std::tm& now, int width,
               int height, GraphPlan& plan) {
    plan.draw = false;
    plan.scale = 0;
    plan.rects.clear();
    plan.labels.clear();
    if (slot < 0 || slot >= kMaxHosts) {
        return;
    }
    HostEntry& entry = table.Entry(slot);
    const int32_t probeValue = entry.probeValue;
    if (entry.active == 0 || probeValue == 0) {
        return;
    }
    plan.draw = true;

    const bool tcp = entry.isIcmp == 0;
    const int left = 0;
    const int right = width;
    const int bottom = height;
    const int graphHeight = height - 17;
    const int baseline = bottom - 16;
    const int32_t threshold = tcp ? kTcpThresholdMs : probeValue;

    int skip = std::max(0, scrollMinutes) * kSecondsPerMinute;
    int32_t seen = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(table.SampleLock());
        if (entry.graphScale == 0) {
            entry.graphScale = entry.maxMs;
        }
        // maxMs starts at 1 and only grows; the guard keeps a copied or damaged entry safe.
        const int64_t scale = std::max<int32_t>(entry.graphScale, 1);
        const std::vector<int32_t>& samples = entry.samples;
        int x = tcp ? right + 2 : right - 1;
        for (size_t i = samples.size(); i-- > 0;) {
            if (skip > 0) {
                --skip;
                continue;
            }
            const int32_t v = samples[i];
            if (v == -1) {
                AddSample(plan, tcp, x, baseline, graphHeight, GraphInk::Lost);
            } else if (v >= threshold) {
                AddSample(plan, tcp, x, baseline, graphHeight, GraphInk::Threshold);
            } else {
                seen = std::max(seen, v);
                const int64_t h =
                    std::max<int64_t>(0, std::min<int64_t>(v, scale)) * graphHeight / scale;
                AddSample(plan, tcp, x, baseline, static_cast<int>(h), GraphInk::Normal);
            }
            --x;
            if ((tcp ? x - 3 : x) < left + 1) {
                break;
            }
        }
        entry.graphScale = seen;
    }
    plan.scale = seen;
    PlanAxis(plan, scrollMinutes, now, right, bottom, graphHeight);
}

}  // namespace qv
