#include "gui/dialogs/opt_dlg.h"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "desktop/mail_security_form.h"
#include "gui/dialogs/dlg_mail_security.h"
#include "gui/message_boxes.h"
#include "platform/error_text.h"
#include "settings/config_files.h"

namespace qv::gui {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QLineEdit* Edit(QWidget* parent, const QString& objectName, const QString& accessibleName,
                int maxLength = 0) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(objectName);
    edit->setAccessibleName(accessibleName);
    if (maxLength > 0) {
        edit->setMaxLength(maxLength);
        edit->setMinimumWidth(260);
    } else {
        edit->setFixedWidth(60);
    }
    return edit;
}

QCheckBox* Check(QWidget* parent, const char* text, const QString& objectName) {
    auto* box = new QCheckBox(QString::fromUtf8(text), parent);
    box->setObjectName(objectName);
    return box;
}

// A check box, its period edit and the unit behind it, on one line.
QHBoxLayout* PeriodRow(QCheckBox* check, QLineEdit* edit, const QString& unit, QWidget* parent) {
    auto* row = new QHBoxLayout;
    row->addWidget(check);
    row->addWidget(edit);
    row->addWidget(new QLabel(unit, parent));
    row->addStretch(1);
    return row;
}

QLabel* Label(QWidget* parent, const char* text, QWidget* buddy) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setBuddy(buddy);
    return label;
}

std::optional<QString> ChooseSoundFile(QWidget* parent, const QString& start) {
    QFileDialog chooser(parent);
    chooser.setFileMode(QFileDialog::ExistingFile);
    chooser.setNameFilter(QStringLiteral("Audio Files (*.mp3 *.wma *.wav)"));
    chooser.setDefaultSuffix(QStringLiteral("mp3"));
    if (!start.isEmpty()) {
        chooser.selectFile(start);
    }
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return chooser.selectedFiles().front();
}

std::optional<MailSecurityOptions> EditInDialog(QWidget* parent,
                                                const MailSecurityOptions& current) {
    QtMessageBoxes boxes;
    DlgMailSecurity dialog(current, boxes, {}, parent);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.options();
}

QPushButton* Button(QWidget* parent, const QString& text, const QString& objectName,
                    const QString& accessibleName) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setAccessibleName(accessibleName);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

OptDlg::OptDlg(const Settings& settings, MessageBoxes& boxes, Autostart& autostart,
               std::string programPath, SoundFileChooser chooseSound, QWidget* parent)
    : QDialog(parent),
      settings_(settings),
      boxes_(boxes),
      autostart_(autostart),
      programPath_(std::move(programPath)),
      chooseSound_(chooseSound ? std::move(chooseSound) : ChooseSoundFile),
      editMailSecurity_(EditInDialog),
      tabs_(new QTabWidget(this)) {
    setWindowTitle(QStringLiteral("Options"));
    tabs_->setObjectName(QStringLiteral("tabs"));
    tabs_->setAccessibleName(QStringLiteral("Probe kind"));

    QWidget* icmpPage = BuildNotifyPage(icmp_, QStringLiteral("icmp"), QStringLiteral("seconds."));
    QWidget* tcpPage = BuildNotifyPage(tcp_, QStringLiteral("tcp"), QStringLiteral("minutes."));

    // The traceroute option belongs to ICMP hosts only.
    auto* traceGroup = new QGroupBox(icmpPage);
    tracert_ =
        Check(traceGroup, "Run tracert tool if host is down for ", QStringLiteral("tracert"));
    tracertAfter_ = Edit(traceGroup, QStringLiteral("tracertAfter"),
                         QStringLiteral("Traceroute period in seconds"));
    auto* traceLayout = new QVBoxLayout(traceGroup);
    traceLayout->addLayout(
        PeriodRow(tracert_, tracertAfter_, QStringLiteral("seconds."), traceGroup));
    static_cast<QVBoxLayout*>(icmpPage->layout())->insertWidget(3, traceGroup);
    connect(tracert_, &QCheckBox::clicked, this, &OptDlg::TracertClicked);

    // Period edits line up across the groups and both tabs.
    const QList<QCheckBox*> periodBoxes = {icmp_.email, icmp_.sound, icmp_.tray, tracert_,
                                           tcp_.email,  tcp_.sound,  tcp_.tray};
    int width = 0;
    for (QCheckBox* box : periodBoxes) {
        width = std::max(width, box->sizeHint().width());
    }
    for (QCheckBox* box : periodBoxes) {
        box->setMinimumWidth(width);
    }

    tabs_->addTab(icmpPage, QStringLiteral("Ping options"));
    tabs_->addTab(tcpPage, QStringLiteral("TCP/IP options"));

    launch_ = Check(this, "Launch Tarnwick Server Monitor on startup", QStringLiteral("launch"));
    dailyReports_ = Check(this, "Save daily reports (at 00:00) ", QStringLiteral("dailyReports"));
    serviceMode_ = Check(this, "Service mode", QStringLiteral("serviceMode"));
    connect(launch_, &QCheckBox::clicked, this,
            [this](bool checked) { serviceMode_->setEnabled(checked); });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &OptDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &OptDlg::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(launch_);
    layout->addWidget(dailyReports_);
    layout->addWidget(serviceMode_);
    layout->addWidget(buttons);

    const bool launchOnStartup = settings_.general.serviceMode != 0 || autostart_.Exists();
    ShowForm(FormFromSettings(settings_, launchOnStartup));
    UpdateEnables(icmp_);
    UpdateEnables(tcp_);
    serviceMode_->setEnabled(launchOnStartup);
    tracertAfter_->setEnabled(settings_.general.tracertAfter > 0);
}

QWidget* OptDlg::BuildNotifyPage(NotifyControls& c, const QString& kind, const QString& unit) {
    auto* page = new QWidget(tabs_);
    const QString unitWord = unit.chopped(1);  // "seconds" / "minutes"
    auto name = [&kind](const char* field) {
        return kind + QLatin1Char('.') + QLatin1String(field);
    };
    const QString prefix =
        kind == QLatin1String("icmp") ? QStringLiteral("Ping ") : QStringLiteral("TCP/IP ");

    auto* mail = new QGroupBox(page);
    c.email = Check(mail, "Send e-mail notification if host is up/down for ", name("email"));
    c.emailAfter = Edit(mail, name("emailAfter"), prefix + "e-mail period in " + unitWord);
    c.emailAddress = Edit(mail, name("emailAddress"), prefix + "e-mail address",
                          static_cast<int>(kMaxMailTextCharsDesktop));
    c.smtpServer = Edit(mail, name("smtpServer"), prefix + "SMTP server",
                        static_cast<int>(kMaxMailTextCharsDesktop));
    c.smtpPort = Edit(mail, name("smtpPort"), prefix + "SMTP server port");
    auto* mailGrid = new QGridLayout(mail);
    mailGrid->addLayout(PeriodRow(c.email, c.emailAfter, unit, mail), 0, 0, 1, 2);
    mailGrid->addWidget(Label(mail, "E-mail address:", c.emailAddress), 1, 0);
    mailGrid->addWidget(c.emailAddress, 1, 1);
    mailGrid->addWidget(Label(mail, "SMTP server:", c.smtpServer), 2, 0);
    mailGrid->addWidget(c.smtpServer, 2, 1);
    mailGrid->addWidget(Label(mail, "SMTP server port:", c.smtpPort), 3, 0);
    mailGrid->addWidget(c.smtpPort, 3, 1, Qt::AlignLeft);
    c.mailSecurity = Button(mail, QStringLiteral("Mail security..."), name("mailSecurity"),
                            prefix + "mail security");
    c.testMail = Button(mail, QStringLiteral("Send test e-mail"), name("testMail"),
                        prefix + "send test e-mail");
    c.testMail->setEnabled(false);  // until there is a mailer
    mailGrid->addWidget(c.mailSecurity, 2, 2);
    mailGrid->addWidget(c.testMail, 3, 2);

    auto* sound = new QGroupBox(page);
    c.sound = Check(sound, "Play sound if host is down for ", name("sound"));
    c.soundAfter = Edit(sound, name("soundAfter"), prefix + "sound period in " + unitWord);
    c.soundFile =
        Edit(sound, name("soundFile"), prefix + "sound file", static_cast<int>(kMaxSoundFileChars));
    c.chooseSound = new QPushButton(QStringLiteral("..."), sound);
    c.chooseSound->setObjectName(name("chooseSound"));
    c.chooseSound->setAccessibleName(prefix + "choose sound file");
    c.chooseSound->setFixedWidth(32);
    c.chooseSound->setAutoDefault(false);
    auto* soundGrid = new QGridLayout(sound);
    soundGrid->addLayout(PeriodRow(c.sound, c.soundAfter, unit, sound), 0, 0, 1, 3);
    soundGrid->addWidget(Label(sound, "Sound file:", c.soundFile), 1, 0);
    soundGrid->addWidget(c.soundFile, 1, 1);
    soundGrid->addWidget(c.chooseSound, 1, 2);

    auto* tray = new QGroupBox(page);
    c.tray = Check(tray, "Show tray notification if host is up/down for ", name("tray"));
    c.trayAfter = Edit(tray, name("trayAfter"), prefix + "tray notification period in " + unitWord);
    auto* trayLayout = new QVBoxLayout(tray);
    trayLayout->addLayout(PeriodRow(c.tray, c.trayAfter, unit, tray));

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(mail);
    layout->addWidget(sound);
    layout->addWidget(tray);
    layout->addStretch(1);

    const NotifyControls* controls = &c;
    for (QCheckBox* box : {c.email, c.sound, c.tray}) {
        connect(box, &QCheckBox::clicked, this, [controls] { UpdateEnables(*controls); });
    }
    connect(c.chooseSound, &QPushButton::clicked, this,
            [this, controls] { ChooseSound(*controls); });
    connect(c.mailSecurity, &QPushButton::clicked, this, &OptDlg::EditMailSecurity);
    connect(c.testMail, &QPushButton::clicked, this, [this, controls] { SendTestMail(*controls); });
    return page;
}

void OptDlg::UpdateEnables(const NotifyControls& c) {
    const bool email = c.email->isChecked();
    for (QLineEdit* edit : {c.emailAddress, c.smtpServer, c.smtpPort, c.emailAfter}) {
        edit->setEnabled(email);
    }
    c.trayAfter->setEnabled(c.tray->isChecked());
    const bool sound = c.sound->isChecked();
    c.soundAfter->setEnabled(sound);
    c.soundFile->setEnabled(sound);
    c.chooseSound->setEnabled(sound);
}

void OptDlg::ShowNotify(const NotifyControls& c, const NotifyForm& f) {
    c.email->setChecked(f.emailEnabled);
    c.emailAfter->setText(Q(f.emailAfter));
    c.emailAddress->setText(Q(f.emailAddress));
    c.smtpServer->setText(Q(f.smtpServer));
    c.smtpPort->setText(Q(f.smtpPort));
    c.sound->setChecked(f.soundEnabled);
    c.soundAfter->setText(Q(f.soundAfter));
    c.soundFile->setText(Q(f.soundFile));
    c.tray->setChecked(f.trayEnabled);
    c.trayAfter->setText(Q(f.trayAfter));
}

NotifyForm OptDlg::ReadNotify(const NotifyControls& c) {
    NotifyForm f;
    f.emailEnabled = c.email->isChecked();
    f.emailAfter = c.emailAfter->text().toStdString();
    f.emailAddress = c.emailAddress->text().toStdString();
    f.smtpServer = c.smtpServer->text().toStdString();
    f.smtpPort = c.smtpPort->text().toStdString();
    f.soundEnabled = c.sound->isChecked();
    f.soundAfter = c.soundAfter->text().toStdString();
    f.soundFile = c.soundFile->text().toStdString();
    f.trayEnabled = c.tray->isChecked();
    f.trayAfter = c.trayAfter->text().toStdString();
    return f;
}

void OptDlg::ShowForm(const OptionsForm& form) {
    ShowNotify(icmp_, form.icmp);
    ShowNotify(tcp_, form.tcp);
    tracert_->setChecked(form.tracertEnabled);
    tracertAfter_->setText(Q(form.tracertAfter));
    launch_->setChecked(form.launchOnStartup);
    dailyReports_->setChecked(form.dailyReports);
    serviceMode_->setChecked(form.serviceMode);
}

OptionsForm OptDlg::ReadForm() const {
    OptionsForm form;
    form.icmp = ReadNotify(icmp_);
    form.tcp = ReadNotify(tcp_);
    form.tracertEnabled = tracert_->isChecked();
    form.tracertAfter = tracertAfter_->text().toStdString();
    form.launchOnStartup = launch_->isChecked();
    form.dailyReports = dailyReports_->isChecked();
    form.serviceMode = serviceMode_->isChecked();
    return form;
}

void OptDlg::TracertClicked(bool checked) {
    // Checking starts with the shortest useful period; unchecking turns the traceroute off.
    tracertAfter_->setEnabled(checked);
    tracertAfter_->setText(checked ? QStringLiteral("3") : QStringLiteral("0"));
}

void OptDlg::ChooseSound(const NotifyControls& c) {
    std::optional<QString> path = chooseSound_(this, c.soundFile->text());
    if (!path) {
        return;
    }
    // The edit would cut a longer path without a word.
    if (path->size() > static_cast<qsizetype>(kMaxSoundFileChars)) {
        boxes_.Show(
            this,
            QStringLiteral("The sound file path is too long! It must not exceed 255 characters."),
            QStringLiteral("Error"), BoxIcon::Error);
        return;
    }
    c.soundFile->setText(*path);
}

void OptDlg::SetTestMailer(TestMailer mailer) {
    testMailer_ = std::move(mailer);
    for (const NotifyControls* c : {&icmp_, &tcp_}) {
        c->testMail->setEnabled(static_cast<bool>(testMailer_));
    }
}

void OptDlg::EditMailSecurity() {
    std::optional<MailSecurityOptions> edited = editMailSecurity_(this, mailSecurity_);
    if (!edited) {
        return;
    }
    // One security serves the servers of both tabs: a port still at the old choice's usual
    // number follows the new one.
    for (const NotifyControls* c : {&icmp_, &tcp_}) {
        c->smtpPort->setText(Q(PortAfterSecurityChange(c->smtpPort->text().toStdString(),
                                                       mailSecurity_.security, edited->security)));
    }
    mailSecurity_ = *edited;
}

void OptDlg::SendTestMail(const NotifyControls& c) {
    const TestMailCheck check =
        CheckTestMailFields(c.emailAddress->text().toStdString(),
                            c.smtpServer->text().toStdString(), c.smtpPort->text().toStdString());
    if (!check.error.empty() || !testMailer_) {
        boxes_.Show(this, Q(check.error), QStringLiteral("Error"), BoxIcon::Error);
        return;
    }
    const TestMailTarget target{check.address, check.server, check.port};
    QPushButton* button = c.testMail;
    button->setEnabled(false);
    // The outcome comes from the mail worker: shown on the window thread, and only while
    // this dialog is still there.
    QPointer<OptDlg> self(this);
    testMailer_(target, mailSecurity_, [self, target](bool sent, const std::string& error) {
        QMetaObject::invokeMethod(
            qApp,
            [self, target, sent, error] {
                if (self) {
                    self->ShowTestMailOutcome(target, sent, error);
                }
            },
            Qt::QueuedConnection);
    });
}

void OptDlg::ShowTestMailOutcome(const TestMailTarget& target, bool sent,
                                 const std::string& error) {
    for (const NotifyControls* c : {&icmp_, &tcp_}) {
        c->testMail->setEnabled(true);
    }
    boxes_.Show(this, Q(TestMailOutcome(target, sent, error)),
                sent ? kProgramCaption : QStringLiteral("Error"),
                sent ? BoxIcon::Information : BoxIcon::Error);
}

void OptDlg::accept() {
    OptionsForm form = ReadForm();
    if (!form.launchOnStartup) {
        form.serviceMode = false;
        serviceMode_->setChecked(false);
    }
    OptionsCheck check = CheckOptionsForm(form);
    if (!check.settings) {
        boxes_.Show(this, Q(check.error), QStringLiteral("Error"), BoxIcon::Error);
        return;
    }
    // A switch of the service mode leaves the autostart entry alone: the main window sets
    // it once the service program has made the switch.
    const bool switching = check.settings->general.serviceMode != settings_.general.serviceMode;
    settings_ = *check.settings;
    if (!switching) {
        if (int error = ApplyAutostart(settings_.general, autostart_, programPath_); error != 0) {
            boxes_.Show(this, Q(SystemErrorText(error)), QStringLiteral("Error"),
                        BoxIcon::Information);
        }
    }
    QDialog::accept();
}

}  // namespace qv::gui
