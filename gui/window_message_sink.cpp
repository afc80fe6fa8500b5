#include "gui/window_message_sink.h"

#include <cstdio>
#include <string>

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

WindowMessageSink::WindowMessageSink(MessageBoxes& boxes) : boxes_(boxes) {}

WindowMessageSink::~WindowMessageSink() {
    Shutdown();
}

void WindowMessageSink::ShowMessage(std::string_view text, std::string_view caption,
                                    MessageIcon icon) {
    Message message{ToQString(text), ToQString(caption), ToBoxIcon(icon)};
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutdown_) {
        WriteToStderr(message.caption, message.text);
        return;
    }
    queue_.push_back(std::move(message));
    if (!wakeUpPosted_) {
        wakeUpPosted_ = true;
        // By name: nothing of ours travels through Qt's event queue, only the wake-up.
        QMetaObject::invokeMethod(this, "ShowQueued", Qt::QueuedConnection);
    }
}

void WindowMessageSink::ShowQueued() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wakeUpPosted_ = false;
    }
    if (showing_) {
        return;  // the box on screen is shown by a loop that takes the next ones after it
    }
    showing_ = true;
    for (;;) {
        std::deque<Message> batch;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (shutdown_) {
                break;
            }
            batch.swap(queue_);
        }
        if (batch.empty()) {
            break;
        }
        QStringList lines;
        for (const Message& m : batch) {
            lines.append(m.text);
        }
        boxes_.Show(owner_, lines.join(QLatin1Char('\n')), batch.front().caption,
                    batch.front().icon);
    }
    showing_ = false;
}

void WindowMessageSink::Shutdown() {
    std::deque<Message> unshown;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        shutdown_ = true;
        unshown.swap(queue_);
    }
    for (const Message& m : unshown) {
        WriteToStderr(m.caption, m.text);
    }
}

size_t WindowMessageSink::Pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

}  // namespace qv::gui
