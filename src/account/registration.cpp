#include "account/registration.h"

#include "net/charset.h"
#include "net/text.h"

namespace qorvel {

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

}  // namespace qorvel
