// The sending thread of an FTP upload: control dialogue, data channel, file.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "net/charset.h"
#include "transfer/engine/messages.h"
#include "transfer/engine/task.h"

namespace qorvel::engine {

namespace {

using Clock = std::chrono::steady_clock;

enum class Step { done, retry, fatal };

constexpr std::size_t kMaxReply = 64 * 1024;

std::string lower(std::string s) {
    for (auto& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

std::string file_name_of(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Binary unless the type says text, or the extension is outside file_types.
bool binary_mode(const TaskParam& p) {
    if (p.transfer_type == 1) return true;
    if (p.transfer_type == 2) return false;
    std::string name = file_name_of(p.local_path);
    auto dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string ext = lower(name.substr(dot));
    std::string list = lower(p.file_types);
    std::size_t pos = 0;
    while (pos <= list.size()) {
        auto bar = list.find('|', pos);
        if (bar == std::string::npos) bar = list.size();
        if (list.compare(pos, bar - pos, ext) == 0) return true;
        pos = bar + 1;
    }
    return false;
}

class FtpSender {
public:
    FtpSender(std::shared_ptr<Task> t, Connection* c) : t_(std::move(t)), c_(c), p_(t_->param), s_(engine_settings()) {}

    ~FtpSender() {
        if (fd_ >= 0) ::close(fd_);
    }

    void run() {
        std::string name = file_name_of(t_->address.path);
        if (name.empty()) {
            t_->error(msg::bad_url());
            return;
        }
        remote_name_ = name;
        fd_ = ::open(text_to_path(p_.local_path).c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st{};
        if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
            t_->error(fill(msg::open_failed(), {p_.local_path}));
            return;
        }
        file_size_ = st.st_size;
        int attempts = 0;
        for (;;) {
            if (t_->stopping()) return;
            Step step = attempt();
            data_.close();
            listener_.close();
            c_->socket.close();
            if (step == Step::done) {
                c_->ok = true;
                return;
            }
            t_->rewind_bytes(sent_now_);
            c_->bytes -= sent_now_;
            sent_now_ = 0;
            if (step == Step::fatal || t_->stopping()) return;
            if (!t_->next_attempt(attempts, s_)) return;
        }
    }

private:
    std::string where() const { return t_->address.host + ":" + std::to_string(t_->address.port); }

    // One complete reply; code 0 when none arrived. The whole reply, however
    // many lines, must arrive within one receive time-out.
    int reply(std::string* text = nullptr) {
        std::string all;
        auto deadline = Clock::now() + std::chrono::milliseconds(p_.timeout_3);
        for (;;) {
            auto eol = buffer_.find("\r\n");
            if (eol == std::string::npos) eol = buffer_.find('\n');
            if (eol == std::string::npos) {
                if (buffer_.size() > kMaxReply) return 0;
                char chunk[4096];
                std::size_t got = 0;
                if (c_->socket.receive_until(chunk, sizeof chunk, got, deadline) != IoStatus::ok) return 0;
                buffer_.append(chunk, got);
                continue;
            }
            std::string line = buffer_.substr(0, eol);
            buffer_.erase(0, eol + (buffer_[eol] == '\r' ? 2 : 1));
            if (!line.empty() && line.back() == '\r') line.pop_back();
            all += line + "\n";
            if (all.size() > kMaxReply) return 0;
            // The last line of a reply is "DDD text"; "DDD-text" continues.
            if (line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                std::isdigit(static_cast<unsigned char>(line[1])) && std::isdigit(static_cast<unsigned char>(line[2])) &&
                (line.size() == 3 || line[3] == ' ')) {
                if (!first_line_code_.empty() && line.compare(0, 3, first_line_code_) != 0) continue;
                first_line_code_.clear();
                t_->message(line, 2);
                if (text) *text = line;
                return std::stoi(line.substr(0, 3));
            }
            if (line.size() >= 4 && line[3] == '-' && first_line_code_.empty()) first_line_code_ = line.substr(0, 3);
        }
    }

    bool command(const std::string& cmd, const std::string& shown = {}) {
        t_->message(shown.empty() ? cmd : shown, 1);
        std::string line = cmd + "\r\n";
        return c_->socket.send_all(line.data(), line.size(), p_.timeout_2) == IoStatus::ok;
    }

    int ask(const std::string& cmd, std::string* text = nullptr, const std::string& shown = {}) {
        if (!command(cmd, shown)) return 0;
        return reply(text);
    }

    Step connect_control() {
        const Address& a = t_->address;
        if (!is_dotted_address(a.host)) t_->message(fill(msg::resolving(), {a.host}));
        in_addr ip{};
        std::string port = std::to_string(a.port);
        if (!resolve_host(a.host, ip)) {
            t_->error(fill(msg::connect_failed(), {a.host, port}));
            return Step::retry;
        }
        t_->message(fill(msg::connecting(), {a.host, port}));
        IoStatus st = c_->socket.connect(ip, a.port, p_.timeout_1);
        if (st != IoStatus::ok) {
            if (t_->stopping()) return Step::fatal;
            t_->error(fill(st == IoStatus::timeout ? msg::connect_timeout() : msg::connect_failed(), {a.host, port}));
            return Step::retry;
        }
        t_->message(msg::awaiting_welcome());
        buffer_.clear();
        first_line_code_.clear();
        int code = reply();
        if (code < 200 || code >= 300) {
            t_->error(msg::no_welcome());
            return Step::retry;
        }
        return Step::done;
    }

    Step login() {
        std::string user = t_->address.user.empty() ? p_.user_name : t_->address.user;
        std::string pass = t_->address.user.empty() ? p_.password : t_->address.password;
        if (user.empty()) user = "anonymous";
        if (pass.empty()) pass = kAnonymousPassword;
        int code = ask("USER " + user);
        if (code == 331) code = ask("PASS " + pass, nullptr, "PASS ******");
        if (code != 230) {
            if (code == 0 && t_->stopping()) return Step::fatal;
            t_->error(msg::login_failed());
            return Step::retry;
        }
        t_->message(msg::logged_in());
        return Step::done;
    }

    // Data channel before STOR: passive connect, or a listener for active mode.
    Step open_data() {
        if (!active_mode_) {
            std::string text;
            int code = ask("PASV", &text);
            if (code == 0) return Step::retry;
            bool ok = false;
            unsigned v[6];
            auto open = text.find('(');
            const char* nums = open == std::string::npos ? nullptr : text.c_str() + open + 1;
            if (code == 227 && nums &&
                std::sscanf(nums, "%u,%u,%u,%u,%u,%u", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) == 6 &&
                v[0] < 256 && v[1] < 256 && v[2] < 256 && v[3] < 256 && v[4] < 256 && v[5] < 256) {
                // Connect only to the server we already talk to; an announced
                // foreign address would let the server aim us anywhere.
                in_addr peer{};
                int port = static_cast<int>(v[4] * 256 + v[5]);
                if (port > 0 && c_->socket.peer_address(peer)) ok = data_.connect(peer, port, p_.timeout_1) == IoStatus::ok;
            }
            if (ok) return Step::done;
            if (t_->stopping()) return Step::fatal;
            t_->message(msg::data_channel_error(), 0);
            t_->message(msg::trying_active());
            active_mode_ = true;
        }
        in_addr local{};
        if (!c_->socket.local_address(local) || !listener_.listen_on(local)) {
            t_->error(msg::active_failed());
            return Step::retry;
        }
        unsigned char* b = reinterpret_cast<unsigned char*>(&local.s_addr);
        int port = listener_.local_port();
        std::string cmd = "PORT " + std::to_string(b[0]) + "," + std::to_string(b[1]) + "," + std::to_string(b[2]) +
                          "," + std::to_string(b[3]) + "," + std::to_string(port / 256) + "," +
                          std::to_string(port % 256);
        if (ask(cmd) != 200) {
            t_->error(msg::active_failed());
            return Step::retry;
        }
        return Step::done;
    }

    Step attempt() {
        if (Step st = connect_control(); st != Step::done) return st;
        if (Step st = login(); st != Step::done) return st;

        std::int64_t offset = 0;
        std::int64_t remote_size = -1;
        int code = ask("REST 100");
        if (code == 0) return Step::retry;
        if (code == 350) {
            t_->message(msg::restart_supported());
            if (ask("REST 0") == 0) return Step::retry;
            std::string text;
            if (ask("SIZE " + remote_name_, &text) == 213 && text.size() > 4) remote_size = std::atoll(text.c_str() + 4);
        } else {
            t_->message(msg::restart_unsupported());
        }
        if (remote_size > 0) {
            int policy = p_.mode_flags & kPolicyMask;
            if (p_.mode_flags & kModeAskExisting)
                policy = t_->ask(kEventAskExistingRemote, remote_size, policy) & kPolicyMask;
            if (policy == kPolicyContinue && remote_size <= file_size_) offset = remote_size;
        }

        if (Step st = open_data(); st != Step::done) return st;
        if (ask(binary_mode(p_) ? "TYPE I" : "TYPE A") == 0) return Step::retry;
        code = ask("REST " + std::to_string(offset));
        if (code == 0) return Step::retry;
        if (code != 350) offset = 0;
        code = ask("STOR " + remote_name_);
        if (code != 125 && code != 150) {
            if (code == 0) return Step::retry;
            t_->error(msg::unsupported_reply());
            return Step::fatal;
        }
        if (active_mode_) {
            in_addr server{};
            if (!c_->socket.peer_address(server) || data_.accept_from(listener_, server, p_.timeout_1) != IoStatus::ok) {
                t_->error(msg::data_channel_error());
                return Step::retry;
            }
            listener_.close();
        }

        t_->message(msg::sending());
        t_->event(kEventPartBegins, file_size_ - offset);
        std::int64_t pos = offset;
        while (pos < file_size_) {
            if (t_->stopping()) return Step::fatal;
            std::int64_t piece = p_.rate_limit > 0 ? t_->rate_share() : p_.send_chunk;
            piece = std::min(piece, file_size_ - pos);
            auto began = Clock::now();
            if (data_.send_file(fd_, pos, static_cast<std::size_t>(piece), p_.timeout_2) != IoStatus::ok) {
                if (t_->stopping()) return Step::fatal;
                t_->error(msg::upload_broken());
                return Step::retry;
            }
            pos += piece;
            sent_now_ += piece;
            c_->bytes += piece;
            t_->add_bytes(piece);
            t_->event(kEventChunkSent, piece);
            if (p_.rate_limit > 0 && pos < file_size_) {
                auto spent = Clock::now() - began;
                if (spent < std::chrono::seconds(1))
                    t_->pause(static_cast<int>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::seconds(1) - spent).count()));
            }
        }
        data_.close();
        // Only the server's word that the file arrived counts as success.
        code = reply();
        if (code != 226 && code != 250) {
            if (t_->stopping()) return Step::fatal;
            t_->error(msg::upload_broken());
            return Step::retry;
        }
        {
            std::lock_guard lock(t_->mutex_);
            t_->upload_complete = true;
        }
        ask("QUIT");
        return Step::done;
    }

    std::shared_ptr<Task> t_;
    Connection* c_;
    const TaskParam& p_;
    EngineSettings s_;
    Socket data_;
    Socket listener_;
    std::string buffer_;
    std::string first_line_code_;
    std::string remote_name_;
    int fd_ = -1;
    std::int64_t file_size_ = 0;
    std::int64_t sent_now_ = 0;
    bool active_mode_ = false;
};

}  // namespace

void ftp_upload_main(std::shared_ptr<Task> task, Connection* c) { FtpSender(std::move(task), c).run(); }

}  // namespace qorvel::engine
