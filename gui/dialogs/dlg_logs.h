// The History dialog: one host log file listed per minute, second by second, or filtered
// to time-outs or a range of response times.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <QIcon>
#include <vector>

#include "desktop/history_rows.h"
#include "gui/message_boxes.h"

class QLineEdit;
class QRadioButton;
class QTableView;

namespace qv::gui {

// The rows of one view; texts are made only for the rows on screen.
class HistoryModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit HistoryModel(QObject* parent = nullptr);

    void SetRows(HistoryView view, std::vector<HistoryRow> rows);
    void Sort(HistoryColumn column);
    const std::vector<HistoryRow>& Rows() const { return rows_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    HistoryView view_ = HistoryView::PerMinute;
    std::vector<HistoryRow> rows_;
    QIcon reply_;
    QIcon noReply_;
};

class DlgLogs final : public QDialog {
    Q_OBJECT
  public:
    // Opens with the per-minute view of the file at `logPath` (a box tells when it cannot
    // be opened).
    DlgLogs(const QString& logPath, MessageBoxes& boxes, QWidget* parent = nullptr);

    HistoryView View() const { return view_; }
    const HistoryModel& Model() const { return *model_; }

  private:
    // What a radio button or "Refresh list" asks for; the all-seconds view only after a
    // Yes to the warning.
    void RequestView(HistoryView view);
    void CheckViewButton();
    void Fill();

    const QString path_;
    MessageBoxes& boxes_;
    HistoryView view_ = HistoryView::PerMinute;
    HistoryModel* model_;
    QTableView* list_;
    QRadioButton* viewButtons_[4];
    QLineEdit* low_;
    QLineEdit* high_;
};

}  // namespace qv::gui
