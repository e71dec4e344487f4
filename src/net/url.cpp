#include "net/url.h"

#include "net/text.h"

namespace qorvel {

std::string url_host(std::string_view url, bool keep_port) {
    int p = text_find(url, "http://");
    int host_start = p == -1 ? 1 : p + 7;
    int slash = text_find(url, "/", host_start);
    std::string host = slash == -1 ? text_middle(url, host_start, static_cast<int>(url.size()))
                                   : text_middle(url, host_start, slash - host_start);
    if (!keep_port) {
        int colon = text_find(host, ":");
        if (colon != -1) host = text_left(host, colon - 1);
    }
    return text_lower(host);
}

std::string url_path(std::string_view url) {
    std::string host = url_host(url, false);
    int at = text_find(url, host, 1, true);
    int slash = text_find(url, "/", at, true);
    if (slash == -1) return "/";
    return text_middle(url, slash, static_cast<int>(url.size()));
}

int url_port(std::string_view url) {
    std::string host = url_host(url, true);
    int colon = text_find(host, ":");
    if (colon == -1) return 80;
    // Decimal digits only: "1e10", "nan" or "0x50" are not ports.
    std::string digits = text_middle(host, colon + 1, static_cast<int>(host.size()));
    if (digits.empty() || digits.size() > 5) return 0;
    int port = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        port = port * 10 + (c - '0');
    }
    return port <= 65535 ? port : 0;
}

}  // namespace qorvel
