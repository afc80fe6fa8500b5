#include "gui/dialogs/dlg_add_host.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "gui/dialogs/dlg_ports.h"
#include "gui/message_boxes.h"

namespace qv::gui {

namespace {

QLineEdit* NumberEdit(QWidget* parent, const QString& text, const QString& accessibleName) {
    auto* edit = new QLineEdit(text, parent);
    edit->setAccessibleName(accessibleName);
    edit->setFixedWidth(70);
    return edit;
}

}  // namespace

DlgAddHost::DlgAddHost(MessageBoxes& boxes, PortPicker pickPort, QWidget* parent)
    : QDialog(parent),
      boxes_(boxes),
      pickPort_(std::move(pickPort)),
      name_(new QLineEdit(this)),
      icmpButton_(new QRadioButton(QStringLiteral("Use ICMP echo requests"), this)),
      tcpButton_(new QRadioButton(QStringLiteral("Use TCP/IP connection"), this)),
      timeout_(NumberEdit(this, QStringLiteral("1"), QStringLiteral("Ping timeout in seconds"))),
      port_(NumberEdit(this, QStringLiteral("80"), QStringLiteral("TCP port"))),
      interval_(
          NumberEdit(this, QStringLiteral("2"), QStringLiteral("Connect interval in minutes"))),
      services_(new QPushButton(QStringLiteral("..."), this)) {
    setWindowTitle(QStringLiteral("Add new host"));
    if (!pickPort_) {
        pickPort_ = [this](QWidget* owner) -> std::optional<QString> {
            DlgPorts ports(boxes_, owner);
            if (ports.exec() != QDialog::Accepted) {
                return std::nullopt;
            }
            return ports.port();
        };
    }

    name_->setObjectName(QStringLiteral("name"));
    name_->setAccessibleName(QStringLiteral("Host name or IP address"));
    name_->setMinimumWidth(300);
    icmpButton_->setObjectName(QStringLiteral("icmp"));
    tcpButton_->setObjectName(QStringLiteral("tcp"));
    timeout_->setObjectName(QStringLiteral("timeout"));
    port_->setObjectName(QStringLiteral("port"));
    interval_->setObjectName(QStringLiteral("interval"));
    services_->setObjectName(QStringLiteral("services"));
    services_->setAccessibleName(QStringLiteral("Choose a TCP service"));
    services_->setFixedWidth(32);

    auto* kind = new QButtonGroup(this);
    kind->addButton(icmpButton_);
    kind->addButton(tcpButton_);
    icmpButton_->setChecked(true);
    connect(icmpButton_, &QRadioButton::clicked, this, [this] { SetKind(true); });
    connect(tcpButton_, &QRadioButton::clicked, this, [this] { SetKind(false); });
    connect(services_, &QPushButton::clicked, this, &DlgAddHost::PickPort);

    auto* grid = new QGridLayout(this);
    auto* nameLabel = new QLabel(QStringLiteral("Input host name or IP address:"), this);
    nameLabel->setBuddy(name_);
    grid->addWidget(nameLabel, 0, 0, 1, 4);
    grid->addWidget(name_, 1, 0, 1, 4);
    grid->addWidget(icmpButton_, 2, 0, 1, 4);
    const struct {
        const char* label;
        QLineEdit* edit;
        QWidget* after;
    } rows[] = {
        {"Ping timeout:", timeout_, new QLabel(QStringLiteral("seconds."), this)},
        {"TCP port:", port_, services_},
        {"Connect interval:", interval_, new QLabel(QStringLiteral("minutes."), this)},
    };
    int row = 3;
    for (const auto& r : rows) {
        if (r.edit == port_) {
            grid->addWidget(tcpButton_, row++, 0, 1, 4);
        }
        auto* label = new QLabel(QString::fromUtf8(r.label), this);
        label->setBuddy(r.edit);
        label->setIndent(20);
        grid->addWidget(label, row, 0);
        grid->addWidget(r.edit, row, 1);
        grid->addWidget(r.after, row, 2);
        ++row;
    }
    grid->setColumnStretch(3, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &DlgAddHost::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &DlgAddHost::reject);
    grid->addWidget(buttons, row, 0, 1, 4);

    SetKind(true);
    name_->setFocus();
}

void DlgAddHost::SetKind(bool icmp) {
    icmp_ = icmp;
    timeout_->setEnabled(icmp);
    port_->setEnabled(!icmp);
    interval_->setEnabled(!icmp);
}

void DlgAddHost::PickPort() {
    // The port goes in even while ICMP is chosen; the kind stays as it is.
    if (std::optional<QString> port = pickPort_(this)) {
        port_->setText(*port);
    }
}

void DlgAddHost::accept() {
    AddHostForm form;
    form.name = name_->text().toStdString();
    form.icmp = icmp_;
    form.pingTimeout = timeout_->text().toStdString();
    form.port = port_->text().toStdString();
    form.connectInterval = interval_->text().toStdString();
    AddHostCheck check = CheckAddHostForm(form);
    if (!check.host) {
        boxes_.Show(this, QString::fromStdString(check.error), QStringLiteral("Error"),
                    BoxIcon::Error);
        return;
    }
    host_ = *check.host;
    QDialog::accept();
}

}  // namespace qv::gui
