#include "ui/windows/catalogue.h"

#include "net/charset.h"

namespace qorvel::windows {

using ui::Control;
using ui::Kind;
using ui::Rect;
using ui::Window;

namespace {

// Places a control; caption is UTF-8 source text, stored as GBK.
Control& put(Window& w, const std::string& name, Kind kind, Rect rect = {},
             const std::string& caption = {}, const std::string& parent = {}, int page = -1) {
    Control& c = w.add(name, kind, rect);
    if (!caption.empty()) c.set_text(utf8_to_gbk(caption));
    if (!parent.empty()) c.place_in(parent, page);
    return c;
}

void add_columns(Control& list, std::initializer_list<std::pair<const char*, int>> columns) {
    for (const auto& [title, width] : columns) list.add_column(utf8_to_gbk(title), width);
}

void add_items(Control& box, std::initializer_list<const char*> items) {
    for (const char* item : items) box.add_item(utf8_to_gbk(item));
}

// The frame every small window shares: fixed, close button only, centred,
// closed by Escape.
// Ctrl+A: every row, the current row kept (the first one when there is none).
void select_all(Control& list) {
    std::vector<int> all(list.row_count());
    for (int i = 0; i < static_cast<int>(all.size()); ++i) all[i] = i;
    int current = list.current();
    list.set_selection(all, current >= 0 || all.empty() ? current : 0);
}

std::shared_ptr<Window> small_window(const char* id, const char* caption, int w, int h) {
    auto win = std::make_shared<Window>(id, utf8_to_gbk(caption), w, h);
    win->set_fixed_size(true);
    win->set_close_on_escape(true);
    win->set_position_state(1);
    return win;
}

}  // namespace

std::shared_ptr<Window> build_main_window(const std::string& web_host) {
    auto win =
        std::make_shared<Window>(kMainWindow, utf8_to_gbk("Qorvel客户端v2.3.4.9修正版"), 665, 415);
    Window& w = *win;
    // Resizable: the lists grow with it (the Qt layer anchors the controls).
    w.set_fixed_size(false);
    w.set_close_on_escape(false);
    w.set_position_state(1);

    Control& tabs = put(w, "选择夹1", Kind::tab, {13, 7, 635, 370});
    tabs.set_wrap_tabs();
    tabs.add_page(utf8_to_gbk("上传文件"));
    tabs.add_page(utf8_to_gbk("目录/文件/分享"));
    tabs.add_page(utf8_to_gbk("下载列表"));

    // Page 0: the upload sub-tab.
    Control& up = put(w, "选择夹3", Kind::tab, {17, 31, 605, 322}, {}, "选择夹1", 0);
    up.add_page(utf8_to_gbk("客户端上传"));
    up.add_page(utf8_to_gbk("最近已完成（客户端）"));
    const std::string u = "选择夹3";
    put(w, "选择文件", Kind::button, {16, 38, 90, 32}, "选择", u, 0).set_hand_cursor();
    Control& pick_kind = put(w, "组合框8", Kind::combo, {122, 44, 96, 20}, {}, u, 0);
    add_items(pick_kind, {"文件", "文件夹"});
    pick_kind.set_current(0);
    put(w, "上传按钮", Kind::button, {235, 40, 95, 32}, "上传", u, 0).set_hand_cursor();
    put(w, "标签48", Kind::label, {399, 45, 192, 24}, "上传至：默认文件夹", u, 0);
    put(w, "标签1", Kind::label, {15, 76, 355, 24}, "选择上传文件，目前仅支持单个120M内上传。", u,
        0);
    put(w, "标签43", Kind::label, {370, 76, 232, 24}, {}, u, 0);
    Control& queue = put(w, "超级列表框6", Kind::list_view, {14, 103, 580, 126}, {}, u, 0);
    add_columns(queue, {{"文件路径", 100}, {"上传目录", 80}, {"ID", 50}, {"大小", 150}});
    // Lies over the upload queue and is never filled: kept hidden so the queue shows.
    put(w, "列表框1", Kind::list_box, {14, 104, 372, 124}, {}, u, 0).set_visible(false);
    put(w, "透明标签1", Kind::transparent_label, {141, 139, 358, 56},
        "拖放文件/目录到此可添加并上传", u, 0);
    put(w, "选择框2", Kind::check, {18, 234, 160, 24}, "上传完成后关闭计算机", u, 0);
    put(w, "选择框1", Kind::check, {184, 236, 120, 24}, "使用极速秒传", u, 0);
    put(w, "标签46", Kind::label, {16, 260, 80, 24}, "进度：0%", u, 0);
    put(w, "标签47", Kind::label, {96, 260, 264, 24}, "上传速度：0KB", u, 0);
    put(w, "标签50", Kind::label, {248, 259, 128, 24}, "文件大小：0KB", u, 0);
    put(w, "标签49", Kind::label, {384, 260, 192, 24}, "状态：准备就绪!", u, 0);
    put(w, "进度条", Kind::progress, {14, 285, 580, 20}, {}, u, 0);
    put(w, "时钟7", Kind::timer, {}, {}, u, 0).set_interval(2000);
    Control& uploaded = put(w, "超级列表框4", Kind::list_view, {10, 33, 591, 280}, {}, u, 1);
    add_columns(uploaded, {{"文件名", 240}, {"大小", 150}, {"pid", 80}, {"备注", 100}});

    // Page 1: the storage browser.
    const std::string b = "选择夹1";
    put(w, "标签55", Kind::label, {12, 30, 600, 24},
        "温馨提示：双击文件夹即可读取文件目录，右键可弹出操作菜单，按住CTRL可以进行多选。", b, 1);
    put(w, "标签60", Kind::label, {499, 30, 120, 24}, "本页文件数：0个", b, 1);
    // The label and the upload button stand beside the tree, so every tree row
    // stays visible and clickable.
    put(w, "树型框1", Kind::tree, {11, 61, 440, 98}, {}, b, 1);
    put(w, "标签10", Kind::label, {459, 61, 90, 24}, "我的文件：", b, 1);
    put(w, "按钮32", Kind::button, {459, 87, 92, 32}, "上传到该目录", b, 1);
    put(w, "按钮47", Kind::button, {559, 87, 64, 32}, "下载", b, 1);
    put(w, "标签57", Kind::label, {19, 167, 408, 24}, "正在读取文件目录，请稍后。", b, 1);
    put(w, "选择框4", Kind::check, {259, 167, 168, 24}, "目录读取后设置为上传目录", b, 1);
    Control& files = put(w, "超级列表框1", Kind::list_view, {10, 198, 537, 129}, {}, b, 1);
    files.set_multi_select();
    add_columns(files, {{"文件名", 250}, {"大小", 50}, {"日期", 160}, {"下载量", 150}});
    put(w, "按钮38", Kind::button, {559, 224, 64, 32}, "下载", b, 1);
    put(w, "组合框1", Kind::combo, {559, 263, 68, 20}, {}, b, 1);
    put(w, "进度条1", Kind::progress, {11, 338, 536, 19}, {}, b, 1);

    // Page 2: the download sub-tab.
    Control& down = put(w, "选择夹2", Kind::tab, {23, 27, 600, 325}, {}, b, 2);
    down.add_page(utf8_to_gbk("下载中"));
    down.add_page(utf8_to_gbk("已完成"));
    put(w, "时钟5", Kind::timer, {}, {}, b, 2).set_interval(1000);
    const std::string d = "选择夹2";
    Control& running = put(w, "超级列表框2", Kind::list_view, {9, 41, 576, 155}, {}, d, 0);
    add_columns(running, {{"文件名", 200},
                          {"大小", 80},
                          {"下载进度", 80},
                          {"pid", 100},
                          {"下载速度", 100},
                          {"存放目录", 200}});
    put(w, "选择框3", Kind::check, {13, 206, 160, 24}, "下载完成后关闭计算机", d, 0);
    put(w, "标签9", Kind::label, {12, 236, 576, 24},
        "当前不是VIP会员，下载速度不超过1M/s，高峰期可能无法下载，开通VIP解除。", d, 0);
    put(w, "标签44", Kind::label, {15, 277, 57, 24}, "保存位置：", d, 0);
    put(w, "编辑框49", Kind::edit, {85, 275, 200, 27}, {}, d, 0);
    // The save-folder chooser: a folder icon, not a blank face.
    put(w, "按钮34", Kind::button, {301, 275, 53, 28}, {}, d, 0).set_picture("icon:folder");
    put(w, "按钮28", Kind::button, {366, 275, 101, 28}, "开始下载", d, 0);
    Control& same_name = put(w, "组合框6", Kind::combo, {481, 278, 97, 20}, {}, d, 0);
    add_items(same_name, {"同名覆盖", "同名更改"});
    same_name.set_current(0);
    Control& done = put(w, "超级列表框3", Kind::list_view, {10, 32, 576, 279}, {}, d, 1);
    add_columns(done, {{"文件名", 170}, {"文件地址", 300}});

    // Window-level timers and the drop target.
    put(w, "时钟3", Kind::timer).set_interval(30000);
    put(w, "上传速度时钟", Kind::timer).set_interval(0);
    put(w, "拖放对象1", Kind::drop_target);

    // Holder controls: named storage, never shown.
    auto hold = [&](const std::string& name, Kind kind, Rect rect, const std::string& content = {},
                    const std::string& parent = {}) -> Control& {
        Control& c = put(w, name, kind, rect, content, parent);
        c.set_visible(false);
        return c;
    };
    hold("编辑框3", Kind::edit, {680, 0, 100, 20});
    hold("编辑框47", Kind::edit, {680, 24, 100, 20}, ".*?<br />");
    hold("编辑框5", Kind::edit, {680, 48, 100, 20},
         "<div style=\"display:none;\">pid：.*?<文件名：.*?<大小：.*?<日期：.*?<下载量：.*?< "
         "</div><br />");
    hold("编辑框26", Kind::edit, {680, 72, 100, 20}, "id=\"fwmm\" value=\"");
    hold("编辑框48", Kind::edit, {680, 96, 100, 20}).set_multiline();
    hold("列表框2", Kind::list_box, {680, 120, 100, 40});
    hold("列表框3", Kind::list_box, {680, 164, 100, 40});
    Control& unused = hold("超级列表框5", Kind::list_view, {680, 208, 320, 60});
    add_columns(unused, {{"名称", 300}});
    hold("文件路径编辑框", Kind::edit, {680, 272, 100, 20});
    hold("分组框1", Kind::group, {680, 300, 220, 200}, "FTP");
    hold("服务器ip编辑框", Kind::edit, {8, 20, 200, 20}, {}, "分组框1").set_text(web_host);
    hold("用户名编辑框", Kind::edit, {8, 44, 200, 20}, {}, "分组框1");
    hold("密码编辑框", Kind::edit, {8, 68, 200, 20}, {}, "分组框1");
    hold("日志编辑框", Kind::edit, {8, 92, 200, 100}, {}, "分组框1").set_multiline();

    // Pop-up menus, in the catalogue's order.
    w.add_menu("菜单",
               {"删除选中文件", "打开选中文件(网页)", "添加进下载列表并下载", "移动选中文件",
                "获取文件分享链接", "上传文件到此", "创建外链", "修改文件名"});
    w.add_menu("目录",
               {"下载该文件夹,最多500个,不含目录", "打开文件夹(网页)", "删除文件夹", "重命名",
                "获取文件夹分享链接", "创建文件夹", "上传文件到此处", "创建外链文件"});
    w.add_menu("托盘", {"打开软件", "注销", "退出"});
    w.add_menu("开始菜单", {"删除任务", "暂停任务", "继续任务", "重试任务"});
    w.add_menu("完成菜单", {"打开文件", "访问文件夹"});
    w.add_menu("上传菜单", {"删除该上传任务", "清空上传任务", "添加文件", "添加文件夹", "暂停任务",
                            "继续任务", "重试任务"});
    w.add_menu("上传完成菜单", {"打开该文件", "打开文件夹", "打开网页文件链接", "复制网页分享链接",
                                "复制该文件直链"});
    return win;
}

std::shared_ptr<Window> build_login_window() {
    auto win = small_window(kLoginWindow, "Qorvel登录", 302, 305);
    Window& w = *win;
    put(w, "标签1", Kind::label, {24, 10, 80, 24}, "帐号：");
    put(w, "编辑框1", Kind::edit, {24, 42, 240, 32});
    put(w, "标签2", Kind::label, {24, 82, 80, 24}, "密码：");
    put(w, "编辑框2", Kind::edit, {24, 114, 240, 32}).set_masked();
    put(w, "按钮1", Kind::button, {24, 154, 64, 32}, "登录").set_hand_cursor();
    put(w, "按钮2", Kind::button, {96, 154, 64, 32}, "注册").set_hand_cursor();
    put(w, "按钮3", Kind::button, {168, 154, 96, 32}, "找回密码").set_hand_cursor();
    put(w, "按钮4", Kind::button, {24, 194, 240, 32}, "QQ登录").set_hand_cursor();
    put(w, "选择框1", Kind::check, {24, 239, 192, 24}, "记住帐号密码（公共场所慎选）");
    // The skin box is read at creation and never shown.
    put(w, "标签3", Kind::label, {24, 270, 72, 24}, "皮肤选择：").set_visible(false);
    Control& skins = put(w, "组合框1", Kind::combo, {96, 270, 168, 20});
    add_items(skins, {"默认", "清新蓝", "典雅灰", "活力橙", "墨绿"});
    skins.set_visible(false);
    return win;
}

std::shared_ptr<Window> build_registration_window() {
    auto win = small_window(kRegistrationWindow, "帐号注册", 279, 340);
    Window& w = *win;
    put(w, "标签1", Kind::label, {9, 8, 80, 24}, "帐号：");
    put(w, "编辑框1", Kind::edit, {8, 36, 250, 28});
    put(w, "标签2", Kind::label, {10, 66, 80, 24}, "密码：");
    put(w, "编辑框2", Kind::edit, {9, 94, 249, 28}).set_masked();
    put(w, "标签3", Kind::label, {9, 127, 80, 24}, "确认密码：");
    put(w, "编辑框3", Kind::edit, {8, 155, 250, 28}).set_masked();
    put(w, "标签5", Kind::label, {9, 187, 80, 24}, "邮箱地址：");
    put(w, "编辑框5", Kind::edit, {8, 215, 248, 28});
    put(w, "选择框1", Kind::check, {16, 256, 152, 24}, "同意");
    put(w, "超级链接框1", Kind::link, {65, 256, 79, 24}, "《使用条款》");
    put(w, "按钮1", Kind::button, {177, 259, 80, 32}, "注册");
    return win;
}

std::shared_ptr<Window> build_create_folder_window() {
    auto win = small_window(kCreateFolderWindow, "创建文件夹", 285, 228);
    Window& w = *win;
    put(w, "标签1", Kind::label, {24, 16, 80, 24}, "目录继承");
    put(w, "编辑框4", Kind::edit, {24, 48, 224, 24}).set_enabled(false);
    put(w, "标签3", Kind::label, {27, 76, 197, 24}, "文件夹名称");
    put(w, "编辑框2", Kind::edit, {25, 104, 224, 26});
    put(w, "按钮1", Kind::button, {168, 150, 80, 32}, "创建");
    return win;
}

std::shared_ptr<Window> build_web_login_window(const std::string& web_host) {
    auto win = small_window(kWebLoginWindow, "QQ互联登录", 521, 456);
    Window& w = *win;
    put(w, "超文本浏览框1", Kind::web_view, {0, 0, 536, 432})
        .set_url("http://" + web_host + "/QQ/example/oauth/index.php");
    put(w, "时钟1", Kind::timer).set_interval(3000);
    return win;
}

std::shared_ptr<Window> build_password_recovery_window() {
    auto win = small_window(kPasswordRecoveryWindow, "找回密码", 291, 579);
    Window& w = *win;
    put(w, "标签1", Kind::label, {9, 6, 80, 24}, "帐号：");
    put(w, "编辑框1", Kind::edit, {9, 36, 265, 30});
    put(w, "标签2", Kind::label, {9, 70, 80, 24}, "重置登录密码：");
    put(w, "编辑框2", Kind::edit, {9, 100, 265, 30});
    put(w, "标签3", Kind::label, {9, 138, 80, 24}, "重复确认密码：");
    put(w, "编辑框3", Kind::edit, {9, 168, 265, 30});
    put(w, "标签4", Kind::label, {9, 206, 80, 24}, "问题：");
    put(w, "编辑框4", Kind::edit, {9, 236, 265, 30});
    put(w, "标签5", Kind::label, {9, 270, 80, 24}, "答案：");
    put(w, "编辑框5", Kind::edit, {9, 300, 265, 30});
    put(w, "按钮1", Kind::button, {193, 342, 80, 26}, "找回");
    put(w, "标签6", Kind::label, {9, 374, 80, 24}, "帐号：");
    put(w, "编辑框6", Kind::edit, {9, 404, 265, 30});
    put(w, "标签7", Kind::label, {9, 438, 80, 24}, "注册邮箱：");
    put(w, "编辑框7", Kind::edit, {9, 468, 265, 30});
    put(w, "按钮2", Kind::button, {193, 510, 80, 26}, "找回");
    return win;
}

std::shared_ptr<Window> build_create_link_file_window() {
    auto win = small_window(kCreateLinkFileWindow, "创建外链文件", 291, 229);
    Window& w = *win;
    put(w, "标签1", Kind::label, {16, 16, 56, 24}, "文件名：");
    put(w, "编辑框1", Kind::edit, {16, 44, 248, 29});
    put(w, "标签2", Kind::label, {16, 80, 72, 24}, "外链地址：");
    put(w, "编辑框2", Kind::edit, {16, 110, 248, 29}, "http://");
    put(w, "按钮1", Kind::button, {184, 152, 80, 32}, "创建");
    return win;
}

std::shared_ptr<Window> build_folder_new_name_window() {
    auto win = small_window(kFolderNewNameWindow, "文件夹新名称", 299, 157);
    Window& w = *win;
    put(w, "标签1", Kind::label, {28, 15, 144, 24}, "新文件夹名：");
    put(w, "编辑框1", Kind::edit, {29, 44, 231, 28});
    put(w, "按钮1", Kind::button, {164, 80, 100, 31}, "重置");
    return win;
}

std::shared_ptr<Window> build_file_operation_window() {
    auto win = small_window(kFileOperationWindow, "文件操作", 262, 126);
    Window& w = *win;
    // All disabled until the opening operation picks delete or move.
    put(w, "组合框1", Kind::combo, {16, 16, 224, 20}).set_enabled(false);
    put(w, "按钮2", Kind::button, {16, 48, 104, 31}, "确定删除？").set_enabled(false);
    put(w, "按钮1", Kind::button, {136, 48, 100, 31}, "移动").set_enabled(false);
    return win;
}

std::shared_ptr<Window> build_terms_window() {
    auto win = small_window(kTermsWindow, "使用条款", 380, 250);
    Window& w = *win;
    Control& text = put(w, "编辑框1", Kind::edit, {16, 8, 344, 200});
    text.set_multiline().set_vertical_scroll().set_read_only();
    text.set_text(terms_text());
    return win;
}

std::shared_ptr<Window> build_rename_file_window() {
    auto win = small_window(kRenameFileWindow, "修改文件名", 278, 162);
    Window& w = *win;
    put(w, "标签1", Kind::label, {24, 16, 80, 24}, "新文件名：");
    put(w, "编辑框1", Kind::edit, {24, 48, 224, 24});
    put(w, "按钮1", Kind::button, {168, 80, 80, 32}, "重置");
    return win;
}

std::shared_ptr<Window> build_shut_down_window() {
    auto win = small_window(kShutDownWindow, "关闭计算机", 300, 150);
    Window& w = *win;
    put(w, "标签1", Kind::label, {24, 20, 240, 24});
    // The only button: it has the focus, so Enter or Space cancels too.
    put(w, "按钮1", Kind::button, {184, 60, 80, 32}, "取消");
    put(w, "时钟1", Kind::timer).set_interval(1000);
    return win;
}

std::shared_ptr<Window> build_window(const std::string& id, const std::string& web_host) {
    if (id == kMainWindow) return build_main_window(web_host);
    if (id == kLoginWindow) return build_login_window();
    if (id == kRegistrationWindow) return build_registration_window();
    if (id == kCreateFolderWindow) return build_create_folder_window();
    if (id == kWebLoginWindow) return build_web_login_window(web_host);
    if (id == kPasswordRecoveryWindow) return build_password_recovery_window();
    if (id == kCreateLinkFileWindow) return build_create_link_file_window();
    if (id == kFolderNewNameWindow) return build_folder_new_name_window();
    if (id == kFileOperationWindow) return build_file_operation_window();
    if (id == kTermsWindow) return build_terms_window();
    if (id == kRenameFileWindow) return build_rename_file_window();
    return nullptr;
}

bool opens_modal(const std::string& id) {
    return id == kLoginWindow || id == kRegistrationWindow || id == kWebLoginWindow ||
           id == kPasswordRecoveryWindow || id == kTermsWindow;
}

void wire_main_window(ui::Program& program, Window& main) {
    // A right-button press shows the list's menu whether or not a row is hit.
    const std::pair<const char*, const char*> menus[] = {
        {"超级列表框1", "菜单"},         {"树型框1", "目录"},         {"超级列表框2", "开始菜单"},
        {"超级列表框3", "完成菜单"},     {"超级列表框6", "上传菜单"}, {"列表框1", "上传菜单"},
        {"超级列表框4", "上传完成菜单"},
    };
    for (const auto& [list, menu] : menus) {
        std::string name = menu;
        main.on(list, ui::Event::right_button,
                [&program, &main, name](ui::EventArgs&) { program.popup_menu(main, name); });
        // The menu key and Shift+F10 open the same menu at the current row.
        auto at_row = [&program, &main, name, list = std::string(list)](ui::EventArgs&) {
            program.popup_menu(main, name, list);
        };
        main.on_key(list, ui::Key::menu, ui::kNoModifiers, at_row);
        main.on_key(list, ui::Key::f10, ui::kShift, at_row);
        Control& c = main[list];
        if (c.kind() == Kind::list_view && c.multi_select())
            main.on_key(list, ui::Key::a, ui::kCtrl, [&c](ui::EventArgs&) { select_all(c); });
    }
    // Progress mirror: the browsing page shows the running upload's progress.
    main.on("时钟7", ui::Event::tick,
            [&main](ui::EventArgs&) { main["进度条1"].set_position(main["进度条"].position()); });
}

void wire_login_window(ui::Program& program, Window& login, const std::string& web_host,
                       WindowHook on_built) {
    auto opener = [&program, web_host, on_built](const char* id) {
        return [&program, web_host, on_built, id = std::string(id)](ui::EventArgs&) {
            auto child = build_window(id, web_host);
            if (id == kRegistrationWindow) wire_registration_window(program, *child, on_built);
            if (on_built) on_built(*child);
            program.open(child, true);
        };
    };
    login.on("按钮2", ui::Event::clicked, opener(kRegistrationWindow));
    login.on("按钮3", ui::Event::clicked, opener(kPasswordRecoveryWindow));
    login.on("按钮4", ui::Event::clicked, opener(kWebLoginWindow));
}

void wire_registration_window(ui::Program& program, Window& registration, WindowHook on_built) {
    registration.on("超级链接框1", ui::Event::left_button, [&program, on_built](ui::EventArgs&) {
        auto terms = build_terms_window();
        if (on_built) on_built(*terms);
        program.open(terms, true);
    });
}

}  // namespace qorvel::windows
