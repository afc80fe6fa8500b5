// Boxes that other threads report through the window thread: one after the other, and
// never a hang while the window thread itself waits for those threads.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <atomic>
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
        for (int i = 0; i < 20; ++i) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        --open;
        return qv::gui::BoxAnswer::Ok;
    }
    QStringList texts;
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
    void twoThreadsReportingAtOnceGetOneBoxAfterTheOther();
    void proberReportingWhileAllHostsStopDoesNotHang();
};

void MessageSinkTest::twoThreadsReportingAtOnceGetOneBoxAfterTheOther() {
    NestingBoxes boxes;
    qv::gui::WindowMessageSink sink(boxes);
    std::atomic<int> returned{0};
    std::thread a([&] {
        sink.ShowMessage("first", "Error", qv::MessageIcon::Error);
        ++returned;
    });
    std::thread b([&] {
        sink.ShowMessage("second", "Error", qv::MessageIcon::Information);
        ++returned;
    });
    const bool finished = SpinUntil([&] { return returned == 2; });
    sink.Shutdown();  // a failed test must not leave the threads waiting
    a.join();
    b.join();
    QVERIFY(finished);
    QCOMPARE(boxes.texts.size(), 2);
    QVERIFY(boxes.texts.contains(QStringLiteral("Error: first")));
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
