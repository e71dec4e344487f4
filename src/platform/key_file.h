// Values of freedesktop key files (".desktop" link files). Every value the
// program writes into one goes through key_file_value, so no text from the
// service can end its line and add keys or groups of its own.
#pragma once

#include <string>
#include <string_view>

namespace qorvel {

// The string escapes of the Desktop Entry format: "\\" for a backslash, "\n",
// "\r" and "\t" for those bytes, "\s" for a blank at either end (readers trim
// blanks there). Every other byte stays as it is.
std::string key_file_value(std::string_view value);

// What a reader makes of an escaped value; an unknown escape stays as written.
std::string key_file_unescape(std::string_view escaped);

// A link file that opens url (UTF-8), shown under name (UTF-8).
std::string link_file_text(std::string_view name, std::string_view url);

}  // namespace qorvel
