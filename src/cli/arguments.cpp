#include "cli/arguments.h"

#include <charconv>
#include <map>
#include <set>

namespace qorvel::cli {

namespace {

struct CommandRule {
    std::size_t min_operands;
    std::size_t max_operands;
    std::set<std::string> options;
};

const std::map<std::string, CommandRule>& rules() {
    static const std::map<std::string, CommandRule> r = {
        {"login", {1, 1, {"--password-stdin"}}},
        {"logout", {0, 0, {}}},
        {"whoami", {0, 0, {}}},
        {"ls", {0, 1, {"--page", "--all"}}},
        {"tree", {0, 1, {}}},
        {"mkdir", {1, 1, {}}},
        {"mv", {2, 1000, {}}},
        {"rename", {2, 2, {}}},
        {"rm", {1, 1000, {"-y", "--yes"}}},
        {"link", {1, 1, {"--direct"}}},
        {"get", {1, 1000, {"-o", "-c", "--on-exists"}}},
        {"put", {1, 1000, {"--to", "--instant"}}},
    };
    return r;
}

bool takes_value(const std::string& option) {
    return option == "--page" || option == "-o" || option == "-c" || option == "--on-exists" ||
           option == "--to";
}

bool read_number(const std::string& text, int low, int high, int& out) {
    int v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < low || v > high) return false;
    out = v;
    return true;
}

Parsed mistake(std::string why) {
    Parsed p;
    p.error = std::move(why);
    return p;
}

}  // namespace

Parsed parse_arguments(const std::vector<std::string>& args) {
    Invocation inv;
    std::size_t i = 0;
    // Options before the command: --json, --help, --version.
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            Parsed p;
            p.help = true;
            return p;
        }
        if (a == "--version") {
            Parsed p;
            p.version = true;
            return p;
        }
        if (a == "--json") {
            inv.json = true;
            continue;
        }
        break;
    }
    if (i >= args.size()) return mistake("no command given");
    inv.command = args[i++];
    auto rule = rules().find(inv.command);
    if (rule == rules().end()) return mistake("unknown command: " + inv.command);
    bool page_given = false;
    bool options_end = false;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!options_end && a == "--") {
            options_end = true;
            continue;
        }
        if (options_end || a.empty() || a[0] != '-' || a == "-") {
            inv.operands.push_back(a);
            continue;
        }
        if (a == "--json") {
            inv.json = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            Parsed p;
            p.help = true;
            return p;
        }
        if (!rule->second.options.count(a)) return mistake(inv.command + ": unknown option " + a);
        std::string value;
        if (takes_value(a)) {
            if (i + 1 >= args.size()) return mistake(inv.command + ": " + a + " needs a value");
            value = args[++i];
        }
        if (a == "--password-stdin") {
            inv.password_stdin = true;
        } else if (a == "-y" || a == "--yes") {
            inv.yes = true;
        } else if (a == "--direct") {
            inv.direct = true;
        } else if (a == "--instant") {
            inv.instant = true;
        } else if (a == "--all") {
            inv.all = true;
        } else if (a == "--page") {
            if (!read_number(value, 1, 1000000, inv.page))
                return mistake("ls: --page wants a number from 1");
            page_given = true;
        } else if (a == "-o") {
            if (value.empty()) return mistake("get: -o wants a folder");
            inv.out_dir = value;
        } else if (a == "-c") {
            if (!read_number(value, 1, 16, inv.connections))
                return mistake("get: -c wants a number from 1 to 16");
        } else if (a == "--on-exists") {
            if (value == "skip")
                inv.on_exists = OnExists::skip;
            else if (value == "rename")
                inv.on_exists = OnExists::rename;
            else if (value == "overwrite")
                inv.on_exists = OnExists::overwrite;
            else
                return mistake("get: --on-exists wants skip, rename or overwrite");
        } else if (a == "--to") {
            if (value.empty()) return mistake("put: --to wants a folder");
            inv.to = value;
        }
    }
    if (page_given && inv.all) return mistake("ls: --page and --all exclude each other");
    const CommandRule& r = rule->second;
    if (inv.operands.size() < r.min_operands || inv.operands.size() > r.max_operands)
        return mistake(inv.command + ": wrong number of operands");
    for (const auto& o : inv.operands)
        if (o.empty()) return mistake(inv.command + ": an empty operand");
    Parsed p;
    p.invocation = std::move(inv);
    return p;
}

std::string usage_text() {
    return "usage: qorvel-cli [--json] COMMAND [ARGS]\n"
           "       qorvel-cli --help | --version\n"
           "\n"
           "commands:\n"
           "  login ACCOUNT [--password-stdin]   log in (password from the terminal, or one\n"
           "                                     line of standard input)\n"
           "  logout                             forget the session\n"
           "  whoami                             account and membership\n"
           "  ls [PATH] [--page N | --all]       folders and files of a folder\n"
           "  tree [PATH]                        the folders below a folder\n"
           "  mkdir PATH                         create a folder\n"
           "  mv PATH... DEST                    move files into a folder\n"
           "  rename PATH NEWNAME                rename a file or folder\n"
           "  rm PATH... [-y]                    delete files or empty folders\n"
           "  link PATH [--direct]               the share address (--direct: the file's\n"
           "                                     direct download address)\n"
           "  get PATH... [-o DIR] [-c N] [--on-exists skip|rename|overwrite]\n"
           "                                     download files or whole folders\n"
           "  put FILE|DIR... [--to PATH] [--instant]\n"
           "                                     upload files or folders (--instant: by MD5\n"
           "                                     first, nothing sent when the service holds it)\n"
           "\n"
           "Remote paths are written with \"/\" from the root (默认文件夹); id:N names an\n"
           "entry by its id. --json prints one JSON object a line. Service addresses:\n"
           "--web, --direct, --files2, --files3, --ftp-host, or QORVEL_* variables, or\n"
           "[hosts] in ~/.config/qorvel/qorvel.ini.\n"
           "\n"
           "exit status: 0 all done, 1 some item failed, 2 usage, 3 not logged in or\n"
           "refused by the service, 4 service unreachable\n";
}

}  // namespace qorvel::cli
