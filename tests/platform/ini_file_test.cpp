#include <gtest/gtest.h>

#include <sys/stat.h>

#include <tuple>
#include <vector>

#include "net/charset.h"
#include "platform/ini_file.h"
#include "support/process.h"

namespace qorvel {
namespace {

TEST(IniFile, RoundTripsChineseSectionsKeysAndValues) {
    test::TempDir dir;
    auto file = dir.path() / text_to_path(GBK("配置.ini"));
    EXPECT_EQ(ini_read(file, GBK("皮肤"), GBK("存储"), "1"), "1");  // missing file
    ASSERT_TRUE(ini_write(file, GBK("皮肤"), GBK("存储"), "3"));
    ASSERT_TRUE(ini_write(file, GBK("帐号密码"), GBK("存储"), GBK("张三切割密码")));
    ASSERT_TRUE(ini_write(file, GBK("皮肤"), GBK("其他"), "x"));
    EXPECT_EQ(ini_read(file, GBK("皮肤"), GBK("存储")), "3");
    EXPECT_EQ(ini_read(file, GBK("皮肤"), GBK("其他")), "x");
    EXPECT_EQ(ini_read(file, GBK("帐号密码"), GBK("存储")), GBK("张三切割密码"));
    // Overwrite keeps one entry and other sections intact.
    ASSERT_TRUE(ini_write(file, GBK("皮肤"), GBK("存储"), "2"));
    EXPECT_EQ(ini_read(file, GBK("皮肤"), GBK("存储")), "2");
    EXPECT_EQ(ini_read(file, GBK("帐号密码"), GBK("存储")), GBK("张三切割密码"));
    std::string content = test::read_file(file);
    EXPECT_EQ(content, "[" + GBK("皮肤") + "]\r\n" + GBK("存储") + "=2\r\n" + GBK("其他") +
                           "=x\r\n[" + GBK("帐号密码") + "]\r\n" + GBK("存储") + "=" +
                           GBK("张三切割密码") + "\r\n");
}

TEST(IniFile, ReadsFilesWrittenByOthers) {
    test::TempDir dir;
    auto file = dir.path() / "other.ini";
    test::write_file(file, "; comment\n[Hosts]\n Web = 127.0.0.9:80 \nempty=\n[x]\nweb=no\n");
    EXPECT_EQ(ini_read(file, "hosts", "WEB"), "127.0.0.9:80");
    EXPECT_EQ(ini_read(file, "hosts", "empty", "d"), "");
    EXPECT_EQ(ini_read(file, "hosts", "missing", "d"), "d");
    EXPECT_EQ(ini_read(file, "nosection", "web", "d"), "d");
}

TEST(IniFile, ModesAndDeletion) {
    test::TempDir dir;
    auto secret = dir.path() / "secret.iniat";
    ASSERT_TRUE(
        ini_write(secret, "s", "k", "v",
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write));
    struct stat st {};
    ASSERT_EQ(stat(secret.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // A file that was readable by others is narrowed on the next write.
    chmod(secret.c_str(), 0644);
    ASSERT_TRUE(
        ini_write(secret, "s", "k", "w",
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write));
    ASSERT_EQ(stat(secret.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "secret.iniat.tmp"));
    EXPECT_TRUE(ini_delete_file(secret));
    EXPECT_FALSE(std::filesystem::exists(secret));
    EXPECT_TRUE(ini_delete_file(secret));  // already gone
    // A folder that cannot be written reports failure instead of pretending.
    EXPECT_FALSE(ini_write("/proc/qorvel-no/x.ini", "s", "k", "v"));
}

TEST(IniFile, ALineBreakCannotAddKeysOrSections) {
    test::TempDir dir;
    auto file = dir.path() / "login.iniat";
    ASSERT_TRUE(ini_write(file, "s", "k", "v"));
    for (auto [section, key, value] :
         {std::tuple<std::string, std::string, std::string>{"s", "k", "x\r\n[hosts]\r\nweb=evil"},
          {"s", "k", "x\nk2=y"},
          {"s", "k", "x\ry"},
          {"s", "k\nk2", "y"},
          {"s]\n[t", "k", "y"}}) {
        EXPECT_FALSE(ini_write(file, section, key, value));
    }
    EXPECT_EQ(test::read_file(file), "[s]\r\nk=v\r\n") << "a refused write changes nothing";
    // Everything else is stored as it is and reads back the same.
    for (const std::string& value :
         std::vector<std::string>{"a=b;c", "[x]", GBK("张三切割p@ss#=1"), std::string("a\tb")}) {
        ASSERT_TRUE(ini_write(file, "s", "k", value));
        EXPECT_EQ(ini_read(file, "s", "k"), value);
    }
}

TEST(IniFile, ALinkAtTheTemporaryNameIsNotWrittenThrough) {
    test::TempDir dir;
    auto file = dir.path() / "secret.iniat";
    auto elsewhere = dir.path() / "elsewhere";
    std::filesystem::create_symlink(elsewhere, dir.path() / "secret.iniat.tmp");
    ASSERT_TRUE(
        ini_write(file, "s", "k", "password",
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write));
    EXPECT_FALSE(std::filesystem::exists(elsewhere));
    EXPECT_EQ(ini_read(file, "s", "k"), "password");
    EXPECT_FALSE(std::filesystem::is_symlink(file));
}

}  // namespace
}  // namespace qorvel
