// The mail controls of the Options dialog: the "Mail security" dialog, the port that
// follows its choice, and the test e-mail whose outcome arrives from another thread.
#include <sys/stat.h>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <thread>

#include "desktop_fixture.h"
#include "gui/dialogs/dlg_mail_security.h"
#include "gui/dialogs/opt_dlg.h"
#include "platform/safe_file.h"
#include "settings/config_files.h"
#include "settings/mail_config.h"
#include "support/lib/fake_message_boxes.h"
#include "support/lib/scoped_umask.h"
#include "support/lib/temp_dir.h"

using namespace qv;
using namespace qv::gui;

namespace {

template <typename T>
T* Find(QWidget* dialog, const char* name) {
    T* widget = dialog->findChild<T*>(QString::fromUtf8(name));
    if (widget == nullptr) {
        qFatal("no control %s", name);
    }
    return widget;
}

struct Options {
    Options() {
        SetDefaultSettings(settings, "/opt/q/Quorvane");
        settings.tcp.smtpPort = 2525;
        dialog = std::make_unique<OptDlg>(settings, boxes, autostart, "/opt/q/Quorvane");
    }
    Settings settings;
    test::FakeMessageBoxes boxes;
    test::TempDir dir;
    Autostart autostart{dir.File("system"), dir.File("user"), false};
    std::unique_ptr<OptDlg> dialog;
};

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

}  // namespace

class MailSecurityTest : public QObject {
    Q_OBJECT
  private slots:
    void securityDialogChecksWhatItKeeps() {
        test::FakeMessageBoxes boxes;
        test::TempDir dir;
        const QString ca = QString::fromStdString(dir.File("home-ca.pem"));
        test::WriteFileBytes(ca.toStdString(), "pem");
        DlgMailSecurity d(MailSecurityOptions{}, boxes,
                          [&ca](QWidget*, const QString&) { return std::optional<QString>(ca); });
        QCOMPARE(Find<QLineEdit>(&d, "password")->echoMode(), QLineEdit::Password);
        Find<QLineEdit>(&d, "user")->setText("me@example.test");
        Find<QLineEdit>(&d, "password")->setText("pw");
        d.accept();  // a login over None is refused
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QCOMPARE(boxes.shown.size(), size_t(1));
        QCOMPARE(boxes.shown[0].icon, BoxIcon::Error);

        Find<QComboBox>(&d, "security")->setCurrentText("STARTTLS");
        Find<QPushButton>(&d, "chooseCaFile")->click();
        d.accept();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QVERIFY(d.options() == (MailSecurityOptions{MailSecurity::StartTls, "me@example.test", "pw",
                                                    ca.toStdString()}));
    }

    void portFollowsWhereItHeldTheOldDefault() {
        Options o;
        std::optional<MailSecurityOptions> answer =
            MailSecurityOptions{MailSecurity::StartTls, "", "", ""};
        o.dialog->SetMailSecurityEditor(
            [&answer](QWidget*, const MailSecurityOptions&) { return answer; });
        Find<QPushButton>(o.dialog.get(), "tcp.mailSecurity")->click();
        QCOMPARE(Find<QLineEdit>(o.dialog.get(), "icmp.smtpPort")->text(), QString("587"));
        QCOMPARE(Find<QLineEdit>(o.dialog.get(), "tcp.smtpPort")->text(), QString("2525"));
        QCOMPARE(o.dialog->mailSecurity().security, MailSecurity::StartTls);
        answer.reset();  // cancelled: nothing changes
        Find<QPushButton>(o.dialog.get(), "icmp.mailSecurity")->click();
        QCOMPARE(Find<QLineEdit>(o.dialog.get(), "icmp.smtpPort")->text(), QString("587"));
        answer = MailSecurityOptions{MailSecurity::Tls, "", "", ""};
        Find<QPushButton>(o.dialog.get(), "icmp.mailSecurity")->click();
        QCOMPARE(Find<QLineEdit>(o.dialog.get(), "icmp.smtpPort")->text(), QString("465"));
    }

    void testMailGoesOffTheWindowThreadAndShowsItsOutcome() {
        Options o;
        QPushButton* button = Find<QPushButton>(o.dialog.get(), "icmp.testMail");
        QVERIFY(!button->isEnabled());  // no mailer yet
        std::vector<TestMailTarget> targets;
        std::vector<std::thread> workers;
        bool succeed = false;
        o.dialog->SetMailSecurity(MailSecurityOptions{MailSecurity::Tls, "u", "p", ""});
        o.dialog->SetTestMailer([&](const TestMailTarget& target, const MailSecurityOptions& s,
                                    std::function<void(bool, const std::string&)> done) {
            QCOMPARE(s.security, MailSecurity::Tls);
            targets.push_back(target);
            workers.emplace_back(
                [done, succeed] { done(succeed, succeed ? "" : "SMTP login refused: 535 no"); });
        });
        QVERIFY(button->isEnabled());
        Find<QLineEdit>(o.dialog.get(), "icmp.emailAddress")->setText("");
        button->click();
        QVERIFY(targets.empty());
        QCOMPARE(o.boxes.shown.back().icon, BoxIcon::Error);

        Find<QLineEdit>(o.dialog.get(), "icmp.emailAddress")->setText("ops@example.test");
        Find<QLineEdit>(o.dialog.get(), "icmp.smtpServer")->setText("mail.example.test");
        button->click();
        QVERIFY(!button->isEnabled());  // until the outcome is there
        QTRY_COMPARE(o.boxes.shown.size(), size_t(2));
        QCOMPARE(o.boxes.shown.back().text,
                 QString("Test e-mail to ops@example.test through mail.example.test:25 failed: "
                         "SMTP login refused: 535 no"));
        QVERIFY(button->isEnabled());
        succeed = true;
        button->click();
        QTRY_COMPARE(o.boxes.shown.size(), size_t(3));
        QCOMPARE(o.boxes.shown.back().text, QString("Test e-mail sent to ops@example.test"));
        QCOMPARE(o.boxes.shown.back().icon, BoxIcon::Information);
        QVERIFY(targets.back() == (TestMailTarget{"ops@example.test", "mail.example.test", 25}));
        for (std::thread& worker : workers) {
            worker.join();
        }
    }

    // The window: quorvane.conf read at start (a readable password refused with a box),
    // written on OK and put in force; the test e-mail through the real mail worker.
    void windowReadsWritesAndTestsTheMailSecurity() {
        test::Desktop d;
        QVERIFY(MakeFolders(d.DataDir()));
        const std::string conf = d.DataDir() + "/" + kOptionsFileName;
        test::WriteFileBytes(conf,
                             "[metrics]\nlisten=:9464\n[mail]\nsecurity=tls\nuser=u\n"
                             "password=p\n");
        chmod(conf.c_str(), 0644);
        d.window.Initialize();
        QCOMPARE(d.boxes.shown.size(), size_t(1));
        QCOMPARE(d.boxes.shown[0].icon, BoxIcon::Warning);
        QVERIFY(d.boxes.shown[0].text.contains("chmod 600"));
        QVERIFY(d.mail.applied.back() == (MailSecurityOptions{MailSecurity::Tls, "u", "", ""}));

        const MailSecurityOptions chosen{MailSecurity::StartTls, "me", "secret", ""};
        bool tested = false;
        WhenOpen<OptDlg>([&](OptDlg& dlg) {
            dlg.SetMailSecurityEditor(
                [&chosen](QWidget*, const MailSecurityOptions&) { return chosen; });
            Find<QPushButton>(&dlg, "icmp.mailSecurity")->click();
            Find<QLineEdit>(&dlg, "icmp.emailAddress")->setText("ops@example.test");
            Find<QLineEdit>(&dlg, "icmp.smtpServer")->setText("relay");
            Find<QPushButton>(&dlg, "icmp.testMail")->click();
            tested = QTest::qWaitFor([&d] { return d.boxes.shown.size() == 2; }, 5000);
            dlg.accept();
        });
        d.window.OnOptions();
        QVERIFY(tested);
        QCOMPARE(d.boxes.shown[1].text, QString("Test e-mail sent to ops@example.test"));
        QVERIFY(d.ctx.mailQueue.WaitIdle());
        QVERIFY(d.mail.securities == std::vector<MailSecurityOptions>{chosen});
        QCOMPARE(d.mail.attempts.back().subject, std::string(kTestMailSubject));

        QCOMPARE(test::ModeOf(conf), 0600);
        QVERIFY(test::ReadFileBytes(conf).find("listen=:9464") != std::string::npos);
        QVERIFY(LoadMailConfig(d.DataDir()).options == chosen);
        QVERIFY(d.mail.applied.back() == chosen);
        QCOMPARE(d.boxes.shown.size(), size_t(2));  // the private file warns no more
    }
};

QTEST_MAIN(MailSecurityTest)
#include "mail_security_test.moc"
