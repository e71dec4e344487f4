// Restoring an account's lists after a login: 100,000 queued rows read back
// from the journal (open, load every list, refill both queues) against the
// same rows read from a flat tab-separated text file into the same structures
// (the peer: what a journal without a database would cost). Medians of 5;
// ratio = peer time / ours. Usage: journal_bench [rows] (default 100000).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "transfer/journal.h"
#include "transfer/journal_link.h"

using namespace qorvel::transfer;
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

JournalRow row(long long id) {
    JournalRow r;
    r.list = JournalList::downloads;
    r.id = id;
    r.state = id % 10 == 0 ? JournalState::failed : JournalState::waiting;
    r.name = "file-" + std::to_string(id) + ".bin";
    r.size_text = "12345KB";
    r.file_id = std::to_string(100000 + id);
    r.folder = "/home/user/Downloads/";
    r.local_path = r.folder + r.name;
    r.failure = id % 10 == 0 ? "404" : "";
    return r;
}

// One row a line, fields split by tabs (none of the texts holds one here).
std::vector<JournalRow> read_flat(const fs::path& file) {
    std::vector<JournalRow> rows;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::size_t at = 0;
        for (std::size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1)
            f.push_back(line.substr(at, tab - at));
        f.push_back(line.substr(at));
        if (f.size() < 8) continue;
        JournalRow r;
        r.id = std::atoll(f[0].c_str());
        r.state = static_cast<JournalState>(std::atoi(f[1].c_str()));
        r.name = f[2];
        r.size_text = f[3];
        r.file_id = f[4];
        r.folder = f[5];
        r.local_path = f[6];
        r.failure = f[7];
        rows.push_back(std::move(r));
    }
    return rows;
}

}  // namespace

int main(int argc, char** argv) {
    long n = argc > 1 ? std::atol(argv[1]) : 100000L;
    fs::path dir =
        fs::temp_directory_path() / ("qorvel-journal-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::path db = Journal::path_for(dir / "queues", "bench");
    fs::path flat = dir / "rows.txt";
    {
        auto j = Journal::open(db);
        if (!j) return 1;
        JournalChange c;
        std::ofstream out(flat);
        for (long i = 1; i <= n; ++i) {
            c.put.push_back(row(i));
            const auto& r = c.put.back();
            out << r.id << '\t' << static_cast<int>(r.state) << '\t' << r.name << '\t'
                << r.size_text << '\t' << r.file_id << '\t' << r.folder << '\t' << r.local_path
                << '\t' << r.failure << '\n';
        }
        auto t0 = Clock::now();
        if (!j->apply(c)) return 1;
        std::printf("queueing %ld rows: one transaction, %.3f s\n", n, since(t0));
    }
    std::vector<double> ours, peer;
    std::size_t got = 0, got_flat = 0;
    for (int round = 0; round < 5; ++round) {
        auto t0 = Clock::now();
        {
            auto j = Journal::open(db);
            Transfers t;
            auto lists = restore_queues(t, *j);
            got = lists.downloads.size();
        }
        ours.push_back(since(t0));
        t0 = Clock::now();
        {
            auto rows = read_flat(flat);
            Transfers t;
            for (const auto& r : rows) {
                DownloadQueue::Task task;
                task.id = r.id;
                task.entry = DownloadEntry{r.name, r.size_text, r.file_id, r.folder, r.policy};
                task.failure = r.failure;
                task.local_path = r.local_path;
                t.downloads.restore(std::move(task));
            }
            got_flat = rows.size();
        }
        peer.push_back(since(t0));
    }
    double a = median(ours), b = median(peer);
    std::printf(
        "restore of %zu rows: journal %.3f s (target < 1 s), flat text file %.3f s "
        "(%zu rows), ratio %.2f\n",
        got, a, b, got_flat, b / a);
    fs::remove_all(dir);
    return got == static_cast<std::size_t>(n) && a < 1.0 ? 0 : 1;
}
