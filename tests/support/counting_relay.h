// A TCP relay in front of a server that counts the bytes the server sends
// back, so a test knows how much a client was sent, resent bytes included.
#pragma once

#include <atomic>
#include <cstdint>
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

  private:
    void pump(int client);

    std::string upstream_host_;
    int upstream_port_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<std::int64_t> down_{0};
    std::atomic<int> connections_{0};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> workers_;
};

}  // namespace qorvel::test
