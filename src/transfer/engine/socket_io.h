// Non-blocking TCP sockets whose waits are bounded by poll() time-outs.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include <netinet/in.h>
#include <sys/types.h>

namespace qorvel::engine {

enum class IoStatus { ok, closed, timeout, error };

// IPv4 address of host (dotted or resolved); false when it has none.
bool resolve_host(const std::string& host, in_addr& out);
bool is_dotted_address(const std::string& host);

// A connected or listening socket; close() is safe against a concurrent shutdown_now().
class Socket {
  public:
    Socket() = default;
    ~Socket() { close(); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    IoStatus connect(const in_addr& host, int port, int timeout_ms);
    bool listen_on(const in_addr& host);  // any free port
    int local_port() const;
    bool local_address(in_addr& out) const;
    bool peer_address(in_addr& out) const;
    // Accepts the first connection that comes from peer; others are closed
    // unanswered, so a third party cannot take the place of the server.
    IoStatus accept_from(Socket& listener, const in_addr& peer, int timeout_ms);

    // Sends all bytes; counts them into the process-wide sent count.
    IoStatus send_all(const char* data, std::size_t size, int timeout_ms);
    // Sends size bytes of file fd from offset with sendfile(); counts them likewise.
    IoStatus send_file(int file_fd, std::int64_t offset, std::size_t size, int timeout_ms);
    // Receives up to size bytes; got is set on ok.
    IoStatus receive(char* data, std::size_t size, std::size_t& got, int timeout_ms);
    // The same with a deadline for a whole exchange (an answer head, a reply):
    // a peer that trickles a byte now and then cannot hold the connection.
    IoStatus receive_until(char* data, std::size_t size, std::size_t& got,
                           std::chrono::steady_clock::time_point deadline);
    // Waits until data can be read (or the peer closed).
    IoStatus wait_readable(int timeout_ms);

    void set_buffers(int receive_bytes, int send_bytes);
    // Held segments: small sends leave as full segments until uncorked.
    void set_cork(bool on);
    // Wakes a thread blocked on this socket; called from another thread.
    void shutdown_now();
    void close();
    bool is_open() const { return fd_.load() >= 0; }

  private:
    IoStatus wait_for(short events, int timeout_ms);
    std::atomic<int> fd_{-1};
    std::mutex close_mutex_;  // keeps shutdown_now() off a reused descriptor
    bool shut_ = false;
};

// Process-wide count of bytes sent on engine connections.
void count_sent(std::int64_t bytes);
std::int64_t take_sent_count();

}  // namespace qorvel::engine
