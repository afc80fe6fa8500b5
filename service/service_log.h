// The service program's log, BrevixSvc.log in the data folder: one message per line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qv {

inline constexpr std::string_view kServiceLogName = "BrevixSvc.log";

// Full path of the log in a data folder.
std::string ServiceLogPath(const std::string& dataDir);

// With no text, empties the log; with a text, appends it as one line ending in CR CR LF,
// the way every text file of the system ends its lines. The file is opened and closed
// for each call so it can be read while the service runs; failures lose the line quietly.
void WriteServiceLog(const std::string& dataDir, std::optional<std::string_view> text);

}  // namespace qv
