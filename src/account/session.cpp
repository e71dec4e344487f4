#include "account/session.h"

#include "net/charset.h"

namespace qorvel {

std::string membership_notice(bool member) {
    return member
               ? GBK("当前为VIP会员，下载速度最高2M/"
                     "s，尽情享受极速传输的乐趣！感谢您对Qorvel的支持！")
               : GBK("当前不是VIP会员，下载速度不超过1000KB/s，高峰期可能无法下载，开通VIP解除。");
}

std::string welcome_line(const std::string& account_name) {
    return GBK("您好！") + account_name + GBK("，欢迎使用本程序。");
}

}  // namespace qorvel
