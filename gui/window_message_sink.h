// The desktop program's message sink: what the core reports (probers, traceroute, sound,
// the daily report) is queued and shown as a box by the window thread once it is back in
// its event loop. The reporting thread, the window thread's tick included, goes on at once.
#pragma once

#include <QObject>
#include <QString>
#include <deque>
#include <mutex>
#include <thread>

#include "gui/message_boxes.h"
#include "platform/message_sink.h"

class QWidget;

namespace qv::gui {

class WindowMessageSink final : public QObject, public MessageSink {
    Q_OBJECT
  public:
    // Create it on the window thread.
    explicit WindowMessageSink(MessageBoxes& boxes);
    ~WindowMessageSink() override;

    void SetOwner(QWidget* owner) { owner_ = owner; }

    // From any thread: queues the message and returns. The messages pending when the
    // window thread gets to them are shown in one box, one line each, with the first
    // one's caption and icon; boxes are shown one after the other, never on top of each
    // other.
    void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;

    // At the end of the program: what was not shown, and what comes later, goes to stderr.
    void Shutdown();

    // Messages queued and not yet shown.
    size_t Pending() const;

  private:
    struct Message {
        QString text;
        QString caption;
        BoxIcon icon;
    };

    Q_INVOKABLE void ShowQueued();

    MessageBoxes& boxes_;
    QWidget* owner_ = nullptr;
    bool showing_ = false;  // window thread only

    mutable std::mutex mutex_;
    std::deque<Message> queue_;
    bool wakeUpPosted_ = false;
    bool shutdown_ = false;
};

}  // namespace qv::gui
