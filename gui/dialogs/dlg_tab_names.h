// The Tab names dialog: renames the 20 tabs of the main window, each at its "Update".
#pragma once

#include <QDialog>

#include "core/settings.h"
#include "gui/message_boxes.h"

class QLineEdit;
class QStandardItemModel;
class QTableView;

namespace qv::gui {

class DlgTabNames final : public QDialog {
    Q_OBJECT
  public:
    // Edits `names` in place at each "Update"; the caller saves them when the dialog ends.
    DlgTabNames(TabNames& names, MessageBoxes& boxes, QWidget* parent = nullptr);

  private:
    void Update();

    TabNames& names_;
    MessageBoxes& boxes_;
    QStandardItemModel* model_;
    QTableView* list_;
    QLineEdit* edit_;
};

}  // namespace qv::gui
