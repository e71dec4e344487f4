// The login exchange and the session values every later request carries:
// the login bodies and answers, the take-over check, the web-login hand-over,
// the account page's membership mark and the account addresses.
#pragma once

#include <optional>
#include <string>

#include "platform/service_hosts.h"

namespace qorvel {

struct Session {
    std::string login_pid;    // "pid=" of the public listing pages
    std::string account_key;  // "zh=", "pid=" or "bsm=" of account requests; empty: nobody
    std::string account_name;
    // Login answer fields 3 to 5, kept as the service sends them: the
    // signature ("暂无设置。" stored as empty), the membership flag and the
    // day the account was made. Nothing reads them yet.
    std::string signature, membership_flag, joined;
    std::string avatar_path;
    std::string file_count, subscription_count, fan_count;
};

// "zh=" + the account as UTF-8 + "&mm=" + the password's GBK bytes.
std::string login_body(const std::string& account, const std::string& password);

// The earlier client put the password into the body unescaped, and the service
// stored what it decoded from that ("a+b" became "a b", "a&b" became "a").
// Such an account is reached only by sending the password the same way.
bool password_sent_differently_before(const std::string& password);
std::string earlier_login_body(const std::string& account, const std::string& password);

// The login answer (nine "x"-separated fields, line breaks removed). Nothing
// for an answer of at most 3 bytes, and nothing for one with fewer than nine
// fields, which is no session at all.
std::optional<Session> parse_login_answer(const std::string& answer, const std::string& account);

// What a login attempt came to. Only the service's own short refusal means
// a wrong password; no answer, an error status or a body that is neither a
// session nor a refusal means the service was not reached.
enum class LoginResult { accepted, refused, unreached };
struct LoginVerdict {
    LoginResult result = LoginResult::unreached;
    std::optional<Session> session;  // set when accepted
};
// reached: a 2xx answer came back.
LoginVerdict judge_login_answer(bool reached, const std::string& answer,
                                const std::string& account);

// Whether the session-check page says the account was logged in elsewhere.
bool session_taken_over(const std::string& page);

struct Handover {
    std::string account_key, account_name, login_pid, password;
};
// The web-login hand-over "key|name|pid|password"; nothing until it arrives.
std::optional<Handover> parse_handover(const std::string& answer);

// The account page (already in GBK) marks an account without membership.
bool page_says_member(const std::string& account_page);

// Addresses on the web host.
std::string login_url(const ServiceHosts& hosts);
std::string session_check_url(const ServiceHosts& hosts, const std::string& account_key);
std::string account_page_url(const ServiceHosts& hosts, const std::string& account_key);
std::string handover_url(const ServiceHosts& hosts);
std::string web_login_url(const ServiceHosts& hosts);
std::string public_files_url(const ServiceHosts& hosts, const std::string& login_pid);
std::string visit_url(const ServiceHosts& hosts);
std::string update_url(const ServiceHosts& hosts);

}  // namespace qorvel
