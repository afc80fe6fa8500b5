// The Trace route logs dialog: the traceroute capture files of the data folder, the text
// of the one clicked, and deleting them.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "desktop/trace_files.h"
#include "gui/message_boxes.h"
#include "platform/clock.h"

class QPlainTextEdit;
class QStandardItemModel;
class QTableView;

namespace qv::gui {

// The text box's view of a capture file's first bytes: UTF-8 where they are UTF-8 (a
// character cut at the end is left out), otherwise each byte as the character of its code.
QString TraceText(const std::string& bytes);

class CTraceLogs final : public QDialog {
    Q_OBJECT
  public:
    // `clock` converts the files' creation times to local time.
    CTraceLogs(const std::string& dataDir, Clock& clock, MessageBoxes& boxes,
               QWidget* parent = nullptr);

    const std::vector<TraceFileRow>& Rows() const { return rows_; }

  private:
    void Fill();
    void ShowRows();
    void ShowSelectedFile();
    void DeleteSelectedFile();

    const std::string dir_;
    Clock& clock_;
    MessageBoxes& boxes_;
    std::vector<TraceFileRow> rows_;
    QStandardItemModel* model_;
    QTableView* list_;
    QPlainTextEdit* text_;
};

}  // namespace qv::gui
