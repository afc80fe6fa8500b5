#include "gui/about_dlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

#include "gui/quorvane_dlg.h"

namespace qv::gui {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Tarnwick Server Monitor"));
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(kProgramIcon).pixmap(32, 32));
    icon->setAccessibleName(QStringLiteral("Program icon"));
    auto* text = new QLabel(QStringLiteral("Tarnwick Server Monitor Version 2.2"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addWidget(text, 1);
    auto* column = new QVBoxLayout(this);
    column->addLayout(row);
    column->addWidget(buttons);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace qv::gui
