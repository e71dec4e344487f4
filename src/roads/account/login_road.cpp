#include "account/registration.h"
#include "net/charset.h"
#include "roads/account/roads.h"
#include "roads/service_api.h"

namespace qorvel {

using api::Result;

void start_login(Client& c) {
    auto window = c.login_window();
    // Enter in the password box while a login runs must not start another.
    if (!window || !(*window)["按钮1"].enabled()) return;
    (*window)["按钮1"].set_enabled(false);
    c.program().start_worker([&c] { login(c); });
}

void login(Client& c) {
    auto window = c.login_window();
    if (!window) return;
    ui::Window& w = *window;
    std::string account = w["编辑框1"].text();
    std::string password = w["编辑框2"].text();

    // Forgetting is done at once, as the user asked; remembering waits for the
    // service's yes, so a mistyped password never replaces a working one.
    bool remember = w["选择框1"].checked();
    if (!remember) c.config().forget_login();

    Result<Session> session = service_api(c).login(account, password);
    if (!session) {
        c.program().message_box(session.error().message, MessageButtons::ok);
        w["按钮1"].set_enabled(true);
        return;
    }
    if (remember) c.config().remember_login(account, password);
    c.session().set(*session);
    c.program().start_worker([&c] { after_login_init(c); });
    w.set_visible(false);
    w["按钮1"].set_enabled(true);
}

void after_login_init(Client& c) {
    auto main = c.main_window();
    ui::Program& p = c.program();
    if (!main) return;
    Session s = c.session().get();
    if (s.account_key.empty()) {
        // Nobody is logged in: ask the window to close and go no further.
        p.post([&c] {
            if (auto m = c.main_window()) c.program().request_close(*m);
        });
        return;
    }
    main->set_tray_visible(true);
    service_api(c).fetch_avatar();
    std::string stamp = c.take_time_stamp();
    if (auto login = c.login_window()) p.close(*login);
    (*main)["标签43"].set_caption(welcome_line(s.account_name));
    main->set_visible(true);
    check_membership(c);
    (*main)["编辑框48"].append_text(stamp + GBK("： 初始化软件中，请稍后……！") + "\r\n");
    if (c.reset_tree) c.reset_tree();
    (*main)["编辑框3"].set_text(public_files_url(c.hosts(), s.login_pid));
    (*main)["组合框1"].set_current(0);
    // The account's own transfer lists, as its last run left them.
    if (c.account_opened) c.account_opened();
    c.timestamped_log_enabled = true;
}

void session_watchdog(Client& c) {
    std::string key = c.session().account_key();
    if (key.empty()) return;
    Result<bool> taken = service_api(c).session_taken_over();
    if (!taken || !*taken) return;
    auto main = c.main_window();
    if (!main) return;
    (*main)["时钟3"].set_interval(0);
    // Another account may log in next: this one's transfers are put away first.
    if (c.account_closing) c.account_closing();
    c.program().message_box(GBK("您的帐号已在其它地方登录，软件即将注销……"), MessageButtons::ok);
    main->set_visible(false);
    open_login_window(c);
}

void qq_login_poll(Client& c) {
    auto window = c.web_login_window();
    if (!window || !window->alive()) return;
    (*window)["时钟1"].set_interval(0);
    Result<Handover> h = service_api(c).handover();
    if (h) {
        Session s = c.session().get();
        s.account_name = h->account_name;
        s.account_key = h->account_key;
        s.login_pid = h->login_pid;
        c.session().set(s);
        if (auto login = c.login_window()) {
            (*login)["编辑框1"].set_text(h->account_name);
            (*login)["编辑框2"].set_text(h->password);
        }
        c.program().start_worker([&c] { login(c); });
        c.program().close(*window);
        return;
    }
    // Nothing handed over yet: ask again in a second, for as long as the window is open.
    if (!c.program().sleep_for(std::chrono::milliseconds(1000))) return;
    if (!window->alive() || c.program().stopping()) return;
    c.program().start_worker([&c] { qq_login_poll(c); });
}

void log_out(Client& c) {
    if (c.account_closing) c.account_closing();
    if (auto main = c.main_window()) main->set_visible(false);
    open_login_window(c);
}

void check_membership(Client& c) {
    // Only the page itself makes a member: an error page or none at all lacks the
    // non-member mark too, and would send a guest's downloads to the members' host.
    Result<std::string> page = service_api(c).account_page();
    bool member = page && page_says_member(*page);
    if (auto main = c.main_window()) (*main)["标签9"].set_caption(membership_notice(member));
    c.is_vip = member ? 1 : 0;
}

void on_main_page_changed(Client& c) {
    auto main = c.main_window();
    if (!main) return;
    int page = (*main)["选择夹1"].current();
    if (page == 1) {
        if (c.first_tree_load) c.first_tree_load();
    } else if (page == 2) {
        service_api(c).account_page();
    }
}

}  // namespace qorvel
