// "Options": the notification options of ICMP and TCP hosts on two tabs, the traceroute
// period and the general switches. Edits a copy of the settings (and of the mail security
// beside them); on "OK" it also writes or removes the autostart entry.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "core/mail_security.h"
#include "core/settings.h"
#include "desktop/options_form.h"
#include "mail/test_mail.h"
#include "settings/autostart.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace qv::gui {

class MessageBoxes;

class OptDlg : public QDialog {
    Q_OBJECT
  public:
    // Asks for an existing sound file, starting at `start`; a file chooser when empty.
    using SoundFileChooser =
        std::function<std::optional<QString>(QWidget* parent, const QString& start)>;

    // Edits the mail security (the "Mail security" dialog); nothing when cancelled.
    using MailSecurityEditor = std::function<std::optional<MailSecurityOptions>(
        QWidget* parent, const MailSecurityOptions& current)>;
    // Sends a test e-mail off the window thread; `done` may be called on any thread.
    using TestMailer =
        std::function<void(const TestMailTarget& target, const MailSecurityOptions& security,
                           std::function<void(bool sent, const std::string& error)> done)>;

    OptDlg(const Settings& settings, MessageBoxes& boxes, Autostart& autostart,
           std::string programPath, SoundFileChooser chooseSound = {}, QWidget* parent = nullptr);

    // The edited copy; meaningful after "OK".
    const Settings& settings() const { return settings_; }
    // The mail security shown and edited (quorvane.conf's [mail] section).
    void SetMailSecurity(const MailSecurityOptions& security) { mailSecurity_ = security; }
    const MailSecurityOptions& mailSecurity() const { return mailSecurity_; }
    // Without a mailer the "Send test e-mail" buttons are disabled.
    void SetTestMailer(TestMailer mailer);
    void SetMailSecurityEditor(MailSecurityEditor editor) { editMailSecurity_ = std::move(editor); }

  public slots:
    // Ends only when every period passes its check.
    void accept() override;

  private:
    struct NotifyControls {
        QCheckBox* email;
        QLineEdit* emailAfter;
        QLineEdit* emailAddress;
        QLineEdit* smtpServer;
        QLineEdit* smtpPort;
        QPushButton* mailSecurity;
        QPushButton* testMail;
        QCheckBox* sound;
        QLineEdit* soundAfter;
        QLineEdit* soundFile;
        QPushButton* chooseSound;
        QCheckBox* tray;
        QLineEdit* trayAfter;
    };

    QWidget* BuildNotifyPage(NotifyControls& c, const QString& kind, const QString& unit);
    static void UpdateEnables(const NotifyControls& c);
    static void ShowNotify(const NotifyControls& c, const NotifyForm& f);
    static NotifyForm ReadNotify(const NotifyControls& c);
    void ShowForm(const OptionsForm& form);
    OptionsForm ReadForm() const;
    void ChooseSound(const NotifyControls& c);
    void TracertClicked(bool checked);
    void EditMailSecurity();
    void SendTestMail(const NotifyControls& c);
    void ShowTestMailOutcome(const TestMailTarget& target, bool sent, const std::string& error);

    Settings settings_;
    MessageBoxes& boxes_;
    Autostart& autostart_;
    const std::string programPath_;
    SoundFileChooser chooseSound_;
    MailSecurityOptions mailSecurity_;
    MailSecurityEditor editMailSecurity_;
    TestMailer testMailer_;
    QTabWidget* tabs_;
    NotifyControls icmp_;
    NotifyControls tcp_;
    QCheckBox* tracert_;
    QLineEdit* tracertAfter_;
    QCheckBox* launch_;
    QCheckBox* dailyReports_;
    QCheckBox* serviceMode_;
};

}  // namespace qv::gui
