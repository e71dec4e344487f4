#include "support/engine_peers.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qorvel::test {

namespace fs = std::filesystem;

NginxPeer::NginxPeer(const fs::path& root) {
    const char* binary = "/usr/sbin/nginx";
    if (!fs::exists(binary)) {
        error_ = "nginx is not installed (/usr/sbin/nginx); run scripts/bootstrap.sh";
        return;
    }
    port_ = free_port();
    fs::create_directories(dir_.path() / "logs");
    std::string conf =
        "daemon off;\n"
        "master_process off;\n"
        "worker_processes 1;\n"
        "pid " +
        (dir_.path() / "nginx.pid").string() +
        ";\n"
        "error_log " +
        (dir_.path() / "logs/error.log").string() +
        ";\n"
        "events { worker_connections 256; }\n"
        "http {\n"
        "  access_log off;\n"
        "  sendfile on;\n"
        "  tcp_nopush on;\n"
        "  default_type application/octet-stream;\n"
        "  client_body_temp_path " +
        (dir_.path() / "body").string() +
        ";\n"
        "  proxy_temp_path " +
        (dir_.path() / "proxy").string() +
        ";\n"
        "  fastcgi_temp_path " +
        (dir_.path() / "fastcgi").string() +
        ";\n"
        "  uwsgi_temp_path " +
        (dir_.path() / "uwsgi").string() +
        ";\n"
        "  scgi_temp_path " +
        (dir_.path() / "scgi").string() +
        ";\n"
        "  server {\n"
        "    listen 127.0.0.1:" +
        std::to_string(port_) +
        ";\n"
        "    root " +
        fs::absolute(root).string() +
        ";\n"
        "    location /moved/ { rewrite ^/moved/(.*)$ /$1 redirect; }\n"
        "  }\n"
        "}\n";
    write_file(dir_.path() / "nginx.conf", conf);
    process_ = ChildProcess(
        {binary, "-p", dir_.path().string(), "-c", (dir_.path() / "nginx.conf").string()},
        (dir_.path() / "logs/stdout.log").string());
    if (!wait_for_port("127.0.0.1", port_, std::chrono::seconds(10)))
        error_ = "nginx did not start: " + read_file(dir_.path() / "logs/error.log");
}

NginxPeer::~NginxPeer() {
    if (process_.pid() > 0) process_.stop();
}

std::string NginxPeer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

fs::path PureFtpdPeer::home() {
    passwd* pw = getpwnam("ftp");
    return pw && pw->pw_dir ? fs::path(pw->pw_dir) : fs::path("/srv/ftp");
}

PureFtpdPeer::PureFtpdPeer() {
    const char* binary = "/usr/sbin/pure-ftpd";
    if (!fs::exists(binary)) {
        error_ = "pure-ftpd is not installed (/usr/sbin/pure-ftpd); run scripts/bootstrap.sh";
        return;
    }
    passwd* pw = getpwnam("ftp");
    if (!pw) {
        error_ = "system user 'ftp' is missing; run scripts/bootstrap.sh";
        return;
    }
    fs::path h = home();
    struct stat st {};
    if (::stat(h.c_str(), &st) != 0) {
        error_ = "home of user ftp (" + h.string() + ") is missing; run scripts/bootstrap.sh";
        return;
    }
    // Anonymous uploads need a home the ftp user may write into.
    if (st.st_uid != pw->pw_uid && ::chown(h.c_str(), pw->pw_uid, static_cast<gid_t>(-1)) != 0) {
        error_ =
            "cannot give " + h.string() + " to user ftp (tests need root): " + std::strerror(errno);
        return;
    }
    port_ = free_port();
    int low = passive_low();
    process_ = ChildProcess({binary, "-S", "127.0.0.1," + std::to_string(port_), "-e", "-A", "-H",
                             "-p", std::to_string(low) + ":" + std::to_string(low + 9), "-g",
                             (dir_.path() / "pure-ftpd.pid").string()},
                            (dir_.path() / "pure-ftpd.log").string());
    if (!wait_for_port("127.0.0.1", port_, std::chrono::seconds(10)))
        error_ = "pure-ftpd did not start: " + read_file(dir_.path() / "pure-ftpd.log");
}

PureFtpdPeer::~PureFtpdPeer() {
    if (process_.pid() > 0) process_.stop();
}

int PureFtpdPeer::passive_low() {
    return 20000 + static_cast<int>(getpid() % 1200) * 10;
}

std::string PureFtpdPeer::url(const std::string& name) const {
    return "ftp://127.0.0.1:" + std::to_string(port_) + "/" + name;
}

int listen_loopback(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        return -1;
    }
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

int connect_loopback(const std::string& host, int port, const std::string& source) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (!source.empty()) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, source.c_str(), &from.sin_addr);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
            ::close(fd);
            return -1;
        }
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, host.c_str(), &a.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

ScriptedServer::ScriptedServer(Handler handler) : handler_(std::move(handler)) {
    listen_fd_ = listen_loopback(port_);
    acceptor_ = std::thread([this] {
        // Bounded: at most 64 connections per server.
        while (!stop_ && count_ < 64) {
            pollfd p{listen_fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            int index = count_++;
            workers_.emplace_back([this, fd, index] { handler_(fd, index); });
        }
    });
}

ScriptedServer::~ScriptedServer() {
    stop_ = true;
    acceptor_.join();
    for (auto& w : workers_) w.join();
    ::close(listen_fd_);
}

std::string read_until(int fd, const std::string& marker, int timeout_ms) {
    std::string got;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (got.find(marker) == std::string::npos && got.size() < (1 << 20)) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        until - std::chrono::steady_clock::now())
                                        .count());
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, left) <= 0) break;
        char buf[4096];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

bool write_all(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::size_t trickle(int fd, const std::string& bytes, int pause_ms) {
    std::size_t sent = 0;
    for (char c : bytes) {
        if (::send(fd, &c, 1, MSG_NOSIGNAL) != 1) break;
        ++sent;
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
    }
    return sent;
}

namespace {
// Everything a data connection brings until it closes (bounded by time-outs).
std::string drain(int fd) {
    std::string all;
    for (;;) {
        std::string piece = read_until(fd, std::string("\x01\x02never", 7), 3000);
        if (piece.empty()) break;
        all += piece;
    }
    return all;
}
}  // namespace

void FtpScript::run(int fd) {
    auto say = [&](const std::string& s) { write_all(fd, s + "\r\n"); };
    if (trickle_welcome_ms > 0) {
        std::string welcome = "220 " + std::string(200, 'w') + "\r\n";
        welcome_sent = trickle(fd, welcome, trickle_welcome_ms);
        if (welcome_sent < welcome.size()) {
            ::close(fd);
            return;
        }
    } else {
        say("220-Scripted\r\n220 ready");
    }
    int data_port = 0;
    int intruder_fd = -1;
    for (int turn = 0; turn < 40; ++turn) {
        std::string line = read_until(fd, "\r\n", 3000);
        if (line.empty()) break;
        line = line.substr(0, line.find("\r\n"));
        commands += line + "\n";
        if (line.rfind("USER", 0) == 0) {
            say("331 password please");
        } else if (line.rfind("PASS", 0) == 0) {
            say(refuse_login ? "530 Login incorrect" : "230 welcome");
        } else if (line == "REST 100") {
            say("502 no restart");
        } else if (line == "PASV") {
            if (dead_port == 0) {
                say("502 no passive mode");
            } else {
                say("227 Entering Passive Mode (127,0,0,1," + std::to_string(dead_port / 256) +
                    "," + std::to_string(dead_port % 256) + ")");
            }
        } else if (line.rfind("PORT ", 0) == 0) {
            unsigned v[6];
            std::sscanf(line.c_str() + 5, "%u,%u,%u,%u,%u,%u", &v[0], &v[1], &v[2], &v[3], &v[4],
                        &v[5]);
            data_port = static_cast<int>(v[4] * 256 + v[5]);
            // The third party is quicker than the server.
            if (!intruder.empty()) intruder_fd = connect_loopback("127.0.0.1", data_port, intruder);
            say("200 PORT ok");
        } else if (line.rfind("STOR", 0) == 0) {
            say("150 go ahead");
            int data = connect_loopback("127.0.0.1", data_port);
            if (intruder_fd >= 0) {
                intruder_received = drain(intruder_fd);
                ::close(intruder_fd);
                intruder_fd = -1;
            }
            if (data >= 0) {
                received = drain(data);
                ::close(data);
            }
            if (never_finish) {
                read_until(fd, std::string("\x01\x02never", 7), 10000);
                break;
            }
            say("226 done");
        } else if (line == "QUIT") {
            say("221 bye");
            break;
        } else {
            say("200 ok");
        }
    }
    if (intruder_fd >= 0) ::close(intruder_fd);
    ::close(fd);
}

std::string random_bytes(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(size, '\0');
    for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
    return s;
}

}  // namespace qorvel::test
