// Report-style lists.
#include "gui/dialogs/log_lists.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <algorithm>

namespace qv::gui {
namespace {

// The rows are what is chosen, so no single cell gets a focus frame.
class RowDelegate final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem plain(option);
        plain.state &= ~QStyle::State_HasFocus;
        QStyledItemDelegate::paint(painter, plain, index);
    }
};

}  // namespace

void SetUpReportList(QTableView* list, std::initializer_list<int> widths, int visibleRows) {
    list->setItemDelegate(new RowDelegate(list));
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setShowGrid(false);
    list->setWordWrap(false);
    list->setIconSize(QSize(16, 16));
    // Fixed heights keep a list of a whole day's rows as cheap as a screenful.
    const int rowHeight = std::max(20, list->fontMetrics().height() + 4);
    QHeaderView* rows = list->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(rowHeight);
    QHeaderView* header = list->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setStretchLastSection(false);
    header->setHighlightSections(false);
    int column = 0;
    int width = 0;
    for (int w : widths) {
        header->resizeSection(column++, w);
        width += w;
    }
    const int frame = 2 * list->frameWidth();
    list->setMinimumSize(width + list->verticalScrollBar()->sizeHint().width() + frame,
                         header->sizeHint().height() + visibleRows * rowHeight + frame);
}

int FirstSelectedRow(const QTableView* list) {
    const QModelIndexList selected = list->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        return -1;
    }
    return std::min_element(
               selected.begin(), selected.end(),
               [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); })
        ->row();
}

}  // namespace qv::gui
