// The icon in the notification area: the status pictures, the tooltip, the balloons of
// the refresh tick, and the left click that brings the window back.
#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <memory>

#include "gui/message_boxes.h"
#include "platform/message_sink.h"

class QSystemTrayIcon;
class QWidget;

namespace qv::gui {

// The platform's notification area, small enough for tests to stand in for it.
class TrayBackend : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;
    // Whether the desktop has a notification area now.
    virtual bool Available() const = 0;
    virtual void SetIcon(const QIcon& icon) = 0;
    virtual void SetToolTip(const QString& tip) = 0;
    virtual void SetVisible(bool visible) = 0;
    virtual void ShowMessage(const QString& title, const QString& text, int timeoutMs) = 0;

  signals:
    void LeftClicked();
};

// The real one, on QSystemTrayIcon.
class QtTrayBackend final : public TrayBackend {
    Q_OBJECT
  public:
    explicit QtTrayBackend(QObject* parent = nullptr);
    ~QtTrayBackend() override;
    bool Available() const override;
    void SetIcon(const QIcon& icon) override;
    void SetToolTip(const QString& tip) override;
    void SetVisible(bool visible) override;
    void ShowMessage(const QString& title, const QString& text, int timeoutMs) override;

  private:
    std::unique_ptr<QSystemTrayIcon> icon_;
};

// Picture resources of the tray: all hosts up, at least one down.
inline const QString kIconAllUp = QStringLiteral(":/gui/resources/icon131.svg");
inline const QString kIconSomeDown = QStringLiteral(":/gui/resources/icon132.svg");

// The tray operations of the main window.
class Tray {
  public:
    Tray(TrayBackend& backend, MessageBoxes& boxes);
    void SetOwner(QWidget* owner) { owner_ = owner; }
    // Where "Can't load icon" goes when set (queued, so a tick never waits for it);
    // otherwise a box at once.
    void SetSink(MessageSink* sink) { sink_ = sink; }

    // Shows the icon with the tooltip and the picture of the current status.
    void Add();
    void Remove();
    void SetStatus(bool allUp);
    // One balloon titled with the program's name; its lines end with "\r\n".
    void Balloon(const QString& text);
    // Called once a second: when the notification area has come back (the desktop's
    // panel was restarted), the icon is shown again.
    void Poll();

    bool Available() const { return backend_.Available(); }
    bool AllUpShown() const { return allUp_; }

  private:
    // The picture, or "Can't load icon" and false.
    bool LoadIcon(const QString& path, QIcon& icon);

    TrayBackend& backend_;
    MessageBoxes& boxes_;
    QWidget* owner_ = nullptr;
    MessageSink* sink_ = nullptr;
    bool allUp_ = true;
    bool added_ = false;
    bool wasAvailable_ = false;
};

}  // namespace qv::gui
