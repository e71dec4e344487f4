// The service API's operations end to end against the reference service, and
// the three kinds of error: a refusal, a service that is gone, and answers
// from a server that is not the service.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>

#include "api/service_api.h"
#include "net/charset.h"
#include "support/process.h"
#include "support/recording_server.h"
#include "support/service_addresses.h"
#include "support/service_instance.h"
#include "transfer/digest.h"

namespace qorvel {
namespace {

using api::ErrorKind;
using api::ServiceApi;
using test::hosts_of;
using test::url_escape_all;

ServiceHosts hosts_at(const std::string& web) {
    ServiceHosts h;
    h.web = h.direct = h.files2 = h.files3 = web;
    return h;
}

std::optional<long long> folder_named(const std::vector<storage::FolderEntry>& entries,
                                      const std::string& utf8) {
    for (const auto& e : entries)
        if (e.name == utf8_to_gbk(utf8)) return e.id;
    return std::nullopt;
}

std::optional<long long> file_named(const storage::FilePage& page, const std::string& utf8) {
    for (const auto& r : page.rows)
        if (r.name == utf8_to_gbk(utf8)) return r.id;
    return std::nullopt;
}

class ServiceApiFlow : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ServiceInstanceOptions o;
        o.extra_args = {"--failures-free", "1000"};
        service_ = std::make_unique<test::ServiceInstance>(o);
        ASSERT_TRUE(service_->start()) << test::read_file(service_->log_file());
    }
    ServiceApi logged_in(const char* account = test::kDemoMember,
                         const char* password = test::kDemoMemberPassword) {
        ServiceApi api(hosts_of(*service_));
        auto session = api.login(account, password);
        EXPECT_TRUE(session.ok()) << session.error().message;
        return api;
    }
    std::unique_ptr<test::ServiceInstance> service_;
};

TEST_F(ServiceApiFlow, LoginMembershipSettingsAndTheReadingOperations) {
    ServiceApi api = logged_in();
    ASSERT_TRUE(api.logged_in());
    EXPECT_EQ(api.session().account_name, "demo");
    EXPECT_FALSE(api.session().login_pid.empty());
    auto taken = api.session_taken_over();
    ASSERT_TRUE(taken.ok());
    EXPECT_FALSE(*taken);
    auto member = api.membership();
    ASSERT_TRUE(member.ok());
    EXPECT_TRUE(*member);
    EXPECT_TRUE(api.vip());
    EXPECT_TRUE(api.download_address("x/y").find(api.hosts().files3) != std::string::npos);

    // The demo account protects its files: no link before its password.
    EXPECT_EQ(api.storage_link("1").kind(), ErrorKind::refused);
    auto password = api.access_password_from_settings();
    ASSERT_TRUE(password.ok());
    EXPECT_EQ(*password, test::kDemoMemberAccessPassword);
    EXPECT_EQ(api.access_password(), test::kDemoMemberAccessPassword);

    auto folders = api.folders_of(0);
    ASSERT_TRUE(folders.ok());
    auto paged = folder_named(*folders, "分页测试");
    ASSERT_TRUE(paged);
    EXPECT_TRUE(folder_named(*folders, "我的文档"));

    auto root = api.first_page(0);
    ASSERT_TRUE(root.ok());
    auto guide = file_named(*root, "使用说明.txt");
    ASSERT_TRUE(guide);
    auto link = api.storage_link(std::to_string(*guide));
    ASSERT_TRUE(link.ok()) << link.error().message;
    EXPECT_FALSE(link->empty());

    auto pages = api.page_count(*paged);
    ASSERT_TRUE(pages.ok());
    ASSERT_GT(*pages, 1);
    auto first = api.first_page(*paged);
    auto second = api.page(*paged, 1);
    auto whole = api.whole_folder(*paged);
    ASSERT_TRUE(first.ok() && second.ok() && whole.ok());
    ASSERT_FALSE(second->rows.empty());
    EXPECT_NE(first->rows.front().id, second->rows.front().id);
    EXPECT_GE(whole->rows.size(), first->rows.size() + second->rows.size());

    // A folder view's three reads come back in order and read as the single ones do;
    // dropping after the page leaves the settings answer unread.
    using Part = ServiceApi::ViewPart;
    std::vector<Part> seen;
    std::string view_page = storage::file_list_request(
        api.hosts(), storage::list_address(api.hosts(), api.session().login_pid, *paged), false);
    api.folder_view(true, *paged, view_page, [&](Part part, WebReply& reply) {
        seen.push_back(part);
        EXPECT_TRUE(reply.answered);
        if (part == Part::page) {
            EXPECT_EQ(storage::parse_file_page(reply.body, api.patterns().file_entry).rows.size(),
                      first->rows.size());
        }
        if (part == Part::settings) {
            EXPECT_EQ(storage::read_access_password(utf8_to_gbk(reply.body),
                                                    api.patterns().password_marker),
                      test::kDemoMemberAccessPassword);
        }
        return true;
    });
    EXPECT_EQ(seen, (std::vector<Part>{Part::folders, Part::page, Part::settings}));
    seen.clear();
    api.folder_view(false, *paged, view_page, [&](Part part, WebReply&) {
        seen.push_back(part);
        return false;
    });
    EXPECT_EQ(seen, std::vector<Part>{Part::page});

    EXPECT_EQ(api.share_address(7), api.hosts().web_url("/ym.php?pid=7"));
    EXPECT_EQ(api.direct_address("7"),
              "http://" + api.hosts().direct + "/yunxz1.php?pid=7&szmm=8888");
    EXPECT_EQ(api.folder_address(3),
              api.hosts().web_url("/wdwj.php?pid=" + api.session().login_pid + "&ml=3"));
}

TEST_F(ServiceApiFlow, FolderAndFileChangesUploadsAndRegistrations) {
    ServiceApi api = logged_in();
    ASSERT_TRUE(api.access_password_from_settings().ok());
    ASSERT_TRUE(api.create_folder(0, utf8_to_gbk("接口")).ok());
    auto folder = folder_named(*api.folders_of(0), "接口");
    ASSERT_TRUE(folder);
    ASSERT_TRUE(api.create_folder(*folder, utf8_to_gbk("里层")).ok());
    // A folder with a sub-folder is not deleted: the service says no.
    auto kept = api.delete_folder(*folder);
    ASSERT_FALSE(kept.ok());
    EXPECT_EQ(kept.kind(), ErrorKind::refused);
    EXPECT_EQ(kept.error().message, utf8_to_gbk("该目录存在子目录，无法删除！"));
    ASSERT_TRUE(api.rename_folder(*folder, utf8_to_gbk("接口改")).ok());
    EXPECT_TRUE(folder_named(*api.folders_of(0), "接口改"));

    // An FTP upload registered under its name, then the same bytes by digest.
    test::TempDir local;
    std::string content;
    for (int i = 0; i < 5000; ++i) content += static_cast<char>((i * 7 + i / 13) & 0xFF);
    test::write_file(local.path() / "up.bin", content);
    const std::string name = utf8_to_gbk("接口上传.bin");
    std::string cmd = "curl -s -S --max-time 30 -T '" + (local.path() / "up.bin").string() + "' '" +
                      service_->ftp_url(url_escape_all(name + ".qrvllswj")) + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    auto uploaded = api.register_upload(*folder, name);
    ASSERT_TRUE(uploaded.ok()) << uploaded.error().message;
    // Consumed: a second registration finds nothing to register.
    EXPECT_EQ(api.register_upload(*folder, name).kind(), ErrorKind::refused);
    auto md5 = transfer::file_md5_hex(local.path() / "up.bin");
    ASSERT_TRUE(md5);
    auto instant = api.instant_upload(0, *md5, utf8_to_gbk("秒传.bin"));
    ASSERT_TRUE(instant.ok());
    EXPECT_NE(*instant, *uploaded);
    EXPECT_EQ(api.instant_upload(0, std::string(32, 'a'), "n.bin").kind(), ErrorKind::refused);

    auto in_folder = api.first_page(*folder);
    ASSERT_TRUE(in_folder.ok());
    EXPECT_EQ(file_named(*in_folder, "接口上传.bin"), *uploaded);

    ASSERT_TRUE(api.rename_file(*instant, utf8_to_gbk("改名.bin")).ok());
    ASSERT_TRUE(api.move_files(std::vector<long long>{*instant}, *folder).ok());
    in_folder = api.first_page(*folder);
    EXPECT_EQ(file_named(*in_folder, "改名.bin"), *instant);
    ASSERT_TRUE(api.delete_files(std::vector<long long>{*instant, *uploaded}, *folder).ok());
    EXPECT_TRUE(api.first_page(*folder)->rows.empty());

    ASSERT_TRUE(api.create_link_file(std::to_string(*folder), utf8_to_gbk("外链.txt"),
                                     "http://example.invalid/a")
                    .ok());
    auto linked = file_named(*api.first_page(*folder), "外链.txt");
    ASSERT_TRUE(linked);
    auto link = api.storage_link(std::to_string(*linked));
    ASSERT_TRUE(link.ok());
    EXPECT_EQ(*link, "http://example.invalid/a");
}

TEST_F(ServiceApiFlow, AccountFormsAndRefusals) {
    ServiceApi api(hosts_of(*service_));
    RegistrationForm form{"apinew", "pw1", "pw1", "apinew@example.com", true};
    auto made = api.register_account(form);
    ASSERT_TRUE(made.ok()) << made.error().message;
    EXPECT_EQ(made->front(), utf8_to_gbk("帐号注册成功！"));
    auto again = api.register_account(form);
    ASSERT_FALSE(again.ok());
    EXPECT_EQ(again.kind(), ErrorKind::refused);
    EXPECT_EQ(again.error().message, utf8_to_gbk("该帐号已被注册，请重新输入！"));
    EXPECT_TRUE(api.login("apinew", "pw1").ok());

    auto wrong = api.login("demo", "not-it");
    ASSERT_FALSE(wrong.ok());
    EXPECT_EQ(wrong.kind(), ErrorKind::refused);
    EXPECT_EQ(wrong.error().message, utf8_to_gbk("登录失败，帐号密码错误！"));

    QuestionRecoveryForm bad{"demo", "new1", "new1", utf8_to_gbk("我的小学是？"),
                             utf8_to_gbk("别的小学")};
    auto refused = api.recover_by_question(bad);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.kind(), ErrorKind::refused);
    QuestionRecoveryForm good = bad;
    good.answer = utf8_to_gbk("实验小学");
    auto reset = api.recover_by_question(good);
    ASSERT_TRUE(reset.ok()) << reset.error().message;
    EXPECT_EQ(reset->back(), utf8_to_gbk("重置密码成功！"));
    EXPECT_TRUE(api.login("demo", "new1").ok());

    auto mailed = api.recover_by_email({"demo", "demo@example.com"});
    ASSERT_TRUE(mailed.ok());
    auto mismatch = api.recover_by_email({"demo", "other@example.com"});
    ASSERT_FALSE(mismatch.ok());
    EXPECT_EQ(mismatch.kind(), ErrorKind::refused);
}

TEST_F(ServiceApiFlow, AStoppedServiceIsUnreachableForEveryKindOfRequest) {
    ServiceApi api = logged_in();
    ASSERT_TRUE(api.access_password_from_settings().ok());
    service_->stop();
    auto expect_unreachable = [](ErrorKind kind) { EXPECT_EQ(kind, ErrorKind::unreachable); };
    expect_unreachable(api.login("demo", "demo123").kind());
    expect_unreachable(api.folders_of(0).kind());
    expect_unreachable(api.first_page(0).kind());
    expect_unreachable(api.create_folder(0, "x").kind());
    expect_unreachable(api.delete_files("1,", 0).kind());
    expect_unreachable(api.storage_link("1").kind());
    expect_unreachable(api.register_upload(0, "x").kind());
    expect_unreachable(api.register_account({"a", "b", "b", "c@d.e", true}).kind());
    // Nothing learned from no answer: the password read before stays.
    EXPECT_EQ(api.access_password_from_settings().kind(), ErrorKind::unreachable);
    EXPECT_EQ(api.access_password(), test::kDemoMemberAccessPassword);
    EXPECT_EQ(api.login("demo", "demo123").error().message,
              utf8_to_gbk("无法连接到服务器，请检查网络后重试！"));
}

// A server that is not the service: each answer is scripted.
TEST(ServiceApiHostile, AnswersThatAreNotTheServicesNeverPassForOne) {
    std::string body;
    int status = 200;
    test::RecordingServer server(
        [&](const test::RecordedRequest&) { return test::RecordingServer::answer(status, body); });
    ServiceApi api(hosts_at(server.address()), Session{"pid", "key", "demo"});

    // A page of anything is no session and no refusal.
    body.assign(600, 'x');
    body += "<html>";
    auto login = api.login("demo", "demo123");
    ASSERT_FALSE(login.ok());
    EXPECT_EQ(login.kind(), ErrorKind::not_understood);
    EXPECT_EQ(login.error().message, utf8_to_gbk("无法连接到服务器，请检查网络后重试！"));
    EXPECT_EQ(api.session().account_key, "key");

    // An error page that echoes the insert creates nothing.
    body = "INSERT INTO `wenjian` xxxx99x";
    status = 404;
    EXPECT_EQ(api.register_upload(0, "a.bin").kind(), ErrorKind::not_understood);
    status = 500;
    EXPECT_EQ(api.instant_upload(0, std::string(32, 'a'), "a.bin").kind(), ErrorKind::unreachable);
    status = 200;
    auto echoed = api.register_upload(0, "a.bin");
    ASSERT_TRUE(echoed.ok());
    EXPECT_EQ(*echoed, 99);

    // A storage link needs both markers and something between them.
    body = "bsmzdyd<";
    EXPECT_EQ(api.storage_link("1").kind(), ErrorKind::refused);
    // A change that was not confirmed was not made.
    body = "<html>ok</html>";
    EXPECT_EQ(api.rename_folder(1, "n").kind(), ErrorKind::refused);
    body = "\r\n";
    EXPECT_EQ(api.create_folder(0, "n").kind(), ErrorKind::refused);
    // Page counts beyond reason stay bounded.
    body = utf8_to_gbk("总共有99999999页");
    auto pages = api.page_count(0);
    ASSERT_TRUE(pages.ok());
    EXPECT_EQ(*pages, storage::kMaxPages);
    // Every request went to the scripted server, none elsewhere.
    EXPECT_EQ(server.requests().size(), 8u);
}

}  // namespace
}  // namespace qorvel
