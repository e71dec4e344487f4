// What a command came to, and the exit status it gives the shell.
#pragma once

#include <string>
#include <utility>

namespace qorvel::cli {

// The exit statuses; the README and --help list them.
enum class Exit : int {
    done = 0,         // every item done
    item_failed = 1,  // some item failed (an unknown path, an unreadable file, a transfer)
    usage = 2,        // the command line itself is wrong
    refused = 3,      // not logged in, or the service said no
    unreachable = 4,  // no usable answer from the service
};

// The graver of two statuses: a run that could not reach the service says so
// even when an earlier item merely failed.
inline Exit graver(Exit a, Exit b) {
    auto rank = [](Exit e) {
        switch (e) {
        case Exit::done: return 0;
        case Exit::item_failed: return 1;
        case Exit::refused: return 2;
        case Exit::unreachable: return 3;
        case Exit::usage: return 4;
        }
        return 0;
    };
    return rank(a) >= rank(b) ? a : b;
}

// A failure with its message (GBK), or success.
struct Outcome {
    Exit exit = Exit::done;
    std::string message;

    bool ok() const { return exit == Exit::done; }
    static Outcome success() { return {}; }
    static Outcome fail(Exit e, std::string m) { return {e, std::move(m)}; }
};

}  // namespace qorvel::cli
