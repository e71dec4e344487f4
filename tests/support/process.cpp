#include "support/process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

extern char** environ;

namespace qorvel::test {

TempDir::TempDir(const std::string& prefix) {
    std::string tmpl = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    char* made = mkdtemp(tmpl.data());
    path_ = made ? std::filesystem::path(made) : std::filesystem::temp_directory_path();
}

TempDir::~TempDir() {
    std::error_code ec;
    if (path_ != std::filesystem::temp_directory_path()) std::filesystem::remove_all(path_, ec);
}

int free_port(const std::string& host) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = 0;
    inet_pton(AF_INET, host.c_str(), &a.sin_addr);
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ::close(fd);
    return port;
}

bool wait_for_port(const std::string& host, int port, std::chrono::milliseconds timeout) {
    auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, host.c_str(), &a.sin_addr);
        int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::close(fd);
        if (rc == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& log_file,
                           const std::vector<std::string>& extra_env) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> env_store;
    for (char** e = environ; *e; ++e) env_store.emplace_back(*e);
    for (const auto& e : extra_env) env_store.push_back(e);
    std::vector<char*> env;
    for (auto& e : env_store) env.push_back(e.data());
    env.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        if (!log_file.empty()) {
            int fd = ::open(log_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (fd >= 0) {
                dup2(fd, 1);
                dup2(fd, 2);
                ::close(fd);
            }
        }
        int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull >= 0) dup2(devnull, 0);
        execvpe(args[0], args.data(), env.data());
        _exit(127);
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) stop();
}

ChildProcess::ChildProcess(ChildProcess&& o) noexcept
    : pid_(o.pid_), status_(o.status_), reaped_(o.reaped_) {
    o.pid_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& o) noexcept {
    if (this != &o) {
        if (pid_ > 0) stop();
        pid_ = o.pid_;
        status_ = o.status_;
        reaped_ = o.reaped_;
        o.pid_ = -1;
    }
    return *this;
}

bool ChildProcess::running() {
    if (pid_ <= 0 || reaped_) return false;
    int st = 0;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
        reaped_ = true;
        status_ = st;
        return false;
    }
    return true;
}

static int decode(int st) {
    return WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st);
}

int ChildProcess::wait(std::chrono::milliseconds timeout) {
    auto until = std::chrono::steady_clock::now() + timeout;
    while (running()) {
        if (std::chrono::steady_clock::now() >= until) return -1000;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return pid_ > 0 ? decode(status_) : -1000;
}

int ChildProcess::stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0) return -1000;
    if (running()) {
        ::kill(pid_, SIGTERM);
        if (wait(grace) == -1000) {
            ::kill(pid_, SIGKILL);
            wait(std::chrono::seconds(5));
        }
    }
    int rc = decode(status_);
    pid_ = -1;
    return rc;
}

std::string read_file(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace qorvel::test
