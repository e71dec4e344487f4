// The registration and recovery forms' pure parts: what an answer means, the
// e-mail shape on GBK text, the bytes of each body, and the earlier client's
// login body.
#include <gtest/gtest.h>

#include "account/registration.h"
#include "account/session.h"
#include "net/charset.h"

namespace qorvel {
namespace {

std::vector<std::string> gbk_list(std::initializer_list<const char*> utf8) {
    std::vector<std::string> out;
    for (const char* s : utf8) out.push_back(utf8_to_gbk(s));
    return out;
}

TEST(FormAnswers, EachFormReadsItsDigitsItsOwnWay) {
    using Judge = FormVerdict (*)(const ServiceAnswer&);
    const Judge reg = judge_registration, question = judge_question_recovery,
                mail = judge_email_recovery;
    const std::string unreachable = service_unreachable_message();
    const struct {
        Judge judge;
        bool reached;
        const char* answer;
        std::vector<std::string> messages;
        bool succeeded;
    } cases[] = {
        // Registration is a chain: "3" wins over "5"; nothing known is an incomplete form.
        {reg, true, "35", gbk_list({"帐号注册成功！"}), true},
        {reg, true, "25", gbk_list({"该帐号已被注册，请重新输入！"}), false},
        {reg, true, "6", gbk_list({"该邮箱已被注册，请重新输入！"}), false},
        {reg, true, "4", gbk_list({"填写不完整"}), false},
        {reg, true, "", gbk_list({"填写不完整"}), false},
        {reg, false, "", {unreachable}, false},
        // Recovery tests every digit on its own, in order.
        {question, true, "35", gbk_list({"密保问题不匹配！", "重置密码成功！"}), true},
        {question, true, "25", gbk_list({"二次密码不重复！", "重置密码成功！"}), true},
        {question, true, "4", {}, false},
        {question, true, "", {}, false},
        {question, false, "", {unreachable}, false},
        {mail, true, "35",
         gbk_list({"您提交的帐号和邮箱不匹配，请重新提交！",
                   "您刚才已经成功提交了更改密码请求，已发送邮件到您的邮箱，"
                   "5分钟内无法执行该操作！"}),
         false},
        {mail, true, "25",
         gbk_list({"系统已经成功提交您的请求，请登录邮箱访问URL即可更改密码。",
                   "您刚才已经成功提交了更改密码请求，已发送邮件到您的邮箱，"
                   "5分钟内无法执行该操作！"}),
         false},
        {mail, true, "1", gbk_list({"表单填写不完整！"}), false},
        {mail, true, "4", {}, false},
        {mail, true, "", {}, false},
        {mail, false, "", {unreachable}, false},
    };
    for (const auto& c : cases) {
        FormVerdict v = c.judge({c.reached, c.answer});
        EXPECT_EQ(v.messages, c.messages) << c.answer << (c.reached ? "" : " unreached");
        EXPECT_EQ(v.succeeded, c.succeeded) << c.answer;
    }
}

TEST(FormChecks, EmailShapeIsJudgedByCharactersNotBytes) {
    // "丂" is 0x81 0x40 in GBK: its second byte is no "@".
    EXPECT_FALSE(email_shape_ok(utf8_to_gbk("丂.com")));
    EXPECT_TRUE(email_shape_ok(utf8_to_gbk("丂@例子.com")));
}

TEST(FormBodies, TypedValuesKeepTheirFieldsAndTheirCharsets) {
    std::string account = utf8_to_gbk("张三&a=1");
    std::string password = utf8_to_gbk("密码+1");
    EXPECT_EQ(registration_body({account, password, password, utf8_to_gbk("张@例.cn"), true}),
              "zh1=张三%26a%3D1&mm1=" + utf8_to_gbk("密码") + "%2B1&cfmm1=" + utf8_to_gbk("密码") +
                  "%2B1&zcyx=张@例.cn&xcfmm1=1");
    EXPECT_EQ(question_recovery_body(
                  {account, password, password, utf8_to_gbk("问#题"), utf8_to_gbk("答 案")}),
              "zh2=张三%26a%3D1&mm2=密码%2B1&czmm3=密码%2B1&wt2=问%23题&dn2=答%20案");
    EXPECT_EQ(email_recovery_body({account, "a%b@c.d"}), "zh1=张三%26a%3D1&yx1=a%25b@c.d");
}

TEST(FormBodies, EarlierClientLoginSendsThePasswordUnescaped) {
    EXPECT_EQ(login_body("old", "a+b&c"), "zh=old&mm=a%2Bb%26c");
    EXPECT_EQ(earlier_login_body("old", "a+b&c"), "zh=old&mm=a+b&c");
    for (const char* p : {"a+b", "50%", "a&b", "a=b", "a#b"})
        EXPECT_TRUE(password_sent_differently_before(p)) << p;
    // Blanks are escaped too, but the service decodes both ways alike.
    for (const char* p : {"plain", "a b", ""})
        EXPECT_FALSE(password_sent_differently_before(p)) << p;
}

}  // namespace
}  // namespace qorvel
