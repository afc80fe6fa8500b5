// The daily report and its trigger.
#include "core/daily_report.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include "core/host_log.h"
#include "core/host_name.h"
#include "platform/safe_file.h"

namespace qv {
namespace {

int DateKey(const std::tm& t) {
    return (t.tm_year + 1900) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday;
}

// The calendar day before `day`; plain date arithmetic, no time zone involved.
std::tm DayBefore(const std::tm& day) {
    std::tm t{};
    t.tm_year = day.tm_year;
    t.tm_mon = day.tm_mon;
    t.tm_mday = day.tm_mday - 1;
    t.tm_hour = 12;
    time_t seconds = timegm(&t);
    std::tm out{};
    gmtime_r(&seconds, &out);
    return out;
}

}  // namespace

std::string HostLogFailureText(const HostLogFailure& failure) {
    if (failure.host.empty()) {
        return "The daily logs were not written: " + FileErrorText(failure.path, failure.error);
    }
    return "The daily log of host " + failure.host +
           " was not written: " + FileErrorText(failure.path, failure.error);
}

std::vector<HostLogFailure> RunDailyReport(HostTable& table, const std::string& dataDir,
                                           bool dailyReports, const std::tm& day) {
    std::lock_guard<std::recursive_mutex> lock(table.SampleLock());
    std::vector<HostLogFailure> failures;
    const std::string folderName = DayFolderName(day);
    const std::string folderPath = dataDir + "/" + folderName;
    UniqueFd dataFd;
    UniqueFd dayFd;
    int folderError = 0;
    bool folderTried = false;
    bool folderMade = false;
    int written = 0;
    for (int slot = 0; slot < kMaxHosts; ++slot) {
        HostEntry& entry = table.Entry(slot);
        if (!entry.active || entry.probeValue == 0) {
            continue;
        }
        // A name that could leave the data folder gets no file; its day is still reset.
        if (dailyReports && IsValidHostName(entry.name)) {
            if (!folderTried) {
                // Made (or opened) only when a file goes into it; a link there is refused.
                folderTried = true;
                dataFd.Reset(::open(dataDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
                if (!dataFd.Valid()) {
                    folderError = errno;
                } else {
                    struct stat st {};
                    folderMade = ::fstatat(dataFd.Get(), folderName.c_str(), &st,
                                           AT_SYMLINK_NOFOLLOW) != 0 &&
                                 errno == ENOENT;
                    dayFd = MakeFolder(dataFd.Get(), folderName, &folderError);
                }
                if (!dayFd.Valid()) {
                    failures.push_back({"", folderPath, folderError});
                }
            }
            // Keep the history when it did not reach the disk; the next report retries.
            if (!dayFd.Valid()) {
                continue;
            }
            const std::string name = HostLogFileName(entry, table.rules());
            int error = 0;
            if (!WriteHostLogAt(dayFd.Get(), name, entry.samples, &error)) {
                failures.push_back({entry.name, folderPath + "/" + name, error});
                continue;
            }
            ++written;
        }
        table.ResetDay(entry);
    }
    // A folder made for this report that received no file (a full disk) goes again: an
    // empty day folder would claim a day that has no log. It is empty, a failed write
    // leaves nothing behind.
    if (folderMade && dayFd.Valid() && written == 0) {
        ::unlinkat(dataFd.Get(), folderName.c_str(), AT_REMOVEDIR);
    }
    return failures;
}

DailyTrigger::DailyTrigger(HostTable& table) : table_(table) {}

bool DailyTrigger::Tick(const std::string& dataDir, bool dailyReports) {
    reportDone_ = false;
    std::tm now{};
    // Without the time nothing is known; the previous date stays for the next tick.
    if (!table_.clock().LocalTime(table_.clock().Now(), now)) {
        return false;
    }
    std::optional<std::tm> ended;
    if (!lastDay_) {
        if (now.tm_hour == 0 && now.tm_min == 0) {
            ended = DayBefore(now);
        }
        lastDay_ = now;
    } else if (DateKey(now) > DateKey(*lastDay_)) {
        ended = *lastDay_;
        lastDay_ = now;
    }
    if (!ended) {
        return false;
    }
    std::vector<HostLogFailure> failures = RunDailyReport(table_, dataDir, dailyReports, *ended);
    reportDone_ = true;
    // The state is settled before anyone is told: a message box may run ticks of its own.
    for (const HostLogFailure& failure : failures) {
        table_.sink().ShowMessage(HostLogFailureText(failure), "Error", MessageIcon::Error);
    }
    return true;
}

}  // namespace qv
