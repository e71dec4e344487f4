// Splitting the service's "http://host[:port]/path?query" addresses.
#pragma once

#include <string>
#include <string_view>

namespace qorvel {

// Host in lower case, after "http://" (or from the first byte without it),
// up to the first "/"; without keep_port it is cut before its first ":".
std::string url_host(std::string_view url, bool keep_port = false);
// From the first "/" after the host to the end, query included; "/" when none.
std::string url_path(std::string_view url);
// The decimal number after the host's first ":", or 80; 0 when that is not
// a port from 1 to 65535.
int url_port(std::string_view url);

}  // namespace qorvel
