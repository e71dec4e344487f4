// The program's windows as engine objects: every control with its name,
// place, caption, items and initial contents, the pop-up menus and timers.
// No Qt: headless road tests use the same windows as the desktop program.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ui/engine.h"

namespace qorvel::windows {

// Window ids (Window::id()).
inline constexpr const char* kMainWindow = "main";
inline constexpr const char* kLoginWindow = "login";
inline constexpr const char* kRegistrationWindow = "registration";
inline constexpr const char* kCreateFolderWindow = "create_folder";
inline constexpr const char* kWebLoginWindow = "web_login";
inline constexpr const char* kPasswordRecoveryWindow = "password_recovery";
inline constexpr const char* kCreateLinkFileWindow = "create_link_file";
inline constexpr const char* kFolderNewNameWindow = "folder_new_name";
inline constexpr const char* kFileOperationWindow = "file_operation";
inline constexpr const char* kTermsWindow = "terms";
inline constexpr const char* kRenameFileWindow = "rename_file";

// web_host: the service's main web host ("host:port"); the main window keeps
// it in 服务器ip编辑框 and the web-login window opens its sign-in page.
std::shared_ptr<ui::Window> build_main_window(const std::string& web_host);
std::shared_ptr<ui::Window> build_login_window();
std::shared_ptr<ui::Window> build_registration_window();
std::shared_ptr<ui::Window> build_create_folder_window();
std::shared_ptr<ui::Window> build_web_login_window(const std::string& web_host);
std::shared_ptr<ui::Window> build_password_recovery_window();
std::shared_ptr<ui::Window> build_create_link_file_window();
std::shared_ptr<ui::Window> build_folder_new_name_window();
std::shared_ptr<ui::Window> build_file_operation_window();
std::shared_ptr<ui::Window> build_terms_window();
std::shared_ptr<ui::Window> build_rename_file_window();

// The countdown before the computer is shut down after a run: the caption
// in 标签1, 取消 is 按钮1, 时钟1 ticks each second. Not one of the catalogue's
// windows (the earlier program shut down without asking), so build_window
// does not know it.
inline constexpr const char* kShutDownWindow = "shut_down";
std::shared_ptr<ui::Window> build_shut_down_window();

// Builds any of the windows above by id (null for an unknown id).
std::shared_ptr<ui::Window> build_window(const std::string& id, const std::string& web_host);

// Whether the window is opened modally.
bool opens_modal(const std::string& id);

// The terms of use shown by the terms window (GBK).
const std::string& terms_text();

// The catalogue's own wiring, which needs no operation of other folders:
// the main window's list menus and the progress mirror of 时钟7.
void wire_main_window(ui::Program& program, ui::Window& main);
// Login 按钮2 / 按钮3 / 按钮4 open registration, password recovery and web
// login modally; the registration link opens the terms window. on_built runs
// for every child window after it is built and before it opens, so the
// operations can wire their handlers (web-login 时钟1, registration 按钮1...).
using WindowHook = std::function<void(ui::Window&)>;
void wire_login_window(ui::Program& program, ui::Window& login, const std::string& web_host,
                       WindowHook on_built = {});
void wire_registration_window(ui::Program& program, ui::Window& registration,
                              WindowHook on_built = {});

}  // namespace qorvel::windows
