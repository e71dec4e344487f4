#include "platform/key_file.h"

namespace qorvel {

std::string key_file_value(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 8);
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case ' ': out += (i == 0 || i + 1 == value.size()) ? "\\s" : " "; break;
        default: out += c;
        }
    }
    return out;
}

std::string key_file_unescape(std::string_view escaped) {
    std::string out;
    out.reserve(escaped.size());
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '\\' || i + 1 == escaped.size()) {
            out += escaped[i];
            continue;
        }
        switch (escaped[i + 1]) {
        case '\\': out += '\\'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 's': out += ' '; break;
        default: out += escaped.substr(i, 2); break;
        }
        ++i;
    }
    return out;
}

std::string link_file_text(std::string_view name, std::string_view url) {
    return "[Desktop Entry]\nType=Link\nName=" + key_file_value(name) +
           "\nURL=" + key_file_value(url) + "\n";
}

}  // namespace qorvel
