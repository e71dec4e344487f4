#include "support/recording_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace qorvel::test {

std::string RecordedRequest::target() const {
    size_t a = head.find(' ');
    size_t b = head.find(' ', a + 1);
    if (a == std::string::npos || b == std::string::npos) return {};
    return head.substr(a + 1, b - a - 1);
}

RecordingServer::RecordingServer(Responder responder, const std::string& host)
    : responder_(std::move(responder)), host_(host) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, host.c_str(), &a.sin_addr);
    ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    ::listen(listen_fd_, 16);
    thread_ = std::thread([this] { serve(); });
}

RecordingServer::RecordingServer(Responder responder, const std::string& host, bool keep_alive)
    : RecordingServer(std::move(responder), host) {
    keep_alive_ = keep_alive;
}

RecordingServer::~RecordingServer() {
    stopping_ = true;
    thread_.join();
    for (std::thread& t : kept_) t.join();
    ::close(listen_fd_);
}

std::string RecordingServer::address() const {
    return host_ + ":" + std::to_string(port_);
}

std::vector<RecordedRequest> RecordingServer::requests() const {
    std::lock_guard g(mutex_);
    return requests_;
}

std::string RecordingServer::answer(int status, const std::string& body,
                                    const std::string& extra_headers) {
    return "HTTP/1.1 " + std::to_string(status) +
           " X\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" +
           extra_headers + "\r\n" + body;
}

std::string RecordingServer::kept_answer(int status, const std::string& body,
                                         const std::string& extra_headers) {
    return "HTTP/1.1 " + std::to_string(status) +
           " X\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra_headers +
           "\r\n" + body;
}

void RecordingServer::serve() {
    while (!stopping_) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++connections_;
        if (keep_alive_ && kept_.size() < 64) {
            kept_.emplace_back([this, fd] {
                serve_kept(fd);
                ::close(fd);
            });
            continue;
        }
        handle(fd);
        ::close(fd);
    }
}

namespace {

// The declared body length of a head that ends in its blank line (0 without one).
size_t declared_length(const std::string& head) {
    std::string lower = head;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t cl = lower.find("\r\ncontent-length:");
    return cl == std::string::npos ? 0 : std::strtoul(lower.c_str() + cl + 17, nullptr, 10);
}

// Sends all of out; false when the peer went away first.
bool send_all(int fd, const std::string& out) {
    size_t off = 0;
    while (off < out.size()) {
        ssize_t n = ::send(fd, out.data() + off, out.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

void RecordingServer::handle(int fd) {
    std::string data;
    char buf[4096];
    RecordedRequest r;
    size_t head_end = std::string::npos;
    size_t want = 0;
    for (int rounds = 0; rounds < 2000; ++rounds) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0) break;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        data.append(buf, static_cast<size_t>(n));
        if (head_end == std::string::npos) {
            head_end = data.find("\r\n\r\n");
            if (head_end == std::string::npos) continue;
            head_end += 4;
            want = declared_length(data.substr(0, head_end));
        }
        if (data.size() >= head_end + want) break;
    }
    if (head_end == std::string::npos) return;
    r.head = data.substr(0, head_end);
    r.body = data.substr(head_end);
    {
        std::lock_guard g(mutex_);
        requests_.push_back(r);
    }
    send_all(fd, responder_(r));
}

void RecordingServer::serve_kept(int fd) {
    std::string data;
    char buf[4096];
    for (int served = 0; served < 100 && !stopping_; ++served) {
        RecordedRequest r;
        size_t head_end = std::string::npos;
        size_t want = 0;
        for (int rounds = 0; rounds < 2000; ++rounds) {
            if (head_end == std::string::npos) {
                head_end = data.find("\r\n\r\n");
                if (head_end != std::string::npos) {
                    head_end += 4;
                    want = declared_length(data.substr(0, head_end));
                }
            }
            if (head_end != std::string::npos && data.size() >= head_end + want) break;
            // Quiet for 2 s, or the server stopping, ends the connection.
            bool readable = false;
            for (int waits = 0; waits < 40 && !readable && !stopping_; ++waits) {
                pollfd p{fd, POLLIN, 0};
                readable = ::poll(&p, 1, 50) > 0;
            }
            if (!readable) return;
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return;
            data.append(buf, static_cast<size_t>(n));
        }
        if (head_end == std::string::npos || data.size() < head_end + want) return;
        r.head = data.substr(0, head_end);
        r.body = data.substr(head_end, want);
        data.erase(0, head_end + want);
        {
            std::lock_guard g(mutex_);
            requests_.push_back(r);
        }
        std::string out = responder_(r);
        if (!send_all(fd, out)) return;
        std::string head = out.substr(0, out.find("\r\n\r\n") + 2);
        if (out.empty() || head.find("\r\nConnection: close\r\n") != std::string::npos) return;
    }
}

}  // namespace qorvel::test
