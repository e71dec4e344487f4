#include "api/transfer_wire.h"

#include "net/form.h"
#include "net/text.h"

namespace qorvel::transfer {

std::optional<std::string> storage_link(const std::string& answer) {
    static const std::string start = "bsmzdyd";
    auto at = answer.find(start);
    if (at == std::string::npos) return std::nullopt;
    auto from = at + start.size();
    auto end = answer.find('<', from);
    if (end == std::string::npos || end == from) return std::nullopt;
    return answer.substr(from, end - from);
}

std::string storage_link_path(const std::string& file_id, const std::string& access_password) {
    return with_query("/ym.php", Form().add("pid", file_id).add("srmm", access_password));
}

std::string download_url(const ServiceHosts& hosts, bool vip, const std::string& link) {
    return "http://" + (vip ? hosts.files3 : hosts.files2) + "/up/" + link;
}

int answer_status(const std::string& head) {
    // "HTTP/1.x NNN": the code right after the first space.
    if (head.compare(0, 5, "HTTP/") != 0) return 0;
    auto space = head.find(' ');
    if (space == std::string::npos || head.size() < space + 4) return 0;
    int code = 0;
    for (std::size_t i = space + 1; i < space + 4; ++i) {
        if (head[i] < '0' || head[i] > '9') return 0;
        code = code * 10 + (head[i] - '0');
    }
    if (head.size() > space + 4 && head[space + 4] != ' ' && head[space + 4] != '\r') return 0;
    return code;
}

Registration parse_registration(const std::string& answer, int status) {
    Registration r;
    r.created = status == 200 && answer.find("INSERT INTO `wenjian`") != std::string::npos;
    if (r.created) r.new_id = text_to_int(text_between(answer, "xxxx", "x"));
    return r;
}

std::string instant_upload_path(const std::string& account_key, long long folder_id,
                                const std::string& md5_hex) {
    return with_query("/jsmc.php",
                      Form().add("bsm", account_key).add("mlid", folder_id).add("md5", md5_hex));
}

std::string register_upload_path(const std::string& account_key, long long folder_id) {
    return with_query("/tjwj.php", Form().add("bsm", account_key).add("mlid", folder_id));
}

std::string registration_body(const std::string& file_name) {
    return Form().add("wjdl", file_name).str();
}

}  // namespace qorvel::transfer
