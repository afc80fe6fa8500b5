// "Add new host": one new host, probed by ICMP echo requests or by TCP connection attempts.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>

#include "desktop/host_list_forms.h"

class QLineEdit;
class QPushButton;
class QRadioButton;

namespace qv::gui {

class MessageBoxes;

class DlgAddHost : public QDialog {
    Q_OBJECT
  public:
    // Asks for a TCP service and yields its port text; the TCP services dialog when empty.
    using PortPicker = std::function<std::optional<QString>(QWidget* parent)>;

    explicit DlgAddHost(MessageBoxes& boxes, PortPicker pickPort = {}, QWidget* parent = nullptr);

    // The host that passed the checks, after "OK".
    const NewHost& host() const { return host_; }

  public slots:
    // Ends only when the form passes its checks; otherwise says why and stays open.
    void accept() override;

  private:
    void SetKind(bool icmp);
    void PickPort();

    MessageBoxes& boxes_;
    PortPicker pickPort_;
    bool icmp_ = true;
    QLineEdit* name_;
    QRadioButton* icmpButton_;
    QRadioButton* tcpButton_;
    QLineEdit* timeout_;
    QLineEdit* port_;
    QLineEdit* interval_;
    QPushButton* services_;
    NewHost host_;
};

}  // namespace qv::gui
