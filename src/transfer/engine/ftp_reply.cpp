#include "transfer/engine/ftp_reply.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "net/text.h"

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

HashCheck judge_hash_reply(int code, std::string_view text, std::int64_t size,
                           std::string_view local_md5) {
    // 550: the server no longer holds the file it just said it received.
    if (code == 550) return HashCheck::mismatched;
    if (code != 213) return HashCheck::unchecked;
    if (local_md5.empty()) return HashCheck::mismatched;
    // "213 MD5 0-<end> <hex> <name>": the end is the size, or the last byte's offset.
    auto word = [&text](std::size_t& at) {
        while (at < text.size() && text[at] == ' ') ++at;
        std::size_t start = at;
        while (at < text.size() && text[at] != ' ') ++at;
        return text.substr(start, at - start);
    };
    std::size_t at = std::min<std::size_t>(3, text.size());
    std::string_view algorithm = word(at);
    std::string_view range = word(at);
    std::string_view hex = word(at);
    if (text_lower(std::string(algorithm)) != "md5" || range.substr(0, 2) != "0-" ||
        range.size() > 20 || range.find_first_not_of("0123456789", 2) != std::string_view::npos ||
        range.size() == 2)
        return HashCheck::mismatched;
    long long end = std::atoll(std::string(range.substr(2)).c_str());
    if (end != size && end != size - 1) return HashCheck::mismatched;
    return text_lower(std::string(hex)) == local_md5 ? HashCheck::matched : HashCheck::mismatched;
}

}  // namespace qorvel::engine
