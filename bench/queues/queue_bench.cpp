// The queues against curl on loopback, in one run against the reference service
// (file hosts without throttle): an upload through the upload queue against
// `curl -T` to the same FTP server, and a download through the download queue
// against `curl` fetching the same address. Medians of 5, the two sides taking
// turns, with dirty pages written out before each timed run; ratios = curl
// time / ours. The upload is timed twice: to the FTP server's confirmation (what
// curl -T does), and to the file listed in the account (the service then hashes
// the file it received, which curl's upload never waits for). The queues check
// what they move (a download against the file host's MD5, an upload against the
// FTP server's HASH answer), so their checked peers are timed too: `curl -o f &&
// md5sum f`, `aria2c --checksum=md5=...` and `curl -T f && md5sum f`.
// Usage: queue_bench [MiB] (default 1023: the queue takes files under 1024 MiB).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>

#include "e2e/road.h"
#include "net/web.h"
#include "roads/transfer/roads.h"

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
    long mib = std::min(argc > 1 ? std::atol(argv[1]) : 1023L, 1023L);
    // Disk writes here vary threefold from one run to the next; in memory both sides are
    // measured on their own work. TMPDIR set by the caller wins.
    std::error_code ec;
    if (!std::getenv("TMPDIR") && fs::space("/dev/shm", ec).available > (6ULL << 30) && !ec)
        setenv("TMPDIR", "/dev/shm", 1);
    std::fprintf(stderr, "working in %s\n", fs::temp_directory_path().c_str());
    test::ServiceInstanceOptions o;
    o.host = test::process_loopback_address();
    o.ftp_port = 1678;
    // Five queue uploads and ten of curl's wait on the server at once, far past
    // the default quota of waiting bytes per address.
    o.extra_args = {"--ftp-quota", std::to_string(64LL << 30)};
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
    std::vector<double> up, up_sent, up_curl, up_curl_md5, down, down_curl, down_curl_md5,
        down_aria2;
    std::string big_md5;
    {
        FILE* p = popen(("md5sum '" + big.string() + "'").c_str(), "r");
        char hex[33] = {};
        if (p && std::fscanf(p, "%32s", hex) == 1) big_md5 = hex;
        if (p) pclose(p);
    }
    const bool have_aria2 = std::system("command -v aria2c >/dev/null") == 0;
    long long id = 0;
    const int runs = 5;
    auto settle = [] { std::system("sync"); };
    for (int i = 0; i < runs; ++i) {
        r.call([&] { r.main()["超级列表框4"].clear_rows(); });
        settle();
        auto t0 = Clock::now();
        r.call([&] { add_dropped_items(r.client_, {big.string()}); });
        // The engine's word that the server confirmed the file (226).
        r.wait(
            [&] {
                bool sent = false;
                r.client_.transfers().uploads.with_running([&](const auto& t) {
                    sent = t.object->outcome().result == engine::Outcome::Result::success;
                });
                return sent || r.main()["超级列表框4"].row_count() == 1;
            },
            std::chrono::minutes(5));
        up_sent.push_back(since(t0));
        r.wait([&] { return r.main()["超级列表框4"].row_count() == 1; }, std::chrono::minutes(5));
        up.push_back(since(t0));
        std::fprintf(stderr, "upload %d: sent %.3f s, listed %.3f s\n", i, up_sent.back(),
                     up.back());
        r.call([&] { id = std::stoll(r.main()["超级列表框4"].cell(0, 2)); });
        settle();
        std::string put = "curl -s -T '" + big.string() + "' ftp://" + service.host() +
                          ":1678/curl" + std::to_string(i) + ".bin.qrvllswj";
        up_curl.push_back(run(put));
        for (const auto& e : fs::directory_iterator(service.data_dir() / "data" / "incoming", ec))
            fs::remove(e.path(), ec);
        settle();
        // A checked curl upload: the send, then the local digest to compare with.
        up_curl_md5.push_back(run(put + " && md5sum '" + big.string() + "' >/dev/null"));
        // curl's uploads are never registered; they would only fill the folder.
        for (const auto& e : fs::directory_iterator(service.data_dir() / "data" / "incoming", ec))
            fs::remove(e.path(), ec);
    }
    fs::path save = r.home_.path() / "save";
    // The engine alone through its command-line tool, when it is there: what the queue adds.
    std::string tool = std::getenv("QORVEL_TRANSFER_BIN") ? std::getenv("QORVEL_TRANSFER_BIN") : "";
    std::vector<double> down_engine;
    // What the browser would have read on its first visit.
    r.client_.browser().set_access_password("8888");
    std::string page = web_get(
        test::hosts_of(service).web_url("/ym.php?pid=" + std::to_string(id) + "&srmm=8888"));
    std::string url = service.files3() + "/up/" + text_between(page, "bsmzdyd", "<");
    for (int i = 0; i < runs; ++i) {
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
        settle();
        auto t0 = Clock::now();
        r.call([&] { r.program_.raise(r.main(), "按钮38", ui::Event::clicked); });
        r.wait([&] { return r.main()["超级列表框3"].row_count() == 1; }, std::chrono::minutes(2));
        down.push_back(since(t0));
        fs::remove_all(save);
        fs::create_directories(save);
        settle();
        down_curl.push_back(run("curl -s -o '" + (save / "curl.bin").string() + "' '" + url + "'"));
        fs::remove_all(save);
        fs::create_directories(save);
        settle();
        down_curl_md5.push_back(run("curl -s -o '" + (save / "curl.bin").string() + "' '" + url +
                                    "' && md5sum '" + (save / "curl.bin").string() +
                                    "' >/dev/null"));
        if (have_aria2 && !big_md5.empty()) {
            fs::remove_all(save);
            fs::create_directories(save);
            settle();
            down_aria2.push_back(
                run("aria2c -q -x1 --allow-overwrite=true --file-allocation=none "
                    "--checksum=md5=" +
                    big_md5 + " -d '" + save.string() + "' -o a.bin '" + url + "'"));
        }
        if (!tool.empty()) {
            fs::remove_all(save);
            fs::create_directories(save);
            settle();
            down_engine.push_back(
                run("'" + tool + "' get '" + url + "' '" + (save / "e.bin").string() + "' -c 1"));
        }
    }
    std::printf("%ld MiB on loopback, medians of %d\n", mib, runs);
    std::printf("upload to the server's 226: queue %.3f s, curl -T %.3f s, ratio %.2f x\n",
                median(up_sent), median(up_curl), median(up_curl) / median(up_sent));
    std::printf("upload until listed:        queue %.3f s, curl -T %.3f s, ratio %.2f x\n",
                median(up), median(up_curl), median(up_curl) / median(up));
    std::printf("download:                   queue %.3f s, curl %.3f s, ratio %.2f x\n",
                median(down), median(down_curl), median(down_curl) / median(down));
    std::printf(
        "checked upload to the 226:   queue %.3f s, curl -T + md5sum %.3f s, ratio %.2f x\n",
        median(up_sent), median(up_curl_md5), median(up_curl_md5) / median(up_sent));
    std::printf("checked download:           queue %.3f s, curl + md5sum %.3f s, ratio %.2f x\n",
                median(down), median(down_curl_md5), median(down_curl_md5) / median(down));
    if (!down_aria2.empty())
        std::printf(
            "checked download:           queue %.3f s, aria2c --checksum %.3f s, ratio %.2f x\n",
            median(down), median(down_aria2), median(down_aria2) / median(down));
    if (!down_engine.empty())
        std::printf("download, engine alone:     tool  %.3f s, curl %.3f s, ratio %.2f x\n",
                    median(down_engine), median(down_curl),
                    median(down_curl) / median(down_engine));
    return 0;
}
