// A TCP relay in front of an HTTP server that counts the bytes the server
// sends back, so a test knows how much a client was sent, and how many body
// bytes of a path it was sent again (a range that starts below the furthest
// byte of that path already sent).
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qorvel::test {

class CountingRelay {
  public:
    // Listens on 127.0.0.1 (any port) and passes every connection to upstream.
    CountingRelay(std::string upstream_host, int upstream_port);
    ~CountingRelay();
    CountingRelay(const CountingRelay&) = delete;
    CountingRelay& operator=(const CountingRelay&) = delete;

    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    std::int64_t bytes_down() const { return down_.load(); }
    int connections() const { return connections_.load(); }
    std::int64_t resent_bytes() const { return resent_.load(); }
    // What was sent before no longer counts as sent (the next test's downloads).
    void forget_paths() {
        std::lock_guard lock(mutex_);
        furthest_.clear();
    }

  private:
    void pump(int client);
    // Counts a piece of the body of path that starts at offset.
    void note_body(const std::string& path, std::int64_t offset, std::int64_t n);

    std::string upstream_host_;
    int upstream_port_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<std::int64_t> down_{0};
    std::atomic<int> connections_{0};
    std::atomic<std::int64_t> resent_{0};
    std::map<std::string, std::int64_t> furthest_;  // by path, under mutex_
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> workers_;
};

}  // namespace qorvel::test
