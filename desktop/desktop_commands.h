// What the desktop program's commands decide without a window: the snapshot of a host's
// day, which watcher states an options change resets, and how the service program is
// run when the service mode is switched.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "core/host_table.h"
#include "core/settings.h"

namespace qv {

// The name of the service program, found beside the desktop program.
inline constexpr const char* kServiceProgramName = "HalvoricSvc";
// What the service program puts in front of each line meant for a message box.
inline constexpr std::string_view kServiceBoxPrefix = "Halvoric: ";

// Seconds from local midnight to `now` (0 to 86,400 with a leap second).
int64_t SecondsSinceMidnight(const std::tm& now);

// "tmp_<host>.log": the snapshot of a host's day, overwritten by the next one of the same
// name.
std::string HistorySnapshotFileName(const std::string& hostName);

// An options change restarts the watcher's count for the hosts it concerns, from an up
// state: every active ICMP host when an ICMP switch (e-mail, tray, sound) or the
// traceroute period changed, every active TCP host when a TCP switch changed (their
// traceroute flag stays). Other fields (addresses, servers, periods) reset nothing.
void ResetWatchersForOptions(HostTable& table, const Settings& before, const Settings& after);

// HalvoricSvc in the folder of the running program file.
std::string ServiceProgramPath(const std::string& programPath);

// The service program's arguments: "-i" (service mode on) or "-d" (off), then the data
// folder, as one argument each.
std::vector<std::string> ServiceCommandLine(const std::string& serviceProgram, bool serviceMode,
                                            const std::string& dataDir);

// The message boxes in what the service program wrote to standard error: one per
// non-empty line, without the "Halvoric: " in front (lines without it are shown whole).
std::vector<std::string> ServiceBoxTexts(std::string_view errorOutput);

}  // namespace qv
