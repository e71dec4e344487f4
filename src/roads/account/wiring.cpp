#include "roads/account/roads.h"

namespace qorvel {

using ui::Event;
using ui::EventArgs;

void wire_main_window_account(Client& c, ui::Window& main) {
    main.on_window(Event::created, [&c](EventArgs&) { on_main_window_created(c); });
    main.on_window(Event::may_close, [&c](EventArgs& a) { on_main_window_close_query(c, a); });
    main.on_window(Event::destroyed, [&c](EventArgs&) { on_main_window_destroyed(c); });
    main.on_window(Event::hidden, [&c](EventArgs&) { on_main_window_hidden(c); });
    main.on_window(Event::tray, [&c](EventArgs& a) { on_tray_event(c, a.kind); });
    main.on_chosen("托盘", "打开软件", [&c](EventArgs&) { restore_main_window(c); });
    main.on_chosen("托盘", "退出", [&c](EventArgs&) { quit_from_tray(c); });
    main.on_chosen("托盘", "注销", [&c](EventArgs&) { log_out(c); });
    main.on("时钟3", Event::tick,
            [&c](EventArgs&) { c.program().start_worker([&c] { session_watchdog(c); }); });
    main.on("选择夹1", Event::page_changed,
            [&c](EventArgs&) { c.program().start_worker([&c] { on_main_page_changed(c); }); });
}

void wire_login_window(Client& c, ui::Window& login) {
    login.on_window(Event::created,
                    [&c, &login](EventArgs&) { on_login_window_created(c, login); });
    login.on_window(Event::destroyed, [&c](EventArgs&) { on_login_window_destroyed(c); });
    login.on("按钮1", Event::clicked, [&c](EventArgs&) { start_login(c); });
    login.on("编辑框2", Event::enter_pressed, [&c](EventArgs&) { start_login(c); });
}

void wire_web_login_window(Client& c, ui::Window& web_login) {
    web_login.on_window(Event::created, [&c, &web_login](EventArgs&) {
        // The hand-over poll keeps the window alive through this reference.
        c.set_web_login_window(c.program().find(web_login.id()));
        web_login["超文本浏览框1"].set_url(web_login_url(c.hosts()));
    });
    web_login.on("时钟1", Event::tick,
                 [&c](EventArgs&) { c.program().start_worker([&c] { qq_login_poll(c); }); });
    web_login.on_window(Event::destroyed, [&c, &web_login](EventArgs&) {
        if (c.web_login_window().get() == &web_login) c.set_web_login_window(nullptr);
    });
}

}  // namespace qorvel
