// Each endpoint of the main web host read with the client's own markers.
#include <gtest/gtest.h>

#include <memory>

#include "client_view.h"
#include "net/charset.h"
#include "net/form.h"
#include "net/text.h"
#include "net/web.h"

namespace qorvel::test {
namespace {

class ServiceEndpoints : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ServiceInstanceOptions options;
        options.throttle = true;
        // One service serves the whole suite, whose wrong passwords and misses
        // would otherwise add up to the guessing slow-down.
        options.extra_args = {"--client-version", "147", "--failures-free", "1000"};
        service_ = new ServiceInstance(options);
        ASSERT_TRUE(service_->start()) << read_file(service_->log_file());
    }
    static void TearDownTestSuite() {
        delete service_;
        service_ = nullptr;
    }
    ClientView view() const { return ClientView(*service_); }
    static ServiceInstance* service_;
};
ServiceInstance* ServiceEndpoints::service_ = nullptr;

int find_folder(const std::vector<FolderRow>& rows, const std::string& name_gbk) {
    for (const auto& r : rows)
        if (r.name == name_gbk) return r.id;
    return -1;
}

TEST_F(ServiceEndpoints, VersionFileAndVisitNotice) {
    auto pieces = text_split(view().get("/ge.txt"), "|");
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0], "147");
    EXPECT_EQ(pieces[1].rfind("http://", 0), 0u);
    EXPECT_FALSE(view().get("/guanli.php?pid=1").empty());
}

TEST_F(ServiceEndpoints, LoginAnswersNineFieldsOrAtMostThreeBytes) {
    Login demo = view().login("demo", "demo123");
    ASSERT_TRUE(demo.ok());
    ASSERT_EQ(demo.fields.size(), 9u);
    EXPECT_EQ(demo.fields[2], GBK("暂无设置。"));
    EXPECT_EQ(text_to_int(demo.pid), std::stoi(demo.pid));
    // The avatar named in field 6 is served.
    EXPECT_FALSE(web_get(service_->web() + "/" + demo.fields[5]).empty());

    EXPECT_LE(view().raw_login("demo", "wrong").size(), 3u);
    EXPECT_LE(view().raw_login("nobody", "demo123").size(), 3u);
    EXPECT_LE(view().raw_login("", "").size(), 3u);
    // Invalid UTF-8 in the name is a plain failure.
    EXPECT_LE(view().post("/csx.php", "zh=%ff%fe&mm=x").size(), 3u);
}

TEST_F(ServiceEndpoints, SessionCheckSeesTakeover) {
    Login first = view().login("guest", "guest123");
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(view().session_check(first.key), first.key);
    Login second = view().login("guest", "guest123");
    ASSERT_TRUE(second.ok());
    EXPECT_NE(second.key, first.key);
    EXPECT_EQ(view().session_check(first.key), "CTYPE html PUBLIC ");
    EXPECT_EQ(view().session_check(second.key), second.key);
    EXPECT_EQ(view().session_check("0123"), "CTYPE html PUBLIC ");
    // The old key no longer changes anything.
    EXPECT_EQ(
        view().post("/post/cjml.php?zh=" + first.key, Form().add("fwmm", "x").add("ejml", 0).str()),
        "0");
}

TEST_F(ServiceEndpoints, AccountPagesInUtf8) {
    Login demo = view().login("demo", "demo123");
    Login guest = view().login("guest", "guest123");
    EXPECT_TRUE(view().is_vip(demo));
    EXPECT_FALSE(view().is_vip(guest));
    EXPECT_EQ(view().access_password(demo), "8888");
    EXPECT_EQ(view().access_password(guest), "");
}

TEST_F(ServiceEndpoints, FolderTreeInStableOrderTwoLevelsDeep) {
    Login demo = view().login("demo", "demo123");
    auto root = view().folders(demo, 0);
    ASSERT_GE(root.size(), 3u);
    EXPECT_EQ(view().folders(demo, 0).size(), root.size());
    for (size_t i = 0; i < root.size(); ++i) EXPECT_EQ(view().folders(demo, 0)[i].id, root[i].id);
    int photos = find_folder(root, GBK("照片"));
    ASSERT_GT(photos, 0);
    auto level1 = view().folders(demo, photos);
    int trip = find_folder(level1, GBK("2023年旅行"));
    ASSERT_GT(trip, 0);
    auto level2 = view().folders(demo, trip);
    ASSERT_GT(find_folder(level2, GBK("北京")), 0);
    // Another account's folder id under this pid lists nothing.
    Login guest = view().login("guest", "guest123");
    EXPECT_TRUE(view().folders(guest, photos).empty());
}

TEST_F(ServiceEndpoints, FileListPagesAndWholeFolder) {
    Login demo = view().login("demo", "demo123");
    int paging = find_folder(view().folders(demo, 0), GBK("分页测试"));
    ASSERT_GT(paging, 0);
    FilePage first = view().files(demo, paging, 0);
    ASSERT_GE(first.pages, 3);
    ASSERT_FALSE(first.rows.empty());
    EXPECT_EQ(first.rows[0].name, GBK("文件45.txt"));  // newest first
    size_t total = 0;
    std::vector<int> seen;
    for (int p = 0; p < first.pages; ++p)
        for (const auto& r : view().files(demo, paging, p).rows) {
            ++total;
            seen.push_back(r.id);
        }
    EXPECT_EQ(total, 45u);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());
    FilePage whole = view().files(demo, paging, 0, true);
    EXPECT_EQ(whole.rows.size(), 45u);
    EXPECT_TRUE(view().files(demo, paging, first.pages).rows.empty());
    EXPECT_EQ(view().files(demo, 999999, 0).pages, 0);
}

TEST_F(ServiceEndpoints, LinkOnlyAndStoredFilePages) {
    Login demo = view().login("demo", "demo123");
    FilePage root = view().files(demo, 0, 0);
    const FileRow* link_only = nullptr;
    const FileRow* empty = nullptr;
    const FileRow* big = nullptr;
    for (const auto& r : root.rows) {
        if (r.name == GBK("外部链接.zip")) link_only = &r;
        if (r.name == GBK("空文件.txt")) empty = &r;
        if (r.name == GBK("大文件.bin")) big = &r;
    }
    ASSERT_TRUE(link_only && empty && big);
    EXPECT_EQ(link_only->size, "0B");
    EXPECT_NE(empty->size, "0B");  // an empty stored file is still downloaded
    EXPECT_EQ(view().storage_link(link_only->id, "8888"), "http://www.example.com/qorvel/demo.zip");
    // Without the access password the page gives no link.
    EXPECT_EQ(
        text_find(view().get("/ym.php?pid=" + std::to_string(big->id) + "&srmm=0"), "bsmzdyd"), -1);
    std::string link = view().storage_link(big->id, "8888");
    ASSERT_EQ(link.size(), 32u);

    std::string headers = "Range: bytes=100-199\r\n";
    std::string answer_headers;
    std::string part =
        web_request(service_->files3() + "/up/" + link, "GET", "", &headers, "", &answer_headers);
    EXPECT_NE(answer_headers.find(" 206 "), std::string::npos) << answer_headers;
    EXPECT_NE(answer_headers.find("bytes 100-199/4194304"), std::string::npos);
    EXPECT_EQ(part.size(), 100u);
    std::string whole = web_get(service_->files3() + "/up/" + link);
    ASSERT_EQ(whole.size(), 4194304u);
    EXPECT_EQ(whole.substr(100, 100), part);

    headers = "Range: bytes=4194304-\r\n";
    web_request(service_->files3() + "/up/" + link, "GET", "", &headers, "", &answer_headers);
    EXPECT_NE(answer_headers.find(" 416 "), std::string::npos) << answer_headers;
    web_request(service_->files3() + "/up/0000", "GET", "", nullptr, "", &answer_headers);
    EXPECT_NE(answer_headers.find(" 404 "), std::string::npos);

    // The direct link checks the access password; "0" is none.
    std::string direct = service_->direct() + "/yunxz1.php?pid=" + std::to_string(big->id);
    EXPECT_EQ(web_get(direct + "&szmm=8888").size(), 4194304u);
    web_request(direct + "&szmm=0", "GET", "", nullptr, "", &answer_headers);
    EXPECT_NE(answer_headers.find(" 403 "), std::string::npos);
    Login guest = view().login("guest", "guest123");
    FilePage guest_root = view().files(guest, 0, 0);
    ASSERT_FALSE(guest_root.rows.empty());
    EXPECT_FALSE(web_get(service_->direct() +
                         "/yunxz1.php?pid=" + std::to_string(guest_root.rows[0].id) + "&szmm=0")
                     .empty());
}

TEST_F(ServiceEndpoints, FileHostTwoIsThrottled) {
    Login guest = view().login("guest", "guest123");
    FilePage root = view().files(guest, 0, 0);
    const FileRow* sample = nullptr;
    for (const auto& r : root.rows)
        if (r.name == GBK("样例数据.bin")) sample = &r;
    ASSERT_TRUE(sample);
    std::string link = view().storage_link(sample->id, "");
    auto began = std::chrono::steady_clock::now();
    std::string bytes = web_get(service_->files2() + "/up/" + link);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    EXPECT_EQ(bytes.size(), 1536u * 1024u);
    EXPECT_GT(seconds, 1.2);  // 1.5 MB at about 1000 KB/s
    EXPECT_LT(seconds, 4.0);
}

TEST_F(ServiceEndpoints, RegistrationCodes) {
    auto reg = [&](const std::string& name, const std::string& pw, const std::string& confirm,
                   const std::string& mail) {
        return view().post("/zc.php", Form()
                                          .add("zh1", gbk_to_utf8(name))
                                          .add("mm1", pw)
                                          .add("cfmm1", confirm)
                                          .add("zcyx", mail)
                                          .add("xcfmm1", "1")
                                          .str());
    };
    EXPECT_EQ(reg(GBK("新用户甲"), GBK("密码1"), GBK("密码1"), "jia@example.com"), "3");
    EXPECT_EQ(reg(GBK("新用户甲"), "pw", "pw", "other@example.com"), "5");
    EXPECT_EQ(reg("another", "pw", "pw", "JIA@example.com"), "6");
    for (const std::string& bad :
         {reg("", "pw", "pw", "a@b.c"), reg("x1", "", "", "a@b.c"),
          reg("x2", "pw", "other", "a@b.c"), reg("x3", "pw", "pw", "a@.bc"),
          reg("a<b", "pw", "pw", "a@b.c")}) {
        EXPECT_EQ(bad.find_first_of("356"), std::string::npos) << bad;
    }
    // The new account logs in with its GBK password.
    EXPECT_TRUE(view().login(GBK("新用户甲"), GBK("密码1")).ok());
}

TEST_F(ServiceEndpoints, RecoveryByQuestionAndByMail) {
    ASSERT_EQ(view().post("/zc.php", Form()
                                         .add("zh1", "recover")
                                         .add("mm1", "old")
                                         .add("cfmm1", "old")
                                         .add("zcyx", "recover@example.com")
                                         .str()),
              "3");
    auto question = [&](const std::string& name, const std::string& pw, const std::string& again,
                        const std::string& q, const std::string& a) {
        return view().post("/post/zh.php", Form()
                                               .add("zh2", name)
                                               .add("mm2", gbk_to_utf8(pw))
                                               .add("czmm3", gbk_to_utf8(again))
                                               .add("wt2", gbk_to_utf8(q))
                                               .add("dn2", gbk_to_utf8(a))
                                               .str());
    };
    EXPECT_EQ(question("guest", "n", "n", "", "x"), "1");
    EXPECT_EQ(question("guest", "n1", "n2", "q", "a"), "2");
    EXPECT_EQ(question("guest", "n", "n", GBK("最喜欢的颜色？"), GBK("红色")), "3");
    EXPECT_EQ(question("recover", "n", "n", "q", "a"), "3");  // no question stored
    EXPECT_TRUE(view().login("guest", "guest123").ok());
    EXPECT_EQ(question("guest", GBK("新密码"), GBK("新密码"), GBK("最喜欢的颜色？"), GBK("蓝色")),
              "5");
    EXPECT_FALSE(view().login("guest", "guest123").ok());
    EXPECT_TRUE(view().login("guest", GBK("新密码")).ok());
    EXPECT_EQ(question("guest", "guest123", "guest123", GBK("最喜欢的颜色？"), GBK("蓝色")), "5");

    auto mail = [&](const std::string& name, const std::string& address) {
        return view().post("/post/yxzh.php", Form().add("zh1", name).add("yx1", address).str());
    };
    EXPECT_EQ(mail("", "a@b.c"), "1");
    EXPECT_EQ(mail("recover", "wrong@example.com"), "3");
    EXPECT_EQ(mail("recover", "recover@example.com"), "2");
    EXPECT_EQ(mail("recover", "recover@example.com"), "5");
}

TEST_F(ServiceEndpoints, QqHandOverGoesToTheConfirmingBrowserOnce) {
    // This process's cookie store plays the browser of the sign-in window,
    // which sends the page's hidden form key with the form.
    WebSession::process().clear_cookies();
    const std::string url = service_->web() + "/QQ/example/oauth/index.php";
    auto form_key = [](const std::string& page) {
        return text_between(page, "name=\"qqyz\" value=\"", "\"");
    };
    EXPECT_EQ(view().get("/qdlxx.php"), "");
    std::string page = web_request_text(url, "GET");
    EXPECT_NE(page.find("name=\"zh\""), std::string::npos);
    ASSERT_EQ(form_key(page).size(), 32u);
    page = web_request_text(url, "POST", "", nullptr, "qqyz=" + form_key(page) + "&zh=demo&mm=bad");
    EXPECT_EQ(view().get("/qdlxx.php"), "");
    web_request_text(url, "POST", "", nullptr, "qqyz=" + form_key(page) + "&zh=demo&mm=demo123");
    std::string handed = text_replace_all(view().get("/qdlxx.php"), "\r\n", "");
    auto pieces = text_split(handed, "|");
    ASSERT_EQ(pieces.size(), 4u) << handed;
    EXPECT_EQ(pieces[1], "demo");
    EXPECT_EQ(pieces[3], "demo123");
    EXPECT_EQ(view().session_check(pieces[0]), pieces[0]);
    EXPECT_EQ(view().get("/qdlxx.php"), "");  // taken once
    WebSession::process().clear_cookies();
}

}  // namespace
}  // namespace qorvel::test
