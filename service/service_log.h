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
void WriteServiceLog(const std::string& dataDir, std::optional<std::string_view> text);

// What the service shows the user: each message becomes one log line and one
// "Halvoric: <text>" line on stderr, which the journal keeps. Line breaks inside a
// message become blanks so that it stays one line.
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
