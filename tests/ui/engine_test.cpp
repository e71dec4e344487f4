// The engine's event model, driven on the test thread through the headless loop.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/charset.h"
#include "ui/engine.h"
#include "ui/headless.h"

namespace qorvel::ui {
namespace {

class EngineTest : public ::testing::Test {
  protected:
    HeadlessBackend backend{
        [](const std::string& e) { ADD_FAILURE() << "the program reported: " << e; }};
    ScriptedPrompts prompts;
    Program program{backend, prompts};
    std::vector<std::string> log;

    std::shared_ptr<Window> make_window(const std::string& id) {
        auto w = std::make_shared<Window>(id, "caption", 300, 200);
        w->add("按钮1", Kind::button, {1, 2, 3, 4}).set_caption("ok");
        w->add("时钟1", Kind::timer);
        w->on_window(Event::created, [this, id](EventArgs&) { log.push_back(id + ":created"); });
        w->on_window(Event::destroyed,
                     [this, id](EventArgs&) { log.push_back(id + ":destroyed"); });
        return w;
    }
};

TEST_F(EngineTest, PostedEventsRunInOrderOneAtATime) {
    auto w = make_window("w");
    program.open(w, false);
    int depth = 0;
    w->on("按钮1", Event::clicked, [&](EventArgs& a) {
        ++depth;
        EXPECT_EQ(depth, 1) << "a handler ran inside another one";
        log.push_back("click:" + a.source);
        --depth;
    });
    w->on("编辑框9", Event::text_changed, [&](EventArgs&) { log.push_back("never"); });
    program.post_event(*w, "按钮1", Event::clicked);
    program.post_event(*w, "时钟1", Event::tick);  // no handler: nothing happens
    program.post_event(*w, "按钮1", Event::clicked);
    EXPECT_EQ(log, (std::vector<std::string>{"w:created"})) << "posted events ran before the loop";
    backend.pump_all();
    EXPECT_EQ(log, (std::vector<std::string>{"w:created", "click:按钮1", "click:按钮1"}));
    EXPECT_TRUE(w->visible());
}

// A misspelt control name in a handler or a worker is not swallowed: it
// reaches the backend's error sink (which fails road tests), and the program
// goes on with the next event.
TEST(EngineErrors, FailingHandlersAndWorkersReachTheErrorSink) {
    std::mutex m;
    std::vector<std::string> reported;
    HeadlessBackend backend{[&](const std::string& e) {
        std::lock_guard lock(m);
        reported.push_back(e);
    }};
    ScriptedPrompts prompts;
    Program program{backend, prompts};
    auto w = std::make_shared<Window>("w", "c", 100, 100);
    w->add("按钮1", Kind::button, {0, 0, 1, 1});
    int after = 0;
    w->on("按钮1", Event::clicked, [&](EventArgs&) { (*w)["按钮99"].set_caption("x"); });
    w->on_window(Event::hidden, [&](EventArgs&) { ++after; });
    program.open(w, false);
    program.post_event(*w, "按钮1", Event::clicked);
    w->set_visible(false);
    backend.pump_all();
    EXPECT_EQ(after, 1) << "the event after the failing one still ran";
    program.start_worker([&] { (*w)["编辑框42"].text(); });
    program.shutdown();
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_NE(reported[0].find("按钮99"), std::string::npos) << reported[0];
    EXPECT_NE(reported[0].find("按钮1/clicked"), std::string::npos) << reported[0];
    EXPECT_NE(reported[1].find("编辑框42"), std::string::npos) << reported[1];
    EXPECT_EQ(backend.errors(), reported);
}

TEST_F(EngineTest, CreatedRunsBeforeTheWindowIsShownAndCloseAsksFirst) {
    auto w = make_window("w");
    w->on_window(Event::created,
                 [&](EventArgs&) { log.push_back(w->visible() ? "shown" : "not shown"); });
    bool allow = false;
    w->on_window(Event::may_close, [&](EventArgs& a) { a.allow = allow; });
    program.open(w, false);
    EXPECT_EQ(log, (std::vector<std::string>{"not shown"}));
    EXPECT_FALSE(program.request_close(*w));
    EXPECT_TRUE(w->alive());
    allow = true;
    EXPECT_TRUE(program.request_close(*w));
    EXPECT_FALSE(w->alive());
    EXPECT_EQ(log.back(), "w:destroyed");
    EXPECT_TRUE(backend.realized().empty());
}

TEST_F(EngineTest, HiddenEventFollowsTheVisibleProperty) {
    auto w = make_window("w");
    int hidden = 0;
    w->on_window(Event::hidden, [&](EventArgs&) { ++hidden; });
    program.open(w, false);
    w->set_visible(false);
    w->set_visible(false);  // no change, no event
    backend.pump_all();
    EXPECT_EQ(hidden, 1);
    w->set_visible(true);
    backend.pump_all();
    EXPECT_EQ(hidden, 1);
}

TEST_F(EngineTest, TimersTickByIntervalAndZeroStopsThem) {
    auto w = make_window("w");
    int ticks = 0;
    w->on("时钟1", Event::tick, [&](EventArgs&) { ++ticks; });
    (*w)["时钟1"].set_interval(1000);
    program.open(w, false);
    backend.advance(std::chrono::milliseconds(999));
    backend.pump_all();
    EXPECT_EQ(ticks, 0);
    backend.advance(std::chrono::milliseconds(2001));
    backend.pump_all();
    EXPECT_EQ(ticks, 3);

    // Stopped from a tick handler: the ticks already queued are dropped too.
    w->on("时钟1", Event::tick, [&](EventArgs&) {
        ++ticks;
        (*w)["时钟1"].set_interval(0);
    });
    backend.advance(std::chrono::milliseconds(5000));
    backend.pump_all();
    EXPECT_EQ(ticks, 4);
    EXPECT_EQ(backend.running_timers(), 0);

    (*w)["时钟1"].set_interval(500);
    backend.pump_all();
    backend.advance(std::chrono::milliseconds(1000));
    backend.pump_all();
    EXPECT_EQ(ticks, 5);  // restarted, then stopped again by its first tick

    program.close(*w);
    EXPECT_EQ(backend.running_timers(), 0);
}

TEST_F(EngineTest, ModalWindowBlocksTheOpenerWhileOtherTimersTick) {
    auto main = make_window("main");
    auto dialog = make_window("dialog");
    int main_ticks = 0;
    (*main)["时钟1"].set_interval(100);
    main->on("时钟1", Event::tick, [&](EventArgs&) {
        ++main_ticks;
        // The clock is moved from inside the loop: the test plays the user.
        if (main_ticks == 3)
            dialog->on("按钮1", Event::clicked, [&](EventArgs&) { program.close(*dialog); });
        if (main_ticks == 3)
            program.post_event(*dialog, "按钮1", Event::clicked);
        else
            backend.advance(std::chrono::milliseconds(100));
    });
    main->on_window(Event::created, [&](EventArgs&) {
        log.push_back("before modal");
        backend.advance(std::chrono::milliseconds(100));
        program.open(dialog, true);
        log.push_back("after modal");
    });
    program.open(main, false);
    EXPECT_EQ(main_ticks, 3);
    EXPECT_EQ(log, (std::vector<std::string>{"before modal", "dialog:created", "dialog:destroyed",
                                             "after modal"}));
    EXPECT_TRUE(dialog->modal());
    EXPECT_FALSE(dialog->alive());
}

TEST_F(EngineTest, ExitEndsNestedLoopsAndRun) {
    auto main = make_window("main");
    auto dialog = make_window("dialog");
    dialog->on("按钮1", Event::clicked, [&](EventArgs&) { program.exit(0); });
    dialog->on_window(Event::created,
                      [&](EventArgs&) { program.post_event(*dialog, "按钮1", Event::clicked); });
    main->on_window(Event::created, [&](EventArgs&) {
        program.open(dialog, true);
        log.push_back(program.exiting() ? "left modal, exiting" : "left modal");
    });
    program.open(main, false);
    EXPECT_EQ(program.run(), 0);
    EXPECT_EQ(log.back(), "left modal, exiting");
    program.exit(3);  // the first code stays
    EXPECT_EQ(program.exit_code(), 0);
}

TEST_F(EngineTest, MenusPopUpAndChosenItemsRaiseTheirHandlers) {
    auto w = make_window("w");
    w->add_menu("菜单", {"删除选中文件", "-", "打开选中文件(网页)"});
    w->add("超级列表框1", Kind::list_view);
    w->on("超级列表框1", Event::right_button, [&](EventArgs&) { program.popup_menu(*w, "菜单"); });
    w->on_chosen("菜单", "打开选中文件(网页)", [&](EventArgs& a) { log.push_back(a.source); });
    program.open(w, false);
    program.raise(*w, "超级列表框1", Event::right_button);
    auto popups = backend.popups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].menu, "菜单");
    EXPECT_EQ(popups[0].items, (std::vector<std::string>{"删除选中文件", "打开选中文件(网页)"}));
    EXPECT_EQ(w->menu("菜单")->items[0].caption, utf8_to_gbk("删除选中文件"));
    EXPECT_TRUE(w->menu("菜单")->items[1].separator());
    program.choose(*w, "菜单", "打开选中文件(网页)");
    backend.pump_all();
    EXPECT_EQ(log.back(), "菜单/打开选中文件(网页)");
}

// A key reaches the focused control's handler for it, else the window's; a
// key nobody handles is left to the toolkit, and modifiers tell keys apart.
TEST_F(EngineTest, KeysReachTheControlThenTheWindowAndOnlyWithTheirModifiers) {
    auto w = make_window("w");
    w->add("超级列表框1", Kind::list_view);
    w->add("编辑框1", Kind::edit);
    auto record = [&](EventArgs& a) {
        log.push_back(a.source + ":" + key_name(a.key) + ":" + std::to_string(a.modifiers));
    };
    w->on_key("超级列表框1", Key::del, kNoModifiers, record);
    w->on_key("超级列表框1", Key::a, kCtrl, record);
    w->on_key("", Key::enter, kNoModifiers, record);
    w->on_key("", Key::del, kNoModifiers, [&](EventArgs&) { log.push_back("window del"); });
    program.open(w, false);
    backend.pump_all();
    log.clear();

    EXPECT_TRUE(program.press_key(*w, "超级列表框1", Key::del));
    EXPECT_TRUE(program.press_key(*w, "编辑框1", Key::enter));  // the window takes it
    EXPECT_TRUE(program.press_key(*w, "超级列表框1", Key::a, kCtrl));
    EXPECT_FALSE(program.press_key(*w, "超级列表框1", Key::a));  // plain typing
    EXPECT_FALSE(program.press_key(*w, "超级列表框1", Key::a, kCtrl | kShift));
    EXPECT_FALSE(program.press_key(*w, "超级列表框1", Key::f2));
    (*w)["超级列表框1"].set_enabled(false);
    EXPECT_FALSE(program.press_key(*w, "超级列表框1", Key::del)) << "no focus while disabled";
    (*w)["超级列表框1"].set_enabled(true);
    EXPECT_TRUE(log.empty()) << "queued, not run inside the toolkit's key handling";
    backend.pump_all();
    EXPECT_EQ(log, (std::vector<std::string>{"超级列表框1|Delete:Delete:0", "|Enter:Enter:0",
                                             "超级列表框1|Ctrl+A:A:2"}));
    // Once closed, nothing more arrives.
    program.close(*w);
    backend.pump_all();
    log.clear();
    program.press_key(*w, "超级列表框1", Key::del);
    backend.pump_all();
    EXPECT_TRUE(log.empty());
}

TEST_F(EngineTest, MessageBoxesAnswerFromTheScript) {
    prompts.push_answer(kAnswerYes);
    EXPECT_EQ(program.message_box("a", MessageButtons::yes_no), kAnswerYes);
    EXPECT_EQ(program.message_box("b", MessageButtons::yes_no), kAnswerNo);
    EXPECT_EQ(program.message_box("c"), kAnswerOk);
    auto asked = prompts.asked();
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].text, "a");
    EXPECT_EQ(asked[2].buttons, MessageButtons::ok);
}

TEST(ControlModel, ListViewTreeAndTabOperations) {
    Control list("超级列表框1", Kind::list_view);
    list.add_column("a", 10);
    list.add_column("b", 20);
    EXPECT_EQ(list.insert_row(-1, "r0"), 0);
    EXPECT_EQ(list.insert_row(99, "r2"), 1);
    EXPECT_EQ(list.insert_row(1, "r1", 7), 1);
    EXPECT_TRUE(list.set_cell(1, 3, "x"));
    EXPECT_FALSE(list.set_cell(5, 0, "x"));
    EXPECT_EQ(list.cell(1, 0), "r1");
    EXPECT_EQ(list.cell(1, 3), "x");
    EXPECT_EQ(list.cell(1, 2), "");
    EXPECT_EQ(list.row_value(1), 7);
    list.set_current(2);
    EXPECT_TRUE(list.delete_row(0));
    EXPECT_EQ(list.current(), 1) << "current row follows a deletion above it";
    EXPECT_EQ(list.cell(list.current(), 0), "r2");
    list.set_current(9);
    EXPECT_EQ(list.current(), -1);
    EXPECT_TRUE(list.selected_rows().empty());

    // By item value: the row is found wherever it has moved to.
    Control queue("超级列表框2", Kind::list_view);
    for (long long id : {41, 42, 43}) queue.insert_row(-1, std::to_string(id), id);
    queue.set_current(2);
    EXPECT_TRUE(queue.delete_row_of(41));
    EXPECT_EQ(queue.current(), 1);
    EXPECT_TRUE(queue.set_cell_of(43, 2, "50%"));
    EXPECT_EQ(queue.cell(1, 2), "50%");
    EXPECT_FALSE(queue.set_cell_of(41, 2, "gone")) << "a deleted row takes no more writes";
    EXPECT_TRUE(queue.set_row_tooltip_of(43, "why"));
    EXPECT_EQ(queue.row_tooltip(1), "why");
    EXPECT_EQ(queue.rows()[1].tooltip, "why");
    EXPECT_EQ(queue.row_tooltip(0), "");
    EXPECT_FALSE(queue.set_row_tooltip_of(41, "gone"));
    EXPECT_FALSE(queue.delete_row_of(41));
    EXPECT_TRUE(queue.delete_row_of(43));
    EXPECT_EQ(queue.current(), -1);
    EXPECT_EQ(queue.find_row(42), 0);

    Control multi("m", Kind::list_view);
    multi.set_multi_select();
    for (int i = 0; i < 4; ++i) multi.insert_row(-1, std::to_string(i));
    multi.select_row(1);
    multi.select_row(3);
    EXPECT_EQ(multi.selected_rows(), (std::vector<int>{1, 3}));
    Control single("s", Kind::list_view);
    for (int i = 0; i < 4; ++i) single.insert_row(-1, std::to_string(i));
    single.select_row(1);
    single.select_row(3);
    EXPECT_EQ(single.selected_rows(), (std::vector<int>{3}));

    Control tree("树型框1", Kind::tree);
    int root = tree.add_tree_item(kTreeRoot, "root", 0);
    int a = tree.add_tree_item(root, "a", 11);
    int b = tree.add_tree_item(a, "b", 12);
    tree.add_tree_item(root, "c", 13);
    EXPECT_EQ(tree.add_tree_item(999, "orphan"), 0);
    EXPECT_EQ(tree.tree_count(), 4);
    EXPECT_EQ(tree.tree_item_value(b), 12);
    EXPECT_EQ(tree.tree_item_parent(b), a);
    std::vector<std::string> order;
    for (auto& item : tree.tree_items()) order.push_back(item.text);
    EXPECT_EQ(order, (std::vector<std::string>{"root", "a", "b", "c"}));
    tree.set_current(b);
    tree.expand(root);
    EXPECT_TRUE(tree.expanded(root));
    EXPECT_TRUE(tree.delete_tree_item(a));
    EXPECT_EQ(tree.tree_count(), 2);
    EXPECT_EQ(tree.current(), -1) << "deleting an ancestor drops the current item";
    EXPECT_EQ(tree.tree_item_text(b), "");

    Control tab("选择夹1", Kind::tab);
    tab.add_page("p0");
    tab.add_page("p1");
    tab.add_page("p2");
    EXPECT_EQ(tab.current(), 0);
    tab.set_current(-4);
    EXPECT_EQ(tab.current(), 0);
    tab.set_current(7);
    EXPECT_EQ(tab.current(), 2);
    tab.set_page_title(1, "new");
    EXPECT_EQ(tab.page_title(1), "new");

    Control combo("组合框1", Kind::combo);
    combo.add_item("x");
    combo.add_item("y");
    combo.set_current(1);
    EXPECT_TRUE(combo.delete_item(0));
    EXPECT_EQ(combo.current(), 0);
    EXPECT_EQ(combo.item_text(0), "y");
    combo.clear_items();
    EXPECT_EQ(combo.current(), -1);

    Control bar("进度条", Kind::progress);
    bar.set_position(150);
    EXPECT_EQ(bar.position(), 100);
}

}  // namespace
}  // namespace qorvel::ui
