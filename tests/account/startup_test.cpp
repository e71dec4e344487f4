#include <gtest/gtest.h>

#include <sys/stat.h>

#include "account/config_files.h"
#include "account/update_check.h"
#include "net/charset.h"
#include "net/web.h"
#include "platform/ini_file.h"
#include "support/doubles.h"
#include "support/process.h"
#include "support/recording_server.h"

namespace qorvel {
namespace {

TEST(ConfigFiles, SkinIndexDefaultsToTheFirstItem) {
    test::TempDir docs;
    ConfigFiles files(docs.path());
    EXPECT_EQ(files.skin_index(), 0);
    ini_write(files.skin_file(), GBK("皮肤"), GBK("存储"), "");
    EXPECT_EQ(files.skin_index(), 0);
    ini_write(files.skin_file(), GBK("皮肤"), GBK("存储"), "3");
    EXPECT_EQ(files.skin_index(), 2);
    EXPECT_EQ(files.skin_file().filename(), "配置.ini");
}

TEST(ConfigFiles, RememberedLoginIsPrivateAndDeletable) {
    test::TempDir docs;
    ConfigFiles files(docs.path());
    EXPECT_EQ(files.remembered_login(), "");
    ASSERT_TRUE(files.remember_login(GBK("用户"), "p&ss"));
    EXPECT_EQ(files.login_file().filename(), "配置2.iniat");
    EXPECT_EQ(files.remembered_login(), GBK("用户") + GBK("切割") + "p&ss");
    struct stat st {};
    ASSERT_EQ(stat(files.login_file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << "the password file must not be readable by others";
    EXPECT_TRUE(files.forget_login());
    EXPECT_FALSE(std::filesystem::exists(files.login_file()));
}

TEST(RememberedLogin, ExactlyTwoPiecesFillTheBoxes) {
    RememberedLogin none = parse_remembered_login("");
    EXPECT_FALSE(none.check_box);
    EXPECT_FALSE(none.fill);

    RememberedLogin good = parse_remembered_login("demo" + GBK("切割") + "pw");
    EXPECT_TRUE(good.check_box);
    EXPECT_TRUE(good.fill);
    EXPECT_EQ(good.account, "demo");
    EXPECT_EQ(good.password, "pw");

    RememberedLogin no_separator = parse_remembered_login("demo");
    EXPECT_TRUE(no_separator.check_box);
    EXPECT_FALSE(no_separator.fill);

    RememberedLogin two = parse_remembered_login("a" + GBK("切割") + "b" + GBK("切割") + "c");
    EXPECT_TRUE(two.check_box);
    EXPECT_FALSE(two.fill);

    // An empty password after the separator is dropped by the split: one piece.
    RememberedLogin empty_pw = parse_remembered_login("a" + GBK("切割"));
    EXPECT_FALSE(empty_pw.fill);
}

TEST(UpdateDecision, VersionComparedByteForByte) {
    EXPECT_TRUE(decide_update("147|http://x/").current);
    EXPECT_TRUE(decide_update("147|").current);
    UpdateDecision newer = decide_update("148|http://127.0.0.1:18080/new");
    EXPECT_FALSE(newer.current);
    EXPECT_EQ(newer.address, "http://127.0.0.1:18080/new");
    EXPECT_FALSE(decide_update(" 147|a").current);
    EXPECT_FALSE(decide_update("147\r\n|a").current);
    EXPECT_FALSE(decide_update("|a").current);
    // Nothing fetched, or no "|": treated as current, never an exit.
    EXPECT_TRUE(decide_update("").current);
    EXPECT_TRUE(decide_update("<html>502 Bad Gateway</html>").current);
}

class UpdateCheck : public ::testing::Test {
  protected:
    void serve(std::string update_text) {
        server_ = std::make_unique<test::RecordingServer>(
            [text = std::move(update_text)](const test::RecordedRequest& r) {
                if (r.target() == "/ge.txt") return test::RecordingServer::answer(200, text);
                return test::RecordingServer::answer(404, "");
            });
        services_.get = [](std::string_view url) { return web_get(url); };
        services_.update_url = "http://" + server_->address() + "/ge.txt";
        services_.prompts = &prompts_;
        services_.shell = &shell_;
    }
    test::TempDir docs_;
    ConfigFiles files_{docs_.path()};
    test::PromptScript prompts_;
    test::ShellRecorder shell_;
    StartupServices services_;
    std::unique_ptr<test::RecordingServer> server_;
};

TEST_F(UpdateCheck, CurrentVersionLogsAndRestoresTheLogin) {
    serve("147|http://127.0.0.1/update");
    files_.remember_login("demo", "demo123");
    LoginRestore r = restore_login_and_check_update(files_, services_);
    EXPECT_FALSE(r.end_program);
    EXPECT_EQ(r.log_line, GBK("当前软件是最新版本。") + "\r\n");
    EXPECT_TRUE(r.login.fill);
    EXPECT_EQ(r.login.account, "demo");
    EXPECT_EQ(r.login.password, "demo123");
    EXPECT_TRUE(prompts_.shown().empty());
}

TEST_F(UpdateCheck, NewVersionAsksAndEndsWhateverTheAnswer) {
    serve("148|http://127.0.0.1/update");
    prompts_.answer(kAnswerYes);
    LoginRestore yes = restore_login_and_check_update(files_, services_);
    EXPECT_TRUE(yes.end_program);
    ASSERT_EQ(prompts_.shown().size(), 1u);
    EXPECT_EQ(prompts_.shown()[0], GBK("发现新版本，是否马上更新？"));
    ASSERT_EQ(shell_.actions().size(), 1u);
    EXPECT_EQ(shell_.actions()[0].kind, "open_url");
    EXPECT_EQ(shell_.actions()[0].a, "http://127.0.0.1/update");

    prompts_.answer(kAnswerNo);
    LoginRestore no = restore_login_and_check_update(files_, services_);
    EXPECT_TRUE(no.end_program);
    EXPECT_EQ(shell_.actions().size(), 1u);
}

TEST_F(UpdateCheck, UnreachableServiceCountsAsCurrent) {
    serve("147|x");
    services_.update_url = "http://127.0.0.1:" + std::to_string(test::free_port()) + "/ge.txt";
    LoginRestore r = restore_login_and_check_update(files_, services_);
    EXPECT_FALSE(r.end_program);
    EXPECT_FALSE(r.login.check_box);
}

}  // namespace
}  // namespace qorvel
