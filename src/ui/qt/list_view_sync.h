// Brings a QTreeWidget that shows a list view up to the model's rows by
// ranges: rows keep their items (an item's row value is its identity), the
// rows that differ are removed and inserted as one block each, and kept rows
// change only the cells that differ. A page appended to a long list is one
// insert; a queue that ticks changes a few cells, not the whole list.
#pragma once

#include <QTreeWidget>

#include <vector>

#include "ui/control.h"

namespace qorvel::ui::qt {

// Where an item keeps the row value it shows.
constexpr int kRowValueRole = Qt::UserRole + 7;

void sync_list_rows(QTreeWidget* view, const std::vector<Row>& rows, int columns);

// The tooltip of a cell: the row's own where it has one, else the cell's
// full text when its column is too narrow for it, else none.
QString cell_tooltip(const QTreeWidget* view, const QModelIndex& index);

}  // namespace qorvel::ui::qt
