// The instant-upload digest of a cached file against md5sum on the same file,
// and the anonymous memory the digest leaves behind (the file is never held whole).
// Usage: digest_bench [MiB] (default 1024; 256 when the disk is short).
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "transfer/digest.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

long anon_kib() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("RssAnon:", 0) == 0) return std::atol(line.c_str() + 8);
    return -1;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    long mib = argc > 1 ? std::atol(argv[1]) : 1024;
    fs::path dir =
        fs::temp_directory_path() / ("qorvel-digest-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    struct statvfs st {};
    if (::statvfs(dir.c_str(), &st) == 0 &&
        static_cast<double>(st.f_bavail) * st.f_frsize < (mib + 256.0) * 1048576 && mib > 256)
        mib = 256;
    fs::path file = dir / "data.bin";
    {
        std::ofstream out(file, std::ios::binary);
        std::vector<char> block(1 << 20);
        for (long i = 0; i < mib; ++i) {
            for (size_t j = 0; j < block.size(); j += 64) block[j] = static_cast<char>(i + j);
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    std::string cmd = "md5sum '" + file.string() + "' > /dev/null";
    std::system(cmd.c_str());  // into the page cache for both
    long before = anon_kib();
    std::vector<double> ours, peer;
    std::string digest;
    for (int run = 0; run < 5; ++run) {
        auto t0 = Clock::now();
        digest = qorvel::transfer::file_md5_hex(file).value_or("");
        ours.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
        t0 = Clock::now();
        if (std::system(cmd.c_str()) != 0) return 1;
        peer.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    long after = anon_kib();
    fs::remove_all(dir);
    double o = median(ours), p = median(peer);
    std::printf("file %ld MiB, digest %s\n", mib, digest.c_str());
    std::printf("qorvel digest median %.3f s (%.0f MiB/s), md5sum median %.3f s (%.0f MiB/s)\n", o,
                mib / o, p, mib / p);
    std::printf("ratio md5sum time / ours: %.2f x\n", p / o);
    std::printf("anonymous memory: %ld KiB before, %ld KiB after\n", before, after);
    return 0;
}
