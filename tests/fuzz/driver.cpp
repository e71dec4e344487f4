// A bounded random-input driver for the fuzz targets, for compilers without
// libFuzzer: replays every corpus file, then feeds mutations of them.
//   fuzz_x [-runs=N] [-seed=S] [-max_len=L] FILE_OR_DIR...
// The same seed gives the same inputs, so a crash is reproduced by its line
// "seed S" and the input kept in fuzz-crash.bin.
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::string g_current;

// Async-signal-safe: keeps the input that brought the target down.
void save_current(int sig) {
    int fd = ::open("fuzz-crash.bin", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        ssize_t ignored = ::write(fd, g_current.data(), g_current.size());
        (void)ignored;
        ::close(fd);
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void run_one(const std::string& input) {
    g_current = input;
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(g_current.data()),
                           g_current.size());
}

// Pieces that make parsers take their less common paths.
const char* const kTokens[] = {"\r\n",
                               "\n",
                               "\r\n\r\n",
                               ":",
                               "-",
                               "/",
                               "//",
                               "http://",
                               "ftp://",
                               "@",
                               "(",
                               ")",
                               ",",
                               ";",
                               "|",
                               "x",
                               "0",
                               "9",
                               "ffffffffffffffff",
                               "HTTP/1.1 ",
                               "227 ",
                               "Content-Range: bytes ",
                               "Location: ",
                               "%",
                               "\x81",
                               "\xfe\x40",
                               "\x00",
                               "65536"};

std::string mutate(const std::vector<std::string>& seeds, std::mt19937_64& rng,
                   std::size_t max_len) {
    std::string s = seeds.empty() ? std::string() : seeds[rng() % seeds.size()];
    int rounds = 1 + static_cast<int>(rng() % 8);
    for (int r = 0; r < rounds; ++r) {
        std::size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
        switch (rng() % 7) {
        case 0:  // flip a byte
            if (!s.empty()) s[at % s.size()] = static_cast<char>(rng() & 0xFF);
            break;
        case 1:  // insert random bytes
            for (int i = 0, n = 1 + static_cast<int>(rng() % 8); i < n; ++i)
                s.insert(s.begin() + static_cast<long>(at), static_cast<char>(rng() & 0xFF));
            break;
        case 2:  // delete a run
            if (!s.empty()) s.erase(at % s.size(), 1 + rng() % 16);
            break;
        case 3:  // duplicate a run
            if (!s.empty()) {
                std::size_t from = rng() % s.size();
                s.insert(at, s.substr(from, 1 + rng() % 64));
            }
            break;
        case 4: {  // insert a token
            const char* t = kTokens[rng() % std::size(kTokens)];
            s.insert(at, t, std::max<std::size_t>(1, std::strlen(t)));
            break;
        }
        case 5:  // splice with another seed
            if (!seeds.empty()) {
                const std::string& o = seeds[rng() % seeds.size()];
                s = s.substr(0, at) + o.substr(o.empty() ? 0 : rng() % o.size());
            }
            break;
        default:  // a digit run
            s.insert(at, std::to_string(rng()));
            break;
        }
    }
    if (s.size() > max_len) s.resize(max_len);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    long long runs = 10000;
    unsigned long long seed = 1;
    std::size_t max_len = 4096;
    std::vector<std::string> seeds;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("-runs=", 0) == 0) {
            runs = std::atoll(a.c_str() + 6);
        } else if (a.rfind("-seed=", 0) == 0) {
            seed = std::strtoull(a.c_str() + 6, nullptr, 10);
        } else if (a.rfind("-max_len=", 0) == 0) {
            max_len = static_cast<std::size_t>(std::atoll(a.c_str() + 9));
        } else if (a.rfind("-", 0) == 0) {
            continue;  // libFuzzer options this driver does not know
        } else {
            std::filesystem::path p(a);
            std::vector<std::filesystem::path> files;
            if (std::filesystem::is_directory(p)) {
                for (const auto& e : std::filesystem::directory_iterator(p))
                    if (e.is_regular_file()) files.push_back(e.path());
            } else {
                files.push_back(p);
            }
            for (const auto& f : files) {
                std::ifstream in(f, std::ios::binary);
                seeds.emplace_back(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
            }
        }
    }
    std::signal(SIGABRT, save_current);
    std::signal(SIGSEGV, save_current);
    std::signal(SIGBUS, save_current);
    std::signal(SIGFPE, save_current);
    std::printf("seed %llu, %zu corpus inputs, %lld runs\n", seed, seeds.size(), runs);
    std::fflush(stdout);
    for (const auto& s : seeds) run_one(s);
    std::mt19937_64 rng(seed);
    for (long long i = 0; i < runs; ++i) run_one(mutate(seeds, rng, max_len));
    std::printf("done: %zu corpus inputs and %lld mutations, no fault\n", seeds.size(), runs);
    return 0;
}
