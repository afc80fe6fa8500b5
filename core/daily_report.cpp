// The daily report and its trigger.
#include "core/daily_report.h"

#include <sys/stat.h>

#include <ctime>
#include <mutex>

#include "core/host_log.h"
#include "core/host_name.h"

namespace qv {
namespace {

// The report runs in the first minute of the new day; going back this far lands safely in
// the day that has just ended.
int64_t ReportedDayOffset(Program program) {
    return program == Program::Service ? 3605 : 3600;
}

}  // namespace

bool RunDailyReport(HostTable& table, const std::string& dataDir, bool dailyReports, int64_t now) {
    std::lock_guard<std::recursive_mutex> lock(table.SampleLock());
    std::string dayFolder;
    bool dayKnown = false;
    if (dailyReports) {
        std::tm day{};
        if (table.clock().LocalTime(now - ReportedDayOffset(table.program()), day)) {
            dayFolder = dataDir + "/" + DayFolderName(day);
            dayKnown = true;
        }
    }
    for (int slot = 0; slot < kMaxHosts; ++slot) {
        HostEntry& entry = table.Entry(slot);
        if (!entry.active || entry.probeValue == 0) {
            continue;
        }
        // A name that could leave the data folder gets no file; its day is still reset.
        if (dailyReports && IsValidHostName(entry.name)) {
            if (!dayKnown) {
                return false;
            }
            ::mkdir(dayFolder.c_str(), 0755);  // an existing folder is reused
            std::string path = dayFolder + "/" + HostLogFileName(entry, table.program());
            // Keep the history when it did not reach the disk; the next report retries.
            if (!WriteHostLog(path, entry.samples)) {
                return false;
            }
        }
        table.ResetDay(entry);
    }
    return true;
}

DailyTrigger::DailyTrigger(HostTable& table) : table_(table) {}

bool DailyTrigger::Tick(const std::string& dataDir, bool dailyReports) {
    int64_t now = table_.clock().Now();
    std::tm local{};
    if (!table_.clock().LocalTime(now, local) || local.tm_hour != 0 || local.tm_min != 0) {
        reportDone_ = false;
        return false;
    }
    if (reportDone_) {
        return false;
    }
    RunDailyReport(table_, dataDir, dailyReports, now);
    reportDone_ = true;
    return true;
}

}  // namespace qv
