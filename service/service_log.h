// The service program's log, BrevixSvc.log in the data folder: one message per line.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "platform/message_sink.h"

namespace qv {

inline constexpr std::string_view kServiceLogName = "BrevixSvc.log";

// Full path of the log in a data folder.
std::string ServiceLogPath(const std::string& dataDir);

// With no text, empties the log; with a text, appends it as one line ending in CR CR LF,
// the way every text file of the system ends its lines. The file is opened and closed
// for each call so it can be read while the service runs; failures lose the line quietly.
// The text is made one line first (OneLogLine), so no peer's reply can forge lines. A
// symbolic link (or any file but a plain one) in the log's place is never written; when
// emptying, that is said on `err` as "Halvoric: <why>".
void WriteServiceLog(const std::string& dataDir, std::optional<std::string_view> text,
                     std::FILE* err = stderr);

// `text` as one log line: each run of line breaks becomes one blank (line breaks at the
// end are dropped), a tab a blank, and every other control character (C0, DEL and the
// 8-bit controls U+0080 to U+009F) a "?".
std::string OneLogLine(std::string_view text);

// What the service shows the user: each message becomes one log line and one
// "Halvoric: <text>" line on stderr, which the journal keeps, both made one line by
// OneLogLine.
class ServiceLogSink final : public MessageSink {
  public:
    explicit ServiceLogSink(std::string dataDir, std::FILE* err = stderr)
        : dataDir_(std::move(dataDir)), err_(err) {}
    void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;

  private:
    const std::string dataDir_;
    std::FILE* const err_;
};

}  // namespace qv
