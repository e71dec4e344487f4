#include "platform/special_folders.h"

#include <cstdlib>
#include <fstream>

#include "net/charset.h"

namespace qorvel {

namespace {

std::filesystem::path env_path(const char* name) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::filesystem::path(v) : std::filesystem::path();
}

// Reads XDG_<name>_DIR from user-dirs.dirs ("$HOME/..." or an absolute path).
std::filesystem::path xdg_user_dir(const std::string& name) {
    std::filesystem::path config = env_path("XDG_CONFIG_HOME");
    if (config.empty()) config = home_folder() / ".config";
    std::ifstream in(config / "user-dirs.dirs");
    std::string line;
    std::string key = "XDG_" + name + "_DIR=";
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0)
            return home_folder() / value.substr(value.size() > 5 ? 6 : 5);
        if (!value.empty() && value[0] == '/') return value;
    }
    return {};
}

std::filesystem::path ensured(std::filesystem::path p) {
    std::error_code ec;
    std::filesystem::create_directories(p, ec);
    return p;
}

}  // namespace

std::filesystem::path home_folder() {
    std::filesystem::path home = env_path("HOME");
    return home.empty() ? std::filesystem::path("/tmp") : home;
}

std::filesystem::path documents_folder() {
    std::filesystem::path p = xdg_user_dir("DOCUMENTS");
    return ensured(p.empty() ? home_folder() / "Documents" : p);
}

std::filesystem::path desktop_folder() {
    std::filesystem::path p = xdg_user_dir("DESKTOP");
    return ensured(p.empty() ? home_folder() / "Desktop" : p);
}

std::filesystem::path temp_folder() {
    std::filesystem::path p = env_path("TMPDIR");
    return p.empty() ? std::filesystem::path("/tmp") : p;
}

std::string folder_text(const std::filesystem::path& folder) {
    std::string text = path_to_text(folder);
    if (text.empty() || text.back() != '/') text += '/';
    return text;
}

}  // namespace qorvel
