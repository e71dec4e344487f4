#include "transfer/engine/ftp_reply.h"

#include <cstdio>

namespace qorvel::engine {

namespace {
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
}  // namespace

bool take_line(std::string& buffer, std::string& line) {
    auto eol = buffer.find('\n');
    if (eol == std::string::npos) return false;
    line.assign(buffer, 0, eol);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    buffer.erase(0, eol + 1);
    return true;
}

int FtpReplyLines::add(std::string_view line) {
    bool coded = line.size() >= 3 && is_digit(line[0]) && is_digit(line[1]) && is_digit(line[2]);
    if (!coded) return 0;
    if (line.size() == 3 || line[3] == ' ') {
        if (!open_code_.empty() && line.substr(0, 3) != open_code_) return 0;
        open_code_.clear();
        return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    }
    if (line[3] == '-' && open_code_.empty()) open_code_ = std::string(line.substr(0, 3));
    return 0;
}

int parse_pasv_port(std::string_view text) {
    auto open = text.find('(');
    if (open == std::string_view::npos) return 0;
    std::string nums(text.substr(open + 1, 64));
    unsigned v[6];
    if (std::sscanf(nums.c_str(), "%3u,%3u,%3u,%3u,%3u,%3u", &v[0], &v[1], &v[2], &v[3], &v[4],
                    &v[5]) != 6)
        return 0;
    for (unsigned x : v)
        if (x > 255) return 0;
    return static_cast<int>(v[4] * 256 + v[5]);
}

}  // namespace qorvel::engine
