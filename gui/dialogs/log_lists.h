// The report-style lists of the History, Trace route logs and Tab names dialogs: whole
// rows, fixed column widths and row heights, no grid, no editing.
#pragma once

#include <initializer_list>

class QTableView;

namespace qv::gui {

// Sets up `list` for its model's columns at `widths` pixels, at least `visibleRows` rows
// high; the rows get room for a 16 x 16 picture.
void SetUpReportList(QTableView* list, std::initializer_list<int> widths, int visibleRows);

// The lowest selected row, -1 with none.
int FirstSelectedRow(const QTableView* list);

}  // namespace qv::gui
