// The user's documents, desktop and temporary folders, following the XDG user
// folders ($XDG_CONFIG_HOME/user-dirs.dirs), so a test can give the program
// its own HOME.
#pragma once

#include <filesystem>
#include <string>

namespace qorvel {

std::filesystem::path home_folder();
std::filesystem::path documents_folder();  // created when missing
std::filesystem::path desktop_folder();    // created when missing
std::filesystem::path temp_folder();

// A folder as a GBK text with a trailing "/", ready for a file name.
std::string folder_text(const std::filesystem::path& folder);

}  // namespace qorvel
