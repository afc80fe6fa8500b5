// The main window's commands on fakes: the day's snapshot and the History dialog, the host
// list with and without a restart, options and the service program, the toolbar, tab
// names, and ending the program by a signal.
#include <signal.h>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTableView>
#include <QToolBar>
#include <QTreeWidget>
#include <QtTest>
#include <chrono>
#include <filesystem>
#include <thread>

#include "desktop_fixture.h"
#include "gui/dialogs/c_dlg_hosts.h"
#include "gui/dialogs/dlg_add_host.h"
#include "gui/dialogs/dlg_logs.h"
#include "gui/dialogs/dlg_tab_names.h"
#include "gui/dialogs/opt_dlg.h"
#include "platform/error_text.h"
#include "settings/config_files.h"
#include "support/lib/fake_clock.h"
#include "support/lib/file_size_limit.h"
#include "support/lib/support_dir.h"

using namespace qv;
using namespace qv::gui;
using qv::test::Desktop;
using qv::test::ReadFileBytes;

namespace {

// Acts on the modal dialog a command is about to open (it must end it).
template <typename T, typename Act>
void WhenOpen(Act act) {
    QTimer::singleShot(0, [act] {
        if (T* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            act(*dialog);
        } else if (auto* other = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            qWarning("another dialog opened: %s", other->metaObject()->className());
            other->done(QDialog::Rejected);
        }
    });
}

template <typename T = QWidget>
T* Child(QWidget& parent, const char* name) {
    return parent.findChild<T*>(QString::fromLatin1(name));
}

std::string Repeat(const char* text, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += text;
    }
    return s;
}

void WriteHostList(Desktop& d, const std::string& lines) {
    std::filesystem::create_directories(d.DataDir());
    test::WriteFileBytes(d.DataDir() + "/" + kHostListFile, lines);
}

// Whether another thread could take the SampleLock now.
bool SampleLockFree(HostTable& table) {
    bool free = false;
    std::thread([&] {
        free = table.SampleLock().try_lock();
        if (free) {
            table.SampleLock().unlock();
        }
    }).join();
    return free;
}

int NormalPixels(const QImage* image) {
    int n = 0;
    for (int y = 0; image != nullptr && y < image->height(); ++y) {
        for (int x = 0; x < image->width(); ++x) {
            n += image->pixelColor(x, y) == kGraphNormal ? 1 : 0;
        }
    }
    return n;
}

// Opens Options, changes it through `edit` and presses "OK".
template <typename Edit>
void ChangeOptions(Desktop& d, Edit edit) {
    WhenOpen<OptDlg>([edit](OptDlg& dlg) {
        edit(dlg);
        dlg.accept();
    });
    d.window.Command(kButtonOptions)->trigger();
}

}  // namespace

class CommandsTest : public QObject {
    Q_OBJECT
  private slots:
    void snapshotStartsAtMidnightAndOpensTheHistory() {
        struct Case {
            size_t samples;
            size_t zeros;
            const char* firstRow;  // of the values from 1 ms on
        };
        // At 10:00:00: an hour of samples begins at 09:00:01; more samples than seconds
        // (the clock was set back) get no zeros in front.
        for (const Case c : {Case{3600, 32400, "09:00:01"}, Case{40000, 0, "00:00:01"}}) {
            Desktop d;
            d.clock.SetNow(FakeClock::ToCalendar(2026, 3, 4, 10, 0, 0));
            d.window.Initialize();
            d.ctx.table.Entry(0).samples.assign(c.samples, 7);
            QString title;
            QString firstRow;
            WhenOpen<DlgLogs>([&](DlgLogs& dlg) {
                title = dlg.windowTitle();
                Child<QLineEdit>(dlg, "rangeLow")->setText("1");
                Child<QRadioButton>(dlg, "range")->click();
                firstRow = dlg.Model().data(dlg.Model().index(0, 0)).toString();
                dlg.accept();
            });
            d.window.Command(kButtonHistory)->trigger();
            const std::string path = d.DataDir() + "/tmp_127.0.0.1.log";
            QCOMPARE(title, QString::fromStdString(path));
            QCOMPARE(firstRow, QString::fromLatin1(c.firstRow));
            QVERIFY(ReadFileBytes(path) == Repeat("0 ", c.zeros) + Repeat("7 ", c.samples));
            QVERIFY(SampleLockFree(d.ctx.table));
        }
    }

    void historyNeedsAHostInTheSelectedPane() {
        Desktop d;
        d.window.Initialize();  // the two default hosts
        d.ctx.table.AddHost("-", 0, 0);
        for (int pane : {3, 2}) {
            d.window.SetSelectedPane(pane);
            d.window.Command(kCmdShowHistory)->trigger();
            QVERIFY(SampleLockFree(d.ctx.table));
        }
        QCOMPARE(d.boxes.shown.size(), size_t{2});
        QCOMPARE(d.boxes.shown[0].text, QStringLiteral("Select a host to show log."));
        QCOMPARE(d.boxes.shown[1].text,
                 QStringLiteral("Empty host is selected! Select a host to show log."));
        for (const test::ShownBox& box : d.boxes.shown) {
            QCOMPARE(box.caption, kProgramCaption);
            QCOMPARE(box.icon, BoxIcon::None);
        }
        QVERIFY(!std::filesystem::exists(d.DataDir() + "/tmp_-.log"));
    }

    void openLogStartsInTheDataFolder() {
        Desktop d;
        d.window.Initialize();
        d.window.Command(kButtonOpenLog)->trigger();  // cancelled: no dialog
        QCOMPARE(d.logChooserStart, QString::fromStdString(d.DataDir()));
        d.chosenLog = QString::fromStdString(d.DataDir() + "/old.log");
        test::WriteFileBytes(d.DataDir() + "/old.log", "5 6 ");
        QString title;
        WhenOpen<DlgLogs>([&](DlgLogs& dlg) {
            title = dlg.windowTitle();
            dlg.accept();
        });
        d.window.Command(kCmdOpenLogFile)->trigger();
        QCOMPARE(title, *d.chosenLog);
    }

    void deletingAHostRestartsAllProbing() {
        Desktop d;
        WriteHostList(d, Repeat("0 h 2000\r\r\n", 7));
        d.window.Initialize();
        d.window.Tabs()->setCurrentIndex(1);
        const uint32_t firstRun = d.ctx.table.Entry(0).run;
        for (int slot = 0; slot < 7; ++slot) {
            d.ctx.table.Entry(slot).samples.assign(100, 20);
        }
        const QSize pane = d.window.Graph(0)->size();
        QVERIFY(NormalPixels(d.window.Images().Draw(0, pane)) > 0);

        WhenOpen<CDlgHosts>([](CDlgHosts& dlg) {
            auto* list = Child<QTreeWidget>(dlg, "hosts");
            list->setCurrentItem(list->topLevelItem(1));
            Child<QPushButton>(dlg, "delete")->click();  // the question is answered Yes
            dlg.accept();
        });
        d.window.Command(kCmdEditHosts)->trigger();
        QCOMPARE(d.ctx.table.hostCount.Load(), 6);
        QCOMPARE(d.window.Tabs()->count(), 2);
        QCOMPARE(d.window.Tabs()->currentIndex(), 0);
        QCOMPARE(d.window.State().firstVisibleSlot, 0);
        QCOMPARE(d.window.PaneFrame(4)->title(), QStringLiteral("h:2 sec"));
        for (int slot = 0; slot < 6; ++slot) {
            QVERIFY(d.ctx.table.Entry(slot).samples.empty());
            QVERIFY(d.ctx.table.Entry(slot).run > firstRun + 6);
        }
        QCOMPARE(NormalPixels(d.window.Images().Draw(0, pane)), 0);
        QCOMPARE(ReadFileBytes(d.DataDir() + "/" + kHostListFile), Repeat("0 h 2000\r\r\n", 6));
    }

    void restartWithoutASavedListKeepsTheEditedHosts() {
        Desktop d;
        WriteHostList(d, "0 a 2000\r\r\n0 b 2000\r\r\n0 c 2000\r\r\n");
        d.window.Initialize();
        // The list can no longer be written: re-reading it would bring back "b" (or,
        // with no file, the default hosts).
        std::filesystem::remove(d.DataDir() + "/" + kHostListFile);
        std::filesystem::create_directory(d.DataDir() + "/" + kHostListFile);
        WhenOpen<CDlgHosts>([](CDlgHosts& dlg) {
            auto* list = Child<QTreeWidget>(dlg, "hosts");
            list->setCurrentItem(list->topLevelItem(1));
            Child<QPushButton>(dlg, "delete")->click();
            dlg.accept();
        });
        d.window.Command(kCmdEditHosts)->trigger();
        QCOMPARE(d.ctx.table.hostCount.Load(), 2);
        QCOMPARE(d.ctx.table.Entry(0).name, std::string("a"));
        QCOMPARE(d.ctx.table.Entry(1).name, std::string("c"));
        QVERIFY(d.ctx.table.Entry(1).samples.empty());
    }

    void addingHostsAddsATabWithoutARestart() {
        Desktop d;
        WriteHostList(d, Repeat("0 h 2000\r\r\n", 5));
        d.window.Initialize();
        d.ctx.table.Entry(0).samples = {20, 30};
        const uint32_t run = d.ctx.table.Entry(0).run;
        WhenOpen<CDlgHosts>([](CDlgHosts& dlg) {
            for (const char* name : {"web1", "web2"}) {
                WhenOpen<DlgAddHost>([name](DlgAddHost& add) {
                    Child<QLineEdit>(add, "name")->setText(QString::fromLatin1(name));
                    add.accept();
                });
                Child<QPushButton>(dlg, "add")->click();
            }
            dlg.accept();
        });
        d.window.Command(kButtonHosts)->trigger();
        QCOMPARE(d.ctx.table.hostCount.Load(), 7);
        QCOMPARE(d.window.Tabs()->count(), 2);
        QCOMPARE(d.window.Tabs()->tabText(1), QStringLiteral("Unnamed (6-10)"));
        QCOMPARE(d.ctx.table.Entry(0).samples, (std::vector<int32_t>{20, 30}));
        QCOMPARE(d.ctx.table.Entry(0).run.Load(), run);
    }

    void optionsResetOnlyTheWatchersOfTheKindSwitched() {
        Desktop d;
        WriteHostList(d, "0 gw 2000\r\r\n80 web 5\r\r\n");
        d.window.Initialize();
        for (int slot : {0, 1}) {
            HostEntry& e = d.ctx.table.Entry(slot);
            e.stateSeconds = 50;
            e.previousUp = 0;
            e.trayShown = 1;
            e.traceStarted = 1;
        }
        ChangeOptions(
            d, [](OptDlg& dlg) { Child<QLineEdit>(dlg, "icmp.smtpServer")->setText("relay"); });
        QCOMPARE(d.ctx.settings.icmp.smtpServer, std::string("relay"));
        QVERIFY(ReadFileBytes(d.DataDir() + "/" + kIcmpSettingsFile).find(" relay ") !=
                std::string::npos);
        QCOMPARE(d.ctx.table.Entry(0).stateSeconds.Load(), 50);
        QCOMPARE(d.ctx.table.Entry(1).stateSeconds.Load(), 50);

        ChangeOptions(d, [](OptDlg& dlg) { Child<QCheckBox>(dlg, "tcp.tray")->click(); });
        QCOMPARE(d.ctx.settings.tcp.trayEnabled, 1);
        const HostEntry& gw = d.ctx.table.Entry(0);
        const HostEntry& web = d.ctx.table.Entry(1);
        QCOMPARE(gw.stateSeconds.Load(), 50);
        QCOMPARE(web.stateSeconds.Load(), 0);
        QCOMPARE(web.previousUp.Load(), uint8_t{1});
        QCOMPARE(web.trayShown.Load(), uint8_t{0});
        QCOMPARE(web.traceStarted.Load(), uint8_t{1});
    }

    void serviceModeRunsTheServiceProgramOffTheWindowThread() {
        Desktop d(test::NoProbers(), std::string(test::SupportBinDir()) + "/fake_service_program");
        d.window.Initialize();
        ChangeOptions(d, [](OptDlg& dlg) {
            Child<QCheckBox>(dlg, "launch")->click();
            Child<QCheckBox>(dlg, "serviceMode")->click();
        });
        QVERIFY(d.window.ServiceRunning());
        QVERIFY(!d.window.Command(kCmdOptions)->isEnabled());
        bool reopened = false;
        WhenOpen<OptDlg>([&](OptDlg& dlg) {
            reopened = true;
            dlg.reject();
        });
        d.window.OnOptions();
        QVERIFY(!reopened);

        QSignalSpy finished(&d.window, &CQuorvaneDlg::ServiceRunFinished);
        QVERIFY(finished.wait(30000));
        QCOMPARE(ReadFileBytes(d.DataDir() + "/service_args.txt"), "-i\n" + d.DataDir() + "\n");
        QCOMPARE(d.ctx.settings.general.serviceMode, 1);
        QVERIFY(std::filesystem::exists(d.DataDir() + "/" + kIcmpSettingsFile));
        QVERIFY(d.window.Command(kButtonOptions)->isEnabled());
        // Only what the program wrote to stderr, one box per line.
        QCOMPARE(d.boxes.shown.size(), size_t{2});
        QCOMPARE(d.boxes.shown[0].text, QStringLiteral("Service Installed Sucessfully"));
        QCOMPARE(d.boxes.shown[1].text, QStringLiteral("Can't start service, error=5"));
        QCOMPARE(d.boxes.shown[1].caption, QStringLiteral("Halvoric"));
        QCOMPARE(d.boxes.shown[1].icon, BoxIcon::None);
    }

    void failedSwitchChangesNothingAndShowsTheReason() {
        Desktop d(test::NoProbers(), std::string(test::SupportBinDir()) + "/fake_service_program");
        d.window.Initialize();
        QCOMPARE(d.autostart.Write("/opt/qv/Quorvane"), 0);
        const std::string entry = ReadFileBytes(d.autostart.EntryPath());
        test::WriteFileBytes(d.DataDir() + "/service_fails.txt", "Access denied");
        ChangeOptions(d, [](OptDlg& dlg) {
            QVERIFY(Child<QCheckBox>(dlg, "launch")->isChecked());
            Child<QCheckBox>(dlg, "serviceMode")->click();
        });
        QSignalSpy finished(&d.window, &CQuorvaneDlg::ServiceRunFinished);
        QVERIFY(finished.wait(30000));
        QCOMPARE(d.ctx.settings.general.serviceMode, 0);
        QVERIFY(!std::filesystem::exists(d.DataDir() + "/" + kIcmpSettingsFile));
        QCOMPARE(ReadFileBytes(d.autostart.EntryPath()), entry);
        QCOMPARE(d.boxes.shown.size(), size_t{1});
        QCOMPARE(d.boxes.shown[0].text, QStringLiteral("Error installing service: Access denied"));

        // Once it succeeds, the mode is saved and the entry goes.
        std::filesystem::remove(d.DataDir() + "/service_fails.txt");
        ChangeOptions(d, [](OptDlg& dlg) { Child<QCheckBox>(dlg, "serviceMode")->click(); });
        QVERIFY(finished.wait(30000));
        QCOMPARE(d.ctx.settings.general.serviceMode, 1);
        QVERIFY(!d.autostart.Exists());
    }

    void exitEndsAHungServiceProgramInBoundedTime() {
        Desktop d(test::NoProbers(), std::string(test::SupportBinDir()) + "/fake_service_program");
        d.window.Initialize();
        test::WriteFileBytes(d.DataDir() + "/service_hangs.txt", "");
        ChangeOptions(d, [](OptDlg& dlg) {
            Child<QCheckBox>(dlg, "launch")->click();
            Child<QCheckBox>(dlg, "serviceMode")->click();
        });
        QVERIFY(d.window.ServiceRunning());
        QElapsedTimer timer;
        timer.start();
        d.window.OnExit();
        QVERIFY2(timer.elapsed() < 9000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!d.window.ServiceRunning());
        QCOMPARE(d.ctx.settings.general.serviceMode, 0);
    }

    // On a full disk every configuration file that cannot be saved is told, with the file
    // and the reason; at Exit, that the hosts changed since the last save are lost.
    void failedSavesAreShown() {
        Desktop d;
        d.window.Initialize();
        {
            test::ScopedFileSizeLimit full(1);
            ChangeOptions(
                d, [](OptDlg& dlg) { Child<QLineEdit>(dlg, "icmp.smtpServer")->setText("relay"); });
            WhenOpen<DlgTabNames>([](DlgTabNames& dlg) { dlg.accept(); });
            d.window.OnTabNames();
            d.window.OnExit();
        }
        QCOMPARE(d.boxes.shown.size(), size_t{3});
        QVERIFY(d.boxes.shown[0].text.startsWith("The options were not saved: "));
        QVERIFY(d.boxes.shown[0].text.contains("conf02.dat: File too large"));
        QVERIFY(d.boxes.shown[1].text.startsWith("The tab names were not saved: "));
        QVERIFY(d.boxes.shown[2].text.startsWith("The host list was not saved: "));
        QVERIFY(d.boxes.shown[2].text.endsWith("since the last save are lost."));
        for (const auto& box : d.boxes.shown) {
            QCOMPARE(box.caption, QStringLiteral("Error"));
            QCOMPARE(box.icon, BoxIcon::Error);
        }
    }

    void missingServiceProgramShowsTheErrorAndSavesNothing() {
        Desktop d;  // its service program is not there
        d.window.Initialize();
        ChangeOptions(d, [](OptDlg& dlg) {
            Child<QLineEdit>(dlg, "icmp.smtpServer")->setText("relay");
            Child<QCheckBox>(dlg, "launch")->click();
            Child<QCheckBox>(dlg, "serviceMode")->click();
        });
        QSignalSpy finished(&d.window, &CQuorvaneDlg::ServiceRunFinished);
        QVERIFY(finished.wait(30000));
        QCOMPARE(d.boxes.shown.size(), size_t{1});
        QCOMPARE(d.boxes.shown[0].text, QString::fromStdString(SystemErrorText(ENOENT)));
        QCOMPARE(d.boxes.shown[0].caption, QStringLiteral("Error"));
        QCOMPARE(d.boxes.shown[0].icon, BoxIcon::Information);
        QCOMPARE(d.ctx.settings.general.serviceMode, 0);
        QCOMPARE(d.ctx.settings.icmp.smtpServer, std::string(kDefaultSmtpServer));
        QVERIFY(!std::filesystem::exists(d.DataDir() + "/" + kIcmpSettingsFile));
    }

    void showToolbarTwiceRestoresEveryGeometry() {
        Desktop d;
        d.window.Initialize();
        d.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d.window));
        auto geometries = [&] {
            QList<QRect> all{d.window.geometry()};
            for (QWidget* w : d.window.centralWidget()->findChildren<QWidget*>()) {
                all << w->geometry();
            }
            return all;
        };
        const QList<QRect> before = geometries();
        const int tabsTop = d.window.Tabs()->y();
        const int buttonsTop = d.window.Control(kForward60)->y();
        const int h = d.window.ToolBar()->height();
        QAction* toggle = d.window.Command(kCmdShowToolbar);
        toggle->trigger();
        QVERIFY(!toggle->isChecked() && !d.window.ToolBar()->isVisible());
        QCOMPARE(d.window.Tabs()->y(), tabsTop - h);
        QCOMPARE(d.window.Control(kForward60)->y(), buttonsTop - h);
        QCOMPARE(d.window.height(), before[0].height() - h);
        toggle->trigger();
        QVERIFY(toggle->isChecked() && d.window.ToolBar()->isVisible());
        QCOMPARE(geometries(), before);
    }

    void tabNamesAreSavedAndShown() {
        Desktop d;
        d.window.Initialize();  // one tab
        WhenOpen<DlgTabNames>([](DlgTabNames& dlg) {
            auto* list = Child<QTableView>(dlg, "list");
            for (int row : {0, 3}) {
                list->selectRow(row);
                Child<QLineEdit>(dlg, "name")->setText(row == 0 ? "Core" : "Far");
                Child<QPushButton>(dlg, "update")->click();
            }
            dlg.accept();
        });
        d.window.Command(kCmdTabNames)->trigger();
        QCOMPARE(d.window.Tabs()->count(), 1);
        QCOMPARE(d.window.Tabs()->tabText(0), QStringLiteral("Core"));
        QVERIFY(ReadFileBytes(d.DataDir() + "/" + kTabNamesFile)
                    .starts_with("Core\r\r\nUnnamed (6-10)\r\r\nUnnamed (11-15)\r\r\nFar\r\r\n"));
    }

    // Both programs answer --help and --version on standard output, without a window and
    // without a data folder; the service program refuses any other option.
    void helpAndVersionAnswerWithoutStarting() {
        struct Case {
            const char* program;
            const char* option;
            int exitCode;
            const char* out;  // the start of standard output
            const char* err;  // part of standard error
        };
        const Case cases[] = {
            {QV_DESKTOP_PROGRAM, "--help", 0, "Usage: Quorvane", ""},
            {QV_DESKTOP_PROGRAM, "-h", 0, "Usage: Quorvane", ""},
            {QV_DESKTOP_PROGRAM, "--version", 0, "Quorvane " QV_VERSION "\n", ""},
            {QV_SERVICE_PROGRAM, "--help", 0, "Usage: HalvoricSvc -i <data folder>", ""},
            {QV_SERVICE_PROGRAM, "--version", 0, "HalvoricSvc " QV_VERSION "\n", ""},
            {QV_SERVICE_PROGRAM, "--data", 2, "", "unknown option --data"},
        };
        for (const Case& c : cases) {
            test::TempDir dir;
            QProcess program;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove("DISPLAY");
            env.remove("WAYLAND_DISPLAY");
            env.remove("QT_QPA_PLATFORM");  // no display at all: the answer needs none
            env.insert("APPDATA", QString::fromStdString(dir.path()));
            program.setProcessEnvironment(env);
            program.setWorkingDirectory(QString::fromStdString(dir.path()));
            program.start(QString::fromUtf8(c.program), {QString::fromUtf8(c.option)});
            QVERIFY(program.waitForFinished(30000));
            const std::string out = program.readAllStandardOutput().toStdString();
            const std::string err = program.readAllStandardError().toStdString();
            QVERIFY2(program.exitCode() == c.exitCode, c.option);
            QVERIFY2(out.starts_with(c.out), (std::string(c.option) + ": " + out).c_str());
            QVERIFY2(err.find(c.err) != std::string::npos, err.c_str());
            QVERIFY2(std::filesystem::is_empty(dir.path()), "nothing was made");
        }
    }

    // The real program, ended the way a session logout ends it: one SIGTERM, or a second
    // one while the first is being answered.
    void sigtermEndsTheProgramLikeExit_data() {
        QTest::addColumn<int>("secondAfterMs");
        QTest::newRow("one signal") << -1;
        QTest::newRow("again after 10 ms") << 10;
        QTest::newRow("again after 60 ms") << 60;
        QTest::newRow("again after 200 ms") << 200;
    }
    void sigtermEndsTheProgramLikeExit() {
        QFETCH(int, secondAfterMs);
        test::TempDir dir;
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("APPDATA", QString::fromStdString(dir.path()));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(QV_DESKTOP_PROGRAM), {});
        QVERIFY(program.waitForStarted());
        // The data folder is made after the signal handlers are in place.
        QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(dir.path() + "/Tarnwick"), 30000);
        const pid_t pid = static_cast<pid_t>(program.processId());
        ::kill(pid, SIGTERM);
        if (secondAfterMs >= 0) {
            // No events run meanwhile, so the child is not reaped and its pid stays its own.
            std::this_thread::sleep_for(std::chrono::milliseconds(secondAfterMs));
            ::kill(pid, SIGTERM);
        }
        QVERIFY(program.waitForFinished(60000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(ReadFileBytes(dir.path() + "/Tarnwick/" + kHostListFile),
                 std::string("0 127.0.0.1 1000\r\r\n0 localhost 1000\r\r\n"));
    }
};

QTEST_MAIN(CommandsTest)
#include "commands_test.moc"
