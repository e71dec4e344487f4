#include "transfer/engine/socket_io.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qorvel::engine {

namespace {
std::atomic<std::int64_t> g_sent{0};

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point until) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}
}  // namespace

void count_sent(std::int64_t bytes) {
    g_sent.fetch_add(bytes, std::memory_order_relaxed);
}
std::int64_t take_sent_count() {
    return g_sent.exchange(0);
}

bool is_dotted_address(const std::string& host) {
    in_addr a{};
    return inet_pton(AF_INET, host.c_str(), &a) == 1;
}

bool resolve_host(const std::string& host, in_addr& out) {
    if (inet_pton(AF_INET, host.c_str(), &out) == 1) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return false;
    out = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
    freeaddrinfo(res);
    return true;
}

IoStatus Socket::wait_for(short events, int timeout_ms) {
    auto until = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        pollfd p{fd_.load(), events, 0};
        int rc = ::poll(&p, 1, remaining_ms(until));
        if (rc > 0) return IoStatus::ok;
        if (rc == 0) return IoStatus::timeout;
        if (errno != EINTR) return IoStatus::error;
    }
}

IoStatus Socket::wait_readable(int timeout_ms) {
    return wait_for(POLLIN, timeout_ms);
}

IoStatus Socket::connect(const in_addr& host, int port, int timeout_ms) {
    close();
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return IoStatus::error;
    {
        // Once shut down, the socket stays unusable so a stop cannot be missed.
        std::lock_guard lock(close_mutex_);
        if (shut_) {
            ::close(fd);
            return IoStatus::error;
        }
        fd_ = fd;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr = host;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return IoStatus::ok;
    if (errno != EINPROGRESS) return IoStatus::error;
    IoStatus st = wait_for(POLLOUT, timeout_ms);
    if (st != IoStatus::ok) return st;
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) return IoStatus::error;
    return IoStatus::ok;
}

bool Socket::listen_on(const in_addr& host) {
    close();
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    {
        std::lock_guard lock(close_mutex_);
        if (shut_) {
            ::close(fd);
            return false;
        }
        fd_ = fd;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = 0;
    a.sin_addr = host;
    return ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, 1) == 0;
}

int Socket::local_port() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(fd_.load(), reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    return ntohs(a.sin_port);
}

bool Socket::local_address(in_addr& out) const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(fd_.load(), reinterpret_cast<sockaddr*>(&a), &len) != 0) return false;
    out = a.sin_addr;
    return true;
}

bool Socket::peer_address(in_addr& out) const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getpeername(fd_.load(), reinterpret_cast<sockaddr*>(&a), &len) != 0) return false;
    out = a.sin_addr;
    return true;
}

IoStatus Socket::accept_from(Socket& listener, const in_addr& peer, int timeout_ms) {
    close();
    auto until = Clock::now() + std::chrono::milliseconds(timeout_ms);
    int fd = -1;
    // Bounded by the time-out: each stranger costs one accept and a close.
    while (fd < 0) {
        IoStatus st = listener.wait_for(POLLIN, remaining_ms(until));
        if (st != IoStatus::ok) return st;
        sockaddr_in from{};
        socklen_t len = sizeof from;
        fd = ::accept4(listener.fd_.load(), reinterpret_cast<sockaddr*>(&from), &len,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == ECONNABORTED) continue;
            return IoStatus::error;
        }
        if (from.sin_family != AF_INET || from.sin_addr.s_addr != peer.s_addr) {
            ::close(fd);
            fd = -1;
            if (remaining_ms(until) == 0) return IoStatus::timeout;
        }
    }
    std::lock_guard lock(close_mutex_);
    if (shut_) {
        ::close(fd);
        return IoStatus::error;
    }
    fd_ = fd;
    return IoStatus::ok;
}

IoStatus Socket::send_all(const char* data, std::size_t size, int timeout_ms) {
    while (size > 0) {
        ssize_t n = ::send(fd_.load(), data, size, MSG_NOSIGNAL);
        if (n > 0) {
            count_sent(n);
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            IoStatus st = wait_for(POLLOUT, timeout_ms);
            if (st != IoStatus::ok) return st;
            continue;
        }
        return IoStatus::error;
    }
    return IoStatus::ok;
}

IoStatus Socket::send_file(int file_fd, std::int64_t offset, std::size_t size, int timeout_ms) {
    off_t off = static_cast<off_t>(offset);
    while (size > 0) {
        ssize_t n = ::sendfile(fd_.load(), file_fd, &off, size);
        if (n > 0) {
            count_sent(n);
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) return IoStatus::error;  // the file is shorter than expected
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            IoStatus st = wait_for(POLLOUT, timeout_ms);
            if (st != IoStatus::ok) return st;
            continue;
        }
        return IoStatus::error;
    }
    return IoStatus::ok;
}

IoStatus Socket::receive(char* data, std::size_t size, std::size_t& got, int timeout_ms) {
    for (;;) {
        ssize_t n = ::recv(fd_.load(), data, size, 0);
        if (n > 0) {
            got = static_cast<std::size_t>(n);
            return IoStatus::ok;
        }
        if (n == 0) return IoStatus::closed;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            IoStatus st = wait_for(POLLIN, timeout_ms);
            if (st != IoStatus::ok) return st;
            continue;
        }
        return errno == ECONNRESET ? IoStatus::closed : IoStatus::error;
    }
}

IoStatus Socket::receive_until(char* data, std::size_t size, std::size_t& got,
                               Clock::time_point deadline) {
    int left = remaining_ms(deadline);
    if (left == 0) return IoStatus::timeout;
    return receive(data, size, got, left);
}

void Socket::set_cork(bool on) {
    int value = on ? 1 : 0;
    setsockopt(fd_.load(), IPPROTO_TCP, TCP_CORK, &value, sizeof value);
}

void Socket::set_buffers(int receive_bytes, int send_bytes) {
    int fd = fd_.load();
    if (receive_bytes > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_bytes, sizeof receive_bytes);
    if (send_bytes > 0) setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &send_bytes, sizeof send_bytes);
}

void Socket::shutdown_now() {
    std::lock_guard lock(close_mutex_);
    shut_ = true;
    if (fd_.load() >= 0) ::shutdown(fd_.load(), SHUT_RDWR);
}

void Socket::close() {
    std::lock_guard lock(close_mutex_);
    int fd = fd_.exchange(-1);
    if (fd >= 0) ::close(fd);
}

}  // namespace qorvel::engine
