#include "ui/qt/web_view_protocol.h"

#include <charconv>

namespace qorvel::ui::qt {

namespace {

constexpr size_t kMaxDomain = 253;
constexpr size_t kMaxPath = 1024;
constexpr size_t kMaxName = 256;
constexpr size_t kMaxValue = 4096;

std::string escape(std::string_view field) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(field.size());
    for (unsigned char ch : field) {
        if (ch <= 0x20 || ch >= 0x7f || ch == '%') {
            out += '%';
            out += hex[ch >> 4];
            out += hex[ch & 15];
        } else {
            out += static_cast<char>(ch);
        }
    }
    return out;
}

int hex_digit(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    return -1;
}

std::optional<std::string> unescape(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '%') {
            out += field[i];
            continue;
        }
        if (i + 2 >= field.size()) return std::nullopt;
        int hi = hex_digit(field[i + 1]), lo = hex_digit(field[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

std::vector<std::string_view> split(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        size_t space = line.find(' ', start);
        fields.push_back(line.substr(start, space - start));
        if (space == std::string_view::npos) break;
        start = space + 1;
    }
    return fields;
}

bool all_of(std::string_view s, bool (*ok)(unsigned char)) {
    for (unsigned char ch : s)
        if (!ok(ch)) return false;
    return true;
}

// Every byte goes into the store's tab-separated line and the Cookie header
// unchanged: no control byte, no tab, no ";".
bool printable(unsigned char ch) {
    return ch > 0x20 && ch < 0x7f && ch != ';';
}
bool url_byte(unsigned char ch) {
    return ch > 0x20 && ch < 0x7f;
}
bool value_byte(unsigned char ch) {
    return (ch >= 0x20 && ch != 0x7f && ch != ';');
}
bool host_byte(unsigned char ch) {
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
           ch == '.' || ch == '-' || ch == '_' || ch == ':' || ch == '[' || ch == ']';
}

std::optional<std::uint64_t> number(std::string_view s, size_t max_digits) {
    if (s.empty() || s.size() > max_digits) return std::nullopt;
    std::uint64_t n = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return n;
}

std::optional<bool> flag(std::string_view s) {
    if (s == "0") return false;
    if (s == "1") return true;
    return std::nullopt;
}

std::optional<WebCookie> read_cookie(const std::vector<std::string_view>& f) {
    if (f.size() != 8) return std::nullopt;
    auto domain = unescape(f[1]), path = unescape(f[2]), name = unescape(f[3]),
         value = unescape(f[4]);
    auto expires = number(f[5], 18);
    auto secure = flag(f[6]), subdomains = flag(f[7]);
    if (!domain || !path || !name || !value || !expires || !secure || !subdomains)
        return std::nullopt;
    if (domain->empty() || domain->size() > kMaxDomain || domain->front() == '.' ||
        !all_of(*domain, host_byte))
        return std::nullopt;
    if (path->empty() || path->size() > kMaxPath || path->front() != '/' ||
        !all_of(*path, value_byte))
        return std::nullopt;
    if (name->empty() || name->size() > kMaxName || !all_of(*name, printable) ||
        name->find('=') != std::string::npos)
        return std::nullopt;
    if (value->size() > kMaxValue || !all_of(*value, value_byte)) return std::nullopt;
    WebCookie c;
    c.domain = std::move(*domain);
    c.path = std::move(*path);
    c.name = std::move(*name);
    c.value = std::move(*value);
    c.expires = static_cast<long long>(*expires);
    c.secure = *secure;
    c.include_subdomains = *subdomains;
    return c;
}

}  // namespace

std::string web_view_cookie_line(const WebCookie& c) {
    return "cookie " + escape(c.domain) + " " + escape(c.path.empty() ? "/" : c.path) + " " +
           escape(c.name) + " " + escape(c.value) + " " +
           std::to_string(c.expires > 0 ? c.expires : 0) + " " + (c.secure ? "1" : "0") + " " +
           (c.include_subdomains ? "1" : "0");
}

std::string web_view_url_line(std::string_view url) {
    return "url " + escape(url);
}

std::string web_view_window_line(std::uint64_t id) {
    return "window " + std::to_string(id);
}

WebViewLine read_web_view_line(std::string_view line) {
    WebViewLine out;
    if (line.size() > kMaxWebViewLine) return out;
    std::vector<std::string_view> f = split(line);
    if (f[0] == "cookie") {
        if (auto c = read_cookie(f)) {
            out.kind = WebViewLine::Kind::cookie;
            out.cookie = std::move(*c);
        }
    } else if (f[0] == "url" && f.size() == 2) {
        auto url = unescape(f[1]);
        if (url && !url->empty() && all_of(*url, url_byte)) {
            out.kind = WebViewLine::Kind::url;
            out.url = std::move(*url);
        }
    } else if (f[0] == "show" && f.size() == 1) {
        out.kind = WebViewLine::Kind::show;
    } else if (f[0] == "window" && f.size() == 2) {
        // X11 window ids are 32 bits; 0 is no window.
        auto id = number(f[1], 10);
        if (id && *id != 0 && *id <= 0xffffffffu) {
            out.kind = WebViewLine::Kind::window;
            out.window = *id;
        }
    }
    return out;
}

std::vector<std::string> WebViewLineReader::feed(std::string_view bytes) {
    std::vector<std::string> lines;
    while (!bytes.empty()) {
        size_t nl = bytes.find('\n');
        std::string_view piece = bytes.substr(0, nl);
        if (!skipping_) {
            if (partial_.size() + piece.size() > kMaxWebViewLine) {
                partial_.clear();
                skipping_ = true;
            } else {
                partial_.append(piece);
            }
        }
        if (nl == std::string_view::npos) break;
        if (!skipping_) lines.push_back(std::move(partial_));
        partial_.clear();
        skipping_ = false;
        bytes.remove_prefix(nl + 1);
    }
    return lines;
}

}  // namespace qorvel::ui::qt
