#include "transfer/engine/address.h"

#include <cctype>

#include "net/text.h"

namespace qorvel::engine {

namespace {

int default_port(const std::string& scheme) {
    if (scheme == "http") return 80;
    if (scheme == "ftp") return 21;
    if (scheme == "rtsp") return 554;
    if (scheme == "mms") return 1755;
    return 0;
}

}  // namespace

std::optional<Address> parse_address(const std::string& url) {
    // A CR or LF here would end the request or command line early and let
    // the rest of the address speak as a line of its own.
    if (has_control_chars(url)) return std::nullopt;
    auto sep = url.find("://");
    if (sep == std::string::npos) return std::nullopt;
    Address a;
    a.scheme = text_lower(url.substr(0, sep));
    if (default_port(a.scheme) == 0) return std::nullopt;
    std::string rest = url.substr(sep + 3);
    auto slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    a.path = slash == std::string::npos ? "/" : rest.substr(slash);
    // User and password may stand before the host; the last "@" ends them.
    auto at = authority.rfind('@');
    if (at != std::string::npos) {
        std::string cred = authority.substr(0, at);
        authority = authority.substr(at + 1);
        auto colon = cred.find(':');
        a.user = cred.substr(0, colon);
        if (colon != std::string::npos) a.password = cred.substr(colon + 1);
    }
    a.port = default_port(a.scheme);
    auto colon = authority.rfind(':');
    if (colon != std::string::npos) {
        std::string port = authority.substr(colon + 1);
        authority = authority.substr(0, colon);
        if (port.empty() || port.size() > 5) return std::nullopt;
        for (char c : port)
            if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        a.port = std::stoi(port);
        if (a.port <= 0 || a.port > 65535) return std::nullopt;
    }
    // A colon left in the host would read as a port once the address is written out again.
    if (authority.empty() || authority.find(':') != std::string::npos) return std::nullopt;
    for (char c : authority)
        if (static_cast<unsigned char>(c) <= ' ') return std::nullopt;
    a.host = authority;
    return a;
}

std::optional<Address> resolve_location(const Address& base, const std::string& location) {
    if (location.empty() || has_control_chars(location)) return std::nullopt;
    if (location.find("://") != std::string::npos) return parse_address(location);
    Address a = base;
    if (location.rfind("//", 0) == 0) return parse_address(base.scheme + ":" + location);
    if (location[0] == '/') {
        a.path = location;
    } else {
        std::string dir = base.path.substr(0, base.path.find('?'));
        dir = dir.substr(0, dir.rfind('/') + 1);
        a.path = dir + location;
    }
    return a;
}

std::string address_text(const Address& a) {
    std::string s = a.scheme + "://" + a.host;
    if (a.port != default_port(a.scheme)) s += ":" + std::to_string(a.port);
    return s + a.path;
}

}  // namespace qorvel::engine
