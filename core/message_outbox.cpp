#include "core/message_outbox.h"

namespace qv {

MessageOutbox::~MessageOutbox() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void MessageOutbox::ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back({std::string(text), std::string(caption), icon});
    if (!thread_.joinable()) {
        // Most runs raise nothing: the thread starts with the first message.
        thread_ = std::thread([this] { Deliver(); });
    }
    wake_.notify_one();
}

void MessageOutbox::Deliver() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;  // stopping, and all handed on
        }
        Message message = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        target_.ShowMessage(message.text, message.caption, message.icon);
        lock.lock();
    }
}

}  // namespace qv
