// Messages that a thread raises without waiting for them to be shown: they go to the
// program's sink from a thread of their own, in the order they were raised.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "platform/message_sink.h"

namespace qv {

class MessageOutbox final : public MessageSink {
  public:
    explicit MessageOutbox(MessageSink& target) : target_(target) {}
    // Hands on what is still queued, then ends its thread. The target must return from
    // each message (the desktop's sink queues them for the window, the service's logs).
    ~MessageOutbox() override;
    MessageOutbox(const MessageOutbox&) = delete;
    MessageOutbox& operator=(const MessageOutbox&) = delete;

    // Queues the message and returns at once.
    void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;

  private:
    struct Message {
        std::string text;
        std::string caption;
        MessageIcon icon;
    };
    void Deliver();

    MessageSink& target_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Message> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace qv
