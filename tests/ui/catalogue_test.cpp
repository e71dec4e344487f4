// The window catalogue through the engine, without a display.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/charset.h"
#include "ui/headless.h"
#include "ui/windows/catalogue.h"
#include "ui/windows/catalogue_expect.h"

namespace qorvel::windows {
namespace {

using namespace std::chrono_literals;
using ui::Event;
using ui::Key;
using ui::Kind;

TEST(Catalogue, EveryWindowAndVisibleControlAsCatalogued) {
    for (const auto& ew : test::expected_windows()) {
        SCOPED_TRACE(ew.id);
        auto w = build_window(ew.id, "127.0.0.1:18080");
        ASSERT_TRUE(w);
        EXPECT_EQ(gbk_to_utf8(w->caption()), ew.caption);
        EXPECT_EQ(w->width(), ew.w);
        EXPECT_EQ(w->height(), ew.h);
        EXPECT_EQ(w->fixed_size(), ew.id != std::string(kMainWindow))
            << "only the main window resizes";
        EXPECT_EQ(w->position_state(), 1) << "opens centred";
        EXPECT_EQ(opens_modal(ew.id), ew.modal);
        EXPECT_EQ(w->close_on_escape(), ew.escape_closes);
        int listed = 0;
        for (const auto& ec : test::expected_visible_controls()) {
            if (std::string(ec.window) != ew.id) continue;
            ++listed;
            SCOPED_TRACE(ec.name);
            ASSERT_TRUE(w->has(ec.name));
            auto& c = (*w)[ec.name];
            EXPECT_STREQ(ui::kind_name(c.kind()), ec.kind);
            EXPECT_EQ(c.rect(), (ui::Rect{ec.x, ec.y, ec.w, ec.h}));
            EXPECT_TRUE(c.visible());
            if (ec.caption) {
                EXPECT_EQ(gbk_to_utf8(c.caption()), ec.caption);
            }
        }
        // Nothing visible beyond the catalogue (timers and drop targets have no view).
        int shown = 0;
        for (auto* c : w->controls())
            if (c->visible() && c->kind() != Kind::timer && c->kind() != Kind::drop_target) ++shown;
        EXPECT_EQ(shown, listed);
    }
}

TEST(Catalogue, MainWindowPagesListsMenusTimersAndHolders) {
    auto w = build_main_window("web.example:8080");
    auto titles = [&](const char* tab) {
        std::vector<std::string> out;
        for (int i = 0; i < (*w)[tab].page_count(); ++i)
            out.push_back(gbk_to_utf8((*w)[tab].page_title(i)));
        return out;
    };
    EXPECT_EQ(titles("选择夹1"),
              (std::vector<std::string>{"上传文件", "目录/文件/分享", "下载列表"}));
    EXPECT_EQ(titles("选择夹3"), (std::vector<std::string>{"客户端上传", "最近已完成（客户端）"}));
    EXPECT_EQ(titles("选择夹2"), (std::vector<std::string>{"下载中", "已完成"}));
    for (const char* tab : {"选择夹1", "选择夹2", "选择夹3"}) EXPECT_EQ((*w)[tab].current(), 0);
    EXPECT_TRUE((*w)["选择夹1"].wrap_tabs());
    EXPECT_EQ((*w)["选择夹3"].parent(), "选择夹1");
    EXPECT_EQ((*w)["超级列表框4"].parent(), "选择夹3");
    EXPECT_EQ((*w)["超级列表框4"].page(), 1);
    EXPECT_EQ((*w)["编辑框49"].parent(), "选择夹2");

    for (const auto& ec : test::expected_columns()) {
        SCOPED_TRACE(ec.list);
        auto cols = (*w)[ec.list].columns();
        ASSERT_EQ(cols.size(), ec.columns.size());
        for (size_t i = 0; i < cols.size(); ++i) {
            EXPECT_EQ(gbk_to_utf8(cols[i].title), ec.columns[i].first);
            EXPECT_EQ(cols[i].width, ec.columns[i].second);
        }
    }
    EXPECT_TRUE((*w)["超级列表框1"].multi_select());
    EXPECT_FALSE((*w)["超级列表框2"].multi_select());

    auto items = [&](const char* box) {
        std::vector<std::string> out;
        for (auto& it : (*w)[box].items()) out.push_back(gbk_to_utf8(it.text));
        return out;
    };
    EXPECT_EQ(items("组合框8"), (std::vector<std::string>{"文件", "文件夹"}));
    EXPECT_EQ(items("组合框6"), (std::vector<std::string>{"同名覆盖", "同名更改"}));
    EXPECT_EQ((*w)["组合框1"].item_count(), 0);

    std::vector<std::pair<std::string, std::vector<std::string>>> menus = {
        {"菜单",
         {"删除选中文件", "打开选中文件(网页)", "添加进下载列表并下载", "移动选中文件",
          "获取文件分享链接", "上传文件到此", "创建外链", "修改文件名"}},
        {"目录",
         {"下载该文件夹,最多500个,不含目录", "打开文件夹(网页)", "删除文件夹", "重命名",
          "获取文件夹分享链接", "创建文件夹", "上传文件到此处", "创建外链文件"}},
        {"托盘", {"打开软件", "注销", "退出"}},
        {"开始菜单", {"删除任务", "暂停任务", "继续任务", "重试任务"}},
        {"完成菜单", {"打开文件", "访问文件夹"}},
        {"上传菜单",
         {"删除该上传任务", "清空上传任务", "添加文件", "添加文件夹", "暂停任务", "继续任务",
          "重试任务"}},
        {"上传完成菜单",
         {"打开该文件", "打开文件夹", "打开网页文件链接", "复制网页分享链接", "复制该文件直链"}},
    };
    ASSERT_EQ(w->menus().size(), menus.size());
    for (size_t i = 0; i < menus.size(); ++i) {
        EXPECT_EQ(w->menus()[i].name, menus[i].first);
        std::vector<std::string> got;
        for (auto& item : w->menus()[i].items) got.push_back(gbk_to_utf8(item.caption));
        EXPECT_EQ(got, menus[i].second);
    }

    EXPECT_EQ((*w)["时钟7"].interval(), 2000);
    EXPECT_EQ((*w)["时钟5"].interval(), 1000);
    EXPECT_EQ((*w)["时钟3"].interval(), 30000);
    EXPECT_EQ((*w)["上传速度时钟"].interval(), 0);
    EXPECT_EQ((*w)["拖放对象1"].kind(), Kind::drop_target);

    struct Holder {
        const char* name;
        std::string content;
    };
    std::vector<Holder> holders = {
        {"编辑框3", ""},
        {"编辑框47", ".*?<br />"},
        {"编辑框5",
         "<div style=\"display:none;\">pid：.*?<文件名：.*?<大小：.*?<日期：.*?<下载量：.*?< "
         "</div><br />"},
        {"编辑框26", "id=\"fwmm\" value=\""},
        {"编辑框48", ""},
        {"列表框2", ""},
        {"列表框3", ""},
        {"超级列表框5", ""},
        {"文件路径编辑框", ""},
        {"服务器ip编辑框", "web.example:8080"},
        {"用户名编辑框", ""},
        {"密码编辑框", ""},
        {"日志编辑框", ""},
    };
    for (const auto& h : holders) {
        SCOPED_TRACE(h.name);
        EXPECT_FALSE((*w)[h.name].visible());
        EXPECT_EQ(gbk_to_utf8((*w)[h.name].text()), h.content);
    }
    EXPECT_EQ((*w)["日志编辑框"].parent(), "分组框1");
    EXPECT_EQ((*w)["超级列表框5"].columns().at(0).width, 300);
}

TEST(Catalogue, SmallWindowDetails) {
    auto login = build_login_window();
    EXPECT_TRUE((*login)["编辑框2"].masked());
    EXPECT_FALSE((*login)["编辑框1"].masked());
    EXPECT_FALSE((*login)["组合框1"].visible()) << "the skin box stays hidden";
    EXPECT_GT((*login)["组合框1"].item_count(), 0);
    auto reg = build_registration_window();
    EXPECT_TRUE((*reg)["编辑框2"].masked());
    EXPECT_TRUE((*reg)["编辑框3"].masked());
    auto recovery = build_password_recovery_window();
    for (const char* name : {"编辑框2", "编辑框3"}) EXPECT_FALSE((*recovery)[name].masked());
    EXPECT_FALSE((*build_create_folder_window())["编辑框4"].enabled());
    auto ops = build_file_operation_window();
    for (const char* name : {"组合框1", "按钮1", "按钮2"}) EXPECT_FALSE((*ops)[name].enabled());
    auto web = build_web_login_window("10.1.2.3:81");
    EXPECT_EQ((*web)["超文本浏览框1"].url(), "http://10.1.2.3:81/QQ/example/oauth/index.php");
    EXPECT_EQ((*web)["时钟1"].interval(), 3000);
    auto terms = build_terms_window();
    EXPECT_TRUE((*terms)["编辑框1"].multiline());
    EXPECT_TRUE((*terms)["编辑框1"].vertical_scroll());
    size_t bytes = (*terms)["编辑框1"].text().size();
    EXPECT_GT(bytes, 3300u);
    EXPECT_LT(bytes, 3900u);
    EXPECT_FALSE(gbk_to_utf8(terms_text()).empty()) << "terms text is valid GBK";
}

class WiredMain : public ::testing::Test {
  protected:
    ui::HeadlessBackend backend{
        [](const std::string& e) { ADD_FAILURE() << "the program reported: " << e; }};
    ui::ScriptedPrompts prompts;
    ui::Program program{backend, prompts};
};

TEST_F(WiredMain, RightButtonOnEmptyListsShowsTheirMenus) {
    auto w = build_main_window("h:1");
    wire_main_window(program, *w);
    program.create(w);
    const std::pair<const char*, const char*> expected[] = {
        {"超级列表框1", "菜单"},         {"树型框1", "目录"},         {"超级列表框2", "开始菜单"},
        {"超级列表框3", "完成菜单"},     {"超级列表框6", "上传菜单"}, {"列表框1", "上传菜单"},
        {"超级列表框4", "上传完成菜单"},
    };
    for (const auto& [list, menu] : expected) program.raise(*w, list, Event::right_button);
    auto popups = backend.popups();
    ASSERT_EQ(popups.size(), std::size(expected));
    for (size_t i = 0; i < popups.size(); ++i) EXPECT_EQ(popups[i].menu, expected[i].second);
    EXPECT_EQ((*w)["超级列表框1"].current(), -1);
}

// The menu key and Shift+F10 open what a right click opens, at the current row;
// Ctrl+A selects every row of the multi-select list and leaves the others alone.
TEST_F(WiredMain, MenuKeysOpenTheListMenusAtTheCurrentRowAndCtrlASelectsAll) {
    auto w = build_main_window("h:1");
    wire_main_window(program, *w);
    program.create(w);
    ui::Control& files = (*w)["超级列表框1"];
    ui::Control& queue = (*w)["超级列表框2"];
    for (int i = 0; i < 3; ++i) {
        files.insert_row(-1, "f" + std::to_string(i), i);
        queue.insert_row(-1, "q" + std::to_string(i), i);
    }
    files.set_current(2);
    EXPECT_TRUE(program.press_key(*w, "超级列表框1", Key::menu));
    EXPECT_TRUE(program.press_key(*w, "树型框1", Key::f10, ui::kShift));
    EXPECT_FALSE(program.press_key(*w, "树型框1", Key::f10)) << "F10 alone is the toolkit's";
    backend.pump_all();
    auto popups = backend.popups();
    ASSERT_EQ(popups.size(), 2u);
    EXPECT_EQ(popups[0].menu, "菜单");
    EXPECT_EQ(popups[0].anchor, "超级列表框1");
    EXPECT_EQ(popups[0].row, 2);
    EXPECT_EQ(popups[1].menu, "目录");
    EXPECT_EQ(popups[1].anchor, "树型框1");

    EXPECT_TRUE(program.press_key(*w, "超级列表框1", Key::a, ui::kCtrl));
    EXPECT_FALSE(program.press_key(*w, "超级列表框2", Key::a, ui::kCtrl)) << "one row at a time";
    backend.pump_all();
    EXPECT_EQ(files.selected_rows(), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(files.current(), 2);
    EXPECT_TRUE(queue.selected_rows().empty());
}

TEST_F(WiredMain, ProgressMirrorEveryTwoSeconds) {
    auto w = build_main_window("h:1");
    wire_main_window(program, *w);
    (*w)["时钟3"].set_interval(0);
    (*w)["时钟5"].set_interval(0);
    program.create(w);
    (*w)["进度条"].set_position(42);
    backend.advance(1999ms);
    backend.pump_all();
    EXPECT_EQ((*w)["进度条1"].position(), 0);
    backend.advance(1ms);
    backend.pump_all();
    EXPECT_EQ((*w)["进度条1"].position(), 42);
}

TEST_F(WiredMain, LoginOpensItsChildrenModallyAndEscapeClosesThem) {
    auto login = build_login_window();
    std::vector<std::string> built;
    wire_login_window(program, *login, "h:1", [&](ui::Window& child) {
        built.push_back(child.id());
        // The user presses Escape as soon as the child is up.
        child.on_window(Event::created, [&](ui::EventArgs& a) {
            program.post([this, w = a.window] {
                if (w->close_on_escape()) program.request_close(*w);
            });
        });
    });
    program.open(login, false);
    program.raise(*login, "按钮2", Event::clicked);
    program.raise(*login, "按钮3", Event::clicked);
    program.raise(*login, "按钮4", Event::clicked);
    EXPECT_EQ(built, (std::vector<std::string>{"registration", "password_recovery", "web_login"}));
    EXPECT_TRUE(login->alive());
}

}  // namespace
}  // namespace qorvel::windows
