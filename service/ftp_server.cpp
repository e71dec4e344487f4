#include "ftp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <vector>

#include "net/text.h"
#include "store.h"

namespace qorvel::service {

namespace fs = std::filesystem;

std::string Incoming::key(std::string_view address, std::string_view remote_name) const {
    return md5_hex(std::string(address) + "\n" + std::string(remote_name));
}

fs::path Incoming::path_for(std::string_view address, std::string_view remote_name) const {
    return dir_ / key(address, remote_name);
}

bool Incoming::begin(std::string_view address, std::string_view remote_name) {
    std::lock_guard lock(mutex_);
    return writing_.insert(key(address, remote_name)).second;
}

void Incoming::end(std::string_view address, std::string_view remote_name) {
    std::string k = key(address, remote_name);
    struct stat st {};
    bool there = ::lstat((dir_ / k).c_str(), &st) == 0;
    std::lock_guard lock(mutex_);
    writing_.erase(k);
    hold_locked(k, address, there ? st.st_size : 0);
}

void Incoming::hold_locked(const std::string& k, std::string_view address, int64_t bytes) {
    auto it = held_.find(k);
    if (it != held_.end()) {
        auto total = per_address_bytes_.find(it->second.first);
        if (total != per_address_bytes_.end() && (total->second -= it->second.second) <= 0)
            per_address_bytes_.erase(total);
        held_.erase(it);
    }
    if (bytes <= 0) return;
    held_[k] = {std::string(address), bytes};
    per_address_bytes_[std::string(address)] += bytes;
}

bool Incoming::reserve(std::string_view address, std::string_view remote_name, int64_t bytes,
                       bool room) {
    std::string k = key(address, remote_name);
    std::lock_guard lock(mutex_);
    auto total = per_address_bytes_.find(address);
    int64_t others = total == per_address_bytes_.end() ? 0 : total->second;
    if (auto it = held_.find(k); it != held_.end()) others -= it->second.second;
    if (others + bytes > quota_ || (room && others + bytes >= quota_)) return false;
    hold_locked(k, address, bytes);
    return true;
}

bool Incoming::busy(std::string_view address, std::string_view remote_name) {
    std::lock_guard lock(mutex_);
    return writing_.count(key(address, remote_name)) > 0;
}

std::optional<fs::path> Incoming::waiting(std::string_view address, std::string_view remote_name) {
    fs::path path = path_for(address, remote_name);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    if (std::time(nullptr) - st.st_mtime > keep_s_) return std::nullopt;
    return path;
}

void Incoming::note_digest(std::string_view address, std::string_view remote_name, BlobInfo digest,
                           const struct stat& written) {
    std::lock_guard lock(mutex_);
    digests_[key(address, remote_name)] =
        Noted{std::move(digest), written.st_dev, written.st_ino, written.st_mtim};
}

void Incoming::forget_digest(std::string_view address, std::string_view remote_name) {
    std::lock_guard lock(mutex_);
    digests_.erase(key(address, remote_name));
}

std::optional<BlobInfo> Incoming::digest_of(std::string_view address,
                                            std::string_view remote_name) {
    std::string k = key(address, remote_name);
    std::lock_guard lock(mutex_);
    auto it = digests_.find(k);
    if (it == digests_.end()) return std::nullopt;
    const Noted& n = it->second;
    struct stat st {};
    if (::stat((dir_ / k).c_str(), &st) != 0 || st.st_dev != n.device || st.st_ino != n.inode ||
        st.st_size != n.digest.size || st.st_mtim.tv_sec != n.modified.tv_sec ||
        st.st_mtim.tv_nsec != n.modified.tv_nsec)
        return std::nullopt;
    return n.digest;
}

int Incoming::sweep() {
    std::lock_guard lock(mutex_);
    int removed = 0;
    std::error_code ec;
    auto now = std::time(nullptr);
    for (fs::directory_iterator it(dir_, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (writing_.count(name)) continue;
        struct stat st {};
        if (::stat(it->path().c_str(), &st) != 0 || now - st.st_mtime <= keep_s_) continue;
        std::error_code rm;
        if (fs::remove(it->path(), rm)) ++removed;
        digests_.erase(name);
        if (auto held = held_.find(name); held != held_.end())
            hold_locked(name, held->second.first, 0);
    }
    return removed;
}

namespace {

using Clock = std::chrono::steady_clock;

bool resolve_ipv4(const std::string& host, in_addr* out) {
    if (inet_pton(AF_INET, host.c_str(), out) == 1) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return false;
    *out = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
    freeaddrinfo(res);
    return true;
}

void send_all(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
}

class Connection {
  public:
    Connection(int fd, Incoming& incoming, const LoginCheck& check_login, const FtpLimits& limits,
               const std::atomic<bool>& stopping)
        : fd_(fd),
          incoming_(incoming),
          check_login_(check_login),
          limits_(limits),
          stopping_(stopping) {
        socklen_t len = sizeof local_;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&local_), &len);
        len = sizeof peer_;
        getpeername(fd_, reinterpret_cast<sockaddr*>(&peer_), &len);
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &peer_.sin_addr, text, sizeof text);
        address_ = text;
        login_deadline_ = Clock::now() + std::chrono::seconds(limits_.login_timeout_s);
    }
    ~Connection() {
        close_passive();
        ::close(fd_);
    }

    void run() {
        reply("220 Qorvel FTP service ready");
        while (!stopping_) {
            auto line = read_line();
            if (!line) return;
            if (!handle(*line)) return;
        }
        reply("421 Service shutting down");
    }

  private:
    void reply(std::string_view text) {
        std::string line(text);
        line += "\r\n";
        send_all(fd_, line);
    }

    // One command line; nullopt on close, time-out, stop or an over-long line.
    std::optional<std::string> read_line() {
        auto deadline = Clock::now() + std::chrono::seconds(limits_.idle_timeout_s);
        // Until a login is taken, the connection has only a few seconds in all.
        if (!logged_in_) deadline = std::min(deadline, login_deadline_);
        for (;;) {
            size_t nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return line;
            }
            if (buffer_.size() > 4096) {
                reply("500 Command line too long");
                return std::nullopt;
            }
            if (stopping_ || Clock::now() > deadline) {
                if (!stopping_) reply(logged_in_ ? "421 Idle time-out" : "421 Login time-out");
                return std::nullopt;
            }
            pollfd p{fd_, POLLIN, 0};
            int r = ::poll(&p, 1, 250);
            if (r < 0 && errno != EINTR) return std::nullopt;
            if (r <= 0) continue;
            char buf[2048];
            ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) return std::nullopt;
            buffer_.append(buf, static_cast<size_t>(n));
        }
    }

    bool handle(const std::string& line) {
        size_t sp = line.find(' ');
        std::string verb = text_upper(line.substr(0, sp));
        std::string arg = sp == std::string::npos ? std::string() : line.substr(sp + 1);
        if (verb == "QUIT") {
            reply("221 Goodbye");
            return false;
        }
        if (verb == "USER") {
            user_ = arg;
            logged_in_ = false;
            reply("331 Send your password");
            return true;
        }
        if (verb == "PASS") {
            if (user_.empty()) {
                reply("503 Send USER first");
            } else if (user_ == "anonymous" || user_ == "ftp" ||
                       check_login_(user_, arg, address_)) {
                logged_in_ = true;
                reply("230 Logged in");
            } else {
                reply("530 Login incorrect");
            }
            return true;
        }
        if (verb == "NOOP") return reply("200 OK"), true;
        if (verb == "SYST") return reply("215 UNIX Type: L8"), true;
        if (verb == "FEAT") {
            send_all(fd_, "211-Features:\r\n SIZE\r\n REST STREAM\r\n PASV\r\n EPSV\r\n" +
                              (limits_.no_hash ? std::string() : " HASH " + hash_list() + "\r\n") +
                              "211 End\r\n");
            return true;
        }
        if (!logged_in_) {
            reply("530 Please log in with USER and PASS");
            return true;
        }
        if (verb == "PWD" || verb == "XPWD")
            return reply("257 \"/\" is the current directory"), true;
        if (verb == "CWD") {
            if (arg.empty() || arg == "/" || arg == ".") return reply("250 OK"), true;
            return reply("550 No such directory"), true;
        }
        if (verb == "TYPE") {
            std::string t = text_upper(arg);
            // Text mode is taken like binary: the client asks for it on files
            // whose bytes must arrive unchanged, so nothing is converted.
            if (t == "I" || t == "A" || t == "A N" || t == "L 8")
                return reply("200 Type set"), true;
            return reply("504 Type not supported"), true;
        }
        if (verb == "MODE")
            return reply(text_upper(arg) == "S" ? "200 OK" : "504 Mode not supported"), true;
        if (verb == "STRU")
            return reply(text_upper(arg) == "F" ? "200 OK" : "504 Structure not supported"), true;
        if (verb == "OPTS") return options(arg), true;
        if (verb == "ALLO") return reply("202 No storage allocation necessary"), true;
        if (verb == "REST") {
            if (arg.empty() || arg.size() > 15 ||
                arg.find_first_not_of("0123456789") != std::string::npos) {
                reply("501 Bad offset");
            } else {
                rest_ = std::stoll(arg);
                reply("350 Restarting at " + arg);
            }
            return true;
        }
        if (verb == "SIZE") {
            auto name = remote_name(arg);
            struct stat st {};
            if (!name || incoming_.busy(address_, *name) ||
                ::stat(incoming_.path_for(address_, *name).c_str(), &st) != 0) {
                reply("550 No such file");
            } else {
                reply("213 " + std::to_string(static_cast<long long>(st.st_size)));
            }
            return true;
        }
        if (verb == "PASV") return passive(false), true;
        if (verb == "EPSV") return passive(true), true;
        if (verb == "PORT") return active(arg), true;
        if (verb == "STOR") return store(arg), true;
        if (verb == "HASH" && !limits_.no_hash) return hash(arg), true;
        reply("502 Command not implemented");
        return true;
    }

    // The algorithms HASH knows, the selected one starred.
    std::string hash_list() const { return md5_selected_ ? "SHA-256;MD5*" : "SHA-256*;MD5"; }

    void options(const std::string& arg) {
        size_t sp = arg.find(' ');
        if (text_upper(arg.substr(0, sp)) != "HASH") return reply("200 OK");
        if (limits_.no_hash) return reply("501 Unknown option");
        if (sp == std::string::npos)
            return reply(std::string("200 ") + (md5_selected_ ? "MD5" : "SHA-256"));
        std::string name = text_upper(arg.substr(sp + 1));
        if (name == "MD5" || name == "SHA-256") {
            md5_selected_ = name == "MD5";
            return reply("200 " + name);
        }
        reply("504 Unknown algorithm");
    }

    // The selected digest of the address's waiting upload under that name:
    // the one taken as it arrived while the file is unchanged, otherwise
    // read from the file now (a resumed upload).
    void hash(const std::string& arg) {
        if (limits_.hash_fails) return reply("451 Hash unavailable");
        auto name = remote_name(arg);
        if (!name || incoming_.busy(address_, *name)) return reply("550 No such file");
        auto path = incoming_.waiting(address_, *name);
        if (!path) return reply("550 No such file");
        auto digest = incoming_.digest_of(address_, *name);
        if (!digest) digest = digest_of_file(*path);
        if (!digest) return reply("550 No such file");
        reply(std::string("213 ") + (md5_selected_ ? "MD5" : "SHA-256") + " 0-" +
              std::to_string(static_cast<long long>(digest->size)) + " " +
              (md5_selected_ ? digest->md5 : digest->sha256) + " " + *name);
    }

    // The remote name: leading slashes dropped; no sub-folders, no "." or "..".
    static std::optional<std::string> remote_name(std::string arg) {
        size_t start = arg.find_first_not_of('/');
        if (start == std::string::npos) return std::nullopt;
        arg.erase(0, start);
        if (arg.empty() || arg.size() > 1024 || arg == "." || arg == ".." ||
            arg.find('/') != std::string::npos || arg.find('\0') != std::string::npos)
            return std::nullopt;
        return arg;
    }

    void close_passive() {
        if (pasv_fd_ >= 0) ::close(pasv_fd_);
        pasv_fd_ = -1;
    }

    void passive(bool extended) {
        close_passive();
        has_port_ = false;
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr = local_;
        addr.sin_port = 0;
        socklen_t len = sizeof addr;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(fd, 1) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            if (fd >= 0) ::close(fd);
            reply("425 Cannot open data connection");
            return;
        }
        pasv_fd_ = fd;
        int port = ntohs(addr.sin_port);
        if (extended) {
            reply("229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)");
            return;
        }
        uint32_t ip = ntohl(addr.sin_addr.s_addr);
        reply("227 Entering Passive Mode (" + std::to_string(ip >> 24) + "," +
              std::to_string((ip >> 16) & 255) + "," + std::to_string((ip >> 8) & 255) + "," +
              std::to_string(ip & 255) + "," + std::to_string(port >> 8) + "," +
              std::to_string(port & 255) + ")");
    }

    void active(const std::string& arg) {
        int v[6];
        char tail = 0;
        if (std::sscanf(arg.c_str(), "%d,%d,%d,%d,%d,%d%c", &v[0], &v[1], &v[2], &v[3], &v[4],
                        &v[5], &tail) != 6) {
            reply("501 Bad PORT argument");
            return;
        }
        for (int x : v)
            if (x < 0 || x > 255) return reply("501 Bad PORT argument");
        uint32_t ip = (static_cast<uint32_t>(v[0]) << 24) | (static_cast<uint32_t>(v[1]) << 16) |
                      (static_cast<uint32_t>(v[2]) << 8) | static_cast<uint32_t>(v[3]);
        // Data goes only to the client itself, never to a third host.
        if (htonl(ip) != peer_.sin_addr.s_addr) return reply("500 PORT must name your own address");
        close_passive();
        port_addr_ = sockaddr_in{};
        port_addr_.sin_family = AF_INET;
        port_addr_.sin_addr.s_addr = htonl(ip);
        port_addr_.sin_port = htons(static_cast<uint16_t>(v[4] * 256 + v[5]));
        has_port_ = true;
        reply("200 PORT command successful");
    }

    bool wait_fd(int fd, short events, Clock::time_point deadline) {
        while (!stopping_ && Clock::now() < deadline) {
            pollfd p{fd, events, 0};
            int r = ::poll(&p, 1, 250);
            if (r > 0) return true;
            if (r < 0 && errno != EINTR) return false;
        }
        return false;
    }

    int open_data() {
        auto deadline = Clock::now() + std::chrono::seconds(limits_.data_timeout_s);
        if (pasv_fd_ >= 0) {
            int listener = pasv_fd_;
            pasv_fd_ = -1;
            int fd = -1;
            while (fd < 0 && wait_fd(listener, POLLIN, deadline)) {
                sockaddr_in from{};
                socklen_t len = sizeof from;
                int c = ::accept4(listener, reinterpret_cast<sockaddr*>(&from), &len, SOCK_CLOEXEC);
                if (c < 0) break;
                if (from.sin_addr.s_addr != peer_.sin_addr.s_addr) {
                    ::close(c);
                    continue;
                }
                fd = c;
            }
            ::close(listener);
            return fd;
        }
        if (has_port_) {
            has_port_ = false;
            int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (fd < 0) return -1;
            int r = ::connect(fd, reinterpret_cast<sockaddr*>(&port_addr_), sizeof port_addr_);
            if (r != 0 && errno != EINPROGRESS) {
                ::close(fd);
                return -1;
            }
            if (r != 0) {
                int err = 0;
                socklen_t len = sizeof err;
                if (!wait_fd(fd, POLLOUT, deadline) ||
                    getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
                    ::close(fd);
                    return -1;
                }
            }
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return fd;
        }
        return -1;
    }

    void store(const std::string& arg) {
        int64_t offset = rest_;
        rest_ = 0;
        auto name = remote_name(arg);
        if (!name) return reply("553 File name not allowed");
        if (pasv_fd_ < 0 && !has_port_) return reply("425 Use PASV or PORT first");
        if (!incoming_.begin(address_, *name)) {
            close_passive();
            has_port_ = false;
            return reply("450 File is being written by another upload");
        }
        struct Release {
            Incoming& in;
            std::string address, name;
            ~Release() { in.end(address, name); }
        } release{incoming_, address_, *name};

        // Whatever digest was taken of an earlier upload under this name ends here.
        incoming_.forget_digest(address_, *name);
        fs::path path = incoming_.path_for(address_, *name);
        auto refuse = [this](const char* text) {
            close_passive();
            has_port_ = false;
            reply(text);
        };
        // A refused resume leaves nothing behind, not even an empty file.
        struct stat before {};
        bool there = ::lstat(path.c_str(), &before) == 0 && S_ISREG(before.st_mode);
        if (offset > 0 && (!there || offset > before.st_size))
            return refuse("554 Restart offset beyond the file");
        if (!incoming_.reserve(address_, *name, offset, true))
            return refuse("552 Exceeded storage allocation for your address");
        int file = ::open(path.c_str(),
                          O_WRONLY | O_CLOEXEC | O_NOFOLLOW | (offset == 0 ? O_CREAT : 0), 0644);
        struct stat st {};
        if (file < 0 || ::fstat(file, &st) != 0 || offset > st.st_size) {
            if (file >= 0) ::close(file);
            return refuse(file < 0 ? "451 Cannot open file" : "554 Restart offset beyond the file");
        }
        if (::ftruncate(file, offset) != 0 || ::lseek(file, offset, SEEK_SET) != offset) {
            ::close(file);
            close_passive();
            has_port_ = false;
            return reply("451 Cannot write file");
        }
        reply("150 Opening data connection");
        int data = open_data();
        if (data < 0) {
            ::close(file);
            return reply("425 Cannot open data connection");
        }
        std::vector<char> buf(1 << 16);
        int64_t total = offset;
        std::string result = "226 Transfer complete";
        bool over_quota = false;
        // A whole upload is hashed as it arrives; a resumed one is hashed at registration.
        std::optional<ContentDigest> digest;
        if (offset == 0) digest.emplace();
        for (;;) {
            auto deadline = Clock::now() + std::chrono::seconds(limits_.data_timeout_s);
            if (!wait_fd(data, POLLIN, deadline)) {
                result = stopping_ ? "426 Service shutting down" : "426 Data connection timed out";
                break;
            }
            ssize_t n = ::recv(data, buf.data(), buf.size(), 0);
            if (n == 0) break;
            if (n < 0) {
                if (errno == EINTR) continue;
                result = "426 Data connection broken";
                break;
            }
            total += n;
            if (total > limits_.max_file_bytes) {
                result = "552 File too large";
                break;
            }
            if (!incoming_.reserve(address_, *name, total)) {
                result = "552 Exceeded storage allocation for your address";
                over_quota = true;
                break;
            }
            if (limits_.corrupt_stored && total - n == 0) buf[0] = static_cast<char>(buf[0] ^ 0x5a);
            const char* p = buf.data();
            size_t left = static_cast<size_t>(n);
            while (left > 0) {
                ssize_t w = ::write(file, p, left);
                if (w <= 0) {
                    if (w < 0 && errno == EINTR) continue;
                    break;
                }
                p += w;
                left -= static_cast<size_t>(w);
            }
            if (left > 0) {
                result = "452 Cannot write file";
                break;
            }
            if (digest) digest->update(buf.data(), static_cast<size_t>(n));
        }
        ::close(data);
        struct stat written {};
        if (digest && result.compare(0, 3, "226") == 0 && ::fstat(file, &written) == 0 &&
            written.st_size == total)
            incoming_.note_digest(address_, *name, digest->finish(), written);
        ::close(file);
        // What passed the quota is not kept; the release counts it gone.
        if (over_quota) ::unlink(path.c_str());
        reply(result);
    }

    int fd_;
    Incoming& incoming_;
    const LoginCheck& check_login_;
    const FtpLimits& limits_;
    const std::atomic<bool>& stopping_;
    sockaddr_in local_{};
    sockaddr_in peer_{};
    std::string address_;
    Clock::time_point login_deadline_;
    std::string buffer_;
    std::string user_;
    bool logged_in_ = false;
    int64_t rest_ = 0;
    int pasv_fd_ = -1;
    bool has_port_ = false;
    sockaddr_in port_addr_{};
    bool md5_selected_ = false;  // HASH answers SHA-256 until OPTS HASH MD5
};

}  // namespace

FtpServer::FtpServer(Incoming& incoming, LoginCheck check_login, FtpLimits limits)
    : incoming_(incoming), check_login_(std::move(check_login)), limits_(limits) {}

FtpServer::~FtpServer() {
    stop();
}

bool FtpServer::bind(const std::string& host, int port, std::string* error) {
    in_addr ip{};
    if (!resolve_ipv4(host, &ip)) {
        if (error) *error = "cannot resolve " + host;
        return false;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr = ip;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, 1024) != 0) {
        if (error) *error = std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    listen_fd_ = fd;
    return true;
}

void FtpServer::start() {
    acceptor_ = std::thread([this] { accept_loop(); });
}

void FtpServer::accept_loop() {
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::list<Worker> workers;
    auto next_sweep = Clock::now();
    while (!stopping_) {
        if (Clock::now() >= next_sweep) {
            incoming_.sweep();
            next_sweep = Clock::now() + std::chrono::seconds(30);
        }
        pollfd p{listen_fd_, POLLIN, 0};
        int r = ::poll(&p, 1, 250);
        for (auto it = workers.begin(); it != workers.end();) {
            if (*it->done) {
                it->thread.join();
                it = workers.erase(it);
            } else {
                ++it;
            }
        }
        if (r <= 0) continue;
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        int fd = ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
        if (fd < 0) continue;
        uint32_t address = peer.sin_addr.s_addr;
        if (active_ >= limits_.max_connections) {
            send_all(fd, "421 Too many connections\r\n");
            ::close(fd);
            continue;
        }
        {
            // One address cannot take every connection for itself.
            std::lock_guard lock(per_address_mutex_);
            int& mine = per_address_[address];
            if (mine >= limits_.max_per_address) {
                send_all(fd, "421 Too many connections from your address\r\n");
                ::close(fd);
                continue;
            }
            ++mine;
        }
        ++active_;
        auto done = std::make_shared<std::atomic<bool>>(false);
        workers.push_back({std::thread([this, fd, address, done] {
                               serve(fd, address);
                               --active_;
                               *done = true;
                           }),
                           done});
    }
    for (auto& w : workers) w.thread.join();
}

void FtpServer::serve(int fd, uint32_t address) {
    try {
        Connection(fd, incoming_, check_login_, limits_, stopping_).run();
    } catch (...) {
        // A connection ends on its own failure; the server goes on.
    }
    std::lock_guard lock(per_address_mutex_);
    if (--per_address_[address] <= 0) per_address_.erase(address);
}

void FtpServer::stop() {
    if (stopping_.exchange(true)) return;
    if (acceptor_.joinable()) acceptor_.join();
    if (listen_fd_ >= 0) ::close(listen_fd_);
    listen_fd_ = -1;
}

}  // namespace qorvel::service
