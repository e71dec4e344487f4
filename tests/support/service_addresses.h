// The reference service as the client's configuration sees it, and the
// escaping curl needs to store a file under any name over FTP.
#pragma once

#include <cctype>
#include <string>

#include "platform/service_hosts.h"
#include "support/service_instance.h"

namespace qorvel::test {

inline ServiceHosts hosts_of(const ServiceInstance& s) {
    auto bare = [](const std::string& url) { return url.substr(7); };
    ServiceHosts h;
    h.web = bare(s.web());
    h.direct = bare(s.direct());
    h.files2 = bare(s.files2());
    h.files3 = bare(s.files3());
    h.ftp_host = s.host();
    return h;
}

// Every byte but letters and digits as %XX, which curl decodes for STOR.
inline std::string url_escape_all(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (std::isalnum(c) && c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

}  // namespace qorvel::test
