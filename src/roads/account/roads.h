// The road from start to a logged-in main window, the session watchdog, the
// web-login hand-over and the account panel. Handlers run on the window
// thread; the operations marked "worker" run on worker threads.
#pragma once

#include "roads/client.h"

namespace qorvel {

// Start-up and ending (window thread).
void on_main_window_created(Client& c);
void on_main_window_close_query(Client& c, ui::EventArgs& args);
void on_main_window_destroyed(Client& c);
void on_main_window_hidden(Client& c);
void on_tray_event(Client& c, int kind);
void restore_main_window(Client& c);  // tray menu "打开软件"
void quit_from_tray(Client& c);       // tray menu "退出": asks first while a transfer runs
void on_login_window_created(Client& c, ui::Window& login);
void on_login_window_destroyed(Client& c);
// Opens a fresh login window modally; returns when it is gone.
void open_login_window(Client& c);

// Login and session.
void start_login(Client& c);       // window thread
void login(Client& c);             // worker
void after_login_init(Client& c);  // worker
void session_watchdog(Client& c);  // worker
void qq_login_poll(Client& c);     // worker
void log_out(Client& c);           // window thread

// Account panel.
void check_membership(Client& c);      // worker
void on_main_page_changed(Client& c);  // worker

// Wiring of the account's events on the catalogue windows.
void wire_main_window_account(Client& c, ui::Window& main);
void wire_login_window(Client& c, ui::Window& login);
void wire_web_login_window(Client& c, ui::Window& web_login);

// Operations (window thread): each disables its button and sends the form on
// a worker; the button comes back once the answer has been handled, unless
// the window closed on success.
void start_registration(Client& c, ui::Window& registration);
void start_question_recovery(Client& c, ui::Window& recovery);
void start_email_recovery(Client& c, ui::Window& recovery);

// Handlers of the registration window's 按钮1 and the recovery window's 按钮1 and 按钮2.
void wire_registration_operations(Client& c, ui::Window& registration);
void wire_password_recovery_operations(Client& c, ui::Window& recovery);

}  // namespace qorvel
