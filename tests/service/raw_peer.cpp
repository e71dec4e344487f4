#include "raw_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include "support/engine_peers.h"

namespace qorvel::test {

int connect_from(const std::string& host, int port, const std::string& source, int timeout_s) {
    int fd = connect_loopback(host, port, source);
    if (fd < 0) return -1;
    timeval tv{timeout_s, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    return fd;
}

std::string read_all(int fd) {
    std::string out;
    char buf[4096];
    for (;;) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
        if (out.size() > (1 << 20)) break;
    }
    return out;
}

std::string raw_exchange(const std::string& host, int port, const std::string& bytes,
                         bool half_close, const std::string& source) {
    int fd = connect_from(host, port, source, 2);
    if (fd < 0) return {};
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (half_close) ::shutdown(fd, SHUT_WR);
    std::string out = read_all(fd);
    ::close(fd);
    return out;
}

std::string http_from(const std::string& source, const std::string& host, int port,
                      const std::string& method, const std::string& target, const std::string& body,
                      const std::string& extra_headers) {
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: " + host +
                          "\r\nConnection: close\r\n" + extra_headers;
    if (method == "POST")
        request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\n";
    request += "\r\n" + body;
    return raw_exchange(host, port, request, false, source);
}

std::string body_of(const std::string& answer) {
    size_t end = answer.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

FtpControl::FtpControl(const std::string& host, int port, const std::string& source)
    : host_(host), source_(source) {
    fd_ = connect_from(host, port, source, 3);
}

FtpControl::~FtpControl() {
    if (fd_ >= 0) ::close(fd_);
}

std::string FtpControl::reply() {
    for (;;) {
        size_t nl = buf_.find("\r\n");
        if (nl != std::string::npos) {
            std::string line = buf_.substr(0, nl);
            buf_.erase(0, nl + 2);
            if (line.size() >= 4 && line[3] == '-') continue;  // multi-line reply
            return line;
        }
        char tmp[1024];
        ssize_t n = fd_ < 0 ? -1 : ::recv(fd_, tmp, sizeof tmp, 0);
        if (n <= 0) return {};
        buf_.append(tmp, static_cast<size_t>(n));
    }
}

std::string FtpControl::command(const std::string& line) {
    std::string data = line + "\r\n";
    if (fd_ >= 0) ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
    return reply();
}

std::string FtpControl::upload(const std::string& name, const std::string& bytes) {
    if (reply().substr(0, 3) != "220") return "no greeting";
    if (command("USER anonymous").substr(0, 3) != "331") return "USER refused";
    if (command("PASS test@example.com").substr(0, 3) != "230") return "PASS refused";
    std::string pasv = command("PASV");
    int v[6] = {};
    size_t open = pasv.find('(');
    if (open == std::string::npos || std::sscanf(pasv.c_str() + open, "(%d,%d,%d,%d,%d,%d)", &v[0],
                                                 &v[1], &v[2], &v[3], &v[4], &v[5]) != 6)
        return pasv;
    // The data connection comes from the same address as the control one.
    int data = connect_from(host_, v[4] * 256 + v[5], source_, 3);
    if (data < 0) return "no data connection";
    std::string started = command("STOR " + name);
    if (started.substr(0, 3) != "150") {
        ::close(data);
        return started;
    }
    ::send(data, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    ::close(data);
    return reply();
}

}  // namespace qorvel::test
