// "Options": the notification options of ICMP and TCP hosts on two tabs, the traceroute
// period and the general switches. Edits a copy of the settings; on "OK" it also writes or
// removes the autostart entry.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "core/settings.h"
#include "desktop/options_form.h"
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

    OptDlg(const Settings& settings, MessageBoxes& boxes, Autostart& autostart,
           std::string programPath, SoundFileChooser chooseSound = {}, QWidget* parent = nullptr);

    // The edited copy; meaningful after "OK".
    const Settings& settings() const { return settings_; }

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

    Settings settings_;
    MessageBoxes& boxes_;
    Autostart& autostart_;
    const std::string programPath_;
    SoundFileChooser chooseSound_;
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
