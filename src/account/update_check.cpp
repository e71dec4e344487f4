#include "account/update_check.h"

#include "net/charset.h"
#include "net/text.h"
#include "platform/prompts.h"
#include "platform/shell.h"

namespace qorvel {

RememberedLogin parse_remembered_login(const std::string& stored) {
    RememberedLogin r;
    if (stored.empty()) return r;
    r.check_box = true;
    std::vector<std::string> pieces = text_split(stored, GBK("切割"));
    if (pieces.size() == 2) {
        r.fill = true;
        r.account = pieces[0];
        r.password = pieces[1];
    }
    return r;
}

UpdateDecision decide_update(const std::string& answer) {
    UpdateDecision d;
    if (text_find(answer, "|") == -1) return d;
    std::vector<std::string> pieces = text_split(answer, "|");
    std::string version = pieces.empty() ? std::string() : pieces[0];
    if (version == kClientVersion) return d;
    d.current = false;
    if (pieces.size() >= 2) d.address = pieces[1];
    return d;
}

LoginRestore restore_login_and_check_update(const ConfigFiles& files, const StartupServices& s) {
    LoginRestore out;
    out.login = parse_remembered_login(files.remembered_login());

    std::string answer = s.get ? bytes_to_text(s.get(s.update_url)) : std::string();
    UpdateDecision d = decide_update(answer);
    if (d.current) {
        out.log_line = GBK("当前软件是最新版本。") + "\r\n";
        return out;
    }
    int reply = s.prompts ? s.prompts->message_box(GBK("发现新版本，是否马上更新？"),
                                                   MessageButtons::yes_no)
                          : kAnswerNo;
    if (reply == kAnswerYes && s.shell && !d.address.empty()) open_in_browser(*s.shell, d.address);
    out.end_program = true;
    return out;
}

}  // namespace qorvel
