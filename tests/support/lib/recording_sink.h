// A message sink that keeps every message, for tests. Safe to use from several threads.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/message_sink.h"

namespace qv::test {

struct RecordedMessage {
    std::string text;
    std::string caption;
    MessageIcon icon;
};

class RecordingMessageSink final : public MessageSink {
  public:
    void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back({std::string(text), std::string(caption), icon});
    }
    std::vector<RecordedMessage> Messages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    size_t Count() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_.size();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<RecordedMessage> messages_;
};

}  // namespace qv::test
