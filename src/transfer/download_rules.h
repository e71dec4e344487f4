// Decisions of the download queue that need neither sockets nor windows. The
// storage link and the file host are read and built in the service API layer.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "api/transfer_wire.h"

namespace qorvel::transfer {

// Whether a storage link may become a link file: an http, https or ftp
// address (scheme in any case) with a host, and no control byte anywhere.
bool link_file_address(std::string_view link);

// A file name from the service as a name inside the save folder: "/" and
// control characters become "_"; nothing when what is left is empty, "." or "..".
std::optional<std::string> safe_local_name(const std::string& name);

// "同名覆盖" (0) keeps the path and replaces the old file once the new one is
// complete; "同名更改" (1) puts a number from 10000 to 50000 in front of the name.
enum class SameName { overwrite = 0, rename = 1 };

struct TargetPlan {
    std::string final_path;  // where the file ends up
    std::string replaces;    // an existing file to replace after success ("" when none)
    bool ok = true;          // false when no free name was found
};
// exists tells whether a path is taken; random gives 10000..50000.
TargetPlan plan_target(const std::string& folder, const std::string& name, int policy,
                       const std::function<bool(const std::string&)>& exists,
                       const std::function<int()>& random);

// The hidden name a "同名覆盖" download is written to before it replaces the
// old file: ".qorvel-<id>-" and as much of the name as fits in a file name's
// 255 bytes on disk.
std::string replacement_name(const std::string& name, std::uint64_t id);

// Where a download goes when its name was taken after it was planned (a file
// appeared meanwhile): "同名覆盖" writes to the hidden name and replaces the file
// after success, as the user chose; "同名更改" takes another numbered name.
// Nothing when no free name is left.
std::optional<std::string> retarget(const std::string& folder, const std::string& name, int policy,
                                    std::uint64_t id,
                                    const std::function<bool(const std::string&)>& exists,
                                    const std::function<int()>& random);

// Progress cell: whole percent of size, "0%" while the size is unknown.
std::string progress_text(std::int64_t done, std::int64_t size);
// Speed cell: whole kilobytes of the last second.
std::string speed_text(std::int64_t recent_bytes);

// The save folder as the program keeps it: ending in one "/".
std::string folder_text(const std::string& chosen);

}  // namespace qorvel::transfer
