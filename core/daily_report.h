// The daily report: at the first tick of 00:00 every probed host's day goes into its log
// file and the host starts the new day afresh.
#pragma once

#include <cstdint>
#include <string>

#include "core/host_table.h"

namespace qv {

// Writes the log file of every active, probed host (when dailyReports is on) into the day
// folder of the day that has just ended, then resets the host's day. Holds SampleLock
// throughout. A log file that cannot be opened or written ends the report at that host:
// it and the hosts after it keep their histories until the next report. Returns false
// when the report ended early.
bool RunDailyReport(HostTable& table, const std::string& dataDir, bool dailyReports, int64_t now);

// Runs the daily report once in the minute 00:00 of local time. Called at the end of every
// one-second tick, always on the same thread.
class DailyTrigger {
  public:
    explicit DailyTrigger(HostTable& table);

    // True when the report ran at this tick.
    bool Tick(const std::string& dataDir, bool dailyReports);
    void Clear() { reportDone_ = false; }
    bool ReportDone() const { return reportDone_; }

  private:
    HostTable& table_;
    bool reportDone_ = false;
};

}  // namespace qv
