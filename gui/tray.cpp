#include "gui/tray.h"

#include <QFile>
#include <QSystemTrayIcon>

#include "gui/desktop_notifier.h"

namespace qv::gui {

QtTrayBackend::QtTrayBackend(QObject* parent)
    : TrayBackend(parent), icon_(std::make_unique<QSystemTrayIcon>()) {
    connect(icon_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    emit LeftClicked();
                }
            });
}

QtTrayBackend::~QtTrayBackend() = default;

bool QtTrayBackend::Available() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void QtTrayBackend::SetIcon(const QIcon& icon) {
    icon_->setIcon(icon);
}

void QtTrayBackend::SetToolTip(const QString& tip) {
    icon_->setToolTip(tip);
}

void QtTrayBackend::SetVisible(bool visible) {
    icon_->setVisible(visible);
}

void QtTrayBackend::ShowMessage(const QString& title, const QString& text, int timeoutMs) {
    icon_->showMessage(title, text, QSystemTrayIcon::Information, timeoutMs);
}

Tray::Tray(TrayBackend& backend, MessageBoxes& boxes) : backend_(backend), boxes_(boxes) {}

bool Tray::LoadIcon(const QString& path, QIcon& icon) {
    icon = QIcon(path);
    if (!QFile::exists(path) || icon.pixmap(16, 16).isNull()) {
        if (sink_ != nullptr) {
            sink_->ShowMessage("Can't load icon", kProgramCaption.toStdString(), MessageIcon::None);
        } else {
            boxes_.Show(owner_, QStringLiteral("Can't load icon"), kProgramCaption, BoxIcon::None);
        }
        return false;
    }
    return true;
}

void Tray::Add() {
    QIcon icon;
    // After a restart of the panel the icon comes back with the status it had.
    if (!LoadIcon(allUp_ ? kIconAllUp : kIconSomeDown, icon)) {
        return;
    }
    backend_.SetIcon(icon);
    backend_.SetToolTip(kProgramCaption);
    backend_.SetVisible(true);
    added_ = true;
    wasAvailable_ = backend_.Available();
}

void Tray::Remove() {
    QIcon icon;
    if (!LoadIcon(kIconAllUp, icon)) {
        return;
    }
    backend_.SetVisible(false);
    added_ = false;
}

void Tray::SetStatus(bool allUp) {
    QIcon icon;
    if (!LoadIcon(allUp ? kIconAllUp : kIconSomeDown, icon)) {
        return;
    }
    allUp_ = allUp;
    backend_.SetIcon(icon);
    backend_.SetToolTip(kProgramCaption);
}

void Tray::Balloon(const QString& text) {
    backend_.ShowMessage(kProgramCaption, NoticeBody(text), 5000);
}

void Tray::Poll() {
    const bool available = backend_.Available();
    if (available && !wasAvailable_ && added_) {
        backend_.SetVisible(false);
        Add();
    }
    wasAvailable_ = available;
}

}  // namespace qv::gui
