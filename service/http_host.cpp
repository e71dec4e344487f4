#include "http_host.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <unordered_map>

namespace qorvel::service {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxRequestsPerConnection = 100;
// After an error answer the connection is read and dropped for a moment, so
// the answer is not lost to a reset while the client is still sending.
constexpr auto kLinger = std::chrono::seconds(2);

const char* reason(int status) {
    switch (status) {
    case 400: return "Bad Request";
    case 408: return "Request Timeout";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    default: return "Error";
    }
}

void send_now(int fd, const std::string& bytes) {
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

std::string error_answer(int status) {
    std::string body = "Error " + std::to_string(status) + "\n";
    return "HTTP/1.1 " + std::to_string(status) + " " + reason(status) +
           "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

void address_of(const sockaddr_in& a, std::string* ip, int* port) {
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a.sin_addr, buf, sizeof buf);
    *ip = buf;
    *port = ntohs(a.sin_port);
}

}  // namespace

struct HttpHost::Connection {
    HttpHost* host = nullptr;  // counted against its address while open
    int fd = -1;
    std::string peer_ip, local_ip;
    int peer_port = 0, local_port = 0;
    std::string in;
    std::unique_ptr<RequestReader> reader;
    Clock::time_point deadline;
    bool continue_sent = false;
    bool peer_done = false;  // the client has closed its side
    bool closing = false;    // error sent, draining until close
    int served = 0;
    ~Connection() {
        if (fd >= 0) ::close(fd);
        if (host) host->release(peer_ip);
    }
};

namespace {

// The library reads the request from the bytes we already hold and writes
// its answer straight to the socket.
class BufferedStream : public httplib::Stream {
  public:
    BufferedStream(const HttpHost::Connection& c, const std::string& request, int write_timeout_s,
                   const std::atomic<bool>& stopping)
        : c_(c), request_(request), write_timeout_s_(write_timeout_s), stopping_(stopping) {}

    bool is_readable() const override { return pos_ < request_.size(); }
    bool is_writable() const override { return wait_writable(); }
    ssize_t read(char* ptr, size_t size) override {
        size_t n = std::min(size, request_.size() - pos_);
        std::memcpy(ptr, request_.data() + pos_, n);
        pos_ += n;
        return static_cast<ssize_t>(n);
    }
    ssize_t write(const char* ptr, size_t size) override {
        size_t done = 0;
        while (done < size) {
            ssize_t n = ::send(c_.fd, ptr + done, size - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && wait_writable()) continue;
            return -1;
        }
        return static_cast<ssize_t>(size);
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = c_.peer_ip;
        port = c_.peer_port;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = c_.local_ip;
        port = c_.local_port;
    }
    socket_t socket() const override { return c_.fd; }

  private:
    bool wait_writable() const {
        auto deadline = Clock::now() + std::chrono::seconds(write_timeout_s_);
        while (!stopping_ && Clock::now() < deadline) {
            pollfd p{c_.fd, POLLOUT, 0};
            int r = ::poll(&p, 1, 200);
            if (r > 0) return (p.revents & (POLLERR | POLLHUP | POLLNVAL)) == 0;
            if (r < 0 && errno != EINTR) return false;
        }
        return false;
    }

    const HttpHost::Connection& c_;
    const std::string& request_;
    size_t pos_ = 0;
    int write_timeout_s_;
    const std::atomic<bool>& stopping_;
};

}  // namespace

HttpHost::HttpHost(HttpHostLimits limits) : limits_(limits) {
    set_payload_max_length(limits_.request.max_body_bytes);
}

HttpHost::~HttpHost() {
    stop();
    if (listen_fd_ >= 0) ::close(listen_fd_);
    if (epoll_fd_ >= 0) ::close(epoll_fd_);
    if (wake_fd_ >= 0) ::close(wake_fd_);
}

bool HttpHost::bind(const std::string& host, int port, std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
        *error = "cannot resolve " + host;
        return false;
    }
    sockaddr_in addr = *reinterpret_cast<sockaddr_in*>(found->ai_addr);
    freeaddrinfo(found);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int one = 1;
    if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, limits_.listen_backlog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        *error = std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    listen_fd_ = fd;
    port_ = ntohs(addr.sin_port);
    // The library streams an answer only while it believes it is listening.
    svr_sock_ = fd;
    return true;
}

void HttpHost::start() {
    epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
    wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = listen_fd_;
    epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, listen_fd_, &ev);
    ev.data.fd = wake_fd_;
    epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, wake_fd_, &ev);
    loop_thread_ = std::thread([this] { loop(); });
    for (int i = 0; i < std::max(1, limits_.workers); ++i)
        workers_.emplace_back([this] { work(); });
}

bool HttpHost::admit(const std::string& address) {
    std::lock_guard lock(count_mutex_);
    int& n = open_[address];
    if (n >= limits_.max_per_address) return false;
    ++n;
    return true;
}

void HttpHost::release(const std::string& address) {
    std::lock_guard lock(count_mutex_);
    auto it = open_.find(address);
    if (it != open_.end() && --it->second <= 0) open_.erase(it);
}

void HttpHost::wake() {
    if (wake_fd_ < 0) return;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_fd_, &one, sizeof one);
}

void HttpHost::stop() {
    if (stopping_.exchange(true)) return;
    svr_sock_ = INVALID_SOCKET;  // ends answers being streamed
    wake();
    if (loop_thread_.joinable()) loop_thread_.join();
    ready_cv_.notify_all();
    for (auto& t : workers_) t.join();
    workers_.clear();
    std::lock_guard lock(mutex_);
    ready_.clear();
    returned_.clear();
}

void HttpHost::loop() {
    std::unordered_map<int, std::unique_ptr<Connection>> live;
    auto drop = [&](int fd) {
        epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
        live.erase(fd);
    };
    auto watch = [&](std::unique_ptr<Connection> c) {
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.fd = c->fd;
        epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, c->fd, &ev);
        int fd = c->fd;
        live[fd] = std::move(c);
        return fd;
    };
    auto fail = [&](Connection& c, int status) {
        send_now(c.fd, error_answer(status));
        ::shutdown(c.fd, SHUT_WR);
        c.closing = true;
        c.in.clear();
        c.deadline = Clock::now() + kLinger;
    };
    // Runs the reader over what has arrived; hands a complete request on.
    auto advance = [&](int fd) {
        Connection& c = *live[fd];
        if (c.closing) {
            c.in.clear();
            if (c.peer_done) drop(fd);
            return;
        }
        if (!c.reader) c.reader = std::make_unique<RequestReader>(limits_.request);
        bool was_started = c.reader->started();
        auto state = c.reader->take(c.in);
        if (!was_started && c.reader->started())
            c.deadline = Clock::now() + std::chrono::seconds(limits_.request_timeout_s);
        if (state == RequestReader::State::failed) {
            fail(c, c.reader->error_status());
            return;
        }
        if (state == RequestReader::State::complete) {
            epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
            std::unique_ptr<Connection> ready = std::move(live[fd]);
            live.erase(fd);
            {
                std::lock_guard lock(mutex_);
                ready_.push_back(std::move(ready));
            }
            ready_cv_.notify_one();
            return;
        }
        if (c.peer_done) {
            drop(fd);
            return;
        }
        if (c.reader->wants_continue() && !c.continue_sent) {
            send_now(c.fd, "HTTP/1.1 100 Continue\r\n\r\n");
            c.continue_sent = true;
        }
    };

    std::vector<epoll_event> events(128);
    auto last_scan = Clock::now();
    bool accept_paused = false;
    while (!stopping_) {
        int n = epoll_wait(epoll_fd_, events.data(), static_cast<int>(events.size()), 200);
        if (n < 0 && errno != EINTR) break;
        for (int i = 0; i < n && !stopping_; ++i) {
            int fd = events[static_cast<size_t>(i)].data.fd;
            if (fd == listen_fd_) {
                for (;;) {
                    sockaddr_in peer{};
                    socklen_t len = sizeof peer;
                    int cfd = ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &len,
                                        SOCK_CLOEXEC | SOCK_NONBLOCK);
                    if (cfd < 0) {
                        // Out of descriptors: stop listening for a moment
                        // instead of spinning on a listener that stays ready.
                        if (errno == EMFILE || errno == ENFILE) {
                            epoll_event off{};
                            off.data.fd = listen_fd_;
                            epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, listen_fd_, &off);
                            accept_paused = true;
                        }
                        break;
                    }
                    if (static_cast<int>(live.size()) >= limits_.max_connections) {
                        send_now(cfd, error_answer(503));
                        ::close(cfd);
                        continue;
                    }
                    std::string ip;
                    int peer_port = 0;
                    address_of(peer, &ip, &peer_port);
                    // One address cannot take every connection for itself.
                    if (!admit(ip)) {
                        send_now(cfd, error_answer(503));
                        ::close(cfd);
                        continue;
                    }
                    int one = 1;
                    setsockopt(cfd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    auto c = std::make_unique<Connection>();
                    c->host = this;
                    c->fd = cfd;
                    c->peer_ip = ip;
                    c->peer_port = peer_port;
                    sockaddr_in local{};
                    len = sizeof local;
                    getsockname(cfd, reinterpret_cast<sockaddr*>(&local), &len);
                    address_of(local, &c->local_ip, &c->local_port);
                    c->deadline = Clock::now() + std::chrono::seconds(limits_.request_timeout_s);
                    watch(std::move(c));
                }
                continue;
            }
            if (fd == wake_fd_) {
                uint64_t count;
                [[maybe_unused]] ssize_t r = ::read(wake_fd_, &count, sizeof count);
                std::deque<std::unique_ptr<Connection>> back;
                {
                    std::lock_guard lock(mutex_);
                    back.swap(returned_);
                }
                for (auto& c : back) {
                    int cfd = watch(std::move(c));
                    // A pipelined request may be waiting in the buffer already.
                    if (!live[cfd]->in.empty()) advance(cfd);
                }
                continue;
            }
            auto it = live.find(fd);
            if (it == live.end()) continue;
            Connection& c = *it->second;
            char buf[65536];
            size_t got = 0;
            for (;;) {
                ssize_t r = ::recv(fd, buf, sizeof buf, 0);
                if (r > 0) {
                    got += static_cast<size_t>(r);
                    if (!c.closing) c.in.append(buf, static_cast<size_t>(r));
                    // Give the others a turn; the rest is read on the next pass.
                    if (got >= 4 * sizeof buf) break;
                    continue;
                }
                if (r == 0) c.peer_done = true;
                if (r < 0 && errno == EINTR) continue;
                if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) c.peer_done = true;
                break;
            }
            advance(fd);
        }
        auto now = Clock::now();
        if (now - last_scan >= std::chrono::milliseconds(200)) {
            last_scan = now;
            if (accept_paused) {
                epoll_event on{};
                on.events = EPOLLIN;
                on.data.fd = listen_fd_;
                epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, listen_fd_, &on);
                accept_paused = false;
            }
            std::vector<int> expired;
            for (auto& [fd, c] : live)
                if (now >= c->deadline) expired.push_back(fd);
            for (int fd : expired) {
                Connection& c = *live[fd];
                if (!c.closing && c.reader && c.reader->started()) {
                    fail(c, 408);
                    c.deadline = now + kLinger;
                } else {
                    drop(fd);
                }
            }
        }
    }
    // Stopping: whatever is still being sent is cut off here.
    for (auto& [fd, c] : live) epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
    live.clear();
    ::close(listen_fd_);
    listen_fd_ = -1;
}

void HttpHost::work() {
    // One address may keep at most three quarters of the workers busy, so
    // a quarter is always left for everyone else.
    int workers = std::max(1, limits_.workers);
    int per_address = std::max(1, workers - std::max(1, workers / 4));
    for (;;) {
        std::unique_ptr<Connection> c;
        {
            std::unique_lock lock(mutex_);
            for (;;) {
                if (stopping_) return;
                auto it = std::find_if(ready_.begin(), ready_.end(), [&](const auto& r) {
                    auto b = busy_.find(r->peer_ip);
                    return b == busy_.end() || b->second < per_address;
                });
                if (it != ready_.end()) {
                    c = std::move(*it);
                    ready_.erase(it);
                    ++busy_[c->peer_ip];
                    break;
                }
                ready_cv_.wait(lock);
            }
        }
        std::string address = c->peer_ip;
        serve(std::move(c));
        // No wake-up here: this worker looks at the queue again itself, and
        // waking every idle worker after each answer kept both CPUs busy
        // with threads that found nothing to do.
        std::lock_guard lock(mutex_);
        if (--busy_[address] <= 0) busy_.erase(address);
    }
}

void HttpHost::serve(std::unique_ptr<Connection> c) {
    std::string request = c->reader->request();
    bool close = c->reader->close_after() || c->peer_done || stopping_ ||
                 ++c->served >= kMaxRequestsPerConnection;
    BufferedStream stream(*c, request, limits_.write_timeout_s, stopping_);
    bool closed = false;
    bool ok = process_request(stream, close, closed, nullptr);
    if (!ok || close || closed || stopping_) return;  // the socket closes with c
    c->reader.reset();
    c->continue_sent = false;
    c->deadline = Clock::now() + std::chrono::seconds(limits_.keep_alive_timeout_s);
    give_back(std::move(c));
}

void HttpHost::give_back(std::unique_ptr<Connection> c) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        returned_.push_back(std::move(c));
    }
    wake();
}

}  // namespace qorvel::service
