#include "pages.h"

#include <cstdio>

#include "net/charset.h"

namespace qorvel::service {

std::string size_text(int64_t bytes, bool link_only) {
    if (link_only) return "0B";
    char buf[64];
    if (bytes <= 0) return "0KB";
    if (bytes < 1024) {
        std::snprintf(buf, sizeof buf, "%lldB", static_cast<long long>(bytes));
    } else if (bytes < 1024LL * 1024) {
        std::snprintf(buf, sizeof buf, "%.2fKB", static_cast<double>(bytes) / 1024.0);
    } else if (bytes < 1024LL * 1024 * 1024) {
        std::snprintf(buf, sizeof buf, "%.2fMB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    } else {
        std::snprintf(buf, sizeof buf, "%.2fGB",
                      static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0));
    }
    return buf;
}

std::optional<std::string> utf8_in(std::string_view utf8) {
    if (utf8.empty()) return std::string();
    std::string gbk = utf8_to_gbk(utf8);
    if (gbk.empty()) return std::nullopt;
    // A character GBK lacks comes back as "?": refuse rather than store it changed.
    if (gbk_to_utf8(gbk) != utf8) return std::nullopt;
    return std::string(utf8);
}

std::optional<std::string> gbk_in(std::string_view gbk) {
    if (gbk.empty()) return std::string();
    std::string utf8 = gbk_to_utf8(gbk);
    if (utf8.empty()) return std::nullopt;
    if (utf8_to_gbk(utf8) != gbk) return std::nullopt;
    return utf8;
}

std::string gbk_out(std::string_view utf8) {
    if (utf8.empty()) return {};
    return utf8_to_gbk(utf8);
}

bool valid_name(std::string_view utf8, size_t max_bytes) {
    if (utf8.empty() || utf8.size() > max_bytes) return false;
    for (char ch : utf8) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F || c == '<') return false;
    }
    return utf8_in(utf8).has_value();
}

}  // namespace qorvel::service
