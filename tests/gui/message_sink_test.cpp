// Boxes that any thread reports through the window thread: nobody waits for them, what is
// pending shares one box, boxes come one after the other, and no hang while the window
// thread itself waits for the reporting threads.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "desktop_fixture.h"
#include "gui/window_message_sink.h"

namespace {

// Answers like a modal box: runs the event loop while it is "open", and notes how many
// boxes were open at once.
class NestingBoxes final : public qv::gui::MessageBoxes {
  public:
    qv::gui::BoxAnswer Show(QWidget*, const QString& text, const QString& caption, qv::gui::BoxIcon,
                            qv::gui::BoxButtons) override {
        texts.push_back(caption + QStringLiteral(": ") + text);
        maxOpen = std::max(maxOpen, ++open);
        if (onShow) {
            onShow();
        }
        for (int i = 0; i < 20; ++i) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        --open;
        return qv::gui::BoxAnswer::Ok;
    }
    QStringList texts;
    std::function<void()> onShow;
    int open = 0;
    int maxOpen = 0;
};

// Runs the window thread's events until `done` holds; false after 20 s.
template <typename Done>
bool SpinUntil(Done done) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 20000) {
            return false;
        }
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace

class MessageSinkTest : public QObject {
    Q_OBJECT
  private slots:
    void reportersGoOnAtOnceAndPendingMessagesShareOneBox();
    void proberReportingWhileAllHostsStopDoesNotHang();
};

void MessageSinkTest::reportersGoOnAtOnceAndPendingMessagesShareOneBox() {
    NestingBoxes boxes;
    qv::gui::WindowMessageSink sink(boxes);
    // A hundred threads report while the window thread is busy: none of them waits.
    std::vector<std::thread> reporters;
    for (int i = 0; i < 100; ++i) {
        reporters.emplace_back([&sink, i] {
            sink.ShowMessage("Can't resolve host" + std::to_string(i), i == 0 ? "Error" : "Other",
                             qv::MessageIcon::Information);
        });
        if (i == 0) {
            reporters[0].join();  // the first one's caption leads
        }
    }
    for (size_t i = 1; i < reporters.size(); ++i) {
        reporters[i].join();
    }
    // The window thread's own report (the daily report in a tick) is queued as well.
    sink.ShowMessage("Error writing host.log", "Error", qv::MessageIcon::Error);
    QVERIFY(boxes.texts.isEmpty());
    QCOMPARE(sink.Pending(), size_t{101});

    QVERIFY(SpinUntil([&] { return sink.Pending() == 0 && boxes.open == 0; }));
    QCOMPARE(boxes.texts.size(), 1);
    const QStringList lines = boxes.texts[0].split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 101);
    QCOMPARE(lines[0], QStringLiteral("Error: Can't resolve host0"));
    QVERIFY(lines.contains(QStringLiteral("Can't resolve host99")));
    QCOMPARE(lines[100], QStringLiteral("Error writing host.log"));

    // A message that comes while a box is open gets the next box, not one on top of it.
    boxes.onShow = [&] {
        if (boxes.texts.size() == 2) {
            sink.ShowMessage("later", "Sound", qv::MessageIcon::None);
        }
    };
    sink.ShowMessage("first", "Error", qv::MessageIcon::Error);
    QVERIFY(SpinUntil([&] { return boxes.texts.size() == 3 && boxes.open == 0; }));
    QCOMPARE(boxes.texts[1], QStringLiteral("Error: first"));
    QCOMPARE(boxes.texts[2], QStringLiteral("Sound: later"));
    QCOMPARE(boxes.maxOpen, 1);
}

void MessageSinkTest::proberReportingWhileAllHostsStopDoesNotHang() {
    // Real sleeps: StopAllHosts waits for the prober to leave its loop.
    qv::SystemClock clock;
    qv::test::FakeMessageBoxes boxes;
    qv::gui::WindowMessageSink sink(boxes);
    qv::test::FakeSoundPlayer sound;
    qv::test::FakeTraceroute trace;
    qv::test::FakeMailSender mail;
    qv::test::TempDir dir;
    std::atomic<bool> leftByItself{false};
    qv::HostTable::Hooks hooks;
    hooks.runProber = [&](qv::HostTable& table, int host, uint32_t run) {
        table.ProberEntered();
        table.sink().ShowMessage("Can't resolve host", "Error", qv::MessageIcon::Error);
        while (table.ProberShouldRun(host, run)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        leftByItself = true;
        table.ProberLeft();
    };
    qv::MonitorContext ctx(qv::Program::Desktop, dir.path(), {clock, sink, sound, trace, mail},
                           hooks);
    qv::test::FakeTrayBackend tray;
    qv::gui::CQuorvaneDlg window(qv::gui::DesktopParts{ctx, boxes, tray, &sink, ""});

    ctx.table.AddHost("a", 1000, 0);
    QElapsedTimer timer;
    timer.start();
    while (sink.Pending() == 0 && timer.elapsed() < 20000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    QCOMPARE(sink.Pending(), size_t{1});

    window.StopAllHosts();  // the window thread waits here, not in its event loop
    const bool left = leftByItself;
    QCOMPARE(int(ctx.table.runningProbers), 0);
    QVERIFY(boxes.shown.empty());

    QVERIFY(SpinUntil([&] { return !boxes.shown.empty(); }));  // shown once it is back
    QCOMPARE(boxes.shown[0].text, QStringLiteral("Can't resolve host"));
    QCOMPARE(boxes.shown[0].caption, QStringLiteral("Error"));
    sink.Shutdown();
    QVERIFY2(left, "the prober left its loop before StopAllHosts gave up on it");
}

QTEST_MAIN(MessageSinkTest)
#include "message_sink_test.moc"
