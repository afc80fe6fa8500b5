#include "gui/dialogs/dlg_mail_security.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "desktop/mail_security_form.h"
#include "gui/message_boxes.h"

namespace qv::gui {

namespace {

constexpr MailSecurity kChoices[] = {MailSecurity::None, MailSecurity::StartTls, MailSecurity::Tls};

std::optional<QString> ChooseCaFile(QWidget* parent, const QString& start) {
    QFileDialog chooser(parent);
    chooser.setFileMode(QFileDialog::ExistingFile);
    chooser.setNameFilter(QStringLiteral("Certificates (*.pem *.crt *.cer);;All files (*)"));
    if (!start.isEmpty()) {
        chooser.selectFile(start);
    }
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return chooser.selectedFiles().front();
}

QLineEdit* Edit(QWidget* parent, const char* objectName, const char* accessibleName) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(objectName));
    edit->setAccessibleName(QString::fromLatin1(accessibleName));
    edit->setMinimumWidth(260);
    return edit;
}

}  // namespace

DlgMailSecurity::DlgMailSecurity(const MailSecurityOptions& options, MessageBoxes& boxes,
                                 FileChooser chooseCaFile, QWidget* parent)
    : QDialog(parent),
      options_(options),
      boxes_(boxes),
      chooseCaFile_(chooseCaFile ? std::move(chooseCaFile) : ChooseCaFile) {
    setWindowTitle(QStringLiteral("Mail security"));
    security_ = new QComboBox(this);
    security_->setObjectName(QStringLiteral("security"));
    security_->setAccessibleName(QStringLiteral("Security"));
    security_->addItems(
        {QStringLiteral("None"), QStringLiteral("STARTTLS"), QStringLiteral("SSL/TLS")});
    for (int i = 0; i < 3; ++i) {
        if (kChoices[i] == options.security) {
            security_->setCurrentIndex(i);
        }
    }
    user_ = Edit(this, "user", "User name");
    user_->setText(QString::fromStdString(options.user));
    password_ = Edit(this, "password", "Password");
    password_->setEchoMode(QLineEdit::Password);
    password_->setText(QString::fromStdString(options.password));
    caFile_ = Edit(this, "caFile", "CA file");
    caFile_->setText(QString::fromStdString(options.caFile));
    auto* choose = new QPushButton(QStringLiteral("..."), this);
    choose->setObjectName(QStringLiteral("chooseCaFile"));
    choose->setAccessibleName(QStringLiteral("Choose CA file"));
    choose->setFixedWidth(32);
    choose->setAutoDefault(false);
    connect(choose, &QPushButton::clicked, this, [this] {
        if (std::optional<QString> path = chooseCaFile_(this, caFile_->text())) {
            caFile_->setText(*path);
        }
    });

    auto* caRow = new QHBoxLayout;
    caRow->addWidget(caFile_);
    caRow->addWidget(choose);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Security:"), security_);
    form->addRow(QStringLiteral("&User name:"), user_);
    form->addRow(QStringLiteral("&Password:"), password_);
    auto* caLabel = new QLabel(QStringLiteral("&CA file:"), this);
    caLabel->setBuddy(caFile_);
    form->addRow(caLabel, caRow);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &DlgMailSecurity::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &DlgMailSecurity::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void DlgMailSecurity::accept() {
    MailSecurityOptions form;
    form.security = kChoices[std::max(0, security_->currentIndex())];
    form.user = user_->text().toStdString();
    form.password = password_->text().toStdString();
    form.caFile = caFile_->text().toStdString();
    MailSecurityCheck check = CheckMailSecurityForm(form);
    if (!check.options) {
        boxes_.Show(this, QString::fromStdString(check.error), QStringLiteral("Error"),
                    BoxIcon::Error);
        return;
    }
    options_ = *check.options;
    QDialog::accept();
}

}  // namespace qv::gui
