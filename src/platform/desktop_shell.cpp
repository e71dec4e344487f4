#include "platform/desktop_shell.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>

#include "net/charset.h"
#include "platform/key_file.h"

extern char** environ;

namespace qorvel {

bool spawn_detached(const std::vector<std::string>& argv) {
    if (argv.empty()) return false;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // Double fork so the child never becomes our zombie.
    pid_t mid = fork();
    if (mid < 0) return false;
    if (mid == 0) {
        setsid();
        pid_t pid = 0;
        int rc = posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ);
        _exit(rc == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(mid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

namespace {

// A file URI with every byte but the unreserved ones and "/" percent-encoded,
// so blanks and commas (dbus-send's array separator) stay inside one item.
std::string file_uri(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out = "file://";
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
    return out;
}

}  // namespace

bool shutdown_allowed() {
    const char* ci = std::getenv("CI");
    const char* allow = std::getenv("QORVEL_ALLOW_SHUTDOWN");
    if (ci && *ci) return false;
    return allow && std::string(allow) == "1";
}

DesktopShell::DesktopShell(ClipboardSetter clipboard) : clipboard_(std::move(clipboard)) {}

void DesktopShell::open_url(const std::string& address) {
    spawn_detached({"xdg-open", gbk_to_utf8(address)});
}

void DesktopShell::open_file(const std::string& path) {
    spawn_detached({"xdg-open", text_to_path(path).string()});
}

void DesktopShell::show_in_file_manager(const std::string& path) {
    std::filesystem::path p = text_to_path(path);
    std::string uri = file_uri(p.string());
    // The fallback must follow the call's answer, not its start: a desktop
    // without a FileManager1 service answers with an error. The shell waits
    // for it so we do not; the paths go as arguments, never as script text.
    spawn_detached({"sh", "-c",
                    "dbus-send --session --print-reply --reply-timeout=5000 "
                    "--dest=org.freedesktop.FileManager1 --type=method_call "
                    "/org/freedesktop/FileManager1 org.freedesktop.FileManager1.ShowItems "
                    "\"array:string:$1\" string: >/dev/null 2>&1 || exec xdg-open \"$2\"",
                    "sh", uri, p.parent_path().string()});
}

void DesktopShell::set_clipboard_text(const std::string& text) {
    if (clipboard_) clipboard_(gbk_to_utf8(text));
}

bool DesktopShell::create_shortcut(const std::string& path, const std::string& target) {
    for (unsigned char c : target)
        if (c < 0x20 || c == 0x7f) return false;
    std::string url = gbk_to_utf8(target);
    if (url.empty()) return false;  // empty, or no GBK text
    std::filesystem::path file = text_to_path(path);
    std::string text = link_file_text(file.stem().string(), url);
    // A new file only: an entry already there (a planted link above all) is never written through.
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n <= 0) break;
        p += n;
        left -= static_cast<size_t>(n);
    }
    bool ok = ::close(fd) == 0 && left == 0;
    if (!ok) ::unlink(file.c_str());
    return ok;
}

void DesktopShell::shut_down() {
    if (!shutdown_allowed()) return;
    spawn_detached({"systemctl", "poweroff", "--force"});
}

}  // namespace qorvel
