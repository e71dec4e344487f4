#include "account/registration.h"

#include <memory>

#include "net/charset.h"
#include "net/form.h"
#include "net/text.h"
#include "net/web.h"

namespace qorvel {

namespace {

bool holds(const std::string& text, const char* digit) {
    return text_find(text, digit) != -1;
}

void show(Client& c, const std::vector<std::string>& messages) {
    for (const std::string& m : messages) c.program().message_box(m, MessageButtons::ok);
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
    FormVerdict v =
        judge_registration(post_form(registration_url(c.hosts()), registration_body(f)));
    show(c, v.messages);
    if (!v.succeeded) return false;
    fill_login_window(c, f.account, f.password);
    c.program().close(w);
    return true;
}

bool recover_by_question(Client& c, ui::Window& w, const QuestionRecoveryForm& f) {
    if (std::string m = question_recovery_refusal(f); !m.empty()) {
        show(c, {m});
        return false;
    }
    FormVerdict v = judge_question_recovery(
        post_form(question_recovery_url(c.hosts()), question_recovery_body(f)));
    show(c, v.messages);
    if (!v.succeeded) return false;
    fill_login_window(c, f.account, f.password);
    c.program().close(w);
    return true;
}

bool recover_by_email(Client& c, ui::Window&, const EmailRecoveryForm& f) {
    if (std::string m = email_recovery_refusal(f); !m.empty()) {
        show(c, {m});
        return false;
    }
    show(c, judge_email_recovery(post_form(email_recovery_url(c.hosts()), email_recovery_body(f)))
                .messages);
    return false;  // the window stays open whatever the answer
}

}  // namespace

bool email_shape_ok(const std::string& email) {
    return text_find(email, "@") != -1 && text_find(email, ".") != -1 &&
           text_find(email, "@.") == -1;
}

std::string registration_first_refusal(const RegistrationForm& f) {
    if (!f.agreed) return GBK("请先同意使用条款！");
    if (!email_shape_ok(f.email)) return GBK("邮箱格式不正确！");
    return {};
}

std::string registration_second_refusal(const RegistrationForm& f) {
    if (f.account.empty() || f.password.empty() || f.confirmation.empty()) return GBK("填写不完整");
    if (f.password != f.confirmation) return GBK("二次密码不重复！");
    return {};
}

std::string question_recovery_refusal(const QuestionRecoveryForm& f) {
    if (f.account.empty() || f.password.empty() || f.repetition.empty() || f.question.empty() ||
        f.answer.empty())
        return GBK("表单填写不完整！");
    if (f.password != f.repetition) return GBK("二次密码输入不一致！");
    return {};
}

std::string email_recovery_refusal(const EmailRecoveryForm& f) {
    if (f.account.empty() || f.email.empty()) return GBK("表单填写不完整！");
    return {};
}

std::string registration_body(const RegistrationForm& f) {
    Form form;
    form.add("zh1", gbk_to_utf8(f.account))
        .add("mm1", f.password)
        .add("cfmm1", f.confirmation)
        .add("zcyx", gbk_to_utf8(f.email))
        .add("xcfmm1", 1);
    return form.str();
}

std::string question_recovery_body(const QuestionRecoveryForm& f) {
    std::string password = gbk_to_utf8(f.password);
    Form form;
    form.add("zh2", gbk_to_utf8(f.account))
        .add("mm2", password)
        .add("czmm3", password)
        .add("wt2", gbk_to_utf8(f.question))
        .add("dn2", gbk_to_utf8(f.answer));
    return form.str();
}

std::string email_recovery_body(const EmailRecoveryForm& f) {
    Form form;
    form.add("zh1", gbk_to_utf8(f.account)).add("yx1", gbk_to_utf8(f.email));
    return form.str();
}

std::string registration_url(const ServiceHosts& h) {
    return h.web_url("/zc.php");
}

std::string question_recovery_url(const ServiceHosts& h) {
    return h.web_url("/post/zh.php");
}

std::string email_recovery_url(const ServiceHosts& h) {
    return h.web_url("/post/yxzh.php");
}

int answer_status(const std::string& header_block) {
    int status = 0;
    size_t pos = 0;
    while (pos < header_block.size()) {
        size_t end = header_block.find("\r\n", pos);
        if (end == std::string::npos) end = header_block.size();
        std::string_view line(header_block.data() + pos, end - pos);
        if (line.substr(0, 5) == "HTTP/") {
            size_t blank = line.find(' ');
            status = blank == std::string_view::npos ? 0 : text_to_int(line.substr(blank + 1));
        }
        pos = end + 2;
    }
    return status;
}

ServiceAnswer post_form(const std::string& url, const std::string& body) {
    std::string headers;
    ServiceAnswer a;
    a.text = web_request_text(url, "POST", "", nullptr, body, &headers);
    int status = answer_status(headers);
    a.reached = status >= 200 && status < 300;
    return a;
}

const std::string& service_unreachable_message() {
    return GBK("无法连接到服务器，请检查网络后重试！");
}

FormVerdict judge_registration(const ServiceAnswer& a) {
    if (!a.reached) return {{service_unreachable_message()}, false};
    if (holds(a.text, "3")) return {{GBK("帐号注册成功！")}, true};
    if (holds(a.text, "5")) return {{GBK("该帐号已被注册，请重新输入！")}, false};
    if (holds(a.text, "6")) return {{GBK("该邮箱已被注册，请重新输入！")}, false};
    return {{GBK("填写不完整")}, false};
}

FormVerdict judge_question_recovery(const ServiceAnswer& a) {
    if (!a.reached) return {{service_unreachable_message()}, false};
    FormVerdict v;
    if (holds(a.text, "1")) v.messages.push_back(GBK("表单填写不完整！"));
    if (holds(a.text, "2")) v.messages.push_back(GBK("二次密码不重复！"));
    if (holds(a.text, "3")) v.messages.push_back(GBK("密保问题不匹配！"));
    if (holds(a.text, "5")) {
        v.messages.push_back(GBK("重置密码成功！"));
        v.succeeded = true;
    }
    return v;
}

FormVerdict judge_email_recovery(const ServiceAnswer& a) {
    if (!a.reached) return {{service_unreachable_message()}, false};
    FormVerdict v;
    if (holds(a.text, "1")) v.messages.push_back(GBK("表单填写不完整！"));
    if (holds(a.text, "2"))
        v.messages.push_back(GBK("系统已经成功提交您的请求，请登录邮箱访问URL即可更改密码。"));
    if (holds(a.text, "3")) v.messages.push_back(GBK("您提交的帐号和邮箱不匹配，请重新提交！"));
    if (holds(a.text, "5"))
        v.messages.push_back(
            GBK("您刚才已经成功提交了更改密码请求，已发送邮件到您的邮箱，"
                "5分钟内无法执行该操作！"));
    return v;
}

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
