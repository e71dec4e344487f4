#include "transfer/engine/http_answer.h"

#include <strings.h>

#include "net/text.h"

namespace qorvel::engine {

namespace {

bool starts_with_nocase(std::string_view line, std::string_view name) {
    return line.size() >= name.size() && strncasecmp(line.data(), name.data(), name.size()) == 0;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One Content-Length value as compared with the others: a number by its
// value ("05" is "5"), anything else by its text.
std::string length_key(std::string_view value) {
    std::int64_t n = decimal_or_minus_one(value);
    return n >= 0 ? std::to_string(n) : std::string(value);
}

int base64_value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Standard base64, padded or not; empty for anything else.
std::string base64_decode(std::string_view text) {
    while (!text.empty() && text.back() == '=') text.remove_suffix(1);
    if (text.size() % 4 == 1) return {};
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        int v = base64_value(c);
        if (v < 0) return {};
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xff);
        }
    }
    return out;
}

// Stands for a digest no file can have: two answers' lines disagreed.
constexpr std::string_view kConflictingMd5 = "conflicting";

// Longest size line we accept: hex digits plus any extension.
constexpr std::size_t kMaxSizeLine = 1024;

}  // namespace

std::int64_t decimal_or_minus_one(std::string_view s) {
    if (s.empty() || s.size() > 18) return -1;
    std::int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

std::string digest_md5(std::string_view value) {
    std::size_t at = 0;
    while (at <= value.size()) {
        std::size_t comma = value.find(',', at);
        if (comma == std::string_view::npos) comma = value.size();
        std::string item = text_trim(value.substr(at, comma - at));
        at = comma + 1;
        auto eq = item.find('=');
        if (eq == std::string::npos) continue;
        std::string name = text_trim(std::string_view(item).substr(0, eq));
        if (name.size() != 3 || !starts_with_nocase(name, "md5")) continue;
        std::string bytes = base64_decode(text_trim(std::string_view(item).substr(eq + 1)));
        if (bytes.size() == 16) return bytes;
    }
    return {};
}

bool parse_content_range(std::string_view value, std::int64_t& start, std::int64_t& total) {
    auto sp = value.find(' ');
    auto dash = value.find('-');
    auto slash = value.find('/');
    if (sp == std::string_view::npos || dash == std::string_view::npos ||
        slash == std::string_view::npos || !(sp < dash && dash < slash))
        return false;
    std::int64_t s = decimal_or_minus_one(value.substr(sp + 1, dash - sp - 1));
    std::int64_t e = decimal_or_minus_one(value.substr(dash + 1, slash - dash - 1));
    std::int64_t t = decimal_or_minus_one(value.substr(slash + 1));
    if (s < 0 || e < s || t <= e) return false;
    start = s;
    total = t;
    return true;
}

bool parse_http_head(std::string_view text, HttpHead& h) {
    std::size_t pos = 0;
    bool first = true;
    bool have_length = false;
    std::string length_seen;
    while (pos < text.size()) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        std::string_view line = text.substr(pos, eol - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos = eol + 1;
        if (first) {
            first = false;
            if (!starts_with_nocase(line, "HTTP/1.1 ") && !starts_with_nocase(line, "HTTP/1.0 "))
                return false;
            h.status = static_cast<int>(decimal_or_minus_one(line.substr(9, 3)));
            if (h.status < 100) return false;
            continue;
        }
        auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::string value = text_trim(line.substr(colon + 1));
        if (starts_with_nocase(line, "Content-Length:")) {
            // Each field may be a list ("5, 5"); every value must be the same one,
            // or the body's end is anybody's guess.
            std::size_t at = 0;
            for (;;) {
                std::size_t comma = value.find(',', at);
                std::string item = text_trim(std::string_view(value).substr(
                    at, comma == std::string::npos ? std::string::npos : comma - at));
                std::string key = length_key(item);
                if (have_length && key != length_seen) return false;
                have_length = true;
                length_seen = key;
                h.length = decimal_or_minus_one(item);
                if (comma == std::string::npos) break;
                at = comma + 1;
            }
        } else if (starts_with_nocase(line, "Content-Range:")) {
            if (!parse_content_range(value, h.range_start, h.range_total))
                h.range_start = h.range_total = -1;
        } else if (starts_with_nocase(line, "ETag:")) {
            h.etag = value;
        } else if (starts_with_nocase(line, "Last-Modified:")) {
            h.last_modified = value;
        } else if (starts_with_nocase(line, "Digest:")) {
            std::string md5 = digest_md5(value);
            if (!md5.empty())
                h.md5 = h.md5.empty() || h.md5 == md5 ? md5 : std::string(kConflictingMd5);
        } else if (starts_with_nocase(line, "Location:")) {
            h.location = value;
        } else if (starts_with_nocase(line, "Accept-Ranges:")) {
            h.accept_ranges = starts_with_nocase(value, "bytes");
        } else if (starts_with_nocase(line, "Transfer-Encoding:")) {
            h.chunked = text_find(value, "chunked", 1, true) != -1;
        }
    }
    return !first;
}

std::size_t ChunkedDecoder::feed(const char* data, std::size_t size, const Sink& sink) {
    std::size_t used = 0;
    while (used < size && state_ != State::done && state_ != State::error) {
        char c = data[used];
        switch (state_) {
        case State::size_line: {
            ++used;
            if (c != '\n') {
                if (line_.size() >= kMaxSizeLine) {
                    state_ = State::error;
                    break;
                }
                line_ += c;
                break;
            }
            if (!line_.empty() && line_.back() == '\r') line_.pop_back();
            // Hex digits, then optionally blanks or ";extension".
            std::int64_t n = 0;
            std::size_t digits = 0;
            for (; digits < line_.size() && hex_digit(line_[digits]) >= 0; ++digits) {
                if (digits == 15) break;
                n = n * 16 + hex_digit(line_[digits]);
            }
            bool rest_ok = digits == line_.size() || line_[digits] == ';' || line_[digits] == ' ' ||
                           line_[digits] == '\t';
            line_.clear();
            if (digits == 0 || !rest_ok) {
                state_ = State::error;
                break;
            }
            left_ = n;
            // The trailer after the last chunk is not needed: the body is whole.
            state_ = n == 0 ? State::done : State::data;
            break;
        }
        case State::data: {
            std::size_t n = static_cast<std::size_t>(
                std::min<std::int64_t>(left_, static_cast<std::int64_t>(size - used)));
            if (!sink(data + used, n)) return used;
            used += n;
            left_ -= static_cast<std::int64_t>(n);
            if (left_ == 0) state_ = State::data_end;
            break;
        }
        case State::data_end:
            ++used;
            if (c == '\n')
                state_ = State::size_line;
            else if (c != '\r')
                state_ = State::error;
            break;
        case State::done:
        case State::error: break;
        }
    }
    return used;
}

}  // namespace qorvel::engine
