// Private-profile INI files: "[section]" and "key=value" lines of GBK bytes.
// Section and key names compare without ASCII case, as the desktop's own
// profile functions do.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace qorvel {

// The value, or fallback when the file, the section or the key is missing.
std::string ini_read(const std::filesystem::path& file, std::string_view section,
                     std::string_view key, std::string_view fallback = {});

// Writes the value, creating the file and the section when needed. The file is
// replaced as a whole (never left half-written) and keeps the given mode when
// it is created. Returns false when the file cannot be written, and refuses a
// section, key or value holding a CR or LF.
bool ini_write(const std::filesystem::path& file, std::string_view section, std::string_view key,
               std::string_view value,
               std::filesystem::perms mode = std::filesystem::perms::owner_read |
                                             std::filesystem::perms::owner_write |
                                             std::filesystem::perms::group_read |
                                             std::filesystem::perms::others_read);

// Deletes the file; true when it is gone afterwards.
bool ini_delete_file(const std::filesystem::path& file);

}  // namespace qorvel
