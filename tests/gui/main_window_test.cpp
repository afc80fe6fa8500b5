// The main window on fakes: start-up, tabs and captions, pane selection, the tray's
// pictures and balloons, and what closing and minimising do.
#include <QGroupBox>
#include <QLabel>
#include <QTabBar>
#include <QTest>
#include <filesystem>

#include "desktop_fixture.h"
#include "settings/config_files.h"

using qv::test::Desktop;
using qv::test::IconImage;

class MainWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void startsWithTwoDefaultHostsWithoutWritingTheList();
    void secondTabShowsItsSlots();
    void clickSelectsThePaneByItsBand();
    void trayPictureAndBalloonFollowTheTick();
    void closeHidesOrMinimisesAndTheTrayBringsItBack();
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

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
