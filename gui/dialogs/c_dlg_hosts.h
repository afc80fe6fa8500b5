// "Servers": the host list. Works on the live host table: each add and delete takes effect
// and is saved at once; moves exchange two whole entries. Tells the main window through
// layoutUnchanged whether it must restart the monitoring afterwards.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

#include "core/host_table.h"
#include "core/settings.h"
#include "desktop/host_list_forms.h"
#include "platform/clock.h"

class QTreeWidget;

namespace qv::gui {

class MessageBoxes;

class CDlgHosts : public QDialog {
    Q_OBJECT
  public:
    // Asks for a new host; the add-host dialog when empty.
    using AddHostPrompt = std::function<std::optional<NewHost>(QWidget* parent)>;
    // Called after two slots were exchanged, so the window side can exchange what it keeps
    // per slot (the panes' off-screen images).
    using ExchangeHook = std::function<void(int slotA, int slotB)>;

    CDlgHosts(HostTable& table, std::string dataDir, const TabNames& tabNames,
              bool& layoutUnchanged, Clock& clock, MessageBoxes& boxes, ExchangeHook onExchange,
              AddHostPrompt askHost = {}, QWidget* parent = nullptr);

  public slots:
    // The dialog has only "OK"; closing it in any other way ends it the same way.
    void reject() override { QDialog::accept(); }

  private:
    void AppendRow(int slot, const std::string& tab);
    void AddHost();
    void AddEmpty();
    void DeleteHost();
    void Move(MoveDirection direction);
    // The selected row; with none, says so and yields nothing.
    std::optional<int> SelectedRow();
    void SaveList();

    HostTable& table_;
    const std::string dataDir_;
    const TabNames& tabNames_;
    bool& layoutUnchanged_;
    Clock& clock_;
    MessageBoxes& boxes_;
    ExchangeHook onExchange_;
    AddHostPrompt askHost_;
    QTreeWidget* list_;
};

}  // namespace qv::gui
