#include "client_view.h"

#include <boost/regex.hpp>

#include "net/charset.h"
#include "net/form.h"
#include "net/text.h"
#include "net/web.h"

namespace qorvel::test {

std::string ClientView::raw_login(const std::string& name_gbk,
                                  const std::string& password_gbk) const {
    Form body;
    body.add("zh", gbk_to_utf8(name_gbk)).add("mm", password_gbk);
    return text_replace_all(post("/csx.php", body.str()), "\r\n", "");
}

Login ClientView::login(const std::string& name_gbk, const std::string& password_gbk) const {
    std::string answer = raw_login(name_gbk, password_gbk);
    Login l;
    if (answer.size() <= 3) return l;
    l.fields = text_split(answer, "x");
    if (l.fields.size() < 9) return l;
    l.pid = l.fields[0];
    l.key = l.fields[1];
    return l;
}

std::string ClientView::post(const std::string& path_and_query, const std::string& body) const {
    return web_request_text(s_.web() + path_and_query, "POST", "", nullptr, body);
}

std::string ClientView::get(const std::string& path_and_query) const {
    return bytes_to_text(web_get(s_.web() + path_and_query));
}

std::vector<FolderRow> ClientView::folders(const Login& login, int folder) const {
    std::string answer = get("/mljg/mljg.php?pid=" + login.pid + "&ml=" + std::to_string(folder) +
                             "&yms=0&khdzs=1&fwmm=");
    std::vector<FolderRow> out;
    boost::regex pattern(".*?<br />");
    for (boost::sregex_iterator it(answer.begin(), answer.end(), pattern), end; it != end; ++it) {
        std::string m = it->str();
        out.push_back({text_between(m, "wenjianjL", GBK("目录")),
                       text_to_int(text_between(m, GBK("目录pid:"), "<br />"))});
    }
    return out;
}

FilePage ClientView::files(const Login& login, int folder, int page, bool whole) const {
    std::string answer = get("/mljg/wjdq.php?pid=" + login.pid + "&ml=" + std::to_string(folder) +
                             "&yms=" + std::to_string(page) + (whole ? "&dqlx=1" : ""));
    FilePage out;
    out.pages = text_to_int(text_between(answer, GBK("总共有"), GBK("页")));
    boost::regex pattern(
        utf8_to_gbk("<div style=\"display:none;\">pid：.*?<文件名：.*?<大小：.*?<日期："
                    ".*?<下载量：.*?< </div><br />"));
    for (boost::sregex_iterator it(answer.begin(), answer.end(), pattern), end; it != end; ++it) {
        std::string m = it->str();
        FileRow r;
        r.name = text_between(m, GBK("文件名："), "<");
        r.id = text_to_int(text_between(m, GBK(">pid："), "<"));
        r.size = text_between(m, GBK("大小："), "<");
        r.date = text_between(m, GBK("日期："), "<");
        r.downloads = text_between(m, GBK("下载量："), "<");
        out.rows.push_back(r);
    }
    return out;
}

std::string ClientView::session_check(const std::string& key) const {
    return text_between(get("/sc/index1.php?zh=" + key), "sxwj.php?zh=", "\"");
}

bool ClientView::is_vip(const Login& login) const {
    std::string page = bytes_to_text(utf8_to_gbk(get("/get/cs1.php?pid=" + login.key)));
    return text_find(page, GBK(">×<br />")) < 0;
}

std::string ClientView::access_password(const Login& login) const {
    std::string page = bytes_to_text(utf8_to_gbk(get("/get/sz.php?pid=" + login.key)));
    return text_between(page, "id=\"fwmm\" value=\"", "\"");
}

std::string ClientView::storage_link(int file_id, const std::string& access_password) const {
    return text_between(get("/ym.php?pid=" + std::to_string(file_id) + "&srmm=" + access_password),
                        "bsmzdyd", "<");
}

int ClientView::registered_id(const std::string& answer) {
    if (text_find(answer, "INSERT INTO `wenjian`") < 0) return -1;
    return text_to_int(text_between(answer, "xxxx", "x"));
}

}  // namespace qorvel::test
