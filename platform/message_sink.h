// Where core code sends what the user must see. The desktop program shows a modal box
// (the caller waits until it is closed); the service program writes its log.
#pragma once

#include <string>
#include <string_view>

namespace qv {

enum class MessageIcon { None, Information, Error };

class MessageSink {
  public:
    virtual ~MessageSink() = default;
    virtual void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) = 0;
};

// Writes "caption: text" as one line on stderr.
class StderrMessageSink final : public MessageSink {
  public:
    void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;
};

}  // namespace qv
