// The host list, add-host and TCP services dialogs on a live host table.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include "gui/dialogs/c_dlg_hosts.h"
#include "gui/dialogs/dlg_add_host.h"
#include "gui/dialogs/dlg_ports.h"
#include "settings/config_files.h"
#include "support/lib/fake_clock.h"
#include "support/lib/fake_message_boxes.h"
#include "support/lib/recording_sink.h"
#include "support/lib/temp_dir.h"

using namespace qv;
using namespace qv::gui;

namespace {

struct Fixture {
    explicit Fixture(std::vector<std::string> names) {
        HostTable::Hooks hooks;
        hooks.runProber = [](HostTable&, int, uint32_t) {};
        table = std::make_unique<HostTable>(Program::Desktop, clock, sink, hooks);
        for (int i = 0; i < kTabCount; ++i) {
            tabs[i] = "tab" + std::to_string(i);
        }
        for (const std::string& name : names) {
            table->AddHost(name, name == "web" ? 5 : 1000, name == "web" ? 8080 : 0);
        }
    }
    std::unique_ptr<CDlgHosts> Open(CDlgHosts::AddHostPrompt prompt = {}) {
        return std::make_unique<CDlgHosts>(
            *table, dir.path(), tabs, layoutUnchanged, clock, boxes,
            [this](int a, int b) {
                exchanges.push_back({a, b});
            },
            std::move(prompt));
    }

    FakeClock clock;
    test::RecordingMessageSink sink;
    test::FakeMessageBoxes boxes;
    test::TempDir dir;
    TabNames tabs;
    bool layoutUnchanged = true;
    std::vector<std::pair<int, int>> exchanges;
    std::unique_ptr<HostTable> table;
};

QTreeWidget* List(QWidget* dialog) {
    return dialog->findChild<QTreeWidget*>();
}

QStringList Column(QWidget* dialog, int column) {
    QStringList texts;
    for (int i = 0; i < List(dialog)->topLevelItemCount(); ++i) {
        texts << List(dialog)->topLevelItem(i)->text(column);
    }
    return texts;
}

void Select(QWidget* dialog, int row) {
    List(dialog)->setCurrentItem(List(dialog)->topLevelItem(row));
}

void Press(QWidget* dialog, const char* name) {
    dialog->findChild<QPushButton*>(QString::fromUtf8(name))->click();
}

}  // namespace

class HostDialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void listsHostsAndDeletesAfterTheWait() {
        Fixture f({"router", "web", "h2", "h3", "h4", "h5"});
        auto dialog = f.Open();
        QCOMPARE(Column(dialog.get(), 0).mid(0, 2), QStringList({"router", "web(TCP:8080)"}));
        QCOMPARE(Column(dialog.get(), 1).at(5), QString("tab1"));

        for (const char* button : {"delete", "moveUp", "moveDown"}) {
            Press(dialog.get(), button);
            QCOMPARE(f.boxes.shown.back().text, QString("Select a host"));
            QCOMPARE(f.boxes.shown.back().caption, QString("Error"));
            QVERIFY(f.boxes.shown.back().icon == BoxIcon::Error);
        }
        QVERIFY(f.layoutUnchanged);

        Select(dialog.get(), 1);
        f.boxes.answers = {BoxAnswer::No};
        Press(dialog.get(), "delete");
        QCOMPARE(f.boxes.shown.back().text, QString("Delete host web ?"));
        QCOMPARE(f.boxes.shown.back().caption, QString("Delete"));
        QVERIFY(f.boxes.shown.back().icon == BoxIcon::Question);
        QCOMPARE(f.table->Entry(1).active, uint8_t{1});

        Press(dialog.get(), "delete");  // answered Yes
        QCOMPARE(f.clock.TickCount(), 1100u);
        QCOMPARE(f.table->Entry(1).active, uint8_t{0});
        QCOMPARE(f.table->hostCount.Load(), 5);
        QVERIFY(!f.layoutUnchanged);
        // The rows below keep their tab text; the saved list no longer holds the host.
        QCOMPARE(Column(dialog.get(), 1).at(4), QString("tab1"));
        QVERIFY(test::ReadFileBytes(f.dir.File(kHostListFile)).find("0 router 1000\r\r\n0 h2") ==
                0);
    }

    void movesExchangeWholeEntries() {
        Fixture f({"a", "b", "c"});
        f.table->Entry(0).samples = {7, 8};
        auto dialog = f.Open();
        Select(dialog.get(), 0);
        Press(dialog.get(), "moveUp");  // already first: nothing moves, but a restart is due
        QVERIFY(!f.layoutUnchanged);
        QVERIFY(f.exchanges.empty());

        Press(dialog.get(), "moveDown");
        Press(dialog.get(), "moveDown");
        Press(dialog.get(), "moveDown");  // last row
        QCOMPARE(Column(dialog.get(), 0), QStringList({"b", "c", "a"}));
        QCOMPARE(f.exchanges, (std::vector<std::pair<int, int>>{{0, 1}, {1, 2}}));
        QCOMPARE(f.table->Entry(2).name, std::string("a"));
        QCOMPARE(f.table->Entry(2).samples, (std::vector<int32_t>{7, 8}));
        QCOMPARE(List(dialog.get())->currentItem(), List(dialog.get())->topLevelItem(2));
    }

    void addsHostsAndPlaceholders() {
        Fixture f({"h0", "h1", "h2", "h3", "h4"});
        std::optional<NewHost> next = NewHost{"web", 5, 8080};
        auto dialog = f.Open([&](QWidget*) { return next; });
        Press(dialog.get(), "add");
        Press(dialog.get(), "addEmpty");
        next.reset();
        Press(dialog.get(), "add");  // cancelled
        QCOMPARE(Column(dialog.get(), 0).mid(5), QStringList({"web(TCP:8080)", "-"}));
        QCOMPARE(Column(dialog.get(), 1).mid(5), QStringList({"tab1", "tab1"}));
        QVERIFY(
            test::ReadFileBytes(f.dir.File(kHostListFile)).find("8080 web 5\r\r\n0 - 0\r\r\n") !=
            std::string::npos);
        QVERIFY(f.layoutUnchanged);

        while (f.table->AddHost("x", 0, 0)) {
        }
        const size_t messages = f.sink.Count();
        Press(dialog.get(), "addEmpty");
        QCOMPARE(List(dialog.get())->topLevelItemCount(), 7);
        QCOMPARE(f.sink.Count(), messages + 1);
    }

    void addHostFormRefusesAndPicksPorts() {
        test::FakeMessageBoxes boxes;
        DlgAddHost dialog(boxes);
        auto edit = [&](const char* name) { return dialog.findChild<QLineEdit*>(name); };
        QVERIFY(edit("timeout")->isEnabled() && !edit("port")->isEnabled());
        edit("name")->setText("../../etc/passwd");
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(boxes.shown.back().text, QString("Invalid host name!"));

        // "OK" without a row says so and stays; "HTTP" puts 80 into the disabled field.
        edit("name")->setText("intranet");
        edit("port")->setText("21");
        bool refused = false;
        QTimer::singleShot(0, [&] {
            auto* ports = qobject_cast<DlgPorts*>(QApplication::activeModalWidget());
            QVERIFY(ports != nullptr);
            ports->accept();
            refused = ports->isVisible() && boxes.shown.back().text == "Select a port" &&
                      boxes.shown.back().caption == kProgramCaption;
            QTreeWidget* list = ports->findChild<QTreeWidget*>();
            QCOMPARE(list->topLevelItemCount(), 23);
            list->setCurrentItem(list->topLevelItem(10));
            ports->accept();
            if (ports->isVisible()) {
                ports->reject();
            }
        });
        Press(&dialog, "services");
        QVERIFY(refused);
        QCOMPARE(edit("port")->text(), QString("80"));
        QVERIFY(!edit("port")->isEnabled());
        QCOMPARE(edit("name")->text(), QString("intranet"));

        dialog.findChild<QRadioButton*>("tcp")->click();
        QVERIFY(!edit("timeout")->isEnabled() && edit("port")->isEnabled());
        edit("interval")->setText("5");
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.host().probeValue, 5);
        QCOMPARE(dialog.host().port, 80);
    }
};

QTEST_MAIN(HostDialogsTest)
#include "host_dialogs_test.moc"
