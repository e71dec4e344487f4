#include "support/counting_relay.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "support/engine_peers.h"

namespace qorvel::test {
namespace {

// The path of "GET path HTTP/1.1" and the start of its "Range: bytes=N-".
void read_request(const std::string& request, std::string& path, std::int64_t& start) {
    std::size_t sp = request.find(' ');
    std::size_t sp2 = sp == std::string::npos ? sp : request.find(' ', sp + 1);
    if (sp2 != std::string::npos) path = request.substr(sp + 1, sp2 - sp - 1);
    start = 0;
    const std::string marker = "\r\nRange: bytes=";
    std::size_t range = request.find(marker);
    if (range != std::string::npos) {
        try {
            start = std::stoll(request.substr(range + marker.size(), 20));
        } catch (const std::exception&) {
            start = 0;
        }
    }
}

}  // namespace

CountingRelay::CountingRelay(std::string upstream_host, int upstream_port)
    : upstream_host_(std::move(upstream_host)), upstream_port_(upstream_port) {
    listen_fd_ = listen_loopback(port_);
    acceptor_ = std::thread([this] {
        while (!stop_) {
            pollfd p{listen_fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            ++connections_;
            std::lock_guard lock(mutex_);
            workers_.emplace_back([this, fd] { pump(fd); });
        }
    });
}

CountingRelay::~CountingRelay() {
    stop_ = true;
    acceptor_.join();
    for (auto& w : workers_) w.join();
    ::close(listen_fd_);
}

void CountingRelay::pump(int client) {
    int server = connect_loopback(upstream_host_, upstream_port_);
    if (server < 0) {
        ::close(client);
        return;
    }
    // Each side's end is passed on; the relay ends once both have ended, or
    // at once when either breaks, or when the relay goes.
    bool client_open = true, server_open = true;
    char buf[65536];
    // One request per connection (the client sends "Connection: close").
    std::string request, head, path;
    std::int64_t start = 0, body = 0;
    bool head_done = false;
    while (!stop_ && (client_open || server_open)) {
        pollfd p[2] = {{client, static_cast<short>(client_open ? POLLIN : 0), 0},
                       {server, static_cast<short>(server_open ? POLLIN : 0), 0}};
        if (::poll(p, 2, 100) < 0) break;
        bool broken = false;
        for (int i = 0; i < 2 && !broken; ++i) {
            if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            int from = i == 0 ? client : server, to = i == 0 ? server : client;
            ssize_t n = ::recv(from, buf, sizeof buf, 0);
            if (n < 0) {
                broken = true;
            } else if (n == 0) {
                ::shutdown(to, SHUT_WR);
                (i == 0 ? client_open : server_open) = false;
            } else {
                std::string piece(buf, static_cast<std::size_t>(n));
                if (!write_all(to, piece)) broken = true;
                if (i == 0 && request.size() < 65536) request += piece;
                if (i == 1) {
                    down_ += n;
                    if (!head_done) {
                        head += piece;
                        std::size_t end = head.find("\r\n\r\n");
                        if (end == std::string::npos) continue;
                        head_done = true;
                        read_request(request, path, start);
                        // A whole body answers from offset 0 whatever was asked.
                        if (head.compare(0, 12, "HTTP/1.1 206") != 0) start = 0;
                        piece = head.substr(end + 4);
                    }
                    note_body(path, start + body, static_cast<std::int64_t>(piece.size()));
                    body += static_cast<std::int64_t>(piece.size());
                }
            }
        }
        if (broken) break;
    }
    ::close(server);
    ::close(client);
}

void CountingRelay::note_body(const std::string& path, std::int64_t offset, std::int64_t n) {
    if (n <= 0 || path.empty()) return;
    std::lock_guard lock(mutex_);
    std::int64_t& furthest = furthest_[path];
    if (offset < furthest) resent_ += std::min(offset + n, furthest) - offset;
    furthest = std::max(furthest, offset + n);
}

}  // namespace qorvel::test
