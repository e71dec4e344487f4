// The MD5 digest that instant upload sends: read in pieces, never whole.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace qorvel::transfer {

// 32 lower-case hexadecimal digits; nothing when the file cannot be read to its
// end or is no regular file (a link, a FIFO).
std::optional<std::string> file_md5_hex(const std::filesystem::path& path);

}  // namespace qorvel::transfer
