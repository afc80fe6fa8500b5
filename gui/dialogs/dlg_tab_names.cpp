// The Tab names dialog.
#include "gui/dialogs/dlg_tab_names.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>
#include <QValidator>

#include "desktop/tab_name_edit.h"
#include "gui/dialogs/log_lists.h"

namespace qv::gui {
namespace {

constexpr int kIndexColumnWidth = 80;
constexpr int kNameColumnWidth = 350;

// Refuses typing past what a tab name can hold, so nothing is cut behind the user's back.
class TabNameValidator final : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        const std::string text = input.toStdString();
        return TabNameFromEdit(text) == text ? Acceptable : Invalid;
    }
};

}  // namespace

DlgTabNames::DlgTabNames(TabNames& names, MessageBoxes& boxes, QWidget* parent)
    : QDialog(parent), names_(names), boxes_(boxes), model_(new QStandardItemModel(0, 2, this)) {
    setWindowTitle(QStringLiteral("Tab names"));
    model_->setHorizontalHeaderLabels({QStringLiteral("Tab index"), QStringLiteral("Tab name")});
    for (int i = 0; i < kTabCount; ++i) {
        model_->appendRow({new QStandardItem(QString::number(i + 1)),
                           new QStandardItem(QString::fromStdString(names_[i]))});
    }

    list_ = new QTableView(this);
    list_->setObjectName(QStringLiteral("list"));
    list_->setAccessibleName(QStringLiteral("Tab names"));
    list_->setModel(model_);
    SetUpReportList(list_, {kIndexColumnWidth, kNameColumnWidth}, kTabCount);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    // Only a click copies the name into the edit; moving with the keys does not.
    connect(list_, &QTableView::clicked, this, [this] {
        if (int row = FirstSelectedRow(list_); row >= 0) {
            edit_->setText(QString::fromStdString(names_[static_cast<size_t>(row)]));
        }
    });

    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("name"));
    edit_->setAccessibleName(QStringLiteral("Tab name"));
    edit_->setValidator(new TabNameValidator(edit_));
    auto* update = new QPushButton(QStringLiteral("Update"), this);
    update->setObjectName(QStringLiteral("update"));
    update->setAutoDefault(false);
    connect(update, &QPushButton::clicked, this, &DlgTabNames::Update);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* editRow = new QHBoxLayout;
    editRow->addWidget(edit_, 1);
    editRow->addWidget(update);
    auto* okRow = new QHBoxLayout;
    okRow->addStretch();
    okRow->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(editRow);
    layout->addLayout(okRow);
}

void DlgTabNames::Update() {
    const std::string name = TabNameFromEdit(edit_->text().toStdString());
    const int row = FirstSelectedRow(list_);
    if (row < 0) {
        boxes_.Show(this, QStringLiteral("Select an item to update!"), QStringLiteral("Error"),
                    BoxIcon::Error);
        return;
    }
    names_[static_cast<size_t>(row)] = name;
    model_->item(row, 1)->setText(QString::fromStdString(name));
}

}  // namespace qv::gui
