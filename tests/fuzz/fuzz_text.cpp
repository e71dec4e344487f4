// The text operations over whatever the service sends: the input is cut at
// its first two zero bytes into text, start marker and end marker.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "net/text.h"

using namespace qorvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    std::string_view all(reinterpret_cast<const char*>(bytes), size);
    std::string_view parts[3];
    for (int i = 0; i < 2; ++i) {
        auto z = all.find('\0');
        parts[i] = all.substr(0, z);
        all = z == std::string_view::npos ? std::string_view() : all.substr(z + 1);
    }
    parts[2] = all;
    std::string_view text = parts[0], a = parts[1], b = parts[2];

    std::string cut = text_between(text, a, b);
    FUZZ_CHECK(cut.size() <= text.size());

    int at = text_find(text, a);
    FUZZ_CHECK(at == -1 || (at >= 1 && static_cast<std::size_t>(at) <= text.size() + 1));
    int at_nocase = text_find(text, a, 1, true);
    FUZZ_CHECK(at_nocase == -1 || at_nocase >= 1);
    int last = text_find_last(text, a);
    FUZZ_CHECK(last == -1 || last >= 1);

    if (!a.empty()) {
        std::size_t total = 0;
        for (const std::string& piece : text_split(text, a)) total += piece.size();
        FUZZ_CHECK(total <= text.size());
        std::string replaced = text_replace_all(text, a, b);
        (void)replaced;
    }
    FUZZ_CHECK(text_trim(text).size() <= text.size());
    FUZZ_CHECK(text_lower(text).size() == text.size());
    FUZZ_CHECK(text_upper(text).size() == text.size());
    FUZZ_CHECK(bytes_to_text(text).size() <= text.size());
    (void)text_to_int(text);
    (void)text_to_number(text);
    int n = static_cast<int>(b.size()) - 8;
    FUZZ_CHECK(text_left(text, n).size() <= text.size());
    FUZZ_CHECK(text_right(text, n).size() <= text.size());
    FUZZ_CHECK(text_middle(text, n, static_cast<int>(a.size())).size() <= text.size());
    FUZZ_CHECK(text_remove(text, n, static_cast<int>(a.size())).size() <= text.size());
    return 0;
}
