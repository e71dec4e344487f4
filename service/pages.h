// Shared pieces of the answers: sizes as the lists show them, checks on
// names and the charset conversions at the edge of the service.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qorvel::service {

// "0B" is reserved for link-only entries, so an empty file reads "0KB".
std::string size_text(int64_t bytes, bool link_only);

// A UTF-8 name that GBK can hold, without control characters or "<"
// (the lists cut names at "<"), at most max_bytes long.
bool valid_name(std::string_view utf8, size_t max_bytes);

// GBK bytes from the client to UTF-8 for storage; nullopt when not GBK.
std::optional<std::string> gbk_in(std::string_view gbk);
// UTF-8 from the client, checked to be valid and GBK-representable.
std::optional<std::string> utf8_in(std::string_view utf8);
// Stored UTF-8 to the GBK of a page.
std::string gbk_out(std::string_view utf8);

}  // namespace qorvel::service
