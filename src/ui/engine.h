// The window engine: windows of named controls, events on one window thread,
// modal and non-modal windows, pop-up menus, timers, message boxes, the tray
// icon, the drop target and worker threads. No Qt here; src/ui/qt shows the
// same objects as widgets, and headless.h runs them without a display.
//
// How the pieces fit:
//   auto w = std::make_shared<Window>("login", GBK("Qorvel登录"), 302, 305);
//   w->add("编辑框1", Kind::edit, {24, 42, 240, 32});       // names are UTF-8 keys
//   w->on("按钮1", Event::clicked, [&](EventArgs&) { ... });  // handler per (name, event)
//   w->on_window(Event::may_close, [](EventArgs& a) { a.allow = false; });
//   w->on_chosen("托盘", "退出", [&](EventArgs&) { program.exit(0); });
//   program.open(w, /*modal=*/true);  // returns when w is destroyed; events keep flowing
//
// Texts (captions, edit text, cells, items, menu captions) are GBK bytes;
// control, window, menu and menu-item names are UTF-8 identifiers as written
// in the catalogue. Only the Qt layer converts texts to UTF-8.
//
// Threads. Handlers run on the window thread, one at a time (a modal window
// or a message box opened by a handler runs a nested loop meanwhile). Control
// and window properties (Control::set_text, insert_row, set_interval,
// Window::set_visible...) are safe from any thread and never wait for a
// repaint: each control has its own mutex and the view follows through
// observers. From a worker:
//   program.start_worker(fn)            new thread; shutdown() joins it
//   program.post_event(w, "按钮1", Event::clicked)   queued for the window thread
//   program.run_on_ui_and_wait(fn)      runs fn on the window thread, returns its result
//   program.message_box(GBK("..."), MessageButtons::yes_no)   5 / 6 / 0, from any thread
//   program.open(login, true)           a worker waits like a handler would
//   program.close(w)                    posted; the worker goes on at once
//   program.stopping(), program.sleep_for(ms)   for long or polling workers
//
// Timers: a Kind::timer control ticks every interval() ms while its window is
// alive; set_interval(0) stops it, a positive value (re)starts it.
// Menus: window.add_menu("菜单", {"删除选中文件", "-", ...}); "-" is a
// separator; program.popup_menu(w, "菜单") shows it; a choice raises chosen on
// source "菜单/删除选中文件" (wire it with on_chosen).
// Keys: window.on_key("超级列表框1", Key::del, kNoModifiers, handler); the
// toolkit (or a test) calls program.press_key(w, focused_control, key, mods),
// which raises key_pressed on the control's handler of that key, else the window's.
// Tray: window.set_tray_visible(true) shows the icon with window.icon();
// mouse actions raise Event::tray on the window with args.kind 1, 2 or 3.
// Drop target: a Kind::drop_target control; set_registered(true) makes the
// window accept drops, which raise files_dropped with args.files (GBK paths).
// Ending: program.exit(code) ends every loop; run() returns the code; the
// owner then calls shutdown() (waits for workers, drops windows silently).
#pragma once

#include "platform/prompts.h"
#include "ui/control.h"
#include "ui/program.h"
#include "ui/window.h"
