#include "cli/session_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qorvel::cli {

namespace fs = std::filesystem;

namespace {

bool one_line(const std::string& v) {
    return v.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

// Opens the folder without following a link; -1 when it is not a folder of ours.
int open_folder(const fs::path& folder, std::string& why) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        why = folder.string() + ": " + std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
        why = folder.string() + ": not the user's own folder";
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

fs::path session_folder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg == '/') return fs::path(xdg) / "qorvel";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/") / ".config" / "qorvel";
}

std::optional<std::string> session_text(const SavedSession& s) {
    if (!one_line(s.account) || !one_line(s.account_key) || !one_line(s.login_pid))
        return std::nullopt;
    return "account=" + s.account + "\nkey=" + s.account_key + "\npid=" + s.login_pid +
           "\nmember=" + (s.member ? "1" : "0") + "\n";
}

std::optional<SavedSession> parse_session_text(const std::string& text) {
    SavedSession s;
    bool have_key = false, have_pid = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        std::string line = text.substr(pos, nl - pos);
        pos = nl + 1;
        std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string k = line.substr(0, eq), v = line.substr(eq + 1);
        if (k == "account") {
            s.account = v;
        } else if (k == "key") {
            s.account_key = v;
            have_key = true;
        } else if (k == "pid") {
            s.login_pid = v;
            have_pid = true;
        } else if (k == "member") {
            s.member = v == "1";
        }
    }
    if (!have_key || !have_pid || s.account_key.empty() || s.login_pid.empty()) return std::nullopt;
    return s;
}

SessionLoad load_session(const fs::path& folder) {
    SessionLoad out;
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) return out;  // missing
    std::string why;
    int dir = open_folder(folder, why);
    if (dir < 0) {
        out.state = SessionRead::unsafe;
        out.why = why;
        return out;
    }
    int fd = ::openat(dir, kSessionFileName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    int err = errno;
    ::close(dir);
    if (fd < 0) {
        if (err != ENOENT) {
            out.state = SessionRead::unsafe;
            out.why = (folder / kSessionFileName).string() + ": " + std::strerror(err);
        }
        return out;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 077) != 0 || st.st_size > 65536) {
        ::close(fd);
        out.state = SessionRead::unsafe;
        out.why = (folder / kSessionFileName).string() +
                  ": not a regular file of the user's own, readable by the user alone";
        return out;
    }
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    ssize_t got = ::read(fd, text.data(), text.size());
    ::close(fd);
    if (got < 0) return out;
    text.resize(static_cast<std::size_t>(got));
    if (auto s = parse_session_text(text)) {
        out.state = SessionRead::found;
        out.session = *s;
    }
    return out;
}

std::string save_session(const fs::path& folder, const SavedSession& s) {
    auto text = session_text(s);
    if (!text) return "a session value holds a line break";
    std::error_code ec;
    fs::create_directories(folder.parent_path(), ec);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return folder.string() + ": " + std::strerror(errno);
    std::string why;
    int dir = open_folder(folder, why);
    if (dir < 0) return why;
    struct stat st {};
    // Shared with the desktop program's settings: ours, so it is made private.
    if (::fstat(dir, &st) == 0 && (st.st_mode & 077) != 0) ::fchmod(dir, 0700);
    std::string tmp =
        std::string(kSessionFileName) + ".new-" + std::to_string(std::random_device{}() & 0xFFFFFF);
    int fd = ::openat(dir, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        why = (folder / tmp).string() + ": " + std::strerror(errno);
        ::close(dir);
        return why;
    }
    bool ok = ::write(fd, text->data(), text->size()) == static_cast<ssize_t>(text->size()) &&
              ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::renameat(dir, tmp.c_str(), dir, kSessionFileName) != 0) ok = false;
    if (!ok) {
        why = (folder / kSessionFileName).string() + ": " + std::strerror(errno);
        ::unlinkat(dir, tmp.c_str(), 0);
    }
    ::close(dir);
    return why;
}

bool forget_session(const fs::path& folder) {
    std::string why;
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) return true;
    int dir = open_folder(folder, why);
    if (dir < 0) return false;
    bool gone = ::unlinkat(dir, kSessionFileName, 0) == 0 || errno == ENOENT;
    ::close(dir);
    return gone;
}

}  // namespace qorvel::cli
