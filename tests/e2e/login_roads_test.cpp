#include <gtest/gtest.h>

#include <sys/stat.h>

#include "e2e/road.h"
#include "net/text.h"
#include "net/web.h"
#include "platform/special_folders.h"
#include "support/forwarding.h"
#include "support/recording_server.h"

namespace qorvel {
namespace {

using namespace std::chrono_literals;
using test::asked;
using test::hosts_of;
using test::Road;
using ui::Event;

class LoginRoads : public test::SharedServiceSuite<LoginRoads> {
  public:
    static test::ServiceInstanceOptions service_options() {
        test::ServiceInstanceOptions o;
        o.host = "127.0.0.41";
        return guessing_free(o);
    }

  protected:
    static ServiceHosts hosts() { return hosts_of(*service_); }
    static std::string log() { return test::read_file(service_->log_file()); }
};

TEST_F(LoginRoads, FirstStartShowsAnEmptyLoginWindowAndACurrentVersion) {
    Road r(hosts());
    ASSERT_TRUE(r.start());
    auto login = r.login();
    ASSERT_TRUE(login);
    r.call([&] {
        EXPECT_EQ((*login)["组合框1"].current(), 0);
        EXPECT_EQ((*login)["编辑框1"].text(), "");
        EXPECT_EQ((*login)["编辑框2"].text(), "");
        EXPECT_FALSE((*login)["选择框1"].checked());
        EXPECT_FALSE(r.main().visible());
        EXPECT_EQ(r.main()["日志编辑框"].text(), GBK("当前软件是最新版本。") + "\r\n");
        EXPECT_EQ(r.main()["编辑框49"].text(), folder_text(r.home_.path() / "Desktop"));
    });
    // Closing the login window without a login ends the program with 0.
    r.call([&] { r.program_.request_close(*login); });
    EXPECT_TRUE(r.runner_->wait_finished(5s));
    EXPECT_EQ(r.program_.exit_code(), 0);
}

TEST_F(LoginRoads, WrongPasswordsKeepTheRememberedLoginAndUntickingForgetsIt) {
    Road r(hosts());
    ConfigFiles files(r.home_.path() / "Documents");
    ASSERT_TRUE(files.remember_login("demo", "demo123"));
    const std::string remembered = "demo" + GBK("切割") + "demo123";
    ASSERT_TRUE(r.start());
    for (int shown = 1; shown <= 2; ++shown) {
        r.log_in("demo", shown == 1 ? "wrong" : "wrong again", true);
        ASSERT_TRUE(r.wait([&] { return r.prompts_.asked_count() == shown; }));
        ASSERT_TRUE(r.wait([&] { return (*r.login())["按钮1"].enabled(); }));
        EXPECT_EQ(r.prompts_.asked().back().text, GBK("登录失败，帐号密码错误！"));
        EXPECT_EQ(files.remembered_login(), remembered);
    }

    r.log_in("demo", "wrong", false);
    ASSERT_TRUE(r.wait([&] { return r.prompts_.asked_count() == 3; }));
    EXPECT_EQ(r.prompts_.asked().back().text, GBK("登录失败，帐号密码错误！"));
    EXPECT_FALSE(std::filesystem::exists(files.login_file()));
    EXPECT_TRUE(r.login() != nullptr);
    EXPECT_TRUE(r.client_.session().account_key().empty());
}

// The login through a forwarder to the service, which a test can spoil or stop.
TEST_F(LoginRoads, LoginWithoutTheServicesAnswerSaysItCannotConnect) {
    enum Spoil { none, error_status, garbage, cut };
    auto spoil = std::make_shared<std::atomic<int>>(none);
    auto cut_now = std::make_shared<std::atomic<bool>>(false);
    auto forwarder = std::make_unique<test::RecordingServer>(test::forward_to(
        hosts().web, cut_now, nullptr, [spoil](const test::RecordedRequest& rq, std::string a) {
            if (rq.target().rfind("/csx.php", 0) != 0) return a;
            if (*spoil == error_status) return test::RecordingServer::answer(500, "0");
            if (*spoil == garbage)
                return test::RecordingServer::answer(200, "<html>Service Unavailable</html>");
            return a;
        }));
    ServiceHosts h = hosts();
    h.web = forwarder->address();
    Road r(h);
    ConfigFiles files(r.home_.path() / "Documents");
    ASSERT_TRUE(files.remember_login("demo", "demo123"));
    const std::string remembered = "demo" + GBK("切割") + "demo123";
    ASSERT_TRUE(r.start());

    int shown = 0;
    auto attempt = [&](bool remember) {
        r.log_in("demo", "other", remember);
        ++shown;
        ASSERT_TRUE(r.wait([&] { return r.prompts_.asked_count() == shown; }));
        ASSERT_TRUE(r.wait([&] { return (*r.login())["按钮1"].enabled(); }));
        EXPECT_EQ(r.prompts_.asked().back().text, GBK("无法连接到服务器，请检查网络后重试！"))
            << "spoiled by " << *spoil;
    };
    // A refusal behind an error status is no refusal; a page is no login answer.
    for (int s : {error_status, garbage, cut}) {
        *spoil = s;
        *cut_now = s == cut;
        attempt(true);
        EXPECT_EQ(files.remembered_login(), remembered);
    }
    // Nothing listens any more; unticked, the file still goes at the attempt.
    forwarder.reset();
    attempt(false);
    EXPECT_FALSE(std::filesystem::exists(files.login_file()));
    EXPECT_FALSE(asked(r.prompts_, "登录失败，帐号密码错误！"));
    EXPECT_TRUE(r.client_.session().account_key().empty());
}

TEST_F(LoginRoads, MemberLoginBringsUpTheMainWindow) {
    Road r(hosts());
    ASSERT_TRUE(r.start());
    r.log_in("demo", "demo123", true);
    ASSERT_TRUE(r.wait([&] { return r.logged_in(); })) << log();
    // The set-up goes on after the window shows; its last step turns the log on.
    ASSERT_TRUE(r.wait([&] { return r.client_.timestamped_log_enabled.load(); }));
    r.call([&] {
        EXPECT_EQ(r.main()["标签43"].caption(), GBK("您好！") + "demo" + GBK("，欢迎使用本程序。"));
        EXPECT_TRUE(r.main().tray_visible());
        EXPECT_NE(text_find(r.main()["编辑框48"].text(), GBK("： 初始化软件中，请稍后……！")), -1);
        EXPECT_EQ(r.main()["编辑框3"].text(),
                  r.client_.hosts().web_url("/wdwj.php?pid=" + r.client_.session().login_pid()));
        // The page selector is filled by the file list; item 0 when it has any.
        EXPECT_EQ(r.main()["组合框1"].current(), r.main()["组合框1"].item_count() > 0 ? 0 : -1);
    });
    ASSERT_TRUE(r.wait([&] { return r.main()["标签9"].caption() == membership_notice(true); }));
    EXPECT_EQ(r.client_.is_vip.load(), 1);
    EXPECT_TRUE(r.client_.timestamped_log_enabled.load());
    EXPECT_FALSE(r.client_.session().account_key().empty());
    ConfigFiles files(r.home_.path() / "Documents");
    EXPECT_EQ(files.remembered_login(), "demo" + GBK("切割") + "demo123");
    struct stat st {};
    ASSERT_EQ(stat(files.login_file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);
    // The next start fills the remembered login.
    Road again(hosts());
    std::filesystem::copy(r.home_.path() / "Documents", again.home_.path() / "Documents",
                          std::filesystem::copy_options::overwrite_existing |
                              std::filesystem::copy_options::recursive);
    ASSERT_TRUE(again.start());
    again.call([&] {
        EXPECT_TRUE((*again.login())["选择框1"].checked());
        EXPECT_EQ((*again.login())["编辑框1"].text(), "demo");
        EXPECT_EQ((*again.login())["编辑框2"].text(), "demo123");
    });
}

TEST_F(LoginRoads, NonMemberSeesTheNonMemberNotice) {
    Road r(hosts());
    ASSERT_TRUE(r.start());
    r.log_in("guest", "guest123", false);
    ASSERT_TRUE(r.wait([&] { return r.logged_in(); })) << log();
    ASSERT_TRUE(r.wait([&] { return r.main()["标签9"].caption() == membership_notice(false); }));
    EXPECT_EQ(r.client_.is_vip.load(), 0);
}

// An account page that did not come says nothing of membership: the guest
// stays a guest and downloads from the host for everyone.
TEST_F(LoginRoads, AnUnansweredAccountPageMakesNoMember) {
    test::RecordingServer forwarder(test::forward_to(
        hosts().web, nullptr, nullptr, [](const test::RecordedRequest& rq, std::string a) {
            if (rq.target().rfind("/get/cs1.php", 0) != 0) return a;
            return test::RecordingServer::answer(503, "busy");
        }));
    ServiceHosts h = hosts();
    h.web = forwarder.address();
    Road r(h);
    ASSERT_TRUE(r.start());
    r.log_in("guest", "guest123", false);
    ASSERT_TRUE(r.wait([&] { return r.logged_in(); })) << log();
    ASSERT_TRUE(r.wait([&] { return r.main()["标签9"].caption() == membership_notice(false); }));
    EXPECT_EQ(r.client_.is_vip.load(), 0);
}

TEST_F(LoginRoads, TakeOverShowsTheMessageAndTheLoginWindow) {
    Road r(hosts());
    ASSERT_TRUE(r.start());
    r.log_in("demo", "demo123", false);
    ASSERT_TRUE(r.wait([&] { return r.logged_in(); }));
    // A live session: the watchdog stays quiet.
    r.backend_.advance(30000ms);
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(asked(r.prompts_, "您的帐号已在其它地方登录，软件即将注销……"));

    // The same account logs in elsewhere.
    std::string answer = web_request_text(login_url(r.client_.hosts()), "POST", "", nullptr,
                                          login_body("demo", "demo123"));
    ASSERT_TRUE(parse_login_answer(answer, "demo").has_value());
    r.backend_.advance(30000ms);
    ASSERT_TRUE(
        r.wait([&] { return asked(r.prompts_, "您的帐号已在其它地方登录，软件即将注销……"); }));
    ASSERT_TRUE(r.wait([&] { return r.login() != nullptr && !r.main().visible(); }));
    EXPECT_EQ(r.main()["时钟3"].interval(), 0);
}

TEST_F(LoginRoads, LogOutAndCloseQuestion) {
    Road r(hosts());
    ASSERT_TRUE(r.start());
    r.log_in("demo", "demo123", false);
    ASSERT_TRUE(r.wait([&] { return r.logged_in(); }));

    // 注销: the login window comes back; closing it keeps the program in the tray.
    r.call([&] { r.program_.choose(r.main(), "托盘", "注销"); });
    ASSERT_TRUE(r.wait([&] { return r.login() != nullptr && !r.main().visible(); }));
    r.call([&] { r.program_.request_close(*r.login()); });
    ASSERT_TRUE(r.wait([&] { return r.login() == nullptr; }));
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(r.program_.exiting());

    // Tray kind 1 brings the window back.
    r.call([&] {
        ui::EventArgs a;
        a.kind = 1;
        r.program_.raise(r.main(), "", Event::tray, a);
    });
    EXPECT_TRUE(r.main().visible());
    // Kind 3 pops the tray menu up; kind 2 does nothing.
    r.call([&] {
        ui::EventArgs a;
        a.kind = 3;
        r.program_.raise(r.main(), "", Event::tray, a);
        a.kind = 2;
        r.program_.raise(r.main(), "", Event::tray, a);
    });
    auto popups = r.backend_.popups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].menu, "托盘");
    EXPECT_EQ(popups[0].items, (std::vector<std::string>{"打开软件", "注销", "退出"}));
    // Hidden, the window leaves the taskbar; "打开软件" brings both back.
    r.call([&] { r.main().set_visible(false); });
    ASSERT_TRUE(r.wait([&] { return !r.main().show_in_taskbar(); }));
    r.call([&] { r.program_.choose(r.main(), "托盘", "打开软件"); });
    ASSERT_TRUE(r.wait([&] { return r.main().visible() && r.main().show_in_taskbar(); }));

    // Close question, Yes: to the tray, the program goes on.
    r.prompts_.push_answer(kAnswerYes);
    bool closed = r.call([&] { return r.program_.request_close(r.main()); });
    EXPECT_FALSE(closed);
    EXPECT_FALSE(r.main().visible());
    EXPECT_FALSE(r.program_.exiting());
    EXPECT_TRUE(asked(r.prompts_, "是否最小化到托盘图标？"));

    // No: the program ends with 0.
    r.prompts_.push_answer(kAnswerNo);
    r.call([&] { r.program_.request_close(r.main()); });
    EXPECT_TRUE(r.runner_->wait_finished(5s));
    EXPECT_EQ(r.program_.exit_code(), 0);
    EXPECT_FALSE(r.main().tray_visible());
}

TEST_F(LoginRoads, WebLoginHandsTheAccountOverToTheLogin) {
    Road r(hosts());
    ASSERT_TRUE(r.start());
    r.program_.post_event(*r.login(), "按钮4", Event::clicked);
    ASSERT_TRUE(r.wait([&] { return r.program_.find(windows::kWebLoginWindow) != nullptr; }));
    auto web_login = r.program_.find(windows::kWebLoginWindow);
    EXPECT_EQ((*web_login)["超文本浏览框1"].url(), web_login_url(r.client_.hosts()));

    // The window is found as soon as it is alive, before its created event
    // has armed the poll's timer; the clock moves only once the timer runs.
    r.call([] {});
    ASSERT_EQ((*web_login)["时钟1"].interval(), 3000);

    // Nothing confirmed yet: the poll finds nothing and keeps asking.
    r.backend_.advance(3000ms);
    ASSERT_TRUE(r.wait([&] { return (*web_login)["时钟1"].interval() == 0; }));
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(web_login->alive());
    EXPECT_EQ((*web_login)["时钟1"].interval(), 0);

    // The browser (sharing the cookie store) signs in on the service's page.
    std::string page = web_get(web_login_url(r.client_.hosts()));
    ASSERT_NE(page.find("confirm"), std::string::npos);
    std::string form_key = text_between(page, "name=\"qqyz\" value=\"", "\"");
    web_request(web_login_url(r.client_.hosts()), "POST", "", nullptr,
                "qqyz=" + form_key + "&zh=demo&mm=demo123");

    ASSERT_TRUE(r.wait([&] { return r.logged_in(); }, 20s)) << log();
    EXPECT_FALSE(web_login->alive());
    EXPECT_EQ(r.main()["标签43"].caption(), welcome_line("demo"));
}

// The update check and the connection check, against a scripted web host.
TEST(StartRoads, NewVersionOffersTheUpdateAndEndsEitherWay) {
    for (int reply : {kAnswerYes, kAnswerNo}) {
        test::RecordingServer web([](const test::RecordedRequest& rq) {
            if (rq.target() == "/ge.txt")
                return test::RecordingServer::answer(200, "148|http://127.0.0.1/new-client");
            return test::RecordingServer::answer(200, "ok");
        });
        ServiceHosts hosts;
        hosts.web = web.address();
        Road r(hosts);
        r.prompts_.push_answer(reply);
        r.start();
        ASSERT_TRUE(r.runner_->wait_finished(10s));
        EXPECT_EQ(r.program_.exit_code(), 0);
        EXPECT_TRUE(asked(r.prompts_, "发现新版本，是否马上更新？"));
        auto actions = r.shell_.actions();
        if (reply == kAnswerYes) {
            ASSERT_EQ(actions.size(), 1u);
            EXPECT_EQ(actions[0].a, "http://127.0.0.1/new-client");
        } else {
            EXPECT_TRUE(actions.empty());
        }
    }
}

TEST(StartRoads, NoConnectionEndsWithTheMessage) {
    ServiceHosts hosts;
    hosts.web = "127.0.0.1:" + std::to_string(test::free_port());
    Road r(hosts);
    r.start();
    ASSERT_TRUE(r.runner_->wait_finished(10s));
    EXPECT_EQ(r.program_.exit_code(), 0);
    EXPECT_TRUE(asked(r.prompts_, "由于未检测到互联网连接，无法使用软件。"));
    EXPECT_EQ(r.program_.find(windows::kLoginWindow), nullptr);
}

}  // namespace
}  // namespace qorvel
