// A small FTP server on POSIX sockets that takes uploads into the incoming
// folder: USER/PASS (anonymous), PASV/EPSV/PORT, TYPE, REST, SIZE, STOR,
// NOOP, QUIT. Remote names never leave the folder: each is stored under the
// MD5 of its bytes.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <list>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>

namespace qorvel::service {

// Names of uploads in the incoming folder, and which are being written.
class Incoming {
public:
    explicit Incoming(std::filesystem::path dir) : dir_(std::move(dir)) {}
    std::filesystem::path path_for(std::string_view remote_name) const;
    bool begin(std::string_view remote_name);  // false when already being written
    void end(std::string_view remote_name);
    bool busy(std::string_view remote_name);

private:
    std::filesystem::path dir_;
    std::mutex mutex_;
    std::set<std::string> writing_;
};

struct FtpLimits {
    int max_connections = 64;
    int idle_timeout_s = 300;
    int data_timeout_s = 30;
    int64_t max_file_bytes = 4LL << 30;
};

class FtpServer {
public:
    // check_login(user, password): true for a named account that may log in.
    FtpServer(Incoming& incoming, std::function<bool(const std::string&, const std::string&)> check_login,
              FtpLimits limits = {});
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    bool bind(const std::string& host, int port, std::string* error);
    void start();  // accept loop on its own thread
    void stop();   // closes the listener and ends every connection

private:
    void accept_loop();
    void serve(int fd);

    Incoming& incoming_;
    std::function<bool(const std::string&, const std::string&)> check_login_;
    FtpLimits limits_;
    int listen_fd_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<int> active_{0};
    std::thread acceptor_;
    std::mutex threads_mutex_;
    std::list<std::thread> threads_;
};

}  // namespace qorvel::service
