// "TCP services": the fixed table of well-known TCP services from which the add-host
// dialog takes a port number.
#pragma once

#include <QDialog>
#include <QString>

class QTreeWidget;

namespace qv::gui {

class MessageBoxes;

class DlgPorts : public QDialog {
    Q_OBJECT
  public:
    explicit DlgPorts(MessageBoxes& boxes, QWidget* parent = nullptr);

    // The port text of the row chosen with "OK".
    QString port() const { return port_; }

  public slots:
    // Refuses to end without a row selected.
    void accept() override;

  private:
    MessageBoxes& boxes_;
    QTreeWidget* list_;
    QString port_;
};

}  // namespace qv::gui
