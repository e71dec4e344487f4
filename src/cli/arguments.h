// The command line as the client reads it: one command, its operands and its
// options. Pure, so every mistake a user can type is tested alone.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qorvel::cli {

enum class OnExists { skip, rename, overwrite };

struct Invocation {
    std::string command;
    std::vector<std::string> operands;  // as typed (UTF-8)
    bool json = false;
    bool yes = false;             // rm -y
    bool password_stdin = false;  // login --password-stdin
    bool direct = false;          // link --direct
    bool instant = false;         // put --instant
    bool all = false;             // ls --all
    int page = 1;                 // ls --page N, from 1
    std::string out_dir;          // get -o DIR ("" : the current folder)
    int connections = 1;          // get -c N
    OnExists on_exists = OnExists::skip;
    std::string to;  // put --to PATH ("" : the root)
};

struct Parsed {
    std::optional<Invocation> invocation;
    bool help = false;
    bool version = false;
    std::string error;  // a usage mistake (UTF-8)
};

// args: everything after the program name, the service host options already
// taken out.
Parsed parse_arguments(const std::vector<std::string>& args);

// The text of --help (UTF-8), exit statuses included.
std::string usage_text();

}  // namespace qorvel::cli
