// What the upload queue accepts and how it names things: pure decisions, with
// the file system asked only by the functions that say so.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "api/transfer_wire.h"
#include "transfer/engine/engine.h"

namespace qorvel::transfer {

// Files of 1024 MB or more are not taken from the chooser or a drop.
inline constexpr std::int64_t kUploadLimitBytes = 1024LL * 1048576;
bool under_upload_limit(std::int64_t bytes);

// The text after the first dot of the file's name is not "", "php" or "asp"
// (exact). A name without a dot passes.
bool upload_extension_allowed(const std::string& path);

enum class PathKind { file, folder, missing };
// Asks the file system (links followed).
PathKind path_kind(const std::string& path);
// Size in bytes; -1 when it cannot be read.
std::int64_t file_size_of(const std::string& path);
// The path with every link resolved (realpath); empty when it does not resolve.
std::string real_path_of(const std::string& path);

// A regular file as read from its open descriptor (links not followed, a FIFO
// never waited on); what an upload compares before it registers the file.
struct FileStamp {
    std::int64_t size = -1;
    std::int64_t modified_ns = 0;
    bool operator==(const FileStamp&) const = default;
};
std::optional<FileStamp> regular_file_stamp(const std::string& path);

// Why a sent upload must not be registered, as its row's failure text (GBK),
// checked in this order: the engine's success, the file unchanged since the
// upload began, its content verified by the server's MD5 or a server without
// HASH. Nothing: it may be registered.
std::optional<std::string> upload_refusal(const engine::Outcome& outcome, bool file_unchanged);

enum class DropAction { add_file, add_folder, skip, too_large, name_refused };
// A dropped path: folders add their files, files pass the limit and the name rule.
DropAction decide_dropped(const std::string& path, PathKind kind, std::int64_t bytes);

// The regular files directly inside a folder (no sub-folders), by name. Links
// are counted, never taken: a link could carry any file of the user's out.
struct FolderFiles {
    std::vector<std::string> paths;
    int links_skipped = 0;
};
FolderFiles files_of_folder(const std::string& folder);

// What adding by chooser, folder or drop left out, for the upload page.
struct AddingReport {
    int links_skipped = 0;
    std::vector<std::string> too_large;     // paths at or over the limit
    std::vector<std::string> name_refused;  // paths refused by the name rule
};
// The status line's text (GBK, after "状态："); empty when nothing was left out.
std::string adding_summary(const AddingReport& report);
// One log line (GBK, without line end) per file left out, then the links.
std::vector<std::string> adding_log_lines(const AddingReport& report);

// The part after the last "/" (the whole text without one).
std::string file_name_of(const std::string& path);
// Up to and including the last "/" (empty without one).
std::string folder_part_of(const std::string& path);

// Column "大小" of an upload row: bytes / 1048576 with its fraction, then "M".
std::string upload_size_text(std::int64_t bytes);
// Column "大小" of a finished upload: bytes / 1024 with its fraction, then "KB".
std::string completed_size_text(std::int64_t bytes);

// The name the file travels under on the FTP server.
std::string remote_name_for(const std::string& path);
// "ftp://" + host + ":1678/" + remote name.
std::string ftp_upload_url(const std::string& ftp_host, const std::string& remote_name);

}  // namespace qorvel::transfer
