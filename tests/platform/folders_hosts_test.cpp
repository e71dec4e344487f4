#include <gtest/gtest.h>

#include <cstdlib>

#include "net/charset.h"
#include "platform/desktop_shell.h"
#include "platform/service_hosts.h"
#include "platform/special_folders.h"
#include "support/process.h"

namespace qorvel {
namespace {

// Gives the test its own HOME and XDG settings and puts them back afterwards.
class EnvScope {
  public:
    void set(const char* name, const std::string& value) {
        saved_.push_back(
            {name, std::getenv(name) ? std::getenv(name) : "", std::getenv(name) != nullptr});
        ::setenv(name, value.c_str(), 1);
    }
    void unset(const char* name) {
        saved_.push_back(
            {name, std::getenv(name) ? std::getenv(name) : "", std::getenv(name) != nullptr});
        ::unsetenv(name);
    }
    ~EnvScope() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->had)
                ::setenv(it->name.c_str(), it->value.c_str(), 1);
            else
                ::unsetenv(it->name.c_str());
        }
    }

  private:
    struct Saved {
        std::string name, value;
        bool had;
    };
    std::vector<Saved> saved_;
};

TEST(SpecialFolders, FollowXdgUserFoldersWithTrailingSeparator) {
    test::TempDir home;
    EnvScope env;
    env.set("HOME", home.path().string());
    env.unset("XDG_CONFIG_HOME");
    EXPECT_EQ(documents_folder(), home.path() / "Documents");
    EXPECT_TRUE(std::filesystem::is_directory(home.path() / "Documents"));

    std::filesystem::create_directories(home.path() / ".config");
    test::write_file(home.path() / ".config" / "user-dirs.dirs",
                     "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/桌面\"\n"
                     "XDG_DOCUMENTS_DIR=\"$HOME/文档\"\n");
    EXPECT_EQ(desktop_folder(), home.path() / "桌面");
    EXPECT_EQ(documents_folder(), home.path() / "文档");
    std::string text = folder_text(documents_folder());
    EXPECT_EQ(text, path_to_text(home.path()) + "/" + GBK("文档") + "/");
}

TEST(ServiceHosts, DefaultsFileEnvironmentAndOptionsInOrder) {
    test::TempDir dir;
    EnvScope env;
    for (const char* v : {"QORVEL_WEB", "QORVEL_DIRECT", "QORVEL_FILES2", "QORVEL_FILES3",
                          "QORVEL_FTP_HOST", "QORVEL_PROBE"})
        env.unset(v);
    auto ini = dir.path() / "qorvel.ini";
    env.set("QORVEL_CONFIG", ini.string());
    std::vector<std::string> errors;

    ServiceHosts d = configured_hosts({}, errors);
    EXPECT_EQ(d.web, "127.0.0.1:18080");
    EXPECT_EQ(d.ftp_address(), "127.0.0.1:1678");
    EXPECT_EQ(d.connection_probe(), "http://127.0.0.1:18080/");

    test::write_file(ini,
                     "[hosts]\nweb=127.0.0.2:8000\nfiles2=127.0.0.2:8002\nftp_host=127.0.0.3\n"
                     "files3=not a host\n");
    env.set("QORVEL_FILES2", "127.0.0.4:9002");
    std::vector<std::string> rest;
    ServiceHosts h = configured_hosts(
        {"-platform", "offscreen", "--web", "127.0.0.9:1", "--ftp-host=127.0.0.7", "--direct"},
        errors, &rest);
    EXPECT_EQ(h.web, "127.0.0.9:1");         // option over file
    EXPECT_EQ(h.files2, "127.0.0.4:9002");   // environment over file
    EXPECT_EQ(h.files3, "127.0.0.1:18083");  // a bad file value is ignored
    EXPECT_EQ(h.ftp_host, "127.0.0.7");
    EXPECT_EQ(h.ftp_address(), "127.0.0.7:1678");
    EXPECT_EQ(rest, (std::vector<std::string>{"-platform", "offscreen"}));
    EXPECT_EQ(errors.size(), 2u);  // files3 and the --direct without a value
}

TEST(ServiceHosts, AddressValidation) {
    EXPECT_TRUE(valid_host_port("127.0.0.1:1678"));
    EXPECT_TRUE(valid_host_port("pan.example:80"));
    EXPECT_FALSE(valid_host_port("127.0.0.1"));
    EXPECT_FALSE(valid_host_port("127.0.0.1:0"));
    EXPECT_FALSE(valid_host_port("127.0.0.1:65536"));
    EXPECT_FALSE(valid_host_port("a b:80"));
    EXPECT_FALSE(valid_host_port("h/x:80"));
    EXPECT_TRUE(valid_host("127.0.0.1"));
    EXPECT_FALSE(valid_host("127.0.0.1:21"));
    EXPECT_FALSE(valid_host(""));
}

// The real power-off is never reachable from CI or without the explicit switch.
TEST(DesktopShell, PowerOffNeedsTheSwitchAndNeverRunsUnderCi) {
    EnvScope env;
    env.unset("QORVEL_ALLOW_SHUTDOWN");
    env.unset("CI");
    EXPECT_FALSE(shutdown_allowed());
    env.set("CI", "true");
    env.set("QORVEL_ALLOW_SHUTDOWN", "1");
    EXPECT_FALSE(shutdown_allowed());
    env.set("QORVEL_ALLOW_SHUTDOWN", "yes");
    env.unset("CI");
    EXPECT_FALSE(shutdown_allowed());
}

}  // namespace
}  // namespace qorvel
