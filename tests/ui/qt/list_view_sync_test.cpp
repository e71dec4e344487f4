// The list view follows its model by ranges: rows keep their items, a page
// of rows arrives as one insert, a changed cell is one item's change.
#include <QSignalSpy>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "net/charset.h"
#include "qt_main.h"
#include "ui/qt/list_view_sync.h"

namespace qorvel::ui::qt {
namespace {

std::vector<Row> numbered(int from, int count) {
    std::vector<Row> rows;
    for (int i = from; i < from + count; ++i) {
        Row r;
        r.cells = {"file" + std::to_string(i), std::to_string(i) + "KB"};
        r.value = i;
        rows.push_back(r);
    }
    return rows;
}

class ListSync : public ::testing::Test {
  protected:
    void SetUp() override { view.setColumnCount(2); }
    QTreeWidget view;
    QAbstractItemModel* model() { return view.model(); }
};

TEST_F(ListSync, PagesArriveAsOneInsertAndKeptRowsKeepTheirItems) {
    QSignalSpy inserted(model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(model(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(model(), &QAbstractItemModel::modelReset);
    auto rows = numbered(1, 500);
    sync_list_rows(&view, rows, 2);
    ASSERT_EQ(view.topLevelItemCount(), 500);
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 0);
    EXPECT_EQ(inserted[0][2].toInt(), 499);
    EXPECT_EQ(view.topLevelItem(499)->text(0), "file500");

    // Another batch at the end: one more insert; the first rows are the same items.
    QTreeWidgetItem* first = view.topLevelItem(0);
    QTreeWidgetItem* last = view.topLevelItem(499);
    auto more = numbered(501, 100);
    rows.insert(rows.end(), more.begin(), more.end());
    sync_list_rows(&view, rows, 2);
    ASSERT_EQ(inserted.count(), 2);
    EXPECT_EQ(inserted[1][1].toInt(), 500);
    EXPECT_EQ(inserted[1][2].toInt(), 599);
    EXPECT_EQ(view.topLevelItem(0), first);
    EXPECT_EQ(view.topLevelItem(499), last);
    EXPECT_EQ(removed.count(), 0);
    EXPECT_EQ(reset.count(), 0);
}

TEST_F(ListSync, ChangesAndRemovalsTouchOnlyTheirRows) {
    auto rows = numbered(1, 50);
    sync_list_rows(&view, rows, 2);
    QTreeWidgetItem* tenth = view.topLevelItem(10);
    QTreeWidgetItem* twentieth = view.topLevelItem(20);
    QSignalSpy changed(model(), &QAbstractItemModel::dataChanged);
    QSignalSpy inserted(model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(model(), &QAbstractItemModel::rowsRemoved);

    // A tick: one cell of one row.
    rows[10].cells[1] = "99%";
    sync_list_rows(&view, rows, 2);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].value<QModelIndex>().row(), 10);
    EXPECT_EQ(view.topLevelItem(10), tenth);
    EXPECT_EQ(tenth->text(1), "99%");

    // The row of value 15 goes: one removal there, the later rows move up as themselves.
    rows.erase(rows.begin() + 14);
    sync_list_rows(&view, rows, 2);
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed[0][1].toInt(), 14);
    EXPECT_EQ(inserted.count(), 0);
    EXPECT_EQ(view.topLevelItem(19), twentieth);
    EXPECT_EQ(view.topLevelItem(19)->data(0, kRowValueRole).toLongLong(), 21);

    // Selection follows the model; a new folder's page replaces every row.
    rows[3].selected = true;
    sync_list_rows(&view, rows, 2);
    EXPECT_TRUE(view.topLevelItem(3)->isSelected());
    EXPECT_FALSE(view.topLevelItem(4)->isSelected());
    sync_list_rows(&view, numbered(1000, 5), 2);
    ASSERT_EQ(view.topLevelItemCount(), 5);
    EXPECT_EQ(view.topLevelItem(0)->text(0), "file1000");
    sync_list_rows(&view, {}, 2);
    EXPECT_EQ(view.topLevelItemCount(), 0);
}

TEST_F(ListSync, ARowsTooltipShowsOverEveryCellAndGoesWithIt) {
    auto rows = numbered(1, 3);
    sync_list_rows(&view, rows, 2);
    QTreeWidgetItem* second = view.topLevelItem(1);
    EXPECT_TRUE(second->toolTip(0).isEmpty());

    rows[1].tooltip = utf8_to_gbk("无法写入 /tmp/x：权限不够");
    sync_list_rows(&view, rows, 2);
    EXPECT_EQ(view.topLevelItem(1), second) << "a tooltip changes the row, not its item";
    EXPECT_EQ(second->toolTip(0), QString::fromUtf8("无法写入 /tmp/x：权限不够"));
    EXPECT_EQ(second->toolTip(1), second->toolTip(0));
    EXPECT_TRUE(view.topLevelItem(0)->toolTip(0).isEmpty());

    rows[1].tooltip.clear();
    sync_list_rows(&view, rows, 2);
    EXPECT_TRUE(second->toolTip(1).isEmpty());
}

}  // namespace
}  // namespace qorvel::ui::qt

QORVEL_QT_TEST_MAIN
