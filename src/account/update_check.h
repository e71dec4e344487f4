// What the login window does at creation besides its controls: restore the
// remembered login and compare our version with the service's.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "account/config_files.h"

namespace qorvel {

class Prompts;
class Shell;

// Our own version number, compared byte for byte with the service's.
inline constexpr std::string_view kClientVersion = "147";

struct RememberedLogin {
    bool check_box = false;  // tick 选择框1
    bool fill = false;       // put account and password into 编辑框1 and 编辑框2
    std::string account;
    std::string password;
};

// The stored value split at "切割": exactly two pieces fill the boxes; any
// other count only ticks the box.
RememberedLogin parse_remembered_login(const std::string& stored);

struct UpdateDecision {
    bool current = true;
    std::string address;  // where to get the update when not current
};

// The "/ge.txt" text: "version|address". An answer that could not be fetched
// or holds no "|" counts as current, so a broken update file never ends us.
UpdateDecision decide_update(const std::string& answer);

struct LoginRestore {
    RememberedLogin login;
    bool end_program = false;  // a new version was offered: exit with code 0
    std::string log_line;      // for the main window's activity log
};

struct StartupServices {
    std::function<std::string(std::string_view url)> get;  // web_get
    std::string update_url;                                // the service's "/ge.txt"
    Prompts* prompts = nullptr;
    Shell* shell = nullptr;
};

LoginRestore restore_login_and_check_update(const ConfigFiles& files, const StartupServices& s);

}  // namespace qorvel
