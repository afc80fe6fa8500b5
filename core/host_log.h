// Host log files: the day folder and file names, and the one writer and reader of the
// format (whitespace-separated decimals grouped by threes with the byte 0xA0).
#pragma once

#include <cstdint>
#include <ctime>
#include <locale>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/host_table.h"
#include "core/program.h"

namespace qv {

// The thousands separator of host log files: a single byte 0xA0 (no-break space in the
// 8-bit Cyrillic code page the files have always been written in).
constexpr char kLogThousandsSep = '\xA0';

// A full day of samples, one per second.
constexpr size_t kSecondsPerDay = 86'400;

// Number punctuation of host log files, so they read and write the same bytes on any
// machine without an installed locale.
class HostLogNumpunct final : public std::numpunct<char> {
  public:
    explicit HostLogNumpunct(size_t refs = 0) : std::numpunct<char>(refs) {}

  protected:
    char do_thousands_sep() const override { return kLogThousandsSep; }
    std::string do_grouping() const override { return "\3"; }
};

// The classic locale with HostLogNumpunct in place of its number punctuation.
std::locale HostLogLocale();

// Appends one value as the log format writes it: grouped decimal digits, no blank.
void AppendGroupedNumber(std::string& out, int32_t value);

// "2014_09_23" for the day of `day`.
std::string DayFolderName(const std::tm& day);

// "router.log", "mailhost_port_25_svc.log": the host's part of file names (HostFileStem),
// the port of a TCP host and the program's suffix.
std::string HostLogFileName(const HostEntry& e, const ProgramRules& rules);

// Writes a day's history: "0 " for every second before monitoring began (when there are
// fewer than 86,400 samples), then every sample followed by one blank. A longer history is
// written whole. The file is written under a temporary name and renamed into place, so a
// failed write leaves the previous file (or none) and nothing half written. A symbolic
// link at the file's name is refused (ELOOP) and left alone. False, with the errno in
// `error`, when the file could not be written.
bool WriteHostLog(const std::string& path, const std::vector<int32_t>& samples,
                  int* error = nullptr);
// The same for the file `name` in the open folder `dirFd`.
bool WriteHostLogAt(int dirFd, const std::string& name, const std::vector<int32_t>& samples,
                    int* error = nullptr);

// The "0 " values in front of a snapshot of today's samples, so that its first value
// stands for 00:00:00: the seconds since local midnight less the samples, and none with a
// full day of samples or more samples than seconds (the clock was set back).
size_t SnapshotLeadingZeros(size_t sampleCount, int64_t secondsSinceMidnight);

// A snapshot of a host's day so far in the log format, written like WriteHostLog but
// with SnapshotLeadingZeros in front.
bool WriteHistorySnapshot(const std::string& path, const std::vector<int32_t>& samples,
                          int64_t secondsSinceMidnight, int* error = nullptr);

// Parses the integers of a log text up to the first token that is not a number; grouped
// and ungrouped numbers alike.
std::vector<int32_t> ParseHostLog(std::string_view text);

// The largest log file read: a day's log is about 0.2 MB, and 2 MB holds a day of the
// longest values; anything larger is no log this program wrote.
constexpr size_t kMaxHostLogBytes = 2 * 1024 * 1024;

// The values of a log file up to the first one that is not a number; nothing when the
// file cannot be opened or read, is not a regular file or is larger than
// kMaxHostLogBytes, and then `errorText` (when given) says which and why.
std::optional<std::vector<int32_t>> ReadHostLogFile(const std::string& path,
                                                    std::string* errorText = nullptr);
// The same, empty when the file cannot be read.
std::vector<int32_t> ReadHostLog(const std::string& path);

}  // namespace qv
