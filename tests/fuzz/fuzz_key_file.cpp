// Values written into link files: whatever the service names or links, the
// escaped value stays on its line and reads back as it was.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "platform/key_file.h"

using namespace qorvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    std::string value(reinterpret_cast<const char*>(bytes), size);
    std::string escaped = key_file_value(value);
    FUZZ_CHECK(escaped.find_first_of("\r\n") == std::string::npos);
    FUZZ_CHECK(escaped.empty() || (escaped.front() != ' ' && escaped.back() != ' '));
    FUZZ_CHECK(key_file_unescape(escaped) == value);
    // The whole file: one group and its three keys, whatever the name and address.
    std::string text = link_file_text(value, value);
    size_t lines = 0;
    for (char c : text) lines += c == '\n';
    FUZZ_CHECK(lines == 4);
    FUZZ_CHECK(text.rfind("[Desktop Entry]\nType=Link\nName=", 0) == 0);
    return 0;
}
