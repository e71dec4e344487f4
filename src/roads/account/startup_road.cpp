#include "account/update_check.h"
#include "net/charset.h"
#include "net/text.h"
#include "net/web.h"
#include "platform/special_folders.h"
#include "roads/account/roads.h"
#include "roads/service_api.h"

namespace qorvel {

void on_main_window_created(Client& c) {
    auto main = c.main_window();
    ui::Program& p = c.program();
    // Files dragged from the desktop reach the upload queue through this.
    (*main)["拖放对象1"].set_registered(true);

    if (!c.connection_check || !c.connection_check()) {
        p.message_box(GBK("由于未检测到互联网连接，无法使用软件。"), MessageButtons::ok);
        p.exit(0);
        return;
    }
    (*main)["编辑框49"].set_text(folder_text(c.folders().desktop));
    c.browser().set_folder_id(0);

    open_login_window(c);
    if (p.exiting()) return;

    // The account page is read once more here; the panel reads its own copy.
    service_api(c).account_page();
}

void open_login_window(Client& c) {
    auto login = c.make_window(windows::kLoginWindow);
    if (!login) return;
    c.set_login_window(login);
    c.program().open(login, true);
}

void on_login_window_created(Client& c, ui::Window& login) {
    login["组合框1"].set_current(c.config().skin_index());
    service_api(c).visit();

    StartupServices s;
    s.get = [](std::string_view url) { return web_get(url); };
    s.update_url = update_url(c.hosts());
    s.prompts = &c.prompts();
    s.shell = &c.shell();
    LoginRestore r = restore_login_and_check_update(c.config(), s);
    if (r.login.check_box) login["选择框1"].set_checked(true);
    if (r.login.fill) {
        login["编辑框1"].set_text(r.login.account);
        login["编辑框2"].set_text(r.login.password);
    }
    if (r.end_program) {
        c.program().exit(0);
        return;
    }
    if (auto main = c.main_window()) (*main)["日志编辑框"].append_text(r.log_line);
}

void on_login_window_destroyed(Client& c) {
    c.set_login_window(nullptr);
    if (c.session().account_key().empty()) c.program().exit(0);
}

void on_main_window_close_query(Client& c, ui::EventArgs& args) {
    auto main = c.main_window();
    ui::Program& p = c.program();
    if (p.message_box(GBK("是否最小化到托盘图标？"), MessageButtons::yes_no) == kAnswerYes) {
        // Without a tray the window would vanish for good: minimise instead.
        if (c.tray_available && c.tray_available())
            main->set_visible(false);
        else
            main->set_position_state(2);
        args.allow = false;
        return;
    }
    if (c.confirm_exit_downloads && !c.confirm_exit_downloads()) {
        args.allow = false;
        return;
    }
    main->set_tray_visible(false);
    service_api(c).visit();
    p.exit(0);
}

void on_main_window_destroyed(Client& c) {
    c.session().set_account_key({});
    if (auto main = c.main_window()) main->set_tray_visible(false);
    c.program().exit(0);
}

void on_main_window_hidden(Client& c) {
    if (auto main = c.main_window()) main->set_show_in_taskbar(false);
}

void on_tray_event(Client& c, int kind) {
    auto main = c.main_window();
    if (!main) return;
    if (kind == 1) {
        main->set_visible(true);
        main->set_position_state(1);
    } else if (kind == 3) {
        c.program().popup_menu(*main, "托盘");
    }
}

void restore_main_window(Client& c) {
    auto main = c.main_window();
    if (!main) return;
    main->set_position_state(1);
    main->set_visible(true);
    main->set_show_in_taskbar(true);
}

void quit_from_tray(Client& c) {
    // The same question as closing the window: a running transfer is never cut silently.
    if (c.confirm_exit_downloads && !c.confirm_exit_downloads()) return;
    if (auto main = c.main_window()) main->set_tray_visible(false);
    c.program().exit(0);
}

}  // namespace qorvel
