// The file manager call and its fallback, with stand-in desktop programs on
// PATH that write down how they were called.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "net/charset.h"
#include "platform/desktop_shell.h"
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

}  // namespace
}  // namespace qorvel
