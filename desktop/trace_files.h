// The traceroute capture files of the data folder as the trace logs dialog lists, shows,
// sorts and deletes them.
#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace qv {

// A capture file shows at most this many of its first bytes.
constexpr size_t kTraceShownBytes = 4095;

struct TraceFileRow {
    std::string name;       // file name without folder
    std::string timestamp;  // creation time, local, "%d.%02d.%02d %02d:%02d:%02d"
};

enum class TraceColumn { File, Timestamp };

// "2014.09.23 08:05:01".
std::string FormatTraceTimestamp(const std::tm& t);

// The regular files "*.trace" of the folder itself, newest insertion on top: the folder is
// listed in name order and each file is put above the ones before it. The timestamp is
// empty when the file's time cannot be read or converted.
std::vector<TraceFileRow> ListTraceFiles(const std::string& dir, Clock& clock);

// The first kTraceShownBytes bytes of a file, as they are; nothing when it cannot be read
// or is not a regular file (it never waits on a FIFO put in its place), and then
// `errorText` (when given) says why.
std::optional<std::string> ReadTraceHead(const std::string& path, std::string* errorText = nullptr);

// Deletes the listed file `name` of the folder. A name that would leave the folder deletes
// nothing. False when nothing was deleted.
bool DeleteTraceFile(const std::string& dir, const std::string& name);

// Ascending by the column's text, byte by byte (chronological for the timestamps); every
// call sorts the same way and equal rows keep their order.
void SortTraceFiles(std::vector<TraceFileRow>& rows, TraceColumn column);

}  // namespace qv
