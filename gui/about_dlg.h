// CAboutDlg: the program's icon, name and version.
#pragma once

#include <QDialog>

namespace qv::gui {

class CAboutDlg final : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent);
};

}  // namespace qv::gui
