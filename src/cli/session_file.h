// The session the client keeps between commands: $XDG_CONFIG_HOME/qorvel/
// cli-session (~/.config when unset), 0600 in a 0700 folder, written new and
// read without following a link, so no link planted there can carry the
// session key elsewhere or feed us another one.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace qorvel::cli {

struct SavedSession {
    std::string account;      // GBK, as typed
    std::string account_key;  // the session key account requests carry
    std::string login_pid;    // the account id of the public listings
    bool member = false;
};

// The folder and the file's name in it.
std::filesystem::path session_folder();
inline constexpr const char* kSessionFileName = "cli-session";

enum class SessionRead { found, missing, unsafe };
struct SessionLoad {
    SessionRead state = SessionRead::missing;
    SavedSession session;
    std::string why;  // for unsafe (UTF-8)
};

// Refuses (unsafe) a file that is a link, not a regular file, not ours, or
// readable by others, and a folder that is a link or not ours.
SessionLoad load_session(const std::filesystem::path& folder);
// Creates the folder 0700 when missing (and takes group and other access
// from one of ours); the file is written to a new temporary name and renamed
// over. A value holding a line break is refused. Empty: done; else why (UTF-8).
std::string save_session(const std::filesystem::path& folder, const SavedSession& s);
// Removes the file; true when none is left.
bool forget_session(const std::filesystem::path& folder);

// The file's text and its reading, apart from the file system.
std::optional<std::string> session_text(const SavedSession& s);
std::optional<SavedSession> parse_session_text(const std::string& text);

}  // namespace qorvel::cli
