// Splitting the task addresses the engine accepts.
#pragma once

#include <optional>
#include <string>

namespace qorvel::engine {

struct Address {
    std::string scheme;  // lower case: http, ftp, rtsp, mms
    std::string user;    // FTP only, empty when not given
    std::string password;
    std::string host;
    int port = 0;
    std::string path;  // starts with "/"
};

// Nothing for a text without a usable scheme or host.
std::optional<Address> parse_address(const std::string& url);
// A Location value, absolute or relative to base.
std::optional<Address> resolve_location(const Address& base, const std::string& location);
std::string address_text(const Address& address);

}  // namespace qorvel::engine
