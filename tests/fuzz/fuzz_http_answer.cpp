// The answer head, Content-Range and chunked bodies as a server might send them.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "transfer/engine/http_answer.h"

using namespace qorvel;
using namespace qorvel::engine;

namespace {

struct Decoded {
    std::string data;
    ChunkedDecoder::State state;
    std::size_t used = 0;
};

// Feeds the body in pieces of the given size (0: all at once).
Decoded decode(std::string_view body, std::size_t piece) {
    Decoded out;
    ChunkedDecoder d;
    auto sink = [&](const char* p, std::size_t n) {
        out.data.append(p, n);
        return true;
    };
    std::size_t at = 0;
    while (at < body.size()) {
        std::size_t n = piece == 0 ? body.size() - at : std::min(piece, body.size() - at);
        std::size_t used = d.feed(body.data() + at, n, sink);
        FUZZ_CHECK(used <= n);
        at += used;
        if (used < n) break;  // done or broken: the rest is not the body's
    }
    out.state = d.state();
    out.used = at;
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(bytes), size);

    HttpHead h;
    if (parse_http_head(text, h)) {
        FUZZ_CHECK(h.status >= 100 && h.status <= 999);
        FUZZ_CHECK(h.length >= -1);
        FUZZ_CHECK((h.range_start < 0) == (h.range_total < 0));
        FUZZ_CHECK(h.range_start < 0 || h.range_start < h.range_total);
        FUZZ_CHECK(h.location.find('\n') == std::string::npos);
        // A second, different Content-Length makes the head unreadable.
        if (h.length >= 0) {
            HttpHead twice;
            std::string more =
                std::string(text) + "\nContent-Length: " + std::to_string(h.length + 1);
            FUZZ_CHECK(!parse_http_head(more, twice));
        }
    }

    std::int64_t start = -5, total = -5;
    if (parse_content_range(text, start, total)) FUZZ_CHECK(start >= 0 && start < total);

    // A chunked body decodes to the same bytes however it is cut.
    Decoded whole = decode(text, 0);
    Decoded bytewise = decode(text, 1);
    Decoded odd = decode(text, 7);
    FUZZ_CHECK(whole.data == bytewise.data && whole.state == bytewise.state);
    FUZZ_CHECK(whole.data == odd.data && whole.state == odd.state);
    FUZZ_CHECK(whole.data.size() <= text.size());
    return 0;
}
