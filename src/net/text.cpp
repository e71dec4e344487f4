#include "net/text.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/charset.h"

namespace qorvel {

namespace {

char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
char ascii_upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool matches_at(std::string_view text, size_t i, std::string_view what, bool ignore_case) {
    if (what.size() > text.size() - i) return false;
    if (!ignore_case) return text.compare(i, what.size(), what) == 0;
    for (size_t k = 0; k < what.size(); ++k)
        if (ascii_lower(text[i + k]) != ascii_lower(what[k])) return false;
    return true;
}

// Step from byte i to the start of the next character.
size_t next_char(std::string_view text, size_t i) {
    if (is_gbk_lead(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) return i + 2;
    return i + 1;
}

}  // namespace

std::string bytes_to_text(std::string_view bytes) {
    size_t zero = bytes.find('\0');
    return std::string(bytes.substr(0, zero));
}

int text_find(std::string_view text, std::string_view what, int start, bool ignore_case) {
    if (start < 1) start = 1;
    size_t i = static_cast<size_t>(start) - 1;
    if (text.empty() || i >= text.size()) return -1;
    if (what.empty()) return start;
    if (!ignore_case) {
        // A byte search finds the candidates; one counts only where a character
        // starts. A byte below 0x81 always ends a character, so the lead-range
        // bytes before a candidate pair up from the last such byte (or from
        // start). Pages are searched often enough that comparing at every
        // character was most of their reading.
        size_t known = i;  // a character starts here
        for (size_t hit = text.find(what, i); hit != std::string_view::npos;
             hit = text.find(what, hit + 1)) {
            size_t run = hit;
            while (run > known && is_gbk_lead(static_cast<unsigned char>(text[run - 1]))) --run;
            if ((hit - run) % 2 == 0) return static_cast<int>(hit) + 1;
            known = hit + 1;  // hit is a second byte: the next character starts after it
        }
        return -1;
    }
    for (; i < text.size(); i = next_char(text, i))
        if (matches_at(text, i, what, ignore_case)) return static_cast<int>(i) + 1;
    return -1;
}

int text_find_last(std::string_view text, std::string_view what) {
    if (text.empty()) return -1;
    if (what.empty()) return static_cast<int>(text.size());
    int last = -1;
    for (size_t i = 0; i < text.size(); i = next_char(text, i))
        if (matches_at(text, i, what, false)) last = static_cast<int>(i) + 1;
    return last;
}

std::string text_left(std::string_view text, int n) {
    if (n <= 0) return {};
    return std::string(text.substr(0, static_cast<size_t>(n)));
}

std::string text_right(std::string_view text, int n) {
    if (n <= 0) return {};
    if (static_cast<size_t>(n) >= text.size()) return std::string(text);
    return std::string(text.substr(text.size() - static_cast<size_t>(n)));
}

std::string text_middle(std::string_view text, int start, int n) {
    if (start < 1 || static_cast<size_t>(start) > text.size() || n <= 0) return {};
    return std::string(text.substr(static_cast<size_t>(start) - 1, static_cast<size_t>(n)));
}

std::string text_replace_all(std::string_view text, std::string_view what, std::string_view with,
                             bool case_sensitive) {
    if (what.empty()) return std::string(text);
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (matches_at(text, i, what, !case_sensitive)) {
            out += with;
            i += what.size();
        } else {
            size_t next = next_char(text, i);
            out.append(text.substr(i, next - i));
            i = next;
        }
    }
    return out;
}

std::string text_remove(std::string_view text, int start, int n) {
    if (start < 1 || static_cast<size_t>(start) > text.size() || n <= 0) return std::string(text);
    std::string out(text);
    out.erase(static_cast<size_t>(start) - 1, static_cast<size_t>(n));
    return out;
}

std::vector<std::string> text_split(std::string_view text, std::string_view separator) {
    std::vector<std::string> pieces;
    if (text.empty()) return pieces;
    if (separator.empty()) {
        pieces.emplace_back(text);
        return pieces;
    }
    size_t piece_start = 0;
    size_t i = 0;
    while (i < text.size()) {
        if (matches_at(text, i, separator, false)) {
            pieces.emplace_back(text.substr(piece_start, i - piece_start));
            i += separator.size();
            piece_start = i;
        } else {
            i = next_char(text, i);
        }
    }
    if (piece_start < text.size()) pieces.emplace_back(text.substr(piece_start));
    return pieces;
}

std::string text_trim(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    size_t b = 0, e = text.size();
    while (b < e && blank(text[b])) ++b;
    while (e > b && blank(text[e - 1])) --e;
    return std::string(text.substr(b, e - b));
}

std::string text_upper(std::string_view text) {
    std::string out(text);
    for (size_t i = 0; i < out.size(); i = next_char(out, i)) out[i] = ascii_upper(out[i]);
    return out;
}

std::string text_lower(std::string_view text) {
    std::string out(text);
    for (size_t i = 0; i < out.size(); i = next_char(out, i)) out[i] = ascii_lower(out[i]);
    return out;
}

bool has_control_chars(std::string_view text) {
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) return true;
    }
    return false;
}

int text_to_int(std::string_view text) {
    std::string s = bytes_to_text(text);
    errno = 0;
    long long v = std::strtoll(s.c_str(), nullptr, 10);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

double text_to_number(std::string_view text) {
    std::string s = bytes_to_text(text);
    return std::strtod(s.c_str(), nullptr);
}

std::string number_to_text(double value) {
    char buf[64];
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e18) {
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(value));
    } else {
        std::snprintf(buf, sizeof buf, "%.15g", value);
    }
    return buf;
}

std::string text_between(std::string_view text, std::string_view start_marker,
                         std::string_view end_marker) {
    int p = text_find(text, start_marker);
    int s = p + static_cast<int>(start_marker.size());
    int e = text_find(text, end_marker, s);
    return text_middle(text, s, e - s);
}

std::string time_of_day_text(const std::tm& t) {
    char buf[128];
    std::string full;
    std::snprintf(buf, sizeof buf, "%d", t.tm_year + 1900);
    full = buf + GBK("年");
    full += std::to_string(t.tm_mon + 1) + GBK("月") + std::to_string(t.tm_mday) + GBK("日");
    if (t.tm_sec != 0) {
        full += std::to_string(t.tm_hour) + GBK("时") + std::to_string(t.tm_min) + GBK("分") +
                std::to_string(t.tm_sec) + GBK("秒");
    } else if (t.tm_min != 0) {
        full += std::to_string(t.tm_hour) + GBK("时") + std::to_string(t.tm_min) + GBK("分");
    } else if (t.tm_hour != 0) {
        full += std::to_string(t.tm_hour) + GBK("时");
    }
    int day = text_find(full, GBK("日"));
    return full.substr(static_cast<size_t>(day - 1) + GBK("日").size());
}

std::tm system_local_time() {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    return t;
}

}  // namespace qorvel
