#include "gui/window_message_sink.h"

#include <cstdio>
#include <string>
#include <thread>

namespace qv::gui {
namespace {

BoxIcon ToBoxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information:
            return BoxIcon::Information;
        case MessageIcon::Error:
            return BoxIcon::Error;
        case MessageIcon::None:
            break;
    }
    return BoxIcon::None;
}

QString ToQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void WriteToStderr(const QString& caption, const QString& text) {
    const std::string line = (caption + QStringLiteral(": ") + text).toStdString() + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

WindowMessageSink::WindowMessageSink(MessageBoxes& boxes)
    : boxes_(boxes), windowThread_(std::this_thread::get_id()) {}

WindowMessageSink::~WindowMessageSink() {
    Shutdown();
}

void WindowMessageSink::ShowMessage(std::string_view text, std::string_view caption,
                                    MessageIcon icon) {
    auto request = std::make_shared<Request>();
    request->text = ToQString(text);
    request->caption = ToQString(caption);
    request->icon = ToBoxIcon(icon);
    if (std::this_thread::get_id() == windowThread_) {
        boxes_.Show(owner_, request->text, request->caption, request->icon);
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (shutdown_) {
        WriteToStderr(request->caption, request->text);
        return;
    }
    queue_.push_back(request);
    // By name: nothing of ours travels through Qt's event queue, only the wake-up.
    QMetaObject::invokeMethod(this, "ShowQueued", Qt::QueuedConnection);
    changed_.wait(lock, [&] { return request->done || released_ > 0 || shutdown_; });
}

void WindowMessageSink::ShowQueued() {
    if (showing_) {
        return;  // the box on screen is shown by a loop that takes the next one after it
    }
    showing_ = true;
    for (;;) {
        std::shared_ptr<Request> request;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queue_.empty() || shutdown_) {
                break;
            }
            request = queue_.front();
            queue_.pop_front();
        }
        boxes_.Show(owner_, request->text, request->caption, request->icon);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            request->done = true;
        }
        changed_.notify_all();
    }
    showing_ = false;
}

WindowMessageSink::Release::Release(WindowMessageSink& sink) : sink_(sink) {
    {
        std::lock_guard<std::mutex> lock(sink_.mutex_);
        sink_.released_ += 1;
    }
    sink_.changed_.notify_all();
}

WindowMessageSink::Release::~Release() {
    std::lock_guard<std::mutex> lock(sink_.mutex_);
    sink_.released_ -= 1;
}

void WindowMessageSink::Shutdown() {
    std::deque<std::shared_ptr<Request>> unshown;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        shutdown_ = true;
        unshown.swap(queue_);
    }
    changed_.notify_all();
    for (const auto& request : unshown) {
        WriteToStderr(request->caption, request->text);
    }
}

size_t WindowMessageSink::Pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

}  // namespace qv::gui
