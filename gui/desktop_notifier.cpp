#include "gui/desktop_notifier.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QVariantMap>

#include "gui/message_boxes.h"

namespace qv::gui {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kAppName = QStringLiteral("Quorvane");

QDBusMessage Call(const QString& method) {
    return QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
}

}  // namespace

NoticeUrgency UrgencyOf(const QString& lines) {
    // The watcher's lines end with the state: "... is DOWN", "... port N is unreachable".
    // Only the end counts, so a host whose name holds those words does not.
    for (QString line : lines.split(QLatin1Char('\n'))) {
        while (line.endsWith(QLatin1Char('\r'))) {
            line.chop(1);
        }
        if (line.endsWith(QStringLiteral(" is DOWN")) ||
            line.endsWith(QStringLiteral(" is unreachable"))) {
            return NoticeUrgency::Critical;
        }
    }
    return NoticeUrgency::Normal;
}

QString NoticeBody(const QString& balloonText) {
    QString body = balloonText;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    while (body.endsWith(QLatin1Char('\n'))) {
        body.chop(1);
    }
    return body;
}

QString EscapeBodyMarkup(const QString& text) {
    QString escaped;
    escaped.reserve(text.size() + text.size() / 4);
    for (const QChar c : text) {
        switch (c.unicode()) {
            case '&':
                escaped += QStringLiteral("&amp;");
                break;
            case '<':
                escaped += QStringLiteral("&lt;");
                break;
            case '>':
                escaped += QStringLiteral("&gt;");
                break;
            case '"':
                escaped += QStringLiteral("&quot;");
                break;
            case '\'':
                escaped += QStringLiteral("&#39;");
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

bool DesktopNotifier::ServerPresent() {
    if (!bus_.isConnected() || bus_.interface() == nullptr) {
        return false;
    }
    QDBusReply<QString> owner = bus_.interface()->serviceOwner(kService);
    if (!owner.isValid()) {
        // Nobody owns the name; a server the bus starts on demand still counts.
        const QDBusReply<QStringList> activatable = bus_.interface()->activatableServiceNames();
        if (!activatable.isValid() || !activatable.value().contains(kService)) {
            ServerChanged(QString());
            return false;
        }
        bus_.interface()->startService(kService);
        owner = bus_.interface()->serviceOwner(kService);
        if (!owner.isValid()) {
            ServerChanged(QString());
            return false;
        }
    }
    ServerChanged(owner.value());
    return true;
}

void DesktopNotifier::ServerChanged(const QString& newOwner) {
    if (newOwner == owner_) {
        return;
    }
    // A new server knows neither the old notice nor has the old one's capabilities.
    owner_ = newOwner;
    bodyMarkup_.reset();
    lastId_ = 0;
}

bool DesktopNotifier::BodyMarkup() {
    if (!bodyMarkup_) {
        const QDBusReply<QStringList> caps =
            bus_.call(Call(QStringLiteral("GetCapabilities")), QDBus::Block, kCallTimeoutMs);
        // A server that does not answer is taken to read markup: escaped text then shows
        // at worst an entity, never a name turned into markup.
        bodyMarkup_ = !caps.isValid() || caps.value().contains(QStringLiteral("body-markup"));
    }
    return *bodyMarkup_;
}

bool DesktopNotifier::Send(const QString& body, NoticeUrgency urgency, const QString& iconName) {
    if (!ServerPresent()) {
        return false;
    }
    QDBusMessage call = Call(QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"),
                 QVariant::fromValue(static_cast<unsigned char>(urgency)));
    call << kAppName << lastId_ << iconName << kProgramCaption
         << (BodyMarkup() ? EscapeBodyMarkup(body) : body) << QStringList() << hints
         << qint32{kExpireMs};
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
    const QString server = owner_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, server](QDBusPendingCallWatcher* w) {
                const QDBusPendingReply<uint> reply = *w;
                w->deleteLater();
                if (reply.isError() || server != owner_) {
                    return;
                }
                lastId_ = reply.value();
                emit Answered(lastId_);
            });
    return true;
}

}  // namespace qv::gui
