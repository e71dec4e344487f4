#include "app/client_windows.h"

#include "account/registration.h"
#include "roads/account/roads.h"
#include "roads/storage/roads.h"
#include "roads/transfer/roads.h"
#include "ui/windows/catalogue.h"

namespace qorvel {

namespace {

// Registration and password recovery: their forms' buttons.
void wire_account_forms(Client& c, ui::Window& w) {
    if (w.id() == windows::kRegistrationWindow) wire_registration_operations(c, w);
    if (w.id() == windows::kPasswordRecoveryWindow) wire_password_recovery_operations(c, w);
}

// Windows opened from other windows get their operations' handlers here.
void wire_child(Client& c, ui::Window& child) {
    if (child.id() == windows::kWebLoginWindow) wire_web_login_window(c, child);
    wire_account_forms(c, child);
}

}  // namespace

std::shared_ptr<ui::Window> make_client_window(Client& c, const std::string& id) {
    auto w = windows::build_window(id, c.hosts().web);
    if (!w) return nullptr;
    ui::Program& p = c.program();
    if (id == windows::kMainWindow) {
        windows::wire_main_window(p, *w);
        wire_main_window_account(c, *w);
        storage::wire_storage_main_window(c, *w);
        wire_transfer_operations(c, *w);
    } else if (id == windows::kLoginWindow) {
        windows::wire_login_window(p, *w, c.hosts().web,
                                   [&c](ui::Window& child) { wire_child(c, child); });
        wire_login_window(c, *w);
    } else if (id == windows::kRegistrationWindow) {
        windows::wire_registration_window(p, *w);
        wire_account_forms(c, *w);
    } else if (id == windows::kPasswordRecoveryWindow) {
        wire_account_forms(c, *w);
    } else if (id == windows::kWebLoginWindow) {
        wire_web_login_window(c, *w);
    } else {
        storage::wire_storage_window(c, *w);
    }
    return w;
}

void start_client(Client& c) {
    c.set_window_factory([&c](const std::string& id) { return make_client_window(c, id); });
    auto main = c.make_window(windows::kMainWindow);
    c.set_main_window(main);
    c.program().create(main);
}

}  // namespace qorvel
