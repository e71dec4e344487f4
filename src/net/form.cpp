#include "net/form.h"

namespace qorvel {

std::string form_escape(std::string_view value) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (char ch : value) {
        auto c = static_cast<unsigned char>(ch);
        bool escape = c < 0x20 || c == 0x7F || c == ' ' || c == '&' || c == '=' || c == '+' ||
                      c == '%' || c == '#';
        if (escape) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else {
            out += ch;
        }
    }
    return out;
}

Form& Form::add(std::string_view name, std::string_view value) {
    if (!body_.empty()) body_ += '&';
    body_.append(name);
    body_ += '=';
    body_ += form_escape(value);
    return *this;
}

Form& Form::add(std::string_view name, long long value) {
    return add(name, std::to_string(value));
}

std::string with_query(std::string_view path, const Form& query) {
    std::string out(path);
    if (!query.empty()) {
        out += '?';
        out += query.str();
    }
    return out;
}

}  // namespace qorvel
