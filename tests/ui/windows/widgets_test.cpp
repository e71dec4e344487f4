// The catalogue as real widgets, offscreen: every control found by its
// objectName at its place with its caption, the list columns, and the list
// menus popping up on a right-button press over an empty list.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>
#include <QTreeWidget>

#include "net/charset.h"
#include "platform/ini_file.h"
#include "support/process.h"
#include "ui/qt/qt_backend.h"
#include "ui/qt/qt_main.h"  // tests/ui/qt
#include "ui/qt/window_view.h"
#include "ui/windows/catalogue.h"
#include "ui/windows/catalogue_expect.h"

namespace qorvel::windows {
namespace {

using test::spin_until;

QString caption_of(QWidget* w) {
    if (auto* x = qobject_cast<QAbstractButton*>(w)) return x->text();
    if (auto* x = qobject_cast<QLabel*>(w)) return x->text();
    if (auto* x = qobject_cast<QLineEdit*>(w)) return x->text();
    if (auto* x = qobject_cast<QPlainTextEdit*>(w)) return x->toPlainText();
    if (auto* x = qobject_cast<QGroupBox*>(w)) return x->title();
    return {};
}

class Widgets : public ::testing::Test {
  protected:
    ui::qt::QtBackend backend;
    ui::qt::QtPrompts prompts;
    ui::Program program{backend, prompts};
    void TearDown() override {
        program.shutdown();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

TEST_F(Widgets, EveryCataloguedControlByObjectName) {
    for (const auto& ew : test::expected_windows()) {
        SCOPED_TRACE(ew.id);
        auto w = build_window(ew.id, "127.0.0.1:1");
        program.open(w, false);  // modality does not matter for the layout
        auto* view = backend.view(*w);
        ASSERT_TRUE(view);
        EXPECT_EQ(view->objectName().toStdString(), ew.id);
        EXPECT_EQ(view->windowTitle(), QString::fromUtf8(ew.caption));
        EXPECT_EQ(view->size(), QSize(ew.w - ui::qt::kFrameWidth, ew.h - ui::qt::kFrameHeight));
        EXPECT_FALSE(view->windowFlags() & Qt::WindowMinimizeButtonHint);
        EXPECT_EQ(bool(view->windowFlags() & Qt::WindowMaximizeButtonHint),
                  ew.id == std::string(kMainWindow))
            << "only the main window resizes";
        EXPECT_TRUE(view->windowFlags() & Qt::WindowCloseButtonHint);
        QApplication::processEvents();
        for (const auto& ec : test::expected_visible_controls()) {
            if (std::string(ec.window) != ew.id) continue;
            SCOPED_TRACE(ec.name);
            auto* widget = view->findChild<QWidget*>(QString::fromUtf8(ec.name));
            ASSERT_TRUE(widget);
            EXPECT_EQ(widget->geometry(), QRect(ec.x, ec.y, ec.w, ec.h));
            if (ec.caption)
                EXPECT_EQ(caption_of(widget), QString::fromUtf8(ec.caption));
            else
                EXPECT_GT(caption_of(widget).size(), 1000);
        }
        for (const char* hidden : {"编辑框5", "日志编辑框", "超级列表框5"})
            if (ew.id == std::string("main")) {
                auto* widget = view->findChild<QWidget*>(QString::fromUtf8(hidden));
                ASSERT_TRUE(widget) << hidden;
                EXPECT_FALSE(widget->isVisible()) << hidden;
            }
        program.close(*w);
    }
}

TEST_F(Widgets, MainWindowListsPagesAndMenus) {
    auto w = build_main_window("127.0.0.1:1");
    wire_main_window(program, *w);
    program.open(w, false);
    auto* view = backend.view(*w);
    ASSERT_TRUE(spin_until([&] { return view->isVisible(); }));
    for (const auto& ec : test::expected_columns()) {
        SCOPED_TRACE(ec.list);
        auto* list = view->findChild<QTreeWidget*>(QString::fromUtf8(ec.list));
        ASSERT_TRUE(list);
        ASSERT_EQ(list->columnCount(), static_cast<int>(ec.columns.size()));
        for (int i = 0; i < list->columnCount(); ++i) {
            EXPECT_EQ(list->headerItem()->text(i), QString::fromUtf8(ec.columns[i].first));
            EXPECT_EQ(list->columnWidth(i), ec.columns[i].second);
        }
    }
    auto* files = view->findChild<QTreeWidget*>(QString::fromUtf8("超级列表框1"));
    EXPECT_EQ(files->selectionMode(), QAbstractItemView::ExtendedSelection);

    // Switch to the browsing page so the file list is on screen, then right-click it empty.
    (*w)["选择夹1"].set_current(1);
    ASSERT_TRUE(spin_until([&] { return files->isVisible(); }));
    QTest::mouseClick(files->viewport(), Qt::RightButton, {}, QPoint(20, 20));
    ASSERT_TRUE(spin_until([&] { return QApplication::activePopupWidget() != nullptr; }));
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->objectName(), QString::fromUtf8("菜单"));
    QStringList items;
    for (auto* a : menu->actions()) items << a->text();
    EXPECT_EQ(items.size(), 8);
    EXPECT_EQ(items.front(), QString::fromUtf8("删除选中文件"));
    EXPECT_EQ(items.back(), QString::fromUtf8("修改文件名"));

    // Choosing an item raises its chosen event, with no current row.
    int current = -2;
    w->on_chosen("菜单", "删除选中文件",
                 [&](ui::EventArgs&) { current = (*w)["超级列表框1"].current(); });
    menu->actions().front()->trigger();
    ASSERT_TRUE(spin_until([&] { return current != -2; }));
    EXPECT_EQ(current, -1);
    menu->close();
}

QRect geometry_of(QWidget* view, const char* name) {
    auto* w = view->findChild<QWidget*>(QString::fromUtf8(name));
    return w ? w->geometry() : QRect();
}

// Grown, the lists take the growth and the controls beside and under them
// keep their distance to the right and bottom edges; back at the catalogue's
// size every control is where the catalogue puts it.
TEST_F(Widgets, MainWindowGrowsItsListsAndKeepsControlsAtTheirEdges) {
    auto w = build_main_window("127.0.0.1:1");
    program.open(w, false);
    auto* view = backend.view(*w);
    ASSERT_TRUE(spin_until([&] { return view->isVisible(); }));
    const QSize base = view->size();
    EXPECT_EQ(view->minimumSize(), base) << "smaller, the controls would overlap";
    std::map<std::string, QRect> before;
    for (const auto& ec : test::expected_visible_controls())
        if (ec.window == std::string(kMainWindow)) before[ec.name] = geometry_of(view, ec.name);

    const int dw = 200, dh = 150;
    view->resize(base + QSize(dw, dh));
    QApplication::processEvents();
    auto grown = [&](const char* name, int gw, int gh, int mx, int my) {
        SCOPED_TRACE(name);
        const QRect& b = before.at(name);
        EXPECT_EQ(geometry_of(view, name), b.adjusted(mx, my, mx + gw, my + gh));
    };
    for (const char* list :
         {"超级列表框6", "超级列表框4", "超级列表框1", "超级列表框2", "超级列表框3"})
        grown(list, dw, dh, 0, 0);
    grown("选择夹1", dw, dh, 0, 0);
    grown("树型框1", dw, 0, 0, 0);  // the file list under it takes the height
    grown("按钮47", 0, 0, dw, 0);
    grown("标签10", 0, 0, dw, 0);
    grown("按钮38", 0, 0, dw, dh);
    grown("选择框2", 0, 0, 0, dh);
    grown("进度条", dw, 0, 0, dh);
    grown("按钮28", 0, 0, dw, dh);
    grown("编辑框49", 0, 0, 0, dh);
    grown("选择文件", 0, 0, 0, 0);

    view->resize(base);
    QApplication::processEvents();
    for (const auto& [name, rect] : before)
        EXPECT_EQ(geometry_of(view, name.c_str()), rect) << name;
}

// The size, the place and the column widths outlive the window in the
// profile's own section; the profile's other keys stay; an edited or
// impossible entry leaves the catalogue's layout.
TEST_F(Widgets, MainWindowLayoutIsKeptInTheProfile) {
    test::TempDir dir;
    const auto file = dir.path() / "profile.ini";
    ASSERT_TRUE(ini_write(file, "skin", "store", "2"));
    backend.remember_layout(kMainWindow, file, "window");

    auto w = build_main_window("127.0.0.1:1");
    program.open(w, false);
    auto* view = backend.view(*w);
    ASSERT_TRUE(spin_until([&] { return view->isVisible(); }));
    const QSize base = view->size();
    view->resize(base + QSize(120, 80));
    view->move(30, 40);
    auto* files = view->findChild<QTreeWidget*>(QString::fromUtf8("超级列表框1"));
    EXPECT_EQ(files->header()->sectionResizeMode(0), QHeaderView::Interactive);
    files->setColumnWidth(0, 321);
    QApplication::processEvents();
    EXPECT_EQ(ini_read(file, "window", "geometry"), "") << "written when it goes, not per resize";
    // Hidden to the tray and shown again, it is not centred anew.
    w->set_visible(false);
    ASSERT_TRUE(spin_until([&] { return !view->isVisible(); }));
    EXPECT_EQ(ini_read(file, "window", "geometry"), "30,40," + std::to_string(base.width() + 120) +
                                                        "," + std::to_string(base.height() + 80));
    w->set_visible(true);
    ASSERT_TRUE(spin_until([&] { return view->isVisible(); }));
    EXPECT_EQ(view->pos(), QPoint(30, 40));
    program.close(*w);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(ini_read(file, "skin", "store"), "2");
    EXPECT_EQ(ini_read(file, "window", utf8_to_gbk("超级列表框1")), "321,50,160,150");

    w = build_main_window("127.0.0.1:1");
    program.open(w, false);
    view = backend.view(*w);
    ASSERT_TRUE(spin_until([&] { return view->isVisible(); }));
    EXPECT_EQ(view->size(), base + QSize(120, 80));
    EXPECT_EQ(view->pos(), QPoint(30, 40));
    files = view->findChild<QTreeWidget*>(QString::fromUtf8("超级列表框1"));
    EXPECT_EQ(files->columnWidth(0), 321);
    EXPECT_EQ(geometry_of(view, "超级列表框1").size(), QSize(537 + 120, 129 + 80));
    program.close(*w);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    for (const char* bad : {"30,40,100,100", "30,40,x,500", "30,40,99999,500"}) {
        SCOPED_TRACE(bad);
        ASSERT_TRUE(ini_write(file, "window", "geometry", bad));
        ASSERT_TRUE(ini_write(file, "window", utf8_to_gbk("超级列表框1"), "1,2,3"));
        w = build_main_window("127.0.0.1:1");
        program.open(w, false);
        view = backend.view(*w);
        ASSERT_TRUE(spin_until([&] { return view->isVisible(); }));
        EXPECT_EQ(view->size(), base);
        EXPECT_EQ(view->findChild<QTreeWidget*>(QString::fromUtf8("超级列表框1"))->columnWidth(0),
                  250);
        program.close(*w);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

}  // namespace
}  // namespace qorvel::windows

QORVEL_QT_TEST_MAIN
