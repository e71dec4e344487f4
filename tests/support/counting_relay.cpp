#include "support/counting_relay.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/engine_peers.h"

namespace qorvel::test {

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
                if (!write_all(to, std::string(buf, static_cast<std::size_t>(n)))) broken = true;
                if (i == 1) down_ += n;
            }
        }
        if (broken) break;
    }
    ::close(server);
    ::close(client);
}

}  // namespace qorvel::test
