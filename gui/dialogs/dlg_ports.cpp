#include "gui/dialogs/dlg_ports.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "desktop/host_list_forms.h"
#include "gui/message_boxes.h"

namespace qv::gui {

DlgPorts::DlgPorts(MessageBoxes& boxes, QWidget* parent)
    : QDialog(parent), boxes_(boxes), list_(new QTreeWidget(this)) {
    setWindowTitle(QStringLiteral("TCP services"));

    list_->setObjectName(QStringLiteral("services"));
    list_->setAccessibleName(QStringLiteral("TCP services"));
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setHeaderLabels({QStringLiteral("Service name"), QStringLiteral("Port")});
    list_->setColumnWidth(0, 150);
    list_->setColumnWidth(1, 150);
    for (const TcpService& s : kTcpServices) {
        new QTreeWidgetItem(list_, {QString::fromUtf8(s.name), QString::fromUtf8(s.port)});
    }
    list_->setMinimumSize(320, 360);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &DlgPorts::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &DlgPorts::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addWidget(buttons);
}

void DlgPorts::accept() {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty()) {
        boxes_.Show(this, QStringLiteral("Select a port"), kProgramCaption, BoxIcon::None);
        return;
    }
    port_ = selected.front()->text(1);
    QDialog::accept();
}

}  // namespace qv::gui
