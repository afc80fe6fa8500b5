// The daily report: after each local midnight every probed host's day goes into its log
// file and the host starts the new day afresh.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "core/host_table.h"

namespace qv {

// A log file (or the day folder, when `host` is empty) that the report could not write.
struct HostLogFailure {
    std::string host;
    std::string path;
    int error = 0;
};

// What the user is told about a failure: the host, the file and the system's text.
std::string HostLogFailureText(const HostLogFailure& failure);

// Writes the log file of every active, probed host (when dailyReports is on) into the
// folder of `day` (its year, month and day are used), then resets the host's day. Holds
// SampleLock throughout. A host whose file cannot be written keeps its history for the
// next report; the hosts after it are written as usual. Returns what failed.
std::vector<HostLogFailure> RunDailyReport(HostTable& table, const std::string& dataDir,
                                           bool dailyReports, const std::tm& day);

// Runs the daily report once for each local day that ends: at the first tick whose date
// is later than the previous tick's, for the previous tick's date, however late that tick
// comes (a held tick, a suspended machine). A program whose first tick falls into the
// minute 00:00 reports the day before. Called at the end of every one-second tick,
// always on the same thread.
class DailyTrigger {
  public:
    explicit DailyTrigger(HostTable& table);

    // True when the report ran at this tick. Failures of the report go to the table's
    // message sink once the report has let go of SampleLock.
    bool Tick(const std::string& dataDir, bool dailyReports);
    // Forgets the previous tick, as at program start.
    void Clear() { lastDay_.reset(); }
    // Whether the latest tick ran the report.
    bool ReportDone() const { return reportDone_; }

  private:
    HostTable& table_;
    // The latest date a tick has seen; a clock set back does not move it back, so a day
    // is never reported twice over.
    std::optional<std::tm> lastDay_;
    bool reportDone_ = false;
};

}  // namespace qv
