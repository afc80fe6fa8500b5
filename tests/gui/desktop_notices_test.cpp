// The tick's notices as desktop notifications, against a notification server on a private
// session bus that the test starts: what the Notify call carries, the id chaining, plain
// text through servers with and without markup, and the tray balloon when there is no
// server.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMutex>
#include <QProcess>
#include <QTest>
#include <QTextDocument>
#include <QThread>
#include <fstream>

#include "desktop_fixture.h"
#include "gui/desktop_notifier.h"

namespace {

// A private bus: its own configuration, so no notification server of this machine is
// started on demand.
class PrivateBus {
  public:
    PrivateBus() {
        const QString conf = QString::fromStdString(dir_.File("bus.conf"));
        std::ofstream(conf.toStdString())
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\""
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>unix:path="
            << dir_.File("bus") << "</listen><auth>EXTERNAL</auth>"
            << "<policy context=\"default\"><allow send_destination=\"*\"/>"
               "<allow receive_sender=\"*\"/>"
               "<allow own=\"*\"/></policy></busconfig>\n";
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--config-file=") + conf, QStringLiteral("--nofork"),
                       QStringLiteral("--print-address")});
        if (daemon_.waitForStarted(5000) && daemon_.waitForReadyRead(5000)) {
            address = QString::fromUtf8(daemon_.readLine()).trimmed();
        }
    }
    ~PrivateBus() {
        daemon_.terminate();
        daemon_.waitForFinished(5000);
    }
    QString address;

  private:
    qv::test::TempDir dir_;
    QProcess daemon_;
};

struct NotifyCall {
    QString appName;
    uint replacesId;
    QString icon;
    QString summary;
    QString body;  // as the server shows it
    QStringList actions;
    QVariantMap hints;
    int expireMs;
};

// The notification server. It lives on a thread of its own, so the window thread can wait
// for its answers. A server that reads markup shows the body as rendered text.
class NotificationServer final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public:
    explicit NotificationServer(bool markup) : markup_(markup) {}

    std::vector<NotifyCall> Calls() {
        QMutexLocker lock(&mutex_);
        return calls_;
    }

  public slots:
    Q_SCRIPTABLE QStringList GetCapabilities() {
        return markup_ ? QStringList{QStringLiteral("body"), QStringLiteral("body-markup")}
                       : QStringList{QStringLiteral("body")};
    }
    Q_SCRIPTABLE uint Notify(const QString& appName, uint replacesId, const QString& icon,
                             const QString& summary, const QString& body,
                             const QStringList& actions, const QVariantMap& hints, int expireMs) {
        QString shown = body;
        if (markup_) {
            // Line by line: these servers keep the body's line breaks.
            QStringList lines;
            for (const QString& line : body.split(QLatin1Char('\n'))) {
                QTextDocument rendered;
                rendered.setHtml(line);
                lines.append(rendered.toPlainText());
            }
            shown = lines.join(QLatin1Char('\n'));
        }
        QMutexLocker lock(&mutex_);
        calls_.push_back({appName, replacesId, icon, summary, shown, actions, hints, expireMs});
        return replacesId != 0 ? replacesId : ++nextId_;
    }

  private:
    const bool markup_;
    QMutex mutex_;
    std::vector<NotifyCall> calls_;
    uint nextId_ = 40;
};

// The server on its own connection and thread, owning the name while it lives.
class RunningServer {
  public:
    RunningServer(const QString& address, bool markup)
        : name_(QStringLiteral("server ") + address),
          bus_(QDBusConnection::connectToBus(address, name_)),
          server(markup) {
        server.moveToThread(&thread_);
        thread_.start();
        registered = bus_.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                                         QDBusConnection::ExportScriptableSlots) &&
                     bus_.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    ~RunningServer() {
        bus_.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        bus_.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        QDBusConnection::disconnectFromBus(name_);
        thread_.quit();
        thread_.wait();
    }

  private:
    const QString name_;
    QDBusConnection bus_;
    QThread thread_;

  public:
    NotificationServer server;
    bool registered = false;
};

using qv::test::Desktop;

// Two hosts whose names look like markup; trayAfter 0 makes every change a notice.
void NameHostsAsMarkup(Desktop& d) {
    d.window.Initialize();
    d.ctx.table.Entry(0).name = "<b>x</b>";
    d.ctx.table.Entry(1).name = "a&amp;b";
    d.ctx.settings.icmp.trayEnabled = 1;
    d.ctx.settings.icmp.trayAfter = 0;
}

}  // namespace

class DesktopNoticesTest : public QObject {
    Q_OBJECT
  private slots:
    void noticeCarriesPlainTextUrgencyAndReplacesTheLastOne_data();
    void noticeCarriesPlainTextUrgencyAndReplacesTheLastOne();
    void trayBalloonOnlyWhileNoServerOwnsTheName();
    void urgencyReadsTheEndOfEachLine();
};

void DesktopNoticesTest::noticeCarriesPlainTextUrgencyAndReplacesTheLastOne_data() {
    QTest::addColumn<bool>("markup");
    QTest::newRow("server reads markup") << true;
    QTest::newRow("server shows plain text") << false;
}

void DesktopNoticesTest::noticeCarriesPlainTextUrgencyAndReplacesTheLastOne() {
    QFETCH(bool, markup);
    PrivateBus bus;
    QVERIFY(!bus.address.isEmpty());
    RunningServer running(bus.address, markup);
    QVERIFY(running.registered);
    qv::gui::DesktopNotifier notifier(
        QDBusConnection::connectToBus(bus.address, QStringLiteral("client ") + bus.address));
    Desktop d(qv::test::NoProbers(), {}, &notifier);
    NameHostsAsMarkup(d);

    d.clock.AdvanceMs(1000);
    d.window.Tick();  // neither host has answered: both DOWN
    QTRY_COMPARE(running.server.Calls().size(), size_t{1});
    QTRY_COMPARE(notifier.LastId(), 41u);
    NotifyCall first = running.server.Calls()[0];
    QCOMPARE(first.appName, QStringLiteral("Quorvane"));
    QCOMPARE(first.replacesId, 0u);
    QCOMPARE(first.icon, qv::gui::kThemeIconSomeDown);
    QCOMPARE(first.summary, QStringLiteral("Tarnwick Server Monitor"));
    QCOMPARE(first.body, QStringLiteral("Host <b>x</b> is DOWN\nHost a&amp;b is DOWN"));
    QVERIFY(first.actions.isEmpty());
    QCOMPARE(first.expireMs, 5000);
    QCOMPARE(first.hints.value(QStringLiteral("urgency")).userType(), int{QMetaType::UChar});
    QCOMPARE(first.hints.value(QStringLiteral("urgency")).toInt(), 2);
    QVERIFY(d.tray.balloons.empty());

    // Both come back: a normal notice in place of the first, with the all-up picture.
    d.ctx.table.Entry(0).up = 1;
    d.ctx.table.Entry(1).up = 1;
    d.clock.AdvanceMs(1000);
    d.window.Tick();
    QTRY_COMPARE(running.server.Calls().size(), size_t{2});
    const NotifyCall second = running.server.Calls()[1];
    QCOMPARE(second.replacesId, 41u);
    QCOMPARE(second.icon, qv::gui::kThemeIconAllUp);
    QCOMPARE(second.body, QStringLiteral("Host <b>x</b> is UP\nHost a&amp;b is UP"));
    QCOMPARE(second.hints.value(QStringLiteral("urgency")).toInt(), 1);
    QVERIFY(d.tray.balloons.empty());
    QDBusConnection::disconnectFromBus(QStringLiteral("client ") + bus.address);
}

void DesktopNoticesTest::trayBalloonOnlyWhileNoServerOwnsTheName() {
    PrivateBus bus;
    QVERIFY(!bus.address.isEmpty());
    qv::gui::DesktopNotifier notifier(
        QDBusConnection::connectToBus(bus.address, QStringLiteral("client ") + bus.address));
    Desktop d(qv::test::NoProbers(), {}, &notifier);
    NameHostsAsMarkup(d);
    d.clock.AdvanceMs(1000);
    d.window.Tick();
    QCOMPARE(d.tray.balloons.size(), size_t{1});
    QCOMPARE(d.tray.balloons[0].text,
             QStringLiteral("Host <b>x</b> is DOWN\nHost a&amp;b is DOWN"));

    {
        RunningServer running(bus.address, true);
        QVERIFY(running.registered);
        d.ctx.table.Entry(0).up = 1;
        d.clock.AdvanceMs(1000);
        d.window.Tick();
        QTRY_COMPARE(running.server.Calls().size(), size_t{1});
        QCOMPARE(running.server.Calls()[0].body, QStringLiteral("Host <b>x</b> is UP"));
        QCOMPARE(d.tray.balloons.size(), size_t{1});
    }
    // The server has gone: the balloon again.
    d.ctx.table.Entry(1).up = 1;
    d.clock.AdvanceMs(1000);
    d.window.Tick();
    QCOMPARE(d.tray.balloons.size(), size_t{2});
    QCOMPARE(d.tray.balloons[1].text, QStringLiteral("Host a&amp;b is UP"));
    QDBusConnection::disconnectFromBus(QStringLiteral("client ") + bus.address);
}

void DesktopNoticesTest::urgencyReadsTheEndOfEachLine() {
    using qv::gui::NoticeUrgency;
    using qv::gui::UrgencyOf;
    const struct {
        const char* lines;
        NoticeUrgency urgency;
    } cases[] = {
        {"Host a is UP", NoticeUrgency::Normal},
        {"Host a is UP\r\nHost b is DOWN\r\n", NoticeUrgency::Critical},
        {"Host a port 80 is reachable\nHost b port 25 is unreachable", NoticeUrgency::Critical},
        {"Host a is DOWN is UP", NoticeUrgency::Normal},
        {"Host x is unreachable port 80 is reachable", NoticeUrgency::Normal},
    };
    for (const auto& c : cases) {
        QCOMPARE(UrgencyOf(QString::fromUtf8(c.lines)), c.urgency);
    }
}

QTEST_MAIN(DesktopNoticesTest)
#include "desktop_notices_test.moc"
