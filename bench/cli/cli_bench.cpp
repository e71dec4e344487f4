// qorvel-cli against curl in the same run, on the reference service (no
// throttle, the member's file host):
//  - `qorvel-cli get` of a 1 GiB file against `curl -o` of the same file address;
//  - `qorvel-cli ls --all` of a folder of 10,000 files against one curl of
//    every page address of that folder.
// Each is the median of a few runs, the process's whole time for both.
//   cli_bench [runs] [files]   (needs QORVEL_SERVICE_BIN or a built service)
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "api/service_api.h"
#include "net/charset.h"
#include "net/web.h"
#include "support/process.h"
#include "support/service_instance.h"

using namespace qorvel;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int fail(const std::string& what) {
    std::fprintf(stderr, "cli_bench: %s\n", what.c_str());
    return 1;
}

std::string shell_quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs a shell command; its time in ms, or -1 when it failed.
double timed(const std::string& command) {
    auto t = Clock::now();
    int rc = std::system(command.c_str());
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - t).count();
    return rc == 0 ? ms : -1;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    int files = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10000;
    test::ServiceInstanceOptions o;
    o.host = "127.0.0.45";
    o.ftp_port = 1678;
    o.extra_args = {"--ftp-quota", "4294967296"};
    test::ServiceInstance service(o);
    if (!service.start()) return fail("the reference service did not start");
    test::TempDir home("qorvel-cli-bench");
    fs::create_directories(home.path() / "out");
    std::string env =
        "env HOME=" + shell_quoted(home.path().string()) +
        " XDG_CONFIG_HOME=" + shell_quoted((home.path() / "config").string()) +
        " QORVEL_WEB=" + service.web().substr(7) + " QORVEL_DIRECT=" + service.direct().substr(7) +
        " QORVEL_FILES2=" + service.files2().substr(7) +
        " QORVEL_FILES3=" + service.files3().substr(7) + " QORVEL_FTP_HOST=" + service.host() + " ";
    std::string cli = env + QORVEL_CLI_BIN;

    ServiceHosts hosts;
    hosts.web = service.web().substr(7);
    hosts.direct = service.direct().substr(7);
    hosts.files2 = service.files2().substr(7);
    hosts.files3 = service.files3().substr(7);
    hosts.ftp_host = service.host();
    api::ServiceApi api(hosts);
    if (!api.login("demo", "demo123")) return fail("login of the bench's own session failed");
    api.membership();
    api.access_password_from_settings();

    // 1 GiB: past the client's upload limit, so it goes in by FTP and registration by hand.
    fs::path big = home.path() / "big.bin";
    {
        std::ofstream out(big, std::ios::binary);
        std::vector<char> piece(1 << 20);
        for (int i = 0; i < 1024; ++i) {
            for (std::size_t k = 0; k < piece.size(); k += 4096)
                piece[k] = static_cast<char>(i + k);
            out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
        }
    }
    std::string ftp = "ftp://" + service.host() + ":1678/big.bin.qrvllswj";
    if (timed("curl -s -T " + shell_quoted(big.string()) + " " + shell_quoted(ftp)) < 0)
        return fail("the FTP upload of 1 GiB failed");
    // Registered from the address that sent it, as the service wants.
    auto id = api.register_upload(0, "big.bin");
    if (!id) return fail("the registration of 1 GiB failed");
    auto link = api.storage_link(std::to_string(*id));
    if (!link) return fail("no storage link");
    std::string address = api.download_address(*link);

    // A folder of many files (link files: no contents to store).
    if (!api.create_folder(0, utf8_to_gbk("一万个文件"))) return fail("no folder");
    auto folders = api.folders_of(0);
    long long folder = -1;
    for (const auto& f : *folders)
        if (f.name == utf8_to_gbk("一万个文件")) folder = f.id;
    if (folder < 0) return fail("the folder is not listed");
    for (int i = 0; i < files; ++i)
        if (!api.create_link_file(std::to_string(folder), "file" + std::to_string(i) + ".zip",
                                  "http://example.com/" + std::to_string(i)))
            return fail("could not create the files");
    std::vector<double> ours, peer;
    // Logged in last: a login ends the account's earlier session.
    if (std::system(("echo demo123 | " + cli + " login demo --password-stdin >/dev/null").c_str()))
        return fail("login failed");

    fs::path out = home.path() / "out";
    for (int r = 0; r < runs; ++r) {
        fs::remove(out / "big.bin");
        double a = timed(cli + " get /big.bin -o " + shell_quoted(out.string()) + " >/dev/null");
        if (a < 0 || fs::file_size(out / "big.bin") != fs::file_size(big))
            return fail("qorvel-cli get failed");
        fs::remove(out / "curl.bin");
        double b = timed("curl -s -o " + shell_quoted((out / "curl.bin").string()) + " " +
                         shell_quoted(address));
        if (b < 0) return fail("curl failed");
        ours.push_back(a);
        peer.push_back(b);
    }
    std::printf("get of 1 GiB, %d runs (medians)\n", runs);
    std::printf("  qorvel-cli get (verified):  %9.1f ms\n", median(ours));
    std::printf("  curl -o, same address:      %9.1f ms\n", median(peer));
    std::printf("  ratio qorvel-cli/curl:      %.2f (target <= 1.50)\n",
                median(ours) / median(peer));
    fs::remove(out / "big.bin");
    fs::remove(out / "curl.bin");

    auto first = api.page(folder, 0);
    if (!first) return fail("no first page");
    std::string pages;
    for (int p = 0; p < first->pages; ++p)
        pages +=
            " " +
            shell_quoted(storage::file_list_request(
                hosts,
                storage::page_address(hosts, api.session().login_pid, folder, std::to_string(p)),
                false));
    std::string listing = (home.path() / "ls.txt").string();
    ours.clear();
    peer.clear();
    for (int r = 0; r < runs; ++r) {
        double a = timed(cli + " ls --all /一万个文件 > " + shell_quoted(listing));
        if (a < 0) return fail("qorvel-cli ls failed");
        std::ifstream in(listing);
        int lines = static_cast<int>(
            std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
        if (lines != files + 1) return fail("ls listed " + std::to_string(lines - 1) + " files");
        double b = timed("curl -s" + pages + " > /dev/null");
        if (b < 0) return fail("curl failed");
        ours.push_back(a);
        peer.push_back(b);
    }
    std::printf("ls --all of %d files (%d pages), %d runs (medians)\n", files, first->pages, runs);
    std::printf("  qorvel-cli ls --all:        %9.1f ms\n", median(ours));
    std::printf("  one curl of every page:     %9.1f ms\n", median(peer));
    std::printf("  ratio qorvel-cli/curl:      %.2f (target <= 1.50)\n",
                median(ours) / median(peer));
    return 0;
}
