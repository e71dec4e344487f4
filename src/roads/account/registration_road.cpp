#include <memory>

#include "account/registration.h"
#include "net/charset.h"
#include "roads/account/roads.h"
#include "roads/service_api.h"

namespace qorvel {

namespace {

void show(Client& c, const std::vector<std::string>& messages) {
    for (const std::string& m : messages) c.program().message_box(m, MessageButtons::ok);
}

// Shows what the form came to; true when it succeeded.
bool show_verdict(Client& c, const api::Result<std::vector<std::string>>& verdict) {
    show(c, verdict ? *verdict : error_lines(verdict.error()));
    return verdict.ok();
}

// The login window gets the new values, so logging in is one click away.
void fill_login_window(Client& c, const std::string& account, const std::string& password) {
    if (auto login = c.login_window()) {
        (*login)["编辑框1"].set_text(account);
        (*login)["编辑框2"].set_text(password);
    }
}

// Runs one form's work on a worker with its button disabled, so a second
// click cannot send the form again while the first answer is pending. work
// returns true when the window closes on success; otherwise the button is
// given back once the messages have been shown.
template <class Work>
void run_form(Client& c, ui::Window& window, const char* button, Work work) {
    std::shared_ptr<ui::Window> held = c.program().find(window.id());
    if (!held || held.get() != &window || !window[button].enabled()) return;
    window[button].set_enabled(false);
    c.program().start_worker([&c, held, button, work] {
        bool closed = work(c, *held);
        if (!closed) (*held)[button].set_enabled(true);
    });
}

bool register_account(Client& c, ui::Window& w, const RegistrationForm& f) {
    if (std::string m = registration_first_refusal(f); !m.empty()) {
        show(c, {m});
        return false;
    }
    c.program().message_box(GBK("注册帐号中，请勿重复提交。"), MessageButtons::ok);
    if (std::string m = registration_second_refusal(f); !m.empty()) {
        show(c, {m});
        return false;
    }
    if (!show_verdict(c, service_api(c).register_account(f))) return false;
    fill_login_window(c, f.account, f.password);
    c.program().close(w);
    return true;
}

bool recover_by_question(Client& c, ui::Window& w, const QuestionRecoveryForm& f) {
    if (std::string m = question_recovery_refusal(f); !m.empty()) {
        show(c, {m});
        return false;
    }
    if (!show_verdict(c, service_api(c).recover_by_question(f))) return false;
    fill_login_window(c, f.account, f.password);
    c.program().close(w);
    return true;
}

bool recover_by_email(Client& c, ui::Window&, const EmailRecoveryForm& f) {
    if (std::string m = email_recovery_refusal(f); !m.empty()) {
        show(c, {m});
        return false;
    }
    show_verdict(c, service_api(c).recover_by_email(f));
    return false;  // the window stays open whatever the answer
}

}  // namespace

void start_registration(Client& c, ui::Window& w) {
    RegistrationForm f;
    f.account = w["编辑框1"].text();
    f.password = w["编辑框2"].text();
    f.confirmation = w["编辑框3"].text();
    f.email = w["编辑框5"].text();
    f.agreed = w["选择框1"].checked();
    run_form(c, w, "按钮1", [f](Client& c, ui::Window& w) { return register_account(c, w, f); });
}

void start_question_recovery(Client& c, ui::Window& w) {
    QuestionRecoveryForm f;
    f.account = w["编辑框1"].text();
    f.password = w["编辑框2"].text();
    f.repetition = w["编辑框3"].text();
    f.question = w["编辑框4"].text();
    f.answer = w["编辑框5"].text();
    run_form(c, w, "按钮1", [f](Client& c, ui::Window& w) { return recover_by_question(c, w, f); });
}

void start_email_recovery(Client& c, ui::Window& w) {
    EmailRecoveryForm f;
    f.account = w["编辑框6"].text();
    f.email = w["编辑框7"].text();
    run_form(c, w, "按钮2", [f](Client& c, ui::Window& w) { return recover_by_email(c, w, f); });
}

void wire_registration_operations(Client& c, ui::Window& registration) {
    registration.on("按钮1", ui::Event::clicked,
                    [&c, &registration](ui::EventArgs&) { start_registration(c, registration); });
}

void wire_password_recovery_operations(Client& c, ui::Window& recovery) {
    recovery.on("按钮1", ui::Event::clicked,
                [&c, &recovery](ui::EventArgs&) { start_question_recovery(c, recovery); });
    recovery.on("按钮2", ui::Event::clicked,
                [&c, &recovery](ui::EventArgs&) { start_email_recovery(c, recovery); });
}

}  // namespace qorvel
