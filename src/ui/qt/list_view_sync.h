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

}  // namespace qorvel::ui::qt
