// The tick's notices as desktop notifications: org.freedesktop.Notifications on the
// session bus (GNOME, KDE, dunst, ...). The main window falls back to the tray balloon
// when no notification server is there.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

namespace qv::gui {

// The urgency levels of the notification protocol.
enum class NoticeUrgency : unsigned char { Low = 0, Normal = 1, Critical = 2 };

// Critical when any line of the notice announces a host as DOWN or unreachable.
NoticeUrgency UrgencyOf(const QString& lines);

// The body as the notice shows it: "\r\n" line ends as "\n", no trailing line end.
QString NoticeBody(const QString& balloonText);

// For servers that read the body as markup: '&', '<', '>' (and quotes) as entities, so a
// host named "<b>x</b>" arrives as those characters.
QString EscapeBodyMarkup(const QString& text);

// The theme names of the program's status pictures (installed in the hicolor theme).
inline const QString kThemeIconAllUp = QStringLiteral("quorvane-hosts-up");
inline const QString kThemeIconSomeDown = QStringLiteral("quorvane-hosts-down");

// What shows the notices; tests stand in for it.
class NoticeSender {
  public:
    virtual ~NoticeSender() = default;
    // Sends one notice; false when there is nobody to show it (no notification server).
    virtual bool Send(const QString& body, NoticeUrgency urgency, const QString& iconName) = 0;
};

// The real one, on a D-Bus connection (the session bus in the program).
class DesktopNotifier final : public QObject, public NoticeSender {
    Q_OBJECT
  public:
    static constexpr int kExpireMs = 5000;
    // Calls never wait longer than this for the notification server.
    static constexpr int kCallTimeoutMs = 2000;

    explicit DesktopNotifier(QDBusConnection bus, QObject* parent = nullptr);

    bool Send(const QString& body, NoticeUrgency urgency, const QString& iconName) override;

    // The id the server gave the last notice, 0 before the first answer. The next notice
    // replaces that one.
    uint LastId() const { return lastId_; }

  signals:
    // The server answered a Notify call (tests wait for it).
    void Answered(uint id);

  private:
    bool ServerPresent();
    // Whether the server reads bodies as markup; asked once per server.
    bool BodyMarkup();
    void ServerChanged(const QString& newOwner);

    QDBusConnection bus_;
    QString owner_;  // the unique name of the server the cache below belongs to
    std::optional<bool> bodyMarkup_;
    uint lastId_ = 0;
};

}  // namespace qv::gui
