// The file manager call and its fallback, with stand-in desktop programs on
// PATH that write down how they were called; link files and their values.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "net/charset.h"
#include "platform/desktop_shell.h"
#include "platform/key_file.h"
#include "support/process.h"

namespace qorvel {
namespace {

void write_program(const std::filesystem::path& file, const std::string& body) {
    std::ofstream(file) << "#!/bin/sh\n" << body;
    std::filesystem::permissions(file, std::filesystem::perms::owner_all);
}

// Waits (bounded) for a file the stand-in writes.
std::string wait_for(const std::filesystem::path& file) {
    for (int i = 0; i < 200 && !std::filesystem::exists(file); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return test::read_file(file);
}

class ShowInFileManager : public ::testing::Test {
  protected:
    void SetUp() override {
        old_path_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        setenv("PATH", (bin_.path().string() + ":" + old_path_).c_str(), 1);
    }
    void TearDown() override { setenv("PATH", old_path_.c_str(), 1); }
    void stand_in(const char* name, int status) {
        write_program(bin_.path() / name, "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" +
                                              (out_.path() / name).string() + "\"\nexit " +
                                              std::to_string(status) + "\n");
    }
    test::TempDir bin_{"qorvel-shell-bin"};
    test::TempDir out_{"qorvel-shell-out"};
    std::string old_path_;
};

TEST_F(ShowInFileManager, AsksTheFileManagerWithOneWholeItem) {
    stand_in("dbus-send", 0);
    stand_in("xdg-open", 0);
    DesktopShell shell;
    shell.show_in_file_manager(utf8_to_gbk("/tmp/my files/a,b 下载.txt"));
    std::string args = wait_for(out_.path() / "dbus-send");
    EXPECT_NE(args.find("org.freedesktop.FileManager1.ShowItems\n"), std::string::npos) << args;
    EXPECT_NE(args.find("array:string:file:///tmp/my%20files/a%2Cb%20%E4%B8%8B%E8%BD%BD.txt\n"),
              std::string::npos)
        << args;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(std::filesystem::exists(out_.path() / "xdg-open"));
}

TEST_F(ShowInFileManager, WithoutAFileManagerServiceOpensTheFolder) {
    stand_in("dbus-send", 1);
    stand_in("xdg-open", 0);
    DesktopShell shell;
    shell.show_in_file_manager("/tmp/my files/$(touch x)/a.txt");
    EXPECT_EQ(wait_for(out_.path() / "xdg-open"), "/tmp/my files/$(touch x)\n");
}

TEST(KeyFileValue, NoValueEndsItsLineAndEveryValueReadsBack) {
    EXPECT_EQ(key_file_value("http://x/a b"), "http://x/a b");
    EXPECT_EQ(key_file_value("a\nType=Application\r\tb\\"), "a\\nType=Application\\r\\tb\\\\");
    EXPECT_EQ(key_file_value(" a b "), "\\sa b\\s") << "readers trim blanks at either end";
    EXPECT_EQ(key_file_value(" "), "\\s");
    for (const std::string& v :
         std::vector<std::string>{"", "plain", "\\s", "\\", "a\\nb", "\n[Desktop Entry]\nExec=x\n",
                                  " \t \r\n ", std::string("a\0b", 3)}) {
        std::string e = key_file_value(v);
        EXPECT_EQ(e.find_first_of("\r\n"), std::string::npos) << e;
        EXPECT_EQ(key_file_unescape(e), v) << e;
    }
    EXPECT_EQ(key_file_unescape("a\\qb\\"), "a\\qb\\") << "unknown escapes stay as written";
}

// The keys of a key file as a reader sees them: group, then "key=value" lines.
std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

class LinkFiles : public ::testing::Test {
  protected:
    std::string at(const std::string& name) { return utf8_to_gbk((dir_.path() / name).string()); }
    test::TempDir dir_{"qorvel-links"};
    DesktopShell shell_;
};

TEST_F(LinkFiles, OneLinkEntryWithEscapedValues) {
    ASSERT_TRUE(shell_.create_shortcut(at(" 说明\\.zip.desktop"),
                                       utf8_to_gbk("http://example.com/a\\b/下载 ")));
    std::string text = test::read_file(dir_.path() / " 说明\\.zip.desktop");
    EXPECT_EQ(lines_of(text),
              (std::vector<std::string>{"[Desktop Entry]", "Type=Link", "Name=\\s说明\\\\.zip",
                                        "URL=http://example.com/a\\\\b/下载\\s"}));
    struct stat st {};
    ASSERT_EQ(::stat((dir_.path() / " 说明\\.zip.desktop").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(LinkFiles, ATargetWithAControlByteIsNoLink) {
    for (const std::string& target : std::vector<std::string>{
             "http://x/doc\n[Desktop Entry]\nType=Application\nExec=sh -c id", "http://x/\r",
             std::string("http://x/\0", 10), "", "http://x/\x7f"}) {
        EXPECT_FALSE(shell_.create_shortcut(at("a.desktop"), target));
        EXPECT_FALSE(std::filesystem::exists(dir_.path() / "a.desktop"));
    }
}

TEST_F(LinkFiles, NeverWritesThroughOrOverAnEntryAlreadyThere) {
    std::filesystem::create_directories(dir_.path() / "autostart");
    auto target = dir_.path() / "autostart" / "x.desktop";
    std::filesystem::create_symlink(target, dir_.path() / "planted.desktop");
    EXPECT_FALSE(shell_.create_shortcut(at("planted.desktop"), "http://x/"));
    EXPECT_FALSE(std::filesystem::exists(target)) << "created through a dangling link";
    EXPECT_TRUE(std::filesystem::is_symlink(dir_.path() / "planted.desktop"));

    test::write_file(dir_.path() / "old.desktop", "kept");
    EXPECT_FALSE(shell_.create_shortcut(at("old.desktop"), "http://x/"));
    EXPECT_EQ(test::read_file(dir_.path() / "old.desktop"), "kept");
}

}  // namespace
}  // namespace qorvel
