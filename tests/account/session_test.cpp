#include <gtest/gtest.h>

#include "account/session.h"
#include "net/charset.h"

namespace qorvel {
namespace {

TEST(LoginBody, AccountAsUtf8PasswordAsGbkDelimitersEscaped) {
    EXPECT_EQ(login_body(GBK("张三"), GBK("密码")), "zh=张三&mm=" + GBK("密码"));
    // A password with form delimiters stays one field.
    EXPECT_EQ(login_body("demo", "a&b=c+d%e#f g"), "zh=demo&mm=a%26b%3Dc%2Bd%25e%23f%20g");
}

TEST(LoginAnswer, NineFieldsMakeASession) {
    std::string answer =
        "12x"
        "KEY9x" +
        GBK("暂无设置。") + "x4x5x/img/1.pngx7x8x9\r\n";
    auto s = parse_login_answer(answer, GBK("张三"));
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->login_pid, "12");
    EXPECT_EQ(s->account_key, "KEY9");
    EXPECT_EQ(s->account_name, GBK("张三"));
    EXPECT_EQ(s->signature, "");
    EXPECT_EQ(s->membership_flag, "4");
    EXPECT_EQ(s->avatar_path, "/img/1.png");
    EXPECT_EQ(s->file_count, "7");
    EXPECT_EQ(s->subscription_count, "8");
    EXPECT_EQ(s->fan_count, "9");

    auto other = parse_login_answer("1xKx" + GBK("签名") + "x4x5x6x7x8x", "a");
    ASSERT_TRUE(other.has_value());
    EXPECT_EQ(other->signature, GBK("签名"));
    EXPECT_EQ(other->fan_count, "");
}

TEST(LoginAnswer, ShortOrMalformedAnswersAreFailures) {
    EXPECT_FALSE(parse_login_answer("", "a"));
    EXPECT_FALSE(parse_login_answer("0", "a"));
    EXPECT_FALSE(parse_login_answer("abc", "a"));
    EXPECT_FALSE(parse_login_answer("\r\nab\r\n", "a"));  // 2 bytes once line breaks go
    // Longer than 3 bytes but not nine fields: no session filled with garbage.
    EXPECT_FALSE(parse_login_answer("axbx", "a"));
    EXPECT_FALSE(parse_login_answer("<html>error</html>", "a"));
    EXPECT_FALSE(parse_login_answer(std::string(255, '\0'), "a"));
    EXPECT_FALSE(parse_login_answer("1xx3x4x5x6x7x8x9", "a")) << "an empty key is nobody";
}

TEST(LoginVerdict, OnlyTheServicesShortRefusalIsAWrongPassword) {
    std::string session = "12xKEY9xsx1x5x/img/1.pngx7x8x9";
    LoginVerdict yes = judge_login_answer(true, session, "demo");
    EXPECT_EQ(yes.result, LoginResult::accepted);
    ASSERT_TRUE(yes.session);
    EXPECT_EQ(yes.session->account_key, "KEY9");
    for (std::string refusal : {"0", "", "0\r\n", "abc"})
        EXPECT_EQ(judge_login_answer(true, refusal, "demo").result, LoginResult::refused)
            << refusal;
    // Not reached: whatever the body says, even the refusal or a session.
    for (const std::string& body : {std::string("0"), std::string(), session})
        EXPECT_EQ(judge_login_answer(false, body, "demo").result, LoginResult::unreached) << body;
    // An answer that is neither a session nor the refusal came from someone else.
    for (std::string other : {"<html>Bad Gateway</html>", "axbx", "1xx3x4x5x6x7x8x9"})
        EXPECT_EQ(judge_login_answer(true, other, "demo").result, LoginResult::unreached) << other;
}

TEST(SessionCheck, TakeOverPageVersusLivePage) {
    std::string live = "<html><a href=\"sxwj.php?zh=KEY9\">files</a></html>";
    EXPECT_FALSE(session_taken_over(live));
    std::string taken = "\r\n\r\n  <!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0\"><p>bye</p>";
    EXPECT_TRUE(session_taken_over(taken));
    EXPECT_FALSE(session_taken_over(""));
    EXPECT_FALSE(session_taken_over("<!DOCTYPE html PUBLIC \"x\""));  // wrong offset
}

TEST(Handover, FourPiecesStartTheLogin) {
    EXPECT_FALSE(parse_handover(""));
    EXPECT_FALSE(parse_handover("KEY|name|12"));
    auto h = parse_handover("KEY|" + GBK("名字") + "|12|pw\r\n");
    ASSERT_TRUE(h);
    EXPECT_EQ(h->account_key, "KEY");
    EXPECT_EQ(h->account_name, GBK("名字"));
    EXPECT_EQ(h->login_pid, "12");
    EXPECT_EQ(h->password, "pw");
}

TEST(Membership, MarkerMeansNonMember) {
    EXPECT_FALSE(page_says_member("<p>VIP" + GBK(">×<br />") + "</p>"));
    EXPECT_TRUE(page_says_member("<p>VIP>OK<br /></p>"));
    EXPECT_NE(membership_notice(false).find(GBK("当前不是VIP会员")), std::string::npos);
    EXPECT_NE(membership_notice(true).find(GBK("当前为VIP会员")), std::string::npos);
    EXPECT_EQ(welcome_line("demo"), GBK("您好！") + "demo" + GBK("，欢迎使用本程序。"));
}

TEST(ServiceAddresses, KeysGoIntoTheQueryEscaped) {
    ServiceHosts h;
    h.web = "127.0.0.2:80";
    EXPECT_EQ(session_check_url(h, "K1"), "http://127.0.0.2:80/sc/index1.php?zh=K1");
    EXPECT_EQ(account_page_url(h, "K&1"), "http://127.0.0.2:80/get/cs1.php?pid=K%261");
    EXPECT_EQ(public_files_url(h, "12"), "http://127.0.0.2:80/wdwj.php?pid=12");
    EXPECT_EQ(update_url(h), "http://127.0.0.2:80/ge.txt");
}

}  // namespace
}  // namespace qorvel
