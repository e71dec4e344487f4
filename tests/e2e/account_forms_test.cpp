// Registration and password recovery through their windows, against the
// reference service. A relay in front of the service's web host keeps every
// request byte, so a test can tell what reached the wire and what never left.
#include <gtest/gtest.h>

#include "account/registration.h"
#include "e2e/road.h"
#include "net/form.h"
#include "net/text.h"
#include "net/web.h"
#include "support/recording_server.h"

namespace qorvel {
namespace {

using namespace std::chrono_literals;
using test::asked;
using test::hosts_of;
using test::Road;
using ui::Event;

std::vector<std::string> asked_texts(const ui::ScriptedPrompts& p) {
    std::vector<std::string> out;
    for (const auto& a : p.asked()) out.push_back(a.text);
    return out;
}

std::vector<std::string> gbk_list(std::initializer_list<const char*> utf8) {
    std::vector<std::string> out;
    for (const char* s : utf8) out.push_back(utf8_to_gbk(s));
    return out;
}

class AccountForms : public test::SharedServiceSuite<AccountForms> {
  public:
    static test::ServiceInstanceOptions service_options() {
        test::ServiceInstanceOptions o;
        o.host = "127.0.0.43";
        return guessing_free(o);
    }

  protected:
    void SetUp() override {
        SharedServiceSuite::SetUp();
        if (HasFatalFailure()) return;
        // Forwards to the service's web host and keeps what was sent.
        relay_ = std::make_unique<test::RecordingServer>(
            [](const test::RecordedRequest& rq) {
                std::string method = rq.head.substr(0, rq.head.find(' '));
                std::string headers;
                std::string body = web_request(service_->web() + rq.target(), method, "", nullptr,
                                               rq.body, &headers);
                int status = answer_status(headers);
                return test::RecordingServer::answer(status ? status : 502, body);
            },
            "127.0.0.43");
    }
    ServiceHosts hosts() const {
        ServiceHosts h = hosts_of(*service_);
        h.web = relay_->address();
        return h;
    }
    std::vector<std::string> bodies_sent_to(const std::string& path) const {
        std::vector<std::string> out;
        for (const auto& rq : relay_->requests())
            if (rq.target() == path) out.push_back(rq.body);
        return out;
    }
    // Opens a child of the login window by its button and returns it.
    static std::shared_ptr<ui::Window> open_from_login(Road& r, const char* button,
                                                       const char* id) {
        r.program_.post_event(*r.login(), button, Event::clicked);
        if (!r.wait([&] { return r.program_.find(id) != nullptr; })) return nullptr;
        return r.program_.find(id);
    }
    using Boxes = std::vector<std::pair<const char*, const char*>>;
    static void fill(Road& r, ui::Window& w, const Boxes& boxes) {
        r.call([&] {
            for (const auto& [name, utf8] : boxes) w[name].set_text(utf8_to_gbk(utf8));
        });
    }
    static void click(Road& r, ui::Window& w, const char* button) {
        r.program_.post_event(w, button, Event::clicked);
    }

    std::unique_ptr<test::RecordingServer> relay_;
};

TEST_F(AccountForms, NewAccountWithDelimitersInEveryValueRegistersOnceAndLogsIn) {
    Road r(hosts());
    ASSERT_TRUE(r.start());
    auto reg = open_from_login(r, "按钮2", windows::kRegistrationWindow);
    ASSERT_TRUE(reg);
    // The e-mail has its "." only before the "@": the client lets it through.
    fill(r, *reg,
         {{"编辑框1", "新人&x=1"},
          {"编辑框2", "p&w=1+%#"},
          {"编辑框3", "p&w=1+%#"},
          {"编辑框5", "new.user@example"}});
    r.call([&] { (*reg)["选择框1"].set_checked(true); });
    // A second click while the notice is up finds the button disabled and sends nothing.
    bool disabled_during_notice = false;
    r.prompts_.set_responder([&](const std::string& text, MessageButtons) {
        if (text == utf8_to_gbk("注册帐号中，请勿重复提交。")) {
            disabled_during_notice = !(*reg)["按钮1"].enabled();
            r.program_.raise(*reg, "按钮1", Event::clicked);
        }
        return kAnswerOk;
    });
    click(r, *reg, "按钮1");
    ASSERT_TRUE(r.wait([&] { return !reg->alive(); })) << test::read_file(service_->log_file());
    EXPECT_TRUE(disabled_during_notice);
    EXPECT_EQ(asked_texts(r.prompts_), gbk_list({"注册帐号中，请勿重复提交。", "帐号注册成功！"}));
    EXPECT_EQ(
        bodies_sent_to("/zc.php"),
        std::vector<std::string>{"zh1=新人%26x%3D1&mm1=p%26w%3D1%2B%25%23&cfmm1=p%26w%3D1%2B%25%23"
                                 "&zcyx=new.user@example&xcfmm1=1"});
    r.call([&] {
        EXPECT_EQ((*r.login())["编辑框1"].text(), utf8_to_gbk("新人&x=1"));
        EXPECT_EQ((*r.login())["编辑框2"].text(), "p&w=1+%#");
        r.program_.raise(*r.login(), "按钮1", Event::clicked);
    });
    ASSERT_TRUE(r.wait([&] { return r.logged_in(); }));
    EXPECT_EQ(r.main()["标签43"].caption(), welcome_line(utf8_to_gbk("新人&x=1")));
    // Escaped, the first login already matched: no second try.
    EXPECT_EQ(bodies_sent_to("/csx.php").size(), 1u);
}

TEST_F(AccountForms, TakenAccountAndTakenEmailKeepTheWindowAndGiveTheButtonBack) {
    Road r(hosts());
    ASSERT_TRUE(r.start());
    auto reg = open_from_login(r, "按钮2", windows::kRegistrationWindow);
    ASSERT_TRUE(reg);
    r.call([&] { (*reg)["选择框1"].set_checked(true); });
    const struct {
        const char* account;
        const char* email;
        const char* message;
    } cases[] = {
        {"demo", "someone@example.com", "该帐号已被注册，请重新输入！"},
        {"somebody", "demo@example.com", "该邮箱已被注册，请重新输入！"},
    };
    for (const auto& c : cases) {
        fill(
            r, *reg,
            {{"编辑框1", c.account}, {"编辑框2", "pw1"}, {"编辑框3", "pw1"}, {"编辑框5", c.email}});
        int before = r.prompts_.asked_count();
        click(r, *reg, "按钮1");
        ASSERT_TRUE(r.wait([&] { return r.prompts_.asked_count() == before + 2; })) << c.account;
        EXPECT_EQ(r.prompts_.asked().back().text, utf8_to_gbk(c.message));
        ASSERT_TRUE(r.wait([&] { return (*reg)["按钮1"].enabled(); }));
        EXPECT_TRUE(reg->alive());
    }
    EXPECT_EQ(bodies_sent_to("/zc.php").size(), 2u);
    r.call([&] { EXPECT_EQ((*r.login())["编辑框1"].text(), ""); });
}

TEST_F(AccountForms, ClientChecksStopBeforeAnyRequest) {
    Road r(hosts());
    ASSERT_TRUE(r.start());
    auto reg = open_from_login(r, "按钮2", windows::kRegistrationWindow);
    ASSERT_TRUE(reg);
    const char* notice = "注册帐号中，请勿重复提交。";
    const struct {
        bool agreed;
        const char *account, *password, *confirmation, *email;
        std::vector<std::string> messages;
    } cases[] = {
        {false, "a", "b", "b", "a@b.c", gbk_list({"请先同意使用条款！"})},
        {true, "a", "b", "b", "ab.c", gbk_list({"邮箱格式不正确！"})},
        {true, "a", "b", "b", "a@bc", gbk_list({"邮箱格式不正确！"})},
        {true, "a", "b", "b", "a@.bc", gbk_list({"邮箱格式不正确！"})},
        {true, "a", "b", "b", "", gbk_list({"邮箱格式不正确！"})},
        {true, "", "b", "b", "a@b.c", gbk_list({notice, "填写不完整"})},
        {true, "a", "", "b", "a@b.c", gbk_list({notice, "填写不完整"})},
        {true, "a", "b", "", "a@b.c", gbk_list({notice, "填写不完整"})},
        {true, "a", "b", "B", "a@b.c", gbk_list({notice, "二次密码不重复！"})},
    };
    for (const auto& c : cases) {
        fill(r, *reg,
             {{"编辑框1", c.account},
              {"编辑框2", c.password},
              {"编辑框3", c.confirmation},
              {"编辑框5", c.email}});
        r.call([&] { (*reg)["选择框1"].set_checked(c.agreed); });
        size_t before = r.prompts_.asked().size();
        click(r, *reg, "按钮1");
        ASSERT_TRUE(r.wait([&] {
            return (*reg)["按钮1"].enabled() &&
                   r.prompts_.asked().size() == before + c.messages.size();
        })) << c.email;
        std::vector<std::string> shown = asked_texts(r.prompts_);
        shown.erase(shown.begin(), shown.begin() + static_cast<long>(before));
        EXPECT_EQ(shown, c.messages) << c.account << "/" << c.email;
    }
    r.call([&] { r.program_.request_close(*reg); });

    auto rec = open_from_login(r, "按钮3", windows::kPasswordRecoveryWindow);
    ASSERT_TRUE(rec);
    const struct {
        const char* button;
        Boxes boxes;
        const char* message;
    } recovery[] = {
        {"按钮1",
         {{"编辑框1", "demo"},
          {"编辑框2", "n"},
          {"编辑框3", "n"},
          {"编辑框4", "q"},
          {"编辑框5", ""}},
         "表单填写不完整！"},
        {"按钮1",
         {{"编辑框1", "demo"},
          {"编辑框2", "n"},
          {"编辑框3", "m"},
          {"编辑框4", "q"},
          {"编辑框5", "a"}},
         "二次密码输入不一致！"},
        {"按钮2", {{"编辑框6", "demo"}, {"编辑框7", ""}}, "表单填写不完整！"},
        {"按钮2", {{"编辑框6", ""}, {"编辑框7", "demo@example.com"}}, "表单填写不完整！"},
    };
    for (const auto& c : recovery) {
        fill(r, *rec, c.boxes);
        size_t before = r.prompts_.asked().size();
        click(r, *rec, c.button);
        ASSERT_TRUE(r.wait(
            [&] { return (*rec)[c.button].enabled() && r.prompts_.asked().size() == before + 1; }));
        EXPECT_EQ(r.prompts_.asked().back().text, utf8_to_gbk(c.message));
    }
    EXPECT_TRUE(bodies_sent_to("/zc.php").empty());
    EXPECT_TRUE(bodies_sent_to("/post/zh.php").empty());
    EXPECT_TRUE(bodies_sent_to("/post/yxzh.php").empty());
}

TEST_F(AccountForms, RecoveryByQuestionSetsTheNewPasswordThatThenLogsIn) {
    Road r(hosts());
    ASSERT_TRUE(r.start());
    auto rec = open_from_login(r, "按钮3", windows::kPasswordRecoveryWindow);
    ASSERT_TRUE(rec);
    fill(r, *rec,
         {{"编辑框1", "demo"},
          {"编辑框2", "新密码&1"},
          {"编辑框3", "新密码&1"},
          {"编辑框4", "我的小学是？"},
          {"编辑框5", "别的小学"}});
    click(r, *rec, "按钮1");
    ASSERT_TRUE(r.wait([&] { return r.prompts_.asked_count() == 1 && (*rec)["按钮1"].enabled(); }));
    EXPECT_EQ(r.prompts_.asked().back().text, utf8_to_gbk("密保问题不匹配！"));
    EXPECT_TRUE(rec->alive());

    fill(r, *rec, {{"编辑框5", "实验小学"}});
    click(r, *rec, "按钮1");
    ASSERT_TRUE(r.wait([&] { return !rec->alive(); }));
    EXPECT_EQ(r.prompts_.asked().back().text, utf8_to_gbk("重置密码成功！"));
    // The new password travelled as UTF-8, escaped, twice.
    EXPECT_EQ(bodies_sent_to("/post/zh.php").back(),
              "zh2=demo&mm2=新密码%261&czmm3=新密码%261&wt2=我的小学是？&dn2=实验小学");
    r.call([&] {
        EXPECT_EQ((*r.login())["编辑框1"].text(), "demo");
        EXPECT_EQ((*r.login())["编辑框2"].text(), utf8_to_gbk("新密码&1"));
        r.program_.raise(*r.login(), "按钮1", Event::clicked);
    });
    ASSERT_TRUE(r.wait([&] { return r.logged_in(); }));
    // The old password no longer works.
    EXPECT_FALSE(parse_login_answer(
        web_request_text(login_url(hosts()), "POST", "", nullptr, login_body("demo", "demo123")),
        "demo"));
}

TEST_F(AccountForms, RecoveryByEmailSendsOnceThenRefusesForFiveMinutes) {
    Road r(hosts());
    ASSERT_TRUE(r.start());
    auto rec = open_from_login(r, "按钮3", windows::kPasswordRecoveryWindow);
    ASSERT_TRUE(rec);
    const struct {
        const char* email;
        const char* message;
    } steps[] = {
        {"other@example.com", "您提交的帐号和邮箱不匹配，请重新提交！"},
        {"guest@example.com", "系统已经成功提交您的请求，请登录邮箱访问URL即可更改密码。"},
        {"guest@example.com",
         "您刚才已经成功提交了更改密码请求，已发送邮件到您的邮箱，5分钟内无法执行该操作！"},
    };
    for (const auto& s : steps) {
        fill(r, *rec, {{"编辑框6", "guest"}, {"编辑框7", s.email}});
        int before = r.prompts_.asked_count();
        click(r, *rec, "按钮2");
        ASSERT_TRUE(r.wait([&] {
            return r.prompts_.asked_count() == before + 1 && (*rec)["按钮2"].enabled();
        })) << s.email;
        EXPECT_EQ(r.prompts_.asked().back().text, utf8_to_gbk(s.message));
        EXPECT_TRUE(rec->alive());
    }
    EXPECT_EQ(bodies_sent_to("/post/yxzh.php").back(), "zh1=guest&yx1=guest@example.com");
}

TEST_F(AccountForms, EarlierClientsAccountLogsInAndAWrongPasswordStillFailsOnce) {
    // Made the way the earlier client sent it: "a+b" unescaped, stored as "a b".
    std::string made =
        web_request_text(registration_url(hosts_of(*service_)), "POST", "", nullptr,
                         "zh1=oldtimer&mm1=a+b&cfmm1=a+b&zcyx=old@example.com&xcfmm1=1");
    ASSERT_NE(made.find('3'), std::string::npos);

    Road r(hosts());
    ASSERT_TRUE(r.start());
    r.log_in("oldtimer", "a+c", false);
    ASSERT_TRUE(r.wait([&] { return asked(r.prompts_, "登录失败，帐号密码错误！"); }));
    ASSERT_TRUE(r.wait([&] { return (*r.login())["按钮1"].enabled(); }));
    EXPECT_EQ(r.prompts_.asked_count(), 1);
    EXPECT_EQ(bodies_sent_to("/csx.php"),
              (std::vector<std::string>{"zh=oldtimer&mm=a%2Bc", "zh=oldtimer&mm=a+c"}));

    r.log_in("oldtimer", "a+b", false);
    ASSERT_TRUE(r.wait([&] { return r.logged_in(); }));
    EXPECT_EQ(r.prompts_.asked_count(), 1);
}

TEST_F(AccountForms, EnterInThePasswordBoxLogsIn) {
    Road r(hosts());
    ASSERT_TRUE(r.start());
    r.call([&] {
        (*r.login())["编辑框1"].set_text("guest");
        (*r.login())["编辑框2"].set_text("guest123");
        // Enter in the account box does nothing; in the password box it logs in.
        r.program_.raise(*r.login(), "编辑框1", Event::enter_pressed);
        EXPECT_TRUE((*r.login())["按钮1"].enabled());
        r.program_.raise(*r.login(), "编辑框2", Event::enter_pressed);
        // A second Enter while the login runs starts no second login.
        r.program_.raise(*r.login(), "编辑框2", Event::enter_pressed);
    });
    ASSERT_TRUE(r.wait([&] { return r.logged_in(); }));
    EXPECT_EQ(bodies_sent_to("/csx.php").size(), 1u);
}

// Nothing listens on the web host: every form says so instead of blaming the form.
TEST(AccountFormsOffline, UnreachableServiceIsSaidSo) {
    ServiceHosts h;
    h.web = "127.0.0.43:" + std::to_string(test::free_port("127.0.0.43"));
    Road r(h);
    r.runner_ = std::make_unique<ui::HeadlessRunner>(r.backend_, r.program_);
    std::shared_ptr<ui::Window> reg, rec;
    r.call([&] {
        r.client_.set_window_factory(
            [&r](const std::string& id) { return make_client_window(r.client_, id); });
        reg = r.client_.make_window(windows::kRegistrationWindow);
        rec = r.client_.make_window(windows::kPasswordRecoveryWindow);
        r.program_.open(reg, false);
        r.program_.open(rec, false);
        (*reg)["编辑框1"].set_text("someone");
        (*reg)["编辑框2"].set_text("pw");
        (*reg)["编辑框3"].set_text("pw");
        (*reg)["编辑框5"].set_text("someone@example.com");
        (*reg)["选择框1"].set_checked(true);
        for (const char* box : {"编辑框1", "编辑框2", "编辑框3", "编辑框4", "编辑框5", "编辑框6"})
            (*rec)[box].set_text("x");
        (*rec)["编辑框7"].set_text("x@example.com");
    });
    const std::string& unreachable = service_unreachable_message();
    const std::pair<ui::Window*, const char*> presses[] = {
        {reg.get(), "按钮1"}, {rec.get(), "按钮1"}, {rec.get(), "按钮2"}};
    for (const auto& [w, button] : presses) {
        int before = r.prompts_.asked_count();
        r.program_.post_event(*w, button, Event::clicked);
        ASSERT_TRUE(r.wait([&] {
            return r.prompts_.asked_count() > before && (*w)[button].enabled();
        })) << w->id()
            << button;
        EXPECT_EQ(r.prompts_.asked().back().text, unreachable) << w->id() << button;
    }
    EXPECT_EQ(asked_texts(r.prompts_),
              (std::vector<std::string>{utf8_to_gbk("注册帐号中，请勿重复提交。"), unreachable,
                                        unreachable, unreachable}));
    EXPECT_TRUE(reg->alive());
    EXPECT_TRUE(rec->alive());
}

}  // namespace
}  // namespace qorvel
