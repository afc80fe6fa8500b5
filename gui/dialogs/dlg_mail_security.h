// "Mail security": security, login and extra CA file of the SMTP servers of both probe
// kinds (quorvane.conf's [mail] section). Edits a copy; meaningful after "OK".
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>

#include "core/mail_security.h"

class QComboBox;
class QLineEdit;

namespace qv::gui {

class MessageBoxes;

class DlgMailSecurity : public QDialog {
    Q_OBJECT
  public:
    // Asks for a CA certificate file, starting at `start`; a file chooser when empty.
    using FileChooser =
        std::function<std::optional<QString>(QWidget* parent, const QString& start)>;

    DlgMailSecurity(const MailSecurityOptions& options, MessageBoxes& boxes,
                    FileChooser chooseCaFile = {}, QWidget* parent = nullptr);

    const MailSecurityOptions& options() const { return options_; }

  public slots:
    // Ends only when the fields pass their checks.
    void accept() override;

  private:
    MailSecurityOptions options_;
    MessageBoxes& boxes_;
    FileChooser chooseCaFile_;
    QComboBox* security_;
    QLineEdit* user_;
    QLineEdit* password_;
    QLineEdit* caFile_;
};

}  // namespace qv::gui
