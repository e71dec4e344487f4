#include "api/login.h"

#include "net/charset.h"
#include "net/form.h"
#include "net/text.h"

namespace qorvel {

std::string login_body(const std::string& account, const std::string& password) {
    Form f;
    f.add("zh", gbk_to_utf8(account)).add("mm", password);
    return f.str();
}

bool password_sent_differently_before(const std::string& password) {
    return password.find_first_of("+%&=#") != std::string::npos;
}

std::string earlier_login_body(const std::string& account, const std::string& password) {
    Form f;
    f.add("zh", gbk_to_utf8(account));
    return f.str() + "&mm=" + password;
}

std::optional<Session> parse_login_answer(const std::string& answer, const std::string& account) {
    std::string text = text_replace_all(bytes_to_text(answer), "\r\n", "");
    if (text.size() <= 3) return std::nullopt;
    std::vector<std::string> f = text_split(text, "x");
    if (!text.empty() && text.back() == 'x') f.emplace_back();  // an empty last field is a field
    if (f.size() < 9) return std::nullopt;
    Session s;
    s.login_pid = f[0];
    s.account_name = account;
    s.account_key = f[1];
    s.signature = f[2] == GBK("暂无设置。") ? std::string() : f[2];
    s.membership_flag = f[3];
    s.joined = f[4];
    s.avatar_path = f[5];
    s.file_count = f[6];
    s.subscription_count = f[7];
    s.fan_count = f[8];
    if (s.account_key.empty()) return std::nullopt;
    return s;
}

LoginVerdict judge_login_answer(bool reached, const std::string& answer,
                                const std::string& account) {
    if (!reached) return {};
    if (std::optional<Session> s = parse_login_answer(answer, account))
        return {LoginResult::accepted, std::move(s)};
    // The refusal is at most 3 bytes; anything longer came from someone else.
    if (text_replace_all(bytes_to_text(answer), "\r\n", "").size() <= 3)
        return {LoginResult::refused, std::nullopt};
    return {};
}

bool session_taken_over(const std::string& page) {
    return text_between(bytes_to_text(page), "sxwj.php?zh=", "\"") == "CTYPE html PUBLIC ";
}

std::optional<Handover> parse_handover(const std::string& answer) {
    std::string text = text_replace_all(bytes_to_text(answer), "\r\n", "");
    if (text.empty()) return std::nullopt;
    std::vector<std::string> p = text_split(text, "|");
    if (p.size() < 4) return std::nullopt;
    return Handover{p[0], p[1], p[2], p[3]};
}

bool page_says_member(const std::string& account_page) {
    return text_find(account_page, GBK(">×<br />")) == -1;
}

std::string login_url(const ServiceHosts& h) {
    return h.web_url("/csx.php");
}

std::string session_check_url(const ServiceHosts& h, const std::string& key) {
    return h.web_url("/sc/index1.php?zh=" + form_escape(key));
}

std::string account_page_url(const ServiceHosts& h, const std::string& key) {
    return h.web_url("/get/cs1.php?pid=" + form_escape(key));
}

std::string handover_url(const ServiceHosts& h) {
    return h.web_url("/qdlxx.php");
}

std::string web_login_url(const ServiceHosts& h) {
    return h.web_url("/QQ/example/oauth/index.php");
}

std::string public_files_url(const ServiceHosts& h, const std::string& pid) {
    return h.web_url("/wdwj.php?pid=" + form_escape(pid));
}

std::string visit_url(const ServiceHosts& h) {
    return h.web_url("/guanli.php?pid=1");
}

std::string update_url(const ServiceHosts& h) {
    return h.web_url("/ge.txt");
}

}  // namespace qorvel
