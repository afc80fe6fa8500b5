#include "gui/dialogs/c_dlg_hosts.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/dialogs/dlg_add_host.h"
#include "gui/message_boxes.h"
#include "settings/config_files.h"

namespace qv::gui {

namespace {

// A probe thread looks at its host's active flag at least once a second.
constexpr uint32_t kStopWaitMs = 1100;

QPushButton* Button(QWidget* parent, const char* text, const char* objectName) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(QString::fromUtf8(objectName));
    button->setAutoDefault(false);
    return button;
}

}  // namespace

CDlgHosts::CDlgHosts(HostTable& table, std::string dataDir, const TabNames& tabNames,
                     bool& layoutUnchanged, Clock& clock, MessageBoxes& boxes,
                     ExchangeHook onExchange, AddHostPrompt askHost, QWidget* parent)
    : QDialog(parent),
      table_(table),
      dataDir_(std::move(dataDir)),
      tabNames_(tabNames),
      layoutUnchanged_(layoutUnchanged),
      clock_(clock),
      boxes_(boxes),
      onExchange_(std::move(onExchange)),
      askHost_(std::move(askHost)),
      list_(new QTreeWidget(this)) {
    setWindowTitle(QStringLiteral("Servers"));
    if (!askHost_) {
        askHost_ = [this](QWidget* owner) -> std::optional<NewHost> {
            DlgAddHost dialog(boxes_, {}, owner);
            if (dialog.exec() != QDialog::Accepted) {
                return std::nullopt;
            }
            return dialog.host();
        };
    }

    list_->setObjectName(QStringLiteral("hosts"));
    list_->setAccessibleName(QStringLiteral("Hosts"));
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setHeaderLabels({QStringLiteral("Host"), QStringLiteral("Tab")});
    list_->setColumnWidth(0, 250);
    list_->setColumnWidth(1, 100);
    list_->setMinimumSize(370, 300);

    QPushButton* add = Button(this, "Add...", "add");
    QPushButton* addEmpty = Button(this, "Add empty", "addEmpty");
    QPushButton* remove = Button(this, "Delete", "delete");
    QPushButton* up = Button(this, "Move up", "moveUp");
    QPushButton* down = Button(this, "Move down", "moveDown");
    QPushButton* ok = Button(this, "OK", "ok");
    ok->setDefault(true);
    up->setIcon(QIcon(QStringLiteral(":/gui/resources/hosts_up.svg")));
    down->setIcon(QIcon(QStringLiteral(":/gui/resources/hosts_down.svg")));
    up->setIconSize(QSize(16, 16));
    down->setIconSize(QSize(16, 16));
    connect(add, &QPushButton::clicked, this, &CDlgHosts::AddHost);
    connect(addEmpty, &QPushButton::clicked, this, &CDlgHosts::AddEmpty);
    connect(remove, &QPushButton::clicked, this, &CDlgHosts::DeleteHost);
    connect(up, &QPushButton::clicked, this, [this] { Move(MoveDirection::Up); });
    connect(down, &QPushButton::clicked, this, [this] { Move(MoveDirection::Down); });
    connect(ok, &QPushButton::clicked, this, &CDlgHosts::accept);

    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {add, addEmpty, remove}) {
        buttons->addWidget(b);
    }
    buttons->addSpacing(12);
    buttons->addWidget(up);
    buttons->addWidget(down);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);

    for (int slot = 0; slot < kMaxHosts; ++slot) {
        if (table_.Entry(slot).active) {
            AppendRow(slot, TabOfSlot(tabNames_, slot));
        }
    }
}

void CDlgHosts::AppendRow(int slot, const std::string& tab) {
    auto* item = new QTreeWidgetItem(
        list_,
        {QString::fromStdString(HostRowText(table_.Entry(slot))), QString::fromStdString(tab)});
    item->setData(0, Qt::UserRole, slot);
}

void CDlgHosts::SaveList() {
    // A failed write is not reported; the main window saves once more when the dialog ends.
    SaveHostList(dataDir_, table_);
}

void CDlgHosts::AddHost() {
    std::optional<NewHost> host = askHost_(this);
    if (!host) {
        return;
    }
    // A full table is reported by the table itself.
    std::optional<int> slot = table_.AddHost(host->name, host->probeValue, host->port,
                                             /*saveList=*/false, /*startProber=*/true);
    if (!slot) {
        return;
    }
    SaveList();
    AppendRow(*slot, TabOfSlot(tabNames_, table_.hostCount - 1));
}

void CDlgHosts::AddEmpty() {
    std::optional<int> slot = table_.AddHost("-", 0, 0, /*saveList=*/false, /*startProber=*/false);
    if (!slot) {
        return;
    }
    SaveList();
    AppendRow(*slot, TabOfSlot(tabNames_, table_.hostCount - 1));
}

std::optional<int> CDlgHosts::SelectedRow() {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty()) {
        boxes_.Show(this, QStringLiteral("Select a host"), QStringLiteral("Error"), BoxIcon::Error);
        return std::nullopt;
    }
    return list_->indexOfTopLevelItem(selected.front());
}

void CDlgHosts::DeleteHost() {
    std::optional<int> row = SelectedRow();
    if (!row) {
        return;
    }
    QTreeWidgetItem* item = list_->topLevelItem(*row);
    const int slot = item->data(0, Qt::UserRole).toInt();
    const QString text =
        QStringLiteral("Delete host %1 ?").arg(QString::fromStdString(table_.Entry(slot).name));
    if (boxes_.Show(this, text, QStringLiteral("Delete"), BoxIcon::Question, BoxButtons::YesNo) !=
        BoxAnswer::Yes) {
        return;
    }
    table_.StopHost(slot);
    clock_.SleepMs(kStopWaitMs);
    // The rows below keep their tab text until the dialog is opened again.
    delete item;
    table_.hostCount -= 1;
    layoutUnchanged_ = false;
    SaveList();
}

void CDlgHosts::Move(MoveDirection direction) {
    std::optional<int> row = SelectedRow();
    if (!row) {
        return;
    }
    // Even a move that cannot go anywhere asks for the restart, as any move does.
    layoutUnchanged_ = false;
    std::optional<int> other =
        MoveNeighbour(*row, list_->topLevelItemCount(), table_.hostCount, direction);
    if (!other) {
        return;
    }
    QTreeWidgetItem* a = list_->topLevelItem(*row);
    QTreeWidgetItem* b = list_->topLevelItem(*other);
    const int slotA = a->data(0, Qt::UserRole).toInt();
    const int slotB = b->data(0, Qt::UserRole).toInt();
    table_.ExchangeHosts(slotA, slotB);
    if (onExchange_) {
        onExchange_(slotA, slotB);
    }
    const QString textA = a->text(0);
    a->setText(0, b->text(0));
    b->setText(0, textA);
    list_->setCurrentItem(b);
}

}  // namespace qv::gui
