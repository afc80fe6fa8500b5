// The desktop program's message sink: what the core reports (probers, traceroute, sound)
// appears as a modal box on the window thread while the reporting thread waits for it.
#pragma once

#include <QObject>
#include <QString>
#include <condition_variable>
#include <deque>
#include <memory>
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

    // On the window thread the box is shown at once. From another thread the box is queued
    // for the window thread and the caller waits until it is closed, unless the window
    // thread is itself waiting (see Release) or the sink is shut down. Boxes are shown one
    // after the other, never on top of each other.
    void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;

    // While one lives, the window thread waits for other threads (it stops the probers):
    // reporting threads go on at once, and their boxes are shown when the window thread is
    // back in its event loop.
    class Release {
      public:
        explicit Release(WindowMessageSink& sink);
        ~Release();
        Release(const Release&) = delete;
        Release& operator=(const Release&) = delete;

      private:
        WindowMessageSink& sink_;
    };

    // At the end of the program: nobody waits any more; what was not shown goes to stderr.
    void Shutdown();

    // Boxes queued and not yet shown.
    size_t Pending() const;

  private:
    struct Request {
        QString text;
        QString caption;
        BoxIcon icon;
        bool done = false;
    };

    Q_INVOKABLE void ShowQueued();

    MessageBoxes& boxes_;
    // Threads that Qt did not start are asked nothing of Qt beyond the queued wake-up.
    const std::thread::id windowThread_;
    QWidget* owner_ = nullptr;
    bool showing_ = false;  // window thread only

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<Request>> queue_;
    int released_ = 0;
    bool shutdown_ = false;
};

}  // namespace qv::gui
