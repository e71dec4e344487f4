// Character-set conversion at the edges of the program.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace qorvel {

// Both give the empty result when the input is not valid in its charset.
// A valid character that GBK lacks is written as "?".
std::string gbk_to_utf8(std::string_view gbk);
std::string utf8_to_gbk(std::string_view utf8);

// Local paths: GB18030 covers all of Unicode and equals GBK on GBK's
// characters, so a path survives the round trip through a text.
std::string path_to_text(const std::filesystem::path& path);
std::filesystem::path text_to_path(std::string_view text);

namespace detail {
// Converts a UTF-8 source literal; aborts on a literal that GBK cannot hold.
std::string literal_to_gbk(std::string_view utf8);
}  // namespace detail

}  // namespace qorvel

// GBK bytes of a UTF-8 source literal, converted once per use site.
#define GBK(literal)                                                                       \
    ([]() -> const std::string& {                                                          \
        static const std::string gbk_literal_ = ::qorvel::detail::literal_to_gbk(literal); \
        return gbk_literal_;                                                               \
    }())
