// The Options dialog: enable rules, the traceroute box, the sound file choosers, "OK".
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include "gui/dialogs/opt_dlg.h"
#include "settings/config_files.h"
#include "support/lib/fake_message_boxes.h"
#include "support/lib/temp_dir.h"

using namespace qv;
using namespace qv::gui;

namespace {

struct Fixture {
    Fixture() { SetDefaultSettings(settings, "/opt/q/Quorvane"); }
    std::unique_ptr<OptDlg> Open() {
        return std::make_unique<OptDlg>(settings, boxes, autostart, "/opt/q/Quorvane",
                                        [this](QWidget*, const QString& start) {
                                            starts << start;
                                            return chosen;
                                        });
    }
    Settings settings;
    test::FakeMessageBoxes boxes;
    test::TempDir dir;
    Autostart autostart{dir.File("system"), dir.File("user"), false};
    QStringList starts;
    std::optional<QString> chosen;
};

template <typename T>
T* Find(QWidget* dialog, const char* name) {
    T* widget = dialog->findChild<T*>(QString::fromUtf8(name));
    if (widget == nullptr) {
        qFatal("no control %s", name);
    }
    return widget;
}

QLineEdit* Edit(QWidget* dialog, const char* name) {
    return Find<QLineEdit>(dialog, name);
}

QCheckBox* Box(QWidget* dialog, const char* name) {
    return Find<QCheckBox>(dialog, name);
}

}  // namespace

class OptDlgTest : public QObject {
    Q_OBJECT
  private slots:
    void opensWithItsEnableRules() {
        Fixture f;
        f.settings.icmp.emailEnabled = 1;
        f.settings.tcp.trayEnabled = 1;
        f.settings.general.serviceMode = 1;  // launch shows checked without an entry
        auto d = f.Open();
        QCOMPARE(Find<QTabWidget>(d.get(), "tabs")->tabText(1), QString("TCP/IP options"));
        QVERIFY(Edit(d.get(), "icmp.smtpServer")->isEnabled());
        QVERIFY(!Edit(d.get(), "tcp.smtpServer")->isEnabled());
        QVERIFY(Edit(d.get(), "tcp.trayAfter")->isEnabled());
        QVERIFY(!Find<QPushButton>(d.get(), "icmp.chooseSound")->isEnabled());
        QVERIFY(Box(d.get(), "launch")->isChecked() && Box(d.get(), "serviceMode")->isEnabled());
        QVERIFY(!Edit(d.get(), "tracertAfter")->isEnabled());
        QCOMPARE(Edit(d.get(), "icmp.emailAddress")->maxLength(), 99);
        QCOMPARE(Edit(d.get(), "tcp.soundFile")->maxLength(), 255);

        Box(d.get(), "tcp.sound")->click();
        QVERIFY(Edit(d.get(), "tcp.soundFile")->isEnabled());
        Box(d.get(), "launch")->click();
        QVERIFY(!Box(d.get(), "serviceMode")->isEnabled());
        QVERIFY(Box(d.get(), "serviceMode")->isChecked());

        Box(d.get(), "tracert")->click();
        QCOMPARE(Edit(d.get(), "tracertAfter")->text(), QString("3"));
        QVERIFY(Edit(d.get(), "tracertAfter")->isEnabled());
        Box(d.get(), "tracert")->click();
        QCOMPARE(Edit(d.get(), "tracertAfter")->text(), QString("0"));
        QVERIFY(!Edit(d.get(), "tracertAfter")->isEnabled());
    }

    void eachChooserFillsItsOwnTab() {
        Fixture f;
        f.settings.icmp.soundEnabled = 1;
        f.settings.tcp.soundEnabled = 1;
        f.settings.tcp.soundFile = "/snd/tcp.mp3";
        auto d = f.Open();
        Find<QTabWidget>(d.get(), "tabs")->setCurrentIndex(1);
        f.chosen = "/snd/new alarm.wav";
        Find<QPushButton>(d.get(), "tcp.chooseSound")->click();
        QCOMPARE(f.starts, QStringList({"/snd/tcp.mp3"}));
        QCOMPARE(Edit(d.get(), "tcp.soundFile")->text(), QString("/snd/new alarm.wav"));
        QCOMPARE(Edit(d.get(), "icmp.soundFile")->text(), QString("/opt/q/ring.mp3"));

        Find<QTabWidget>(d.get(), "tabs")->setCurrentIndex(0);
        f.chosen = "/" + QString(300, 'a');  // the edit would cut it
        Find<QPushButton>(d.get(), "icmp.chooseSound")->click();
        QCOMPARE(Edit(d.get(), "icmp.soundFile")->text(), QString("/opt/q/ring.mp3"));
        QCOMPARE(f.boxes.shown.size(), size_t{1});
    }

    void okChecksStoresAndWritesTheAutostartEntry() {
        Fixture f;
        f.settings.general.serviceMode = 1;
        auto d = f.Open();
        Edit(d.get(), "tcp.emailAfter")->setText("2");
        Edit(d.get(), "icmp.emailAddress")->clear();
        Box(d.get(), "launch")->click();  // off: "OK" clears service mode
        d->accept();
        QCOMPARE(d->result(), int(QDialog::Rejected));
        QCOMPARE(f.boxes.shown.back().text,
                 QString("Wrong value for e-mail period! It must be greater than 2 minutes!"));
        QCOMPARE(Find<QTabWidget>(d.get(), "tabs")->currentIndex(), 0);
        QVERIFY(!Box(d.get(), "serviceMode")->isChecked());

        Edit(d.get(), "tcp.emailAfter")->setText("3");
        Box(d.get(), "launch")->click();
        d->accept();
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QCOMPARE(d->settings().icmp.emailAddress, std::string("_"));
        QCOMPARE(d->settings().tcp.emailAfter, 3);
        QCOMPARE(d->settings().general.serviceMode, 0);
        // Switching the service mode off: the entry waits until the switch is made.
        QVERIFY(!f.autostart.Exists());
        f.settings.general.serviceMode = 0;
        OptDlg same(f.settings, f.boxes, f.autostart, "/opt/q/Quorvane", {});
        Box(&same, "launch")->setChecked(true);
        same.accept();
        QVERIFY(f.autostart.Exists());

        // A failed write is shown with the information icon; the dialog ends all the same.
        test::WriteFileBytes(f.dir.File("file"), "x");
        Autostart blocked(f.dir.File("system"), f.dir.File("file") + "/autostart", false);
        OptDlg again(f.settings, f.boxes, blocked, "/opt/q/Quorvane", {});
        Box(&again, "launch")->setChecked(true);
        Box(&again, "serviceMode")->setChecked(false);
        again.accept();
        QCOMPARE(again.result(), int(QDialog::Accepted));
        QVERIFY(f.boxes.shown.back().icon == BoxIcon::Information);
        QCOMPARE(f.boxes.shown.back().caption, QString("Error"));
    }
};

QTEST_MAIN(OptDlgTest)
#include "opt_dlg_test.moc"
