// The main window on fakes: start-up, tabs and captions, pane selection by mouse and
// keyboard, the tray's pictures and balloons, what closing and minimising do, what a
// screen reader reads, and names that look like markup.
#include <QAccessible>
#include <QAccessibleEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <utility>
#include <vector>

#include "desktop_fixture.h"
#include "settings/config_files.h"

using qv::test::Desktop;
using qv::test::IconImage;

namespace {

// What the accessibility framework was told: object and event type.
std::vector<std::pair<QObject*, QAccessible::Event>> gAccessibleEvents;
void RecordAccessibleEvent(QAccessibleEvent* event) {
    gAccessibleEvents.emplace_back(event->object(), event->type());
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void startsWithTwoDefaultHostsWithoutWritingTheList();
    void secondTabShowsItsSlots();
    void clickSelectsThePaneByItsBand();
    void trayPictureAndBalloonFollowTheTick();
    void closeHidesOrMinimisesAndTheTrayBringsItBack();
    void screenReaderReadsTheStatisticsAndHearsAHostGoDown();
    void keyboardReachesAndSelectsThePanes();
    void namesThatLookLikeMarkupStayPlainText();
};

void MainWindowTest::startsWithTwoDefaultHostsWithoutWritingTheList() {
    Desktop d;
    d.window.Initialize();
    QCOMPARE(int(d.ctx.table.hostCount), 2);
    QCOMPARE(d.window.Tabs()->count(), 1);
    QCOMPARE(d.window.Tabs()->tabText(0), QStringLiteral("Unnamed (1-5)"));
    QCOMPARE(d.window.PaneFrame(0)->title(), QStringLiteral("127.0.0.1:1 sec"));
    QCOMPARE(d.window.PaneFrame(1)->title(), QStringLiteral("localhost:1 sec"));
    QCOMPARE(d.window.Graph(1)->accessibleName(), QStringLiteral("Graph of localhost:1 sec"));
    QVERIFY(d.window.PaneFrame(2)->title().isEmpty());
    QVERIFY(std::filesystem::is_directory(d.DataDir()));
    QVERIFY(!std::filesystem::exists(d.DataDir() + "/" + qv::kHostListFile));
    QVERIFY(d.window.RefreshTimer().isActive());
    QCOMPARE(d.window.RefreshTimer().interval(), 1000);
    QVERIFY(d.tray.visible);
    QCOMPARE(d.tray.toolTip, QStringLiteral("Tarnwick Server Monitor"));
    QCOMPARE(d.tray.icon, IconImage(qv::gui::kIconAllUp));
    QVERIFY(d.boxes.shown.empty());
}

void MainWindowTest::secondTabShowsItsSlots() {
    Desktop d;
    std::filesystem::create_directories(d.DataDir());
    std::string list;
    for (int i = 0; i < 7; ++i) {
        list += "0 host" + std::to_string(i) + " 2000\r\r\n";
    }
    qv::test::WriteFileBytes(d.DataDir() + "/" + qv::kHostListFile, list);
    qv::test::WriteFileBytes(d.DataDir() + "/" + qv::kTabNamesFile, "Core\r\r\nEdge\r\r\n");
    d.window.Initialize();
    QCOMPARE(d.window.Tabs()->count(), 2);
    QCOMPARE(d.window.Tabs()->tabText(1), QStringLiteral("Edge"));

    d.window.Tabs()->setCurrentIndex(1);
    QCOMPARE(d.window.State().firstVisibleSlot, 5);
    QCOMPARE(d.window.PaneFrame(0)->title(), QStringLiteral("host5:2 sec"));
    QCOMPARE(d.window.PaneFrame(1)->title(), QStringLiteral("host6:2 sec"));
    for (int pane = 0; pane < qv::kPanes; ++pane) {
        QCOMPARE(d.window.Graph(pane)->hostSlot, 5 + pane);
        QVERIFY(d.window.Statistics(pane)->text().isEmpty());
    }
    QVERIFY(d.window.PaneFrame(2)->title().isEmpty());
    QVERIFY(d.window.Images().Draw(7, d.window.Graph(2)->size()) == nullptr);

    d.clock.AdvanceMs(1000);
    d.window.Tick();
    QVERIFY(d.window.Statistics(1)->text().startsWith(QStringLiteral("curr: 0 ms")));
    QVERIFY(d.window.Statistics(2)->text().isEmpty());
}

void MainWindowTest::clickSelectsThePaneByItsBand() {
    Desktop d;
    d.window.Initialize();
    d.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d.window));
    QWidget* client = d.window.centralWidget();
    const QRect first = d.window.PaneFrame(0)->geometry();
    const int h = first.height();
    auto clickAt = [&](int y) {
        QTest::mouseClick(client, Qt::LeftButton, {}, QPoint(first.center().x(), y));
    };
    clickAt(first.top() + 2 * (h + 3) + 10);  // over pane 2's graph
    QCOMPARE(d.window.State().selectedPane, 2);
    QVERIFY(d.window.PaneFrame(2)->property("selected").toBool());
    QVERIFY(!d.window.PaneFrame(0)->property("selected").toBool());
    clickAt(first.top() + 3 * (h + 3) - 2);  // between panes 2 and 3
    QCOMPARE(d.window.State().selectedPane, 2);
    clickAt(first.top() + 4 * (h + 3) + h);  // last row of the last band
    QCOMPARE(d.window.State().selectedPane, 4);
    d.window.Tabs()->setCurrentIndex(0);
    QCOMPARE(d.window.State().selectedPane, 4);
}

void MainWindowTest::trayPictureAndBalloonFollowTheTick() {
    Desktop d;
    d.window.Initialize();
    d.ctx.settings.icmp.trayEnabled = 1;
    d.ctx.settings.icmp.trayAfter = 0;
    d.clock.AdvanceMs(1000);
    d.window.Tick();  // no host has answered yet
    QCOMPARE(d.tray.icon, IconImage(qv::gui::kIconSomeDown));
    QCOMPARE(d.tray.balloons.size(), size_t{1});
    QCOMPARE(d.tray.balloons[0].title, QStringLiteral("Tarnwick Server Monitor"));
    QCOMPARE(d.tray.balloons[0].text,
             QStringLiteral("Host 127.0.0.1 is DOWN\nHost localhost is DOWN"));

    d.ctx.table.Entry(0).up = 1;
    d.clock.AdvanceMs(1000);
    d.window.Tick();
    QCOMPARE(d.tray.icon, IconImage(qv::gui::kIconSomeDown));
    d.ctx.table.Entry(1).up = 1;
    d.clock.AdvanceMs(1000);
    d.window.Tick();
    QCOMPARE(d.tray.icon, IconImage(qv::gui::kIconAllUp));
}

void MainWindowTest::closeHidesOrMinimisesAndTheTrayBringsItBack() {
    Desktop d;
    d.window.Initialize();
    bool ended = false;
    connect(&d.window, &qv::gui::CQuorvaneDlg::Ended, [&] { ended = true; });
    d.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d.window));
    QTest::keyClick(&d.window, Qt::Key_Escape);
    QTest::keyClick(&d.window, Qt::Key_Return);
    QVERIFY(d.window.isVisible());

    d.window.close();
    QVERIFY(!d.window.isVisible());
    emit d.tray.LeftClicked();
    QVERIFY(d.window.isVisible());

    // Without a notification area the window goes to the taskbar instead.
    d.tray.available = false;
    d.tray.visible = false;
    d.window.close();
    QVERIFY(d.window.isVisible());
    QVERIFY(d.window.isMinimized());
    QVERIFY(!ended);

    d.clock.AdvanceMs(1000);
    d.window.Tick();  // no host has answered: the some-down picture

    // The area comes back: so does the icon, with the status it had.
    d.tray.available = true;
    d.clock.AdvanceMs(1000);
    d.window.Tick();
    QVERIFY(d.tray.visible);
    QCOMPARE(d.tray.icon, IconImage(qv::gui::kIconSomeDown));

    // File > Exit: the icon goes, the host list is saved, the program ends.
    d.window.Command(qv::gui::kCmdExit)->trigger();
    QVERIFY(ended);
    QVERIFY(!d.tray.visible);
    QVERIFY(std::filesystem::exists(d.DataDir() + "/" + qv::kHostListFile));
}

void MainWindowTest::screenReaderReadsTheStatisticsAndHearsAHostGoDown() {
    Desktop d;
    d.window.Initialize();
    d.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d.window));
    // Qt passes events on only while a screen reader has switched accessibility on, which
    // the offscreen platform never does: the lines' own observer sees them.
    qv::gui::StatisticsLabel::SetEventObserver(RecordAccessibleEvent);
    d.ctx.table.Entry(1).up = 1;
    d.ctx.table.Entry(1).currentMs = 7;
    d.clock.AdvanceMs(1000);
    d.window.Tick();
    QLabel* line = d.window.Statistics(1);
    QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(line);
    QVERIFY(a11y != nullptr);
    QCOMPARE(a11y->text(QAccessible::Name), QStringLiteral("Statistics of localhost:1 sec"));
    QVERIFY(a11y->text(QAccessible::Value).startsWith(QStringLiteral("curr: 7 ms")));
    QCOMPARE(a11y->text(QAccessible::Value), line->text());
    QCOMPARE(a11y->text(QAccessible::Description), QStringLiteral("Host is up"));
    QCOMPARE(QAccessible::queryAccessibleInterface(d.window.Statistics(0))
                 ->text(QAccessible::Description),
             QStringLiteral("Host is down"));

    gAccessibleEvents.clear();
    d.ctx.table.Entry(1).up = 0;
    d.ctx.table.Entry(1).currentMs = 0;
    d.clock.AdvanceMs(1000);
    d.window.Tick();
    qv::gui::StatisticsLabel::SetEventObserver(nullptr);
    QCOMPARE(a11y->text(QAccessible::Description), QStringLiteral("Host is down"));
    QVERIFY(a11y->text(QAccessible::Value).startsWith(QStringLiteral("curr: 0 ms")));
    const auto raised = [&](QObject* object, QAccessible::Event type) {
        return std::count(gAccessibleEvents.begin(), gAccessibleEvents.end(),
                          std::make_pair(object, type));
    };
    QCOMPARE(raised(line, QAccessible::DescriptionChanged), 1);
    QCOMPARE(raised(line, QAccessible::ValueChanged), 1);
    // Pane 0's host stayed down with the same numbers: nothing to say.
    QCOMPARE(raised(d.window.Statistics(0), QAccessible::DescriptionChanged), 0);
    QCOMPARE(raised(d.window.Statistics(0), QAccessible::ValueChanged), 0);
}

void MainWindowTest::keyboardReachesAndSelectsThePanes() {
    Desktop d;
    d.window.Initialize();
    d.window.show();
    d.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&d.window));
    // Tab from the tab bar reaches the first pane and selects it as a click does.
    d.window.SetSelectedPane(3);
    d.window.Tabs()->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), d.window.PaneFrame(0));
    QCOMPARE(d.window.State().selectedPane, 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QCOMPARE(QApplication::focusWidget(), d.window.PaneFrame(2));
    QCOMPARE(d.window.State().selectedPane, 2);
    QVERIFY(d.window.PaneFrame(2)->property("selected").toBool());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    QCOMPARE(d.window.State().selectedPane, 1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);  // stays on the first
    QCOMPARE(QApplication::focusWidget(), d.window.PaneFrame(0));
    // The focus shows: the focused pane is drawn otherwise than the same pane unfocused.
    const QImage focused = d.window.PaneFrame(0)->grab().toImage();
    d.window.PaneFrame(4)->setFocus();
    QCOMPARE(d.window.State().selectedPane, 4);
    d.window.SetSelectedPane(0);
    QVERIFY(d.window.PaneFrame(0)->grab().toImage() != focused);
}

void MainWindowTest::namesThatLookLikeMarkupStayPlainText() {
    Desktop d;
    std::filesystem::create_directories(d.DataDir());
    qv::test::WriteFileBytes(d.DataDir() + "/" + qv::kHostListFile,
                             "0 <h1>BIG 1000\r\r\n0 <b>x<b> 1000\r\r\n");
    qv::test::WriteFileBytes(d.DataDir() + "/" + qv::kTabNamesFile, "<i>tab</i> & co\r\r\n");
    d.window.Initialize();
    QCOMPARE(d.window.PaneFrame(0)->title(), QStringLiteral("<h1>BIG:1 sec"));
    QCOMPARE(d.window.PaneFrame(1)->accessibleName(), QStringLiteral("<b>x<b>:1 sec"));
    QCOMPARE(d.window.Tabs()->tabText(0), QStringLiteral("<i>tab</i> && co"));
    QCOMPARE(d.window.Statistics(0)->textFormat(), Qt::PlainText);

    // The real box shows the text as it is: no heading, no bold.
    qv::gui::QtMessageBoxes boxes;
    QString shownText;
    Qt::TextFormat shownFormat = Qt::AutoText;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box != nullptr) {
            shownText = box->text();
            shownFormat = box->textFormat();
            box->accept();
        }
    });
    boxes.Show(&d.window, QStringLiteral("Delete host <h1>BIG ?"), QStringLiteral("Servers"),
               qv::gui::BoxIcon::Question, qv::gui::BoxButtons::YesNo);
    QCOMPARE(shownText, QStringLiteral("Delete host <h1>BIG ?"));
    QCOMPARE(shownFormat, Qt::PlainText);
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
