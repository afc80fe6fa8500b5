// The desktop program's window side without the widgets: its program-wide state, the
// once-a-second refresh tick, the statistics line, the balloon text, the time scroll, the
// pane bands and the tab layout. The widgets only show what these return.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "core/host_table.h"
#include "core/monitor_context.h"
#include "core/settings.h"

namespace qv {

constexpr int kPanes = 5;
// The notification area shows at most this many characters in one balloon.
constexpr size_t kMaxBalloonChars = 255;

// The window side's state, one per program, kept beside the host table.
struct WindowSideState {
    int firstVisibleSlot = 0;  // slot shown in pane 0 (tab index x 5)
    int selectedPane = 0;      // the pane last clicked, 0..4
    int scrollMinutes = 0;     // how far back all graphs look
    bool lastAllUp = true;     // which picture the tray shows
    TabNames tabNames;
};

// What the refresh tick asks of the window, in the tick's order.
class DesktopTickView {
  public:
    virtual ~DesktopTickView() = default;
    // Pane `pane` shows this statistics line; its graph is to be repainted.
    virtual void ShowStatistics(int pane, const std::string& line) = 0;
    // One balloon with the tick's tray notices (already fitted to kMaxBalloonChars).
    virtual void ShowBalloon(const std::string& text) = 0;
    virtual void SetTrayStatus(bool allUp) = 0;
};

// One refresh tick: records each watched host's due samples under SampleLock, fills the
// visible panes' statistics, runs the watcher, shows the tick's balloon, switches the tray
// picture and ends with the daily trigger (which also brings the graphs back to the
// present). Placeholders ("-") and hosts without probing are skipped. Returns whether
// the daily report ran.
bool DesktopTick(MonitorContext& ctx, WindowSideState& state, DesktopTickView& view);

// The lost share in percent. Probes are the samples divided by the seconds per probe; a
// count of 0 becomes 1. An ICMP timeout under one second probes more than once a second:
// its probes are counted as samples x 1000 / timeout.
uint32_t LostPercentage(const HostEntry& entry, size_t sampleCount);

// "curr: %d ms   avg: %d ms   min: %d ms   max: %d ms   lost: %d/%d%%"
std::string StatisticsLine(const HostEntry& entry, size_t sampleCount);

// Keeps the balloon within kMaxBalloonChars characters: whole notice lines as long as they
// fit, the rest counted in a last line "and N more"; a single notice longer than the limit
// is cut.
std::string FitBalloonText(std::string_view text);

// The time-scroll buttons. Going back stops short of today's 00:00 (at local time `now`);
// going forward stops at the present (0).
int ScrollBack(int scrollMinutes, int minutes, const std::tm& now);
int ScrollForward(int scrollMinutes, int minutes);

// The pane (0..4) whose vertical band holds y, or -1. Band k runs from
// top + k * (height + 3) to top + k * (height + 3) + height, both included, where top
// and height are those of the first pane's frame.
int PaneAtY(int y, int firstFrameTop, int frameHeight);

// Tabs for a table of hostCount packed hosts: one per five slots.
int TabCount(int hostCount);

// The caption of the pane that shows a host: "name:5 sec" or "name:port 80:2 min".
std::string PaneCaption(const HostEntry& e);

// The captions for the panes of the tab starting at firstSlot: those of the first five
// active slots from firstSlot on.
std::vector<std::string> TabCaptions(const HostTable& table, int firstSlot);

}  // namespace qv
