#include "form_fields.h"

#include <cstdint>

namespace qorvel::service {

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string form_decode(std::string_view encoded) {
    std::string out;
    out.reserve(encoded.size());
    for (size_t i = 0; i < encoded.size(); ++i) {
        char c = encoded[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < encoded.size() && hex_value(encoded[i + 1]) >= 0 &&
                   hex_value(encoded[i + 2]) >= 0) {
            out += static_cast<char>(hex_value(encoded[i + 1]) * 16 + hex_value(encoded[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

FormFields::FormFields(std::string_view encoded) {
    size_t pos = 0;
    while (pos <= encoded.size()) {
        size_t amp = encoded.find('&', pos);
        if (amp == std::string_view::npos) amp = encoded.size();
        std::string_view pair = encoded.substr(pos, amp - pos);
        if (!pair.empty()) {
            size_t eq = pair.find('=');
            if (eq == std::string_view::npos)
                fields_.emplace_back(form_decode(pair), std::string());
            else
                fields_.emplace_back(form_decode(pair.substr(0, eq)),
                                     form_decode(pair.substr(eq + 1)));
        }
        pos = amp + 1;
    }
}

std::optional<std::string> FormFields::get(std::string_view name) const {
    for (const auto& [key, value] : fields_)
        if (key == name) return value;
    return std::nullopt;
}

std::string FormFields::text(std::string_view name) const {
    return get(name).value_or(std::string());
}

std::string_view query_of(std::string_view target) {
    size_t q = target.find('?');
    if (q == std::string_view::npos) return {};
    std::string_view query = target.substr(q + 1);
    size_t hash = query.find('#');
    return hash == std::string_view::npos ? query : query.substr(0, hash);
}

std::optional<int> parse_id(std::string_view text) {
    bool negative = false;
    if (!text.empty() && text[0] == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 10) return std::nullopt;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (negative) value = -value;
    if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return static_cast<int>(value);
}

std::optional<std::vector<int>> parse_id_list(std::string_view text, size_t max_count) {
    std::vector<int> ids;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t comma = text.find(',', pos);
        if (comma == std::string_view::npos) comma = text.size();
        std::string_view piece = text.substr(pos, comma - pos);
        if (!piece.empty()) {
            auto id = parse_id(piece);
            if (!id || ids.size() >= max_count) return std::nullopt;
            ids.push_back(*id);
        }
        pos = comma + 1;
    }
    return ids;
}

}  // namespace qorvel::service
