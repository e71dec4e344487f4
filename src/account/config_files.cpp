#include "account/config_files.h"

#include "net/charset.h"
#include "net/text.h"
#include "platform/ini_file.h"

namespace qorvel {

std::filesystem::path ConfigFiles::skin_file() const {
    return documents_ / text_to_path(GBK("配置.ini"));
}

std::filesystem::path ConfigFiles::login_file() const {
    return documents_ / text_to_path(GBK("配置2.iniat"));
}

int ConfigFiles::skin_index() const {
    std::string v = ini_read(skin_file(), GBK("皮肤"), GBK("存储"));
    if (v.empty()) v = "1";
    return text_to_int(v) - 1;
}

std::string ConfigFiles::remembered_login() const {
    return ini_read(login_file(), GBK("帐号密码"), GBK("存储"));
}

bool ConfigFiles::remember_login(const std::string& account, const std::string& password) const {
    // The password stays readable for the next start, so only the owner may read the file.
    return ini_write(login_file(), GBK("帐号密码"), GBK("存储"), account + GBK("切割") + password,
                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

bool ConfigFiles::forget_login() const {
    return ini_delete_file(login_file());
}

}  // namespace qorvel
