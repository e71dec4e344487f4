// The Qt layer over the engine, offscreen: models drive widgets from any
// thread, user input reaches the model before the handler, prompts answer 5/6/0.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>

#include <atomic>
#include <thread>

#include "net/charset.h"
#include "qt_main.h"
#include "ui/qt/list_view_sync.h"
#include "ui/qt/qt_backend.h"
#include "ui/qt/window_view.h"

namespace qorvel::ui::qt {
namespace {

using test::spin_until;

class QtLayer : public ::testing::Test {
  protected:
    QtBackend backend;
    QtPrompts prompts;
    Program program{backend, prompts};
    std::shared_ptr<Window> w = std::make_shared<Window>("w", utf8_to_gbk("窗口"), 400, 300);

    void SetUp() override {
        w->add("编辑框1", Kind::edit, {10, 10, 100, 24});
        w->add("标签1", Kind::label, {10, 40, 100, 24});
        w->add("选择框1", Kind::check, {10, 70, 100, 24}).set_caption(utf8_to_gbk("记住"));
        w->add("选择夹1", Kind::tab, {120, 10, 250, 200});
        (*w)["选择夹1"].add_page("a");
        (*w)["选择夹1"].add_page("b");
        w->add("按钮1", Kind::button, {10, 20, 60, 24}).place_in("选择夹1", 1);
        auto& list = w->add("超级列表框1", Kind::list_view, {10, 100, 100, 100});
        list.add_column("c", 50);
        list.set_multi_select();
    }
    void TearDown() override {
        program.shutdown();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    template <class T>
    T* find(const char* name) {
        return backend.view(*w)->findChild<T*>(QString::fromUtf8(name));
    }
};

TEST_F(QtLayer, WorkerWritesReachTheWidgetsWithoutWaiting) {
    program.open(w, false);
    ASSERT_TRUE(spin_until([&] { return backend.view(*w)->isVisible(); }));
    EXPECT_EQ(backend.view(*w)->windowTitle(), QString::fromUtf8("窗口"));
    EXPECT_EQ(backend.view(*w)->size(), QSize(400 - kFrameWidth, 300 - kFrameHeight));
    std::atomic<bool> done{false};
    std::thread worker([&] {
        (*w)["标签1"].set_caption(utf8_to_gbk("您好"));
        for (int i = 0; i < 50; ++i) (*w)["超级列表框1"].insert_row(-1, std::to_string(i));
        (*w)["超级列表框1"].set_cell(3, 0, utf8_to_gbk("第三"));
        (*w)["选择框1"].set_checked(true);
        (*w)["编辑框1"].set_enabled(false);
        done = true;  // the window thread is not pumping: nothing here waited for it
    });
    worker.join();
    EXPECT_TRUE(done);
    auto* tree = find<QTreeWidget>("超级列表框1");
    ASSERT_TRUE(spin_until([&] { return tree->topLevelItemCount() == 50; }));
    EXPECT_EQ(tree->topLevelItem(3)->text(0), QString::fromUtf8("第三"));
    EXPECT_EQ(find<QLabel>("标签1")->text(), QString::fromUtf8("您好"));
    EXPECT_TRUE(find<QCheckBox>("选择框1")->isChecked());
    EXPECT_FALSE(find<QLineEdit>("编辑框1")->isEnabled());
}

TEST_F(QtLayer, UserInputUpdatesTheModelBeforeTheHandlerRuns) {
    std::string seen_text;
    int seen_page = -1;
    bool seen_checked = false;
    w->on("编辑框1", Event::text_changed,
          [&](EventArgs&) { seen_text = gbk_to_utf8((*w)["编辑框1"].text()); });
    w->on("选择夹1", Event::page_changed,
          [&](EventArgs&) { seen_page = (*w)["选择夹1"].current(); });
    w->on("选择框1", Event::clicked, [&](EventArgs&) { seen_checked = (*w)["选择框1"].checked(); });
    program.open(w, false);
    ASSERT_TRUE(spin_until([&] { return backend.view(*w)->isVisible(); }));
    auto* button = find<QWidget>("按钮1");
    EXPECT_FALSE(button->isVisible()) << "a control of page 1 is hidden on page 0";

    QTest::keyClicks(find<QLineEdit>("编辑框1"), "ab");
    ASSERT_TRUE(spin_until([&] { return seen_text == "ab"; }))
        << seen_text << "/" << find<QLineEdit>("编辑框1")->text().toStdString();
    find<QTabWidget>("选择夹1")->setCurrentIndex(1);  // as a click on the tab does
    ASSERT_TRUE(spin_until([&] { return seen_page == 1; }));
    EXPECT_TRUE(button->isVisible());
    QTest::mouseClick(find<QCheckBox>("选择框1"), Qt::LeftButton, {}, QPoint(6, 12));
    ASSERT_TRUE(spin_until([&] { return seen_checked; }));

    // A program write of the current page moves the widget but raises nothing.
    seen_page = -1;
    (*w)["选择夹1"].set_current(0);
    ASSERT_TRUE(spin_until([&] { return find<QTabWidget>("选择夹1")->currentIndex() == 0; }));
    QApplication::processEvents();
    EXPECT_EQ(seen_page, -1);
    EXPECT_FALSE(button->isVisible());
}

// A real key press on a widget reaches the engine's key event: the list's own
// handlers first (the widget then does nothing with it), the window's for
// what an edit box lets through; other keys stay the widget's.
TEST_F(QtLayer, KeyPressesOnWidgetsReachTheEngine) {
    std::vector<std::string> seen;
    auto record = [&](EventArgs& a) { seen.push_back(a.source); };
    w->on_key("超级列表框1", Key::del, kNoModifiers, record);
    w->on_key("超级列表框1", Key::a, kCtrl, record);
    w->on_key("超级列表框1", Key::space, kNoModifiers, record);
    w->on_key("超级列表框1", Key::r, kCtrl, record);
    w->on_key("", Key::enter, kNoModifiers, record);
    for (int i = 0; i < 3; ++i) (*w)["超级列表框1"].insert_row(-1, "r", i);
    program.open(w, false);
    ASSERT_TRUE(spin_until([&] { return backend.view(*w)->isVisible(); }));
    auto* list = find<QTreeWidget>("超级列表框1");
    ASSERT_TRUE(spin_until([&] { return list->topLevelItemCount() == 3; }));

    QTest::keyClick(list, Qt::Key_Delete);
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(find<QLineEdit>("编辑框1"), Qt::Key_Return);
    QTest::keyClick(list, Qt::Key_F2);
    ASSERT_TRUE(spin_until([&] { return seen.size() >= 3; }));
    QApplication::processEvents();
    EXPECT_EQ(seen,
              (std::vector<std::string>{"超级列表框1|Delete", "超级列表框1|Ctrl+A", "|Enter"}));
    EXPECT_TRUE(list->selectedItems().isEmpty()) << "Ctrl+A was the engine's, not the widget's";

    // The transfer lists' keys; a plain R stays the list's own search.
    seen.clear();
    QTest::keyClick(list, Qt::Key_R);
    QTest::keyClick(list, Qt::Key_R, Qt::ControlModifier);
    QTest::keyClick(list, Qt::Key_Space);
    ASSERT_TRUE(spin_until([&] { return seen.size() >= 2; }));
    QApplication::processEvents();
    EXPECT_EQ(seen, (std::vector<std::string>{"超级列表框1|Ctrl+R", "超级列表框1|Space"}));
    EXPECT_FALSE(list->selectedItems().isEmpty()) << "the search found the row named r";
}

// A cell too narrow for its text shows the text when the mouse rests on it;
// a row with a tooltip of its own keeps it; a cell that fits shows none.
TEST_F(QtLayer, CutCellsShowTheirFullTextAsTooltip) {
    auto& list = (*w)["超级列表框1"];
    list.insert_row(-1, "a much longer text than fits into fifty pixels", 1);
    list.insert_row(-1, "ok", 2);
    list.insert_row(-1, "another text much longer than the column", 3);
    list.set_row_tooltip_of(3, "row tip");
    program.open(w, false);
    ASSERT_TRUE(spin_until([&] { return backend.view(*w)->isVisible(); }));
    auto* tree = find<QTreeWidget>("超级列表框1");
    ASSERT_TRUE(spin_until([&] { return tree->topLevelItemCount() == 3; }));
    auto index = [&](int row) { return tree->model()->index(row, 0); };
    EXPECT_EQ(cell_tooltip(tree, index(0)),
              QString::fromUtf8("a much longer text than fits into fifty pixels"));
    EXPECT_EQ(cell_tooltip(tree, index(1)), QString());
    EXPECT_EQ(cell_tooltip(tree, index(2)), QString::fromUtf8("row tip"));
    tree->setColumnWidth(0, 2000);  // widened by its header
    EXPECT_EQ(cell_tooltip(tree, index(0)), QString());

    // The mouse resting over the cut cell.
    tree->setColumnWidth(0, 50);
    QPoint at = tree->visualRect(index(0)).center();
    QHelpEvent help(QEvent::ToolTip, at, tree->viewport()->mapToGlobal(at));
    QApplication::sendEvent(tree->viewport(), &help);
    EXPECT_EQ(QToolTip::text(),
              QString::fromUtf8("a much longer text than fits into fifty pixels"));
    QToolTip::hideText();
}

// A caption a little too wide for its box gets a smaller font; a label whose
// data is far too wide shows its start and the whole text as tooltip, until
// a text that fits comes.
TEST_F(QtLayer, CaptionsTooWideShrinkThenShorten) {
    program.open(w, false);
    ASSERT_TRUE(spin_until([&] { return backend.view(*w)->isVisible(); }));
    auto* label = find<QLabel>("标签1");
    const QFont normal = label->font();
    const int glyph = QFontMetrics(normal).horizontalAdvance(QString::fromUtf8("保"));
    ASSERT_GT(glyph, 0);
    // Slightly wider than the 100 pixels at the normal size.
    QString slightly(100 / glyph + 1, QChar(0x4FDD));
    (*w)["标签1"].set_caption(utf8_to_gbk(slightly.toStdString()));
    ASSERT_TRUE(spin_until([&] { return label->text() == slightly; }));
    EXPECT_LT(label->font().pointSizeF(), normal.pointSizeF());
    EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(slightly), label->width());
    EXPECT_TRUE(label->toolTip().isEmpty());

    const std::string path = "/home/user/a/very/long/folder/name/with/a/file.bin";
    (*w)["标签1"].set_caption(path);
    ASSERT_TRUE(spin_until([&] { return label->toolTip() == QString::fromStdString(path); }));
    EXPECT_TRUE(label->text().endsWith(QChar(0x2026))) << label->text().toStdString();
    EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->width());

    (*w)["标签1"].set_caption("ok");
    ASSERT_TRUE(spin_until([&] { return label->text() == "ok"; }));
    EXPECT_TRUE(label->toolTip().isEmpty());
    EXPECT_EQ(label->font(), normal);
}

TEST_F(QtLayer, CloseButtonAsksTheWindowAndEscapeFollowsTheFrameStyle) {
    bool allow = false;
    int asked = 0;
    w->on_window(Event::may_close, [&](EventArgs& a) {
        ++asked;
        a.allow = allow;
    });
    w->set_close_on_escape(false);
    program.open(w, false);
    ASSERT_TRUE(spin_until([&] { return backend.view(*w)->isVisible(); }));
    QTest::keyClick(backend.view(*w), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_EQ(asked, 0) << "Escape ignored in a window that does not close on it";
    backend.view(*w)->close();
    ASSERT_TRUE(spin_until([&] { return asked == 1; }));
    EXPECT_TRUE(w->alive());
    allow = true;
    backend.view(*w)->close();
    ASSERT_TRUE(spin_until([&] { return !w->alive(); }));
    EXPECT_EQ(backend.view(*w), nullptr);
}

TEST_F(QtLayer, MessageBoxCaptionAndResults) {
    auto answer_with = [](QMessageBox::StandardButton button, QString* caption) {
        QTimer::singleShot(50, [button, caption] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            *caption = box->windowTitle();
            box->button(button)->click();
        });
    };
    QString caption;
    answer_with(QMessageBox::Yes, &caption);
    EXPECT_EQ(program.message_box(utf8_to_gbk("问题"), MessageButtons::yes_no), kAnswerYes);
    EXPECT_EQ(caption, QString::fromUtf8("信息："));
    answer_with(QMessageBox::No, &caption);
    EXPECT_EQ(program.message_box("q", MessageButtons::yes_no), kAnswerNo);
    answer_with(QMessageBox::Ok, &caption);
    EXPECT_EQ(program.message_box("q", MessageButtons::ok), kAnswerOk);
}

// Windows closed and dropped while their widgets still have events queued:
// mouse presses, repaints and model changes from a worker must reach nothing
// that is gone. Many rounds in one process make a dangling view show at once
// (under the address sanitizer, every time).
TEST(QtLifetime, ClosedWindowsIgnoreEventsStillQueuedForTheirWidgets) {
    QtBackend backend;
    QtPrompts prompts;
    Program program{backend, prompts};
    int handled = 0;
    for (int round = 0; round < 40; ++round) {
        auto w = std::make_shared<Window>("w" + std::to_string(round), "t", 300, 200);
        w->add("标签1", Kind::label, {10, 10, 100, 20});
        w->add("超级列表框1", Kind::list_view, {10, 40, 200, 80}).add_column("c", 50);
        w->add("树型框1", Kind::tree, {220, 10, 60, 100});
        w->add("编辑框1", Kind::edit, {10, 130, 100, 20});
        w->on("标签1", Event::left_button, [&](EventArgs&) { ++handled; });
        w->on("超级列表框1", Event::right_button, [&](EventArgs&) { ++handled; });
        program.open(w, false);
        WindowView* view = backend.view(*w);
        ASSERT_TRUE(view);
        QApplication::processEvents();
        auto press = [](QWidget* target, Qt::MouseButton button, QEvent::Type type) {
            QPointF at(5, 5);
            QCoreApplication::postEvent(target, new QMouseEvent(type, at, target->mapToGlobal(at),
                                                                button, button, Qt::NoModifier));
        };
        auto* list = view->findChild<QTreeWidget*>(QString::fromUtf8("超级列表框1"));
        auto* tree = view->findChild<QTreeWidget*>(QString::fromUtf8("树型框1"));
        ASSERT_TRUE(list && tree);
        press(view->findChild<QLabel*>(QString::fromUtf8("标签1")), Qt::LeftButton,
              QEvent::MouseButtonPress);
        press(list->viewport(), Qt::RightButton, QEvent::MouseButtonPress);
        press(list->viewport(), Qt::LeftButton, QEvent::MouseButtonDblClick);
        press(tree->viewport(), Qt::RightButton, QEvent::MouseButtonPress);
        view->update();
        list->viewport()->update();
        // Model changes from a worker queue syncs for the view.
        std::thread worker([w] {
            for (int i = 0; i < 20; ++i) {
                (*w)["超级列表框1"].insert_row(-1, std::to_string(i));
                (*w)["编辑框1"].set_text(std::to_string(i));
                (*w)["树型框1"].add_tree_item(0, std::to_string(i));
            }
            w->set_caption("x");
        });
        worker.join();
        program.close(*w);
        w.reset();  // the last owner outside the toolkit
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::processEvents();
    }
    EXPECT_EQ(handled, 0) << "events of a closed window ran its handlers";
}

}  // namespace
}  // namespace qorvel::ui::qt

QORVEL_QT_TEST_MAIN
