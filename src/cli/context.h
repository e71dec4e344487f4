// What every command works with: the invocation, the service, the session
// kept between commands and the three standard streams.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "api/service_api.h"
#include "cli/arguments.h"
#include "cli/outcome.h"
#include "cli/remote_path.h"
#include "cli/session_file.h"

namespace qorvel::cli {

// A folder tree deeper than this, or a walk of more folders, is no tree a
// service keeps; a hostile one could otherwise lead us round for ever.
constexpr int kMaxDepth = 64;
constexpr std::size_t kMaxFolders = 100000;

// A service row as a listed file.
Entry file_entry(const storage::FileRow& row);

struct Context {
    Context(Invocation i, const ServiceHosts& hosts) : inv(std::move(i)), api(hosts) {}

    Invocation inv;
    api::ServiceApi api;
    SavedSession saved;
    std::filesystem::path session_dir;
    bool stdin_tty = false;
    bool stderr_tty = false;
    mutable bool progress_shown = false;

    // A result line on standard output (UTF-8).
    void out(const std::string& utf8_line) const;
    // A message on standard error (GBK in, UTF-8 out), prefixed with the program's name.
    void err(const std::string& gbk) const;
    // The progress line, on a terminal only; empty clears it.
    void progress(const std::string& utf8) const;

    // The saved session into api; exit 3 without one.
    Outcome use_saved_session();
    // An API error as the command's outcome: a refusal of a session that
    // ended says so.
    Outcome failure(const api::Error& e);
    // A refusal of a change, with its message unless the session ended.
    Outcome refusal(const std::string& gbk);

    // Folders and files of a folder: every page, or nothing.
    Listing list(long long folder_id);
    // A typed path to one entry; an "id:N" alone is asked of the service.
    Resolved resolve_path(const std::string& typed);
    std::vector<Entry> files_of(long long folder_id, Outcome& outcome);
};

// A failure of one item: said on standard error, and the command's outcome.
Outcome fail(Context& c, Exit e, const std::string& gbk);

// Every command: its outcome, with its message already on standard error.
Outcome run_login(Context& c);
Outcome run_logout(Context& c);
Outcome run_whoami(Context& c);
Outcome run_ls(Context& c);
Outcome run_tree(Context& c);
Outcome run_mkdir(Context& c);
Outcome run_mv(Context& c);
Outcome run_rename(Context& c);
Outcome run_rm(Context& c);
Outcome run_link(Context& c);
Outcome run_get(Context& c);
Outcome run_put(Context& c);

// The whole program over its arguments (after the program name).
int run(const std::vector<std::string>& args);

}  // namespace qorvel::cli
