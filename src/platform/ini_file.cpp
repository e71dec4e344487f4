#include "platform/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "net/text.h"

namespace qorvel {

namespace {

std::vector<std::string> read_lines(const std::filesystem::path& file, bool* exists) {
    std::ifstream in(file, std::ios::binary);
    *exists = static_cast<bool>(in);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool same_name(std::string_view a, std::string_view b) {
    return text_lower(text_trim(a)) == text_lower(text_trim(b));
}

// "[name]" -> name, or nothing when the line is not a section header.
bool section_of(const std::string& line, std::string* name) {
    std::string t = text_trim(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
    *name = t.substr(1, t.size() - 2);
    return true;
}

bool key_of(const std::string& line, std::string* key, std::string* value) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    std::string t = text_trim(line);
    if (t.empty() || t[0] == ';') return false;
    *key = text_trim(line.substr(0, eq));
    *value = text_trim(line.substr(eq + 1));
    return true;
}

}  // namespace

std::string ini_read(const std::filesystem::path& file, std::string_view section,
                     std::string_view key, std::string_view fallback) {
    bool exists = false;
    std::vector<std::string> lines = read_lines(file, &exists);
    bool in_section = false;
    for (const std::string& line : lines) {
        std::string name, k, v;
        if (section_of(line, &name)) {
            in_section = same_name(name, section);
            continue;
        }
        if (in_section && key_of(line, &k, &v) && same_name(k, key)) return v;
    }
    return std::string(fallback);
}

bool ini_write(const std::filesystem::path& file, std::string_view section, std::string_view key,
               std::string_view value, std::filesystem::perms mode) {
    // A line break would end the entry and let the rest stand as keys or sections of its own.
    for (std::string_view part : {section, key, value})
        if (part.find_first_of("\r\n") != std::string_view::npos) return false;
    bool exists = false;
    std::vector<std::string> lines = read_lines(file, &exists);
    std::string entry = std::string(key) + "=" + std::string(value);
    bool in_section = false, section_seen = false, written = false;
    size_t insert_at = lines.size();
    for (size_t i = 0; i < lines.size() && !written; ++i) {
        std::string name, k, v;
        if (section_of(lines[i], &name)) {
            if (in_section) {
                insert_at = i;
                break;
            }
            in_section = same_name(name, section);
            if (in_section) {
                section_seen = true;
                insert_at = i + 1;
            }
            continue;
        }
        if (!in_section) continue;
        if (key_of(lines[i], &k, &v) && same_name(k, key)) {
            lines[i] = entry;
            written = true;
        } else if (!text_trim(lines[i]).empty()) {
            insert_at = i + 1;
        }
    }
    if (!written) {
        if (section_seen) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insert_at), entry);
        } else {
            lines.push_back("[" + std::string(section) + "]");
            lines.push_back(entry);
        }
    }
    std::string content;
    for (const std::string& l : lines) content += l + "\r\n";

    // Write a sibling file and rename it over the old one, so a crash never
    // leaves a half-written profile behind.
    std::error_code ec;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
    std::filesystem::path tmp = file;
    tmp += ".tmp";
    mode_t bits = static_cast<mode_t>(mode) & 0777;
    if (exists) {
        // Keep the file's own mode, but never wider than asked for.
        struct stat st {};
        if (::stat(file.c_str(), &st) == 0) bits = st.st_mode & 0777 & (bits | 0700);
    }
    // A fresh sibling: whatever was left at its name (a planted link too) goes first.
    ::unlink(tmp.c_str());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, bits);
    if (fd < 0) return false;
    ::fchmod(fd, bits);
    const char* p = content.data();
    size_t left = content.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n <= 0) {
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    bool ok = ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(tmp.c_str(), file.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool ini_delete_file(const std::filesystem::path& file) {
    std::error_code ec;
    std::filesystem::remove(file, ec);
    return !std::filesystem::exists(file, ec);
}

}  // namespace qorvel
