// qorvel-transfer: drives the transfer engine from the command line.
//   qorvel-transfer get URL FILE [-c CONNECTIONS] [--rate BYTES_PER_S] [--retries N] [--retry-wait
//   SECONDS] qorvel-transfer put FILE FTP_URL [--rate BYTES_PER_S] [--retries N] [--retry-wait
//   SECONDS]
// Exits 0 only when the whole file arrived; a failed or interrupted download
// leaves no file behind.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <unistd.h>

#include "net/charset.h"
#include "qorvel_version.h"
#include "transfer/engine/engine.h"

namespace {

using namespace qorvel;
using namespace qorvel::engine;

std::atomic<bool> g_interrupted{false};

// A person at a terminal wants an answer in seconds, not the desktop
// program's patient hours of retrying.
constexpr int kDefaultRetries = 4;
constexpr int kDefaultRetryWait = 3;

void on_signal(int) {
    g_interrupted = true;
}

// Asked for (--help): on stdout and success; after a mistake: on stderr and 2.
int usage(FILE* out = stderr) {
    std::fprintf(
        out,
        "usage: qorvel-transfer get URL FILE [-c CONNECTIONS] [--rate BYTES_PER_S] [OPTIONS]\n"
        "       qorvel-transfer put FILE FTP_URL [--rate BYTES_PER_S] [OPTIONS]\n"
        "       qorvel-transfer --help | --version\n"
        "options: --retries N (default %d)  --retry-wait SECONDS (default %d)\n",
        kDefaultRetries, kDefaultRetryWait);
    return out == stdout ? 0 : 2;
}

bool parse_count(const char* text, long long& out) {
    char* end = nullptr;
    out = std::strtoll(text, &end, 10);
    return end && *end == '\0' && end != text && out >= 0;
}

std::string human(double bytes) {
    const char* units[] = {"B", "KiB", "MiB", "GiB"};
    int u = 0;
    while (bytes >= 1024 && u < 3) {
        bytes /= 1024;
        ++u;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f %s", bytes, units[u]);
    return buf;
}

}  // namespace

int main(int argc, char** argv) {
    // Only in the verb's place: a FILE may well be called "--help".
    if (argc >= 2) {
        std::string first = argv[1];
        if (first == "--help" || first == "-h") return usage(stdout);
        if (first == "--version") {
            std::puts("qorvel-transfer " QORVEL_VERSION);
            return 0;
        }
    }
    if (argc < 4) return usage();
    std::string verb = argv[1];
    if (verb != "get" && verb != "put") return usage();
    long long connections = 1, rate = 0, retries = kDefaultRetries, retry_wait = kDefaultRetryWait;
    for (int i = 4; i < argc; ++i) {
        std::string opt = argv[i];
        if (opt == "-c" && verb == "get" && i + 1 < argc) {
            if (!parse_count(argv[++i], connections) || connections < 1 || connections > 64)
                return usage();
        } else if (opt == "--rate" && i + 1 < argc) {
            if (!parse_count(argv[++i], rate) || rate > 0x7fffffff) return usage();
        } else if (opt == "--retries" && i + 1 < argc) {
            if (!parse_count(argv[++i], retries) || retries > 998) return usage();
        } else if (opt == "--retry-wait" && i + 1 < argc) {
            if (!parse_count(argv[++i], retry_wait) || retry_wait > 3600) return usage();
        } else {
            return usage();
        }
    }

    EngineSettings settings = engine_settings();
    settings.max_attempts = static_cast<int>(retries) + 1;
    settings.retry_wait_ms = static_cast<int>(retry_wait) * 1000;
    set_engine_settings(settings);

    TaskParam p;
    bool download = verb == "get";
    p.url = download ? argv[2] : argv[3];
    p.local_path = path_to_text(download ? argv[3] : argv[2]);
    p.connections = static_cast<int>(connections);
    p.rate_limit = static_cast<int>(rate);
    // Fewer system calls than the defaults allow; larger receives than 1 MiB
    // measured slower on loopback, sends go out with sendfile() anyway.
    p.receive_chunk = 1 << 20;
    p.send_chunk = 8 << 20;
    p.mode_flags = download ? kModeDownload : kModeUpload;
    p.transfer_type = 1;
    p.message_callback = [](const std::string& text, int level) {
        std::printf("%s%s\n", level == 3 ? "error: " : "", gbk_to_utf8(text).c_str());
        std::fflush(stdout);
    };
    p.event_callback = [](int code, TaskId, std::int64_t, std::int64_t, TaskId) {
        // An existing local file is never replaced and never renamed behind the caller's back.
        return code == kEventLocalFileExists ? kExistsGiveUp : 0;
    };

    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::signal(SIGPIPE, SIG_IGN);

    Download get;
    FtpUpload put;
    TransferObject& object =
        download ? static_cast<TransferObject&>(get) : static_cast<TransferObject&>(put);
    auto began = std::chrono::steady_clock::now();
    bool started = download ? get.start(p) : put.start(p);
    if (!started) {
        std::fprintf(stderr, "qorvel-transfer: cannot start (bad address?): %s\n", p.url.c_str());
        return 1;
    }
    bool tty = isatty(STDOUT_FILENO);
    auto next_tick = began + std::chrono::seconds(1);
    while (!object.wait_idle(100)) {
        if (g_interrupted.exchange(false)) {
            if (download)
                get.stop();
            else
                put.finish();
        }
        auto now = std::chrono::steady_clock::now();
        if (tty && now >= next_tick) {
            next_tick += std::chrono::seconds(1);
            std::int64_t done = download ? get.bytes_received() : put.bytes_sent();
            std::int64_t recent =
                download ? get.recent_bytes() : FtpUpload::sent_since_last_query();
            std::printf("\r%s done, %s/s    ", human(static_cast<double>(done)).c_str(),
                        human(static_cast<double>(recent)).c_str());
            std::fflush(stdout);
        }
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    if (tty) std::printf("\n");
    Outcome o = object.outcome();
    double mbps = seconds > 0 ? static_cast<double>(o.bytes) / seconds / 1e6 : 0;
    switch (o.result) {
    case Outcome::Result::success:
        std::printf("success: %lld bytes in %.3f s (%.1f MB/s)\n", static_cast<long long>(o.bytes),
                    seconds, mbps);
        return 0;
    case Outcome::Result::stopped:
        std::printf("stopped: %lld bytes in %.3f s\n", static_cast<long long>(o.bytes), seconds);
        return 1;
    default:
        std::printf("failed: %s (%lld bytes in %.3f s)\n", gbk_to_utf8(o.message).c_str(),
                    static_cast<long long>(o.bytes), seconds);
        return 1;
    }
}
