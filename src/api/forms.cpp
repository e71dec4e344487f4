#include "api/forms.h"

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

}  // namespace

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

}  // namespace qorvel
