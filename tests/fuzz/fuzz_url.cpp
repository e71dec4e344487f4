// Addresses as callers, users and redirects hand them to the request
// routines' splitters and to the transfer engine.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "net/text.h"
#include "net/url.h"
#include "transfer/engine/address.h"

using namespace qorvel;
using namespace qorvel::engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    std::string url(reinterpret_cast<const char*>(bytes), size);

    int port = url_port(url);
    FUZZ_CHECK(port >= 0 && port <= 65535);
    std::string host = url_host(url);
    std::string with_port = url_host(url, true);
    FUZZ_CHECK(host.size() <= with_port.size());
    std::string path = url_path(url);
    FUZZ_CHECK(!path.empty() && path[0] == '/');

    auto a = parse_address(url);
    if (a) {
        FUZZ_CHECK(a->port >= 1 && a->port <= 65535);
        FUZZ_CHECK(!a->host.empty() && !a->path.empty() && a->path[0] == '/');
        FUZZ_CHECK(!has_control_chars(a->host + a->path + a->user + a->password));
        // Written out and read again, an address stays the same place.
        auto again = parse_address(address_text(*a));
        FUZZ_CHECK(again && again->host == a->host && again->port == a->port &&
                   again->path == a->path);
    }

    // The input as a Location against a fixed base.
    static const Address base = *parse_address("http://127.0.0.1:8080/dir/page.php?x=1");
    if (auto next = resolve_location(base, url)) {
        FUZZ_CHECK(!has_control_chars(next->host + next->path + next->user + next->password));
        FUZZ_CHECK(next->port >= 1 && next->port <= 65535);
    }
    return 0;
}
