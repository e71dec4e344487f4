// qorvel-service: the local stand-in for the Qorvel web service.
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "qorvel_version.h"
#include "service.h"

namespace {

const char* kUsage =
    "usage: qorvel-service [--data DIR] [--seed-demo] [--web ADDR] [--direct ADDR]\n"
    "                      [--files2 ADDR] [--files3 ADDR] [--ftp ADDR] [--no-throttle]\n"
    "                      [--client-version V] [--update-url URL] [--ports-file FILE]\n"
    "                      [limits] [--help] [--version]\n"
    "\n"
    "  --data DIR          database and file contents (default $XDG_DATA_HOME/qorvel-service)\n"
    "  --seed-demo         add the demo accounts and files (once)\n"
    "  --web ADDR          main web host            (default 127.0.0.1:18080)\n"
    "  --direct ADDR       direct-link host         (default 127.0.0.1:18081)\n"
    "  --files2 ADDR       file host 2, non-members (default 127.0.0.1:18082)\n"
    "  --files3 ADDR       file host 3, members     (default 127.0.0.1:18083)\n"
    "  --ftp ADDR          FTP server               (default 127.0.0.1:1678)\n"
    "  --no-throttle       no 1000 KB/s limit on file host 2\n"
    "  --throttle-rate B   file host 2's limit in bytes a second per connection\n"
    "  --test-ftp-corrupt-stored  test aid: flip the first byte of every FTP upload\n"
    "  --test-ftp-no-hash  test aid: an FTP server without HASH\n"
    "  --test-ftp-hash-fails  test aid: every HASH answers 451\n"
    "  --client-version V  version published in /ge.txt (default 147)\n"
    "  --update-url URL    update address published in /ge.txt\n"
    "  --ports-file FILE    write the bound ports here (web=, direct=, files2=, files3=, ftp=)\n"
    "ADDR is host:port; port 0 takes any free port.\n"
    "\n"
    "limits (defaults in brackets):\n"
    "  --request-timeout S  whole head and body of one HTTP request [10]\n"
    "  --keep-alive S       idle wait for the next request on a connection [5]\n"
    "  --max-header-lines N header lines in one request [100]\n"
    "  --max-header-bytes N request line, headers and trailers [65536]\n"
    "  --max-body N         request body, declared or chunked [1048576]\n"
    "  --backlog N          listen backlog of every host [1024]\n"
    "  --http-workers N     threads answering each HTTP host [32]\n"
    "  --http-per-address N open connections from one address, per host [256]\n"
    "  --ftp-max N          FTP connections in all [64]\n"
    "  --ftp-per-address N  FTP connections from one address [8]\n"
    "  --ftp-login-timeout S  time to log in on a new FTP connection [10]\n"
    "  --ftp-quota N       unregistered upload bytes from one address [2147483648]\n"
    "  --upload-keep S      a waiting upload's time after its last write [600]\n"
    "  --session-idle S     an unused session ends after this [7200]\n"
    "  --handover-time S    a confirmed web login waits this long for the client [60]\n"
    "  --failures-free N    failed password checks before each try waits [5]\n"
    "  --failure-window S   failures are forgotten after this [900]\n"
    "  --max-delay S        longest wait after repeated failures [300]\n";

std::string default_data_dir() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
        return std::string(xdg) + "/qorvel-service";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.local/share/qorvel-service";
    return "qorvel-service-data";
}

// The whole-number settings, by option name.
int* limit_of(qorvel::service::ServiceOptions& o, const std::string& arg) {
    if (arg == "--request-timeout") return &o.http.request_timeout_s;
    if (arg == "--keep-alive") return &o.http.keep_alive_timeout_s;
    if (arg == "--max-header-lines") return &o.http.request.max_head_lines;
    if (arg == "--backlog") return &o.http.listen_backlog;
    if (arg == "--http-workers") return &o.http.workers;
    if (arg == "--http-per-address") return &o.http.max_per_address;
    if (arg == "--ftp-max") return &o.ftp_limits.max_connections;
    if (arg == "--ftp-per-address") return &o.ftp_limits.max_per_address;
    if (arg == "--ftp-login-timeout") return &o.ftp_limits.login_timeout_s;
    if (arg == "--upload-keep") return &o.ftp_limits.keep_upload_s;
    if (arg == "--session-idle") return &o.guard.session_idle_s;
    if (arg == "--handover-time") return &o.guard.handover_s;
    if (arg == "--failures-free") return &o.guard.failures_free;
    if (arg == "--failure-window") return &o.guard.failure_window_s;
    if (arg == "--max-delay") return &o.guard.max_delay_s;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    qorvel::service::ServiceOptions options;
    options.data_dir = default_data_dir();
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "qorvel-service: %s needs a value\n%s", arg.c_str(), kUsage);
                std::exit(2);
            }
            *out = argv[++i];
        };
        std::string text;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::puts("qorvel-service " QORVEL_VERSION);
            return 0;
        } else if (arg == "--data") {
            value(&text);
            options.data_dir = text;
        } else if (arg == "--seed-demo") {
            options.seed_demo = true;
        } else if (arg == "--web") {
            value(&options.web);
        } else if (arg == "--direct") {
            value(&options.direct);
        } else if (arg == "--files2") {
            value(&options.files2);
        } else if (arg == "--files3") {
            value(&options.files3);
        } else if (arg == "--ftp") {
            value(&options.ftp);
        } else if (arg == "--test-ftp-corrupt-stored") {
            options.ftp_limits.corrupt_stored = true;
        } else if (arg == "--test-ftp-no-hash") {
            options.ftp_limits.no_hash = true;
        } else if (arg == "--test-ftp-hash-fails") {
            options.ftp_limits.hash_fails = true;
        } else if (arg == "--no-throttle") {
            options.throttle = false;
        } else if (arg == "--client-version") {
            value(&options.client_version);
        } else if (arg == "--update-url") {
            value(&options.update_url);
        } else if (arg == "--max-header-bytes" || arg == "--max-body" || arg == "--ftp-quota" ||
                   arg == "--throttle-rate") {
            value(&text);
            if (text.empty() || text.size() > 15 ||
                text.find_first_not_of("0123456789") != std::string::npos) {
                std::fprintf(stderr, "qorvel-service: %s needs a whole number\n", arg.c_str());
                return 2;
            }
            if (arg == "--ftp-quota")
                options.ftp_limits.max_waiting_bytes = std::stoll(text);
            else if (arg == "--throttle-rate")
                options.throttle_bytes_per_s = std::max(1LL, std::stoll(text));
            else
                (arg == "--max-body" ? options.http.request.max_body_bytes
                                     : options.http.request.max_head_bytes) = std::stoull(text);
        } else if (arg == "--ports-file") {
            value(&text);
            options.ports_file = text;
        } else if (int* limit = limit_of(options, arg)) {
            value(&text);
            if (text.empty() || text.size() > 9 ||
                text.find_first_not_of("0123456789") != std::string::npos) {
                std::fprintf(stderr, "qorvel-service: %s needs a whole number\n", arg.c_str());
                return 2;
            }
            *limit = std::stoi(text);
        } else {
            std::fprintf(stderr, "qorvel-service: unknown option %s\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }

    // Every connection is a descriptor; take all the system allows.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }

    // Signals are taken by sigwait below, not by whichever thread they hit.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    qorvel::service::Service service(options);
    std::string error;
    if (!service.start(&error)) {
        std::fprintf(stderr, "qorvel-service: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "qorvel-service: data in %s\n", options.data_dir.c_str());
    for (const auto& line : service.listener_lines())
        std::printf("qorvel-service: %s\n", line.c_str());
    std::fflush(stdout);

    int sig = 0;
    sigwait(&signals, &sig);
    std::printf("qorvel-service: %s received, stopping\n", sig == SIGINT ? "SIGINT" : "SIGTERM");
    std::fflush(stdout);
    service.stop();
    return 0;
}
