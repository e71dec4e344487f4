// qorvel-service: the local stand-in for the Qorvel web service.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "service.h"

namespace {

const char* kUsage =
    "usage: qorvel-service [--data DIR] [--seed-demo] [--web ADDR] [--direct ADDR]\n"
    "                      [--files2 ADDR] [--files3 ADDR] [--ftp ADDR] [--no-throttle]\n"
    "                      [--client-version V] [--update-url URL] [--help]\n"
    "\n"
    "  --data DIR          database and file contents (default $XDG_DATA_HOME/qorvel-service)\n"
    "  --seed-demo         add the demo accounts and files (once)\n"
    "  --web ADDR          main web host            (default 127.0.0.1:18080)\n"
    "  --direct ADDR       direct-link host         (default 127.0.0.1:18081)\n"
    "  --files2 ADDR       file host 2, non-members (default 127.0.0.1:18082)\n"
    "  --files3 ADDR       file host 3, members     (default 127.0.0.1:18083)\n"
    "  --ftp ADDR          FTP server               (default 127.0.0.1:1678)\n"
    "  --no-throttle       no 1000 KB/s limit on file host 2\n"
    "  --client-version V  version published in /ge.txt (default 147)\n"
    "  --update-url URL    update address published in /ge.txt\n"
    "ADDR is host:port.\n";

std::string default_data_dir() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
        return std::string(xdg) + "/qorvel-service";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.local/share/qorvel-service";
    return "qorvel-service-data";
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
        } else if (arg == "--no-throttle") {
            options.throttle = false;
        } else if (arg == "--client-version") {
            value(&options.client_version);
        } else if (arg == "--update-url") {
            value(&options.update_url);
        } else {
            std::fprintf(stderr, "qorvel-service: unknown option %s\n%s", arg.c_str(), kUsage);
            return 2;
        }
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
    for (const auto& line : service.listener_lines()) std::printf("qorvel-service: %s\n", line.c_str());
    std::fflush(stdout);

    int sig = 0;
    sigwait(&signals, &sig);
    std::printf("qorvel-service: %s received, stopping\n", sig == SIGINT ? "SIGINT" : "SIGTERM");
    std::fflush(stdout);
    service.stop();
    return 0;
}
