// The queues against curl on loopback, in one run against the reference service
// (file hosts without throttle): an upload through the upload queue against
// `curl -T` to the same FTP server, and a download through the download queue
// against `curl` fetching the same address. Medians of 3; ratios = curl time / ours.
// Usage: queue_bench [MiB] (default 1024).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>

#include "e2e/road.h"
#include "net/web.h"
#include "transfer/roads.h"

using namespace qorvel;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
double since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}
double run(const std::string& cmd) {
    auto t0 = Clock::now();
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", cmd.c_str());
    return since(t0);
}

}  // namespace

int main(int argc, char** argv) {
    long mib = argc > 1 ? std::atol(argv[1]) : 1024;
    test::ServiceInstanceOptions o;
    int pid = static_cast<int>(::getpid());
    o.host = "127.12." + std::to_string((pid >> 8) & 255) + "." + std::to_string((pid & 255) | 1);
    o.ftp_port = 1678;
    test::ServiceInstance service(o);
    if (!service.start()) return 1;
    test::Road r(test::hosts_of(service));
    if (!r.start()) return 1;
    std::fprintf(stderr, "started\n");
    r.log_in("demo", "demo123", false);
    if (!r.wait([&] { return r.logged_in() && r.client_.timestamped_log_enabled.load(); }))
        return 1;

    fs::path big = r.home_.path() / "big.bin";
    {
        std::ofstream out(big, std::ios::binary);
        std::vector<char> block(1 << 20);
        for (long i = 0; i < mib; ++i) {
            for (size_t j = 0; j < block.size(); j += 64) block[j] = static_cast<char>(i * 31 + j);
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    std::vector<double> up, up_curl, down, down_curl;
    long long id = 0;
    for (int i = 0; i < 3; ++i) {
        r.call([&] { r.main()["超级列表框4"].clear_rows(); });
        auto t0 = Clock::now();
        r.call([&] { add_dropped_items(r.client_, {big.string()}); });
        r.wait([&] { return r.main()["超级列表框4"].row_count() == 1; }, std::chrono::minutes(5));
        up.push_back(since(t0));
        std::fprintf(stderr, "upload %d: %.3f s\n", i, up.back());
        r.call([&] { id = std::stoll(r.main()["超级列表框4"].cell(0, 2)); });
        up_curl.push_back(run("curl -s -T '" + big.string() + "' ftp://" + service.host() +
                              ":1678/curl" + std::to_string(i) + ".bin.qrvllswj"));
    }
    fs::path save = r.home_.path() / "save";
    // What the browser would have read on its first visit.
    r.client_.browser().set_access_password("8888");
    std::string page = web_get(
        test::hosts_of(service).web_url("/ym.php?pid=" + std::to_string(id) + "&srmm=8888"));
    std::string url = service.files3() + "/up/" + text_between(page, "bsmzdyd", "<");
    for (int i = 0; i < 3; ++i) {
        fs::remove_all(save);
        fs::create_directories(save);
        r.call([&] {
            ui::Control& files = r.main()["超级列表框1"];
            files.clear_rows();
            files.insert_row(0, "big.bin", id);
            files.set_cell(0, 1, "1KB");
            files.set_selection({0}, 0);
            r.main()["编辑框49"].set_text(save.string() + "/");
            r.main()["超级列表框3"].clear_rows();
        });
        auto t0 = Clock::now();
        r.call([&] { r.program_.raise(r.main(), "按钮38", ui::Event::clicked); });
        r.wait([&] { return r.main()["超级列表框3"].row_count() == 1; }, std::chrono::minutes(2));
        down.push_back(since(t0));
        fs::remove_all(save);
        fs::create_directories(save);
        down_curl.push_back(run("curl -s -o '" + (save / "curl.bin").string() + "' '" + url + "'"));
    }
    std::printf("%ld MiB on loopback, medians of 3\n", mib);
    std::printf("upload:   queue %.3f s, curl -T %.3f s, ratio %.2f x\n", median(up),
                median(up_curl), median(up_curl) / median(up));
    std::printf("download: queue %.3f s, curl %.3f s, ratio %.2f x\n", median(down),
                median(down_curl), median(down_curl) / median(down));
    return 0;
}
