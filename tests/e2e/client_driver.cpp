// A client without a person: the real catalogue windows on the headless engine
// and the real roads, driven from the command line so a test can kill it at
// any moment and start it again over the same home folder.
//
//   client_driver --home DIR --web H:P --direct H:P --files2 H:P --files3 H:P
//                 --ftp-host H --account A --password P [--download FILE_ID]...
//                 [--upload PATH]... [--list] [--retry-wait-ms N]
//                 [--timeout S] [--stay-idle S]
//
// Logs in, queues what it is given, starts both queues and waits until both
// are idle, then prints the four lists (and with --list the account's root
// folder as the service lists it) as tab-separated UTF-8 lines:
//   restored<TAB>downloads=N<TAB>uploads=M   (rows the client showed right after login)
//   started                                  (once both queues were started)
//   row<TAB>downloading|downloaded|uploading|uploaded|listed<TAB>value<TAB>cells...
//   end<TAB>errors=N
// With --stay-idle it prints "idle" and stays logged in that long before it ends.
// Exit status: 0 when both queues went idle and the program reported no fault.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <csignal>

#include "e2e/road.h"
#include "transfer/engine/engine.h"

namespace qorvel {
namespace {

using namespace std::chrono_literals;
using ui::Event;
namespace fs = std::filesystem;

struct Options {
    fs::path home;
    ServiceHosts hosts;
    std::string account, password;
    std::vector<long long> downloads;
    std::vector<std::string> uploads;
    bool list = false;
    int retry_wait_ms = -1;
    int timeout_s = 300;
    int stay_idle_s = 0;
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--list") {
            o.list = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        std::string v = argv[++i];
        try {
            if (arg == "--home")
                o.home = v;
            else if (arg == "--web")
                o.hosts.web = v;
            else if (arg == "--direct")
                o.hosts.direct = v;
            else if (arg == "--files2")
                o.hosts.files2 = v;
            else if (arg == "--files3")
                o.hosts.files3 = v;
            else if (arg == "--ftp-host")
                o.hosts.ftp_host = v;
            else if (arg == "--account")
                o.account = v;
            else if (arg == "--password")
                o.password = v;
            else if (arg == "--download")
                o.downloads.push_back(std::stoll(v));
            else if (arg == "--upload")
                o.uploads.push_back(v);
            else if (arg == "--retry-wait-ms")
                o.retry_wait_ms = std::stoi(v);
            else if (arg == "--timeout")
                o.timeout_s = std::stoi(v);
            else if (arg == "--stay-idle")
                o.stay_idle_s = std::stoi(v);
            else
                return false;
        } catch (const std::exception&) {
            return false;
        }
    }
    return !o.home.empty() && !o.account.empty();
}

// The client keeps everything under HOME; so does every run over that home.
void live_in(const fs::path& home) {
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home / ".cache").c_str(), 1);
}

void print_rows(test::Road& r, const char* list, const char* label) {
    r.call([&] {
        for (const auto& row : r.main()[list].rows()) {
            std::string line = std::string("row\t") + label + "\t" + std::to_string(row.value);
            for (const auto& cell : row.cells) line += "\t" + gbk_to_utf8(cell);
            std::printf("%s\n", line.c_str());
        }
    });
}

// Opens the browser page, which loads the root folder the first time.
bool show_root(test::Road& r) {
    r.call([&] {
        r.main()["选择夹1"].set_current(1);
        r.program_.raise(r.main(), "选择夹1", Event::page_changed);
    });
    return r.wait(
        [&] {
            return r.client_.browser().first_load_done() && !r.client_.browser().busy() &&
                   r.main()["树型框1"].enabled() && r.main()["超级列表框1"].row_count() > 0;
        },
        30s);
}

bool queues_idle(test::Road& r) {
    auto& t = r.client_.transfers();
    return !t.downloads.run_active() && !t.downloads.running() && !t.uploads.run_active() &&
           !t.uploads.running();
}

int run(const Options& o) {
    std::atomic<int> errors{0};
    test::Road r(o.hosts, test::RoadHome(o.home), [&](const std::string& what) {
        std::fprintf(stderr, "client_driver: the program reported: %s\n", what.c_str());
        ++errors;
    });
    if (!r.start()) {
        std::fprintf(stderr, "client_driver: no login window\n");
        return 2;
    }
    r.log_in(o.account, o.password, false);
    if (!r.wait([&] { return r.logged_in() && r.client_.timestamped_log_enabled.load(); }, 30s)) {
        std::fprintf(stderr, "client_driver: not logged in\n");
        return 2;
    }
    fs::path save = o.home / "Downloads";
    fs::create_directories(save);
    r.call([&] { r.main()["编辑框49"].set_text(save.string() + "/"); });
    r.call([&] {
        std::printf("restored\tdownloads=%d\tuploads=%d\n", r.main()["超级列表框2"].row_count(),
                    r.main()["超级列表框6"].row_count());
    });
    std::fflush(stdout);

    if (!o.downloads.empty() || o.list) {
        if (!show_root(r)) {
            std::fprintf(stderr, "client_driver: the browser never became idle\n");
            return 2;
        }
    }
    if (!o.downloads.empty()) {
        // The list fills in after the load is marked done.
        r.wait(
            [&] {
                ui::Control& files = r.main()["超级列表框1"];
                for (long long id : o.downloads) {
                    bool found = false;
                    for (int i = 0; i < files.row_count() && !found; ++i)
                        found = files.row_value(i) == id;
                    if (!found) return false;
                }
                return true;
            },
            15s);
        bool all_found = true;
        r.call([&] {
            ui::Control& files = r.main()["超级列表框1"];
            std::vector<int> rows;
            for (long long id : o.downloads) {
                int found = -1;
                for (int i = 0; i < files.row_count(); ++i)
                    if (files.row_value(i) == id) found = i;
                if (found < 0)
                    all_found = false;
                else
                    rows.push_back(found);
            }
            files.set_selection(rows, rows.empty() ? -1 : rows[0]);
            r.program_.raise(r.main(), "按钮38", Event::clicked);
        });
        if (!all_found) {
            std::fprintf(stderr, "client_driver: a file id is not in the root folder\n");
            return 2;
        }
    }
    if (!o.uploads.empty()) {
        r.call([&] {
            ui::EventArgs a;
            a.files = o.uploads;
            r.program_.raise(r.main(), "拖放对象1", Event::files_dropped, a);
        });
    }
    // Rows an earlier run left wait for the start buttons.
    r.call([&] {
        auto& t = r.client_.transfers();
        if (t.downloads.size() > 0 && !t.downloads.run_active())
            r.program_.raise(r.main(), "按钮28", Event::clicked);
        if (t.uploads.size() > 0 && !t.uploads.run_active())
            r.program_.raise(r.main(), "上传按钮", Event::clicked);
    });
    std::printf("started\n");
    std::fflush(stdout);
    // Idle for a whole second: a run that is about to begin has begun by then.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(o.timeout_s);
    auto idle_since = std::chrono::steady_clock::now();
    bool idle = false;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!queues_idle(r)) idle_since = std::chrono::steady_clock::now();
        if (std::chrono::steady_clock::now() - idle_since >= 1s) {
            idle = true;
            break;
        }
        std::this_thread::sleep_for(50ms);
    }
    print_rows(r, "超级列表框2", "downloading");
    print_rows(r, "超级列表框3", "downloaded");
    print_rows(r, "超级列表框6", "uploading");
    print_rows(r, "超级列表框4", "uploaded");
    if (o.list) print_rows(r, "超级列表框1", "listed");
    if (!idle) std::fprintf(stderr, "client_driver: the queues never became idle\n");
    if (o.stay_idle_s > 0) {
        std::printf("idle\n");
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::seconds(o.stay_idle_s));
    }
    std::printf("end\terrors=%d\n", errors.load());
    std::fflush(stdout);
    return idle && errors.load() == 0 ? 0 : 1;
}

}  // namespace
}  // namespace qorvel

int main(int argc, char** argv) {
    qorvel::Options o;
    if (!qorvel::parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: client_driver --home DIR --web H:P --direct H:P --files2 H:P "
                     "--files3 H:P --ftp-host H --account A --password P [--download ID]... "
                     "[--upload PATH]... [--list] [--retry-wait-ms N] [--timeout S] "
                     "[--stay-idle S]\n");
        return 64;
    }
    std::signal(SIGPIPE, SIG_IGN);
    qorvel::live_in(o.home);
    if (o.retry_wait_ms >= 0) {
        auto s = qorvel::engine::engine_settings();
        s.retry_wait_ms = o.retry_wait_ms;
        qorvel::engine::set_engine_settings(s);
    }
    return qorvel::run(o);
}
