#include "ui/qt/list_view_sync.h"

#include <QHeaderView>

#include <algorithm>

#include "ui/qt/window_view.h"

namespace qorvel::ui::qt {

namespace {

long long value_of(QTreeWidget* view, int index) {
    return view->topLevelItem(index)->data(0, kRowValueRole).toLongLong();
}

void set_cells(QTreeWidgetItem* item, const Row& row, int columns) {
    const QString tip = to_qt(row.tooltip);
    for (int col = 0; col < columns; ++col) {
        QString text = col < static_cast<int>(row.cells.size()) ? to_qt(row.cells[col]) : QString();
        if (item->text(col) != text) item->setText(col, text);
        if (item->toolTip(col) != tip) item->setToolTip(col, tip);
    }
}

}  // namespace

void sync_list_rows(QTreeWidget* view, const std::vector<Row>& rows, int columns) {
    const int shown = view->topLevelItemCount();
    const int wanted = static_cast<int>(rows.size());
    const int common = std::min(shown, wanted);
    // Rows that keep their item: the same values at the front and at the back.
    int front = 0;
    while (front < common && value_of(view, front) == rows[front].value) ++front;
    int back = 0;
    while (back < common - front &&
           value_of(view, shown - 1 - back) == rows[wanted - 1 - back].value)
        ++back;

    const int removed = shown - front - back;
    if (removed == shown && shown > 0) {
        view->clear();
    } else {
        for (int i = 0; i < removed; ++i) delete view->takeTopLevelItem(front);
    }
    QList<QTreeWidgetItem*> fresh;
    for (int i = front; i < wanted - back; ++i) {
        auto* item = new QTreeWidgetItem();
        item->setData(0, kRowValueRole, rows[i].value);
        set_cells(item, rows[i], columns);
        fresh.append(item);
    }
    if (!fresh.isEmpty()) view->insertTopLevelItems(front, fresh);

    for (int i = 0; i < wanted; ++i) {
        QTreeWidgetItem* item = view->topLevelItem(i);
        if (i < front || i >= wanted - back) set_cells(item, rows[i], columns);
        if (item->isSelected() != rows[i].selected) item->setSelected(rows[i].selected);
    }
}

QString cell_tooltip(const QTreeWidget* view, const QModelIndex& index) {
    if (!index.isValid()) return {};
    QString tip = index.data(Qt::ToolTipRole).toString();
    if (!tip.isEmpty()) return tip;
    QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty()) return {};
    if (view->sizeHintForIndex(index).width() > view->header()->sectionSize(index.column()))
        return text;
    return {};
}

}  // namespace qorvel::ui::qt
