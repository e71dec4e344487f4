// Temporary folders, free loopback ports and child processes for tests.
// Children are ended by their PID only.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

namespace qorvel::test {

class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "qorvel-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// A TCP port on host that nothing listens on right now.
int free_port(const std::string& host = "127.0.0.1");

// True once host:port accepts a connection (bounded by timeout).
bool wait_for_port(const std::string& host, int port,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10));

class ChildProcess {
  public:
    ChildProcess() = default;
    // Starts argv[0] (searched in PATH) with the arguments; output goes to log_file when given.
    explicit ChildProcess(const std::vector<std::string>& argv, const std::string& log_file = {},
                          const std::vector<std::string>& extra_env = {});
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;

    pid_t pid() const { return pid_; }
    bool running();
    // SIGTERM, then SIGKILL after grace; returns the exit status (or -signal).
    int stop(std::chrono::milliseconds grace = std::chrono::seconds(5));
    // Waits for the child to end by itself; -1000 on time-out.
    int wait(std::chrono::milliseconds timeout);

  private:
    pid_t pid_ = -1;
    int status_ = 0;
    bool reaped_ = false;
};

std::string read_file(const std::filesystem::path& file);
void write_file(const std::filesystem::path& file, const std::string& bytes);

}  // namespace qorvel::test
