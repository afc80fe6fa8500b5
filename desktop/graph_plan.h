// The graph of one pane without the pixels: which rectangles to fill in which colour,
// where the axis, its ticks and labels go, and the scale the host's next drawing uses.
#pragma once

#include <cstdint>
#include <ctime>
#include <vector>

#include "core/host_table.h"

namespace qv {

// The TCP threshold: a connection that took this long or longer is drawn at full height.
constexpr int32_t kTcpThresholdMs = 500;

enum class GraphInk : uint8_t { Normal, Lost, Threshold, Axis };

// A filled rectangle in pixels: left, top, width, height.
struct GraphRect {
    int x;
    int y;
    int width;
    int height;
    GraphInk ink;
};

struct GraphLabel {
    int x;  // top-left corner of the text
    int y;
    char text[8];  // "hh:mm"
};

struct GraphPlan {
    bool draw = false;  // false: the pane draws nothing at all
    int scale = 0;      // the "Current scale: %d ms" value, and the host's next graphScale
    std::vector<GraphRect> rects;  // samples first, then axis and ticks
    std::vector<GraphLabel> labels;
};

// Walks the samples of `slot` from the newest, `scrollMinutes` back from the present, for
// a pane of width x height pixels at local time `now`; updates the host's graphScale.
// Holds SampleLock while it reads the samples. `plan` is reused to avoid allocations.
void PlanGraph(HostTable& table, int slot, int scrollMinutes, const std::tm& now, int width,
               int height, GraphPlan& plan);

}  // namespace qv
