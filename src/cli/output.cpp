#include "cli/output.h"

#include <cstdio>

#include "net/charset.h"
#include "transfer/progress_rules.h"

namespace qorvel::cli {

namespace {

// The code point at s[i] and its length; 0 length for an invalid sequence.
std::pair<char32_t, std::size_t> decode(const std::string& s, std::size_t i) {
    auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = b(i);
    if (c < 0x80) return {c, 1};
    std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (n == 0 || i + n > s.size()) return {0, 0};
    char32_t cp = c & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return {0, 0};
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not text.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return {0, 0};
    return {cp, n};
}

bool wide(char32_t cp) {
    return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
           (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
           (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
           (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
}

}  // namespace

std::string json_string(const std::string& utf8) {
    std::string out = "\"";
    for (std::size_t i = 0; i < utf8.size();) {
        auto [cp, n] = decode(utf8, i);
        if (n == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (cp == '"') {
            out += "\\\"";
        } else if (cp == '\\') {
            out += "\\\\";
        } else if (cp < 0x20 || cp == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(cp));
            out += esc;
        } else {
            out.append(utf8, i, n);
        }
        i += n;
    }
    return out + "\"";
}

std::string json_object(const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string out = "{";
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i) out += ",";
        out += json_string(fields[i].first) + ":" + fields[i].second;
    }
    return out + "}";
}

std::size_t display_width(const std::string& utf8) {
    std::size_t w = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        auto [cp, n] = decode(utf8, i);
        if (n == 0) {
            ++w;
            ++i;
            continue;
        }
        w += wide(cp) ? 2 : 1;
        i += n;
    }
    return w;
}

std::string printable(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        auto [cp, n] = decode(utf8, i);
        if (n == 0 || cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0)) {
            out += '?';
            i += n == 0 ? 1 : n;
            continue;
        }
        out.append(utf8, i, n);
        i += n;
    }
    return out;
}

std::string table(const std::vector<std::string>& header,
                  const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths(header.size(), 0);
    auto measure = [&](const std::vector<std::string>& row) {
        for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c)
            widths[c] = std::max(widths[c], display_width(printable(row[c])));
    };
    measure(header);
    for (const auto& r : rows) measure(r);
    auto line = [&](const std::vector<std::string>& row) {
        std::string out;
        for (std::size_t c = 0; c < widths.size(); ++c) {
            std::string cell = c < row.size() ? printable(row[c]) : std::string();
            out += cell;
            if (c + 1 < widths.size()) out += std::string(widths[c] - display_width(cell) + 2, ' ');
        }
        while (!out.empty() && out.back() == ' ') out.pop_back();
        return out + "\n";
    };
    std::string out = line(header);
    for (const auto& r : rows) out += line(r);
    return out;
}

std::string progress_line(const std::string& name_utf8, long long done, long long total,
                          double bytes_per_s) {
    std::string percent = total > 0 ? std::to_string(done * 100 / total) + "%" : "?%";
    long long left = total < 0 ? -1 : std::max(0LL, total - done);
    return printable(name_utf8) + "  " + percent + "  " +
           transfer::speed_per_second_text(bytes_per_s) + "  " +
           gbk_to_utf8(transfer::time_left_text(left, bytes_per_s));
}

}  // namespace qorvel::cli
