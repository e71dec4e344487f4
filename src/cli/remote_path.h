// Remote paths: "/" separated names from the root ("默认文件夹"), or "id:N"
// for an entry by its id. Resolution walks the folder tree through a lister,
// so the decisions (an unknown name, a path through a file, a name that
// repeats) are tested without a service.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/outcome.h"

namespace qorvel::cli {

struct Entry {
    enum class Kind { folder, file };
    Kind kind = Kind::folder;
    long long id = 0;
    std::string name;                   // GBK
    std::string size, date, downloads;  // files only, as the service lists them
    bool is_folder() const { return kind == Kind::folder; }
};

// One name of a path: a name (GBK) or an id.
struct PathPart {
    std::string name;
    std::optional<long long> id;
};

struct RemotePath {
    std::vector<PathPart> parts;  // empty: the root
    std::string text;             // as typed (UTF-8), for messages
};

// "id:" followed by 1 to 18 digits.
std::optional<long long> id_of(const std::string& part);

// Splits a typed path (UTF-8). Empty and "." parts go, ".." takes one back
// (never above the root), a leading "默认文件夹" is the root. Nothing when the
// text is no valid UTF-8 or holds a control byte.
std::optional<RemotePath> parse_remote_path(const std::string& utf8);

// The entries of a folder; a failure (unreachable, refused) ends the walk.
struct Listing {
    Outcome outcome;
    std::vector<Entry> entries;  // sub-folders and files
};
using Lister = std::function<Listing(long long folder_id)>;

struct Resolved {
    Outcome outcome;
    Entry entry;               // the root is a folder with id 0
    long long parent_id = -1;  // -1 for the root
    std::string shown;         // the path for messages (UTF-8)
};

// Walks path from the root. A part must name exactly one entry; a name that
// repeats is refused with the ids that tell them apart.
Resolved resolve(const RemotePath& path, const Lister& list);

// A whole path "id:N" names an entry by id alone; the caller finds out what
// it is. folder_known: a folder of the account has that id; file_known: a
// file has it. Both: refused, since either may be meant.
Resolved resolve_bare_id(long long id, bool folder_known, bool file_known,
                         const std::string& shown);

// The file's name on its page ("<h3>name</h3>", GBK): nothing when the
// markers are missing, the name is empty or longer than a name can be, or
// holds "<", "/" or a control byte.
std::optional<std::string> file_page_name(const std::string& page);

// The refusal of a name that repeats: "... 有多个同名项，请改用 id：id:12（文件夹） id:57".
std::string ambiguity_message(const std::string& shown, const std::vector<Entry>& matches);

}  // namespace qorvel::cli
