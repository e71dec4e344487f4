// The sending thread of an FTP upload: control dialogue, data channel, file.
// An attempt runs its steps in order; each says whether to go on, retry or end.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "net/charset.h"
#include "net/text.h"
#include "transfer/engine/ftp_reply.h"
#include "transfer/engine/local_file.h"
#include "transfer/engine/messages.h"
#include "transfer/engine/steps.h"
#include "transfer/engine/task.h"

namespace qorvel::engine {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxReply = 64 * 1024;

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
    std::string ext = text_lower(name.substr(dot));
    for (const std::string& listed : text_split(text_lower(p.file_types), "|"))
        if (listed == ext) return true;
    return false;
}

class FtpSender {
  public:
    FtpSender(std::shared_ptr<Task> t, Connection* c)
        : t_(std::move(t)), c_(c), p_(t_->param), s_(engine_settings()) {}

    ~FtpSender() {
        stop_hashing_ = true;
        if (hasher_.joinable()) hasher_.join();
        if (fd_ >= 0) ::close(fd_);
    }

    void run() {
        if (!open_file()) return;
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
    bool open_file() {
        remote_name_ = file_name_of(t_->address.path);
        if (remote_name_.empty()) {
            t_->error(msg::bad_url());
            return false;
        }
        fd_ = open_regular_file(text_to_path(p_.local_path));
        struct stat st {};
        if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
            t_->error(fill(msg::open_failed(), {p_.local_path}));
            return false;
        }
        file_size_ = st.st_size;
        opened_ = st;
        return true;
    }

    // A file written to while it was sent left the server with neither version.
    bool unchanged() const {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 && st.st_size == opened_.st_size &&
               st.st_mtim.tv_sec == opened_.st_mtim.tv_sec &&
               st.st_mtim.tv_nsec == opened_.st_mtim.tv_nsec;
    }
    Step changed() {
        t_->error(msg::file_changed());
        return Step::fatal;
    }

    Step attempt() {
        if (Step st = connect_control(); st != Step::done) return st;
        if (Step st = login(); st != Step::done) return st;
        std::int64_t offset = 0;
        if (Step st = choose_offset(offset); st != Step::done) return st;
        if (Step st = open_data(); st != Step::done) return st;
        if (Step st = store(offset); st != Step::done) return st;
        if (Step st = send_file(offset); st != Step::done) return st;
        return confirm();
    }

    // One complete reply; code 0 when none arrived. The whole reply, however
    // many lines, must arrive within one receive time-out.
    int reply(std::string* text = nullptr) {
        std::size_t taken = 0;
        auto deadline = Clock::now() + std::chrono::milliseconds(p_.receive_timeout_ms());
        std::string line;
        for (;;) {
            if (!take_line(buffer_, line)) {
                if (buffer_.size() > kMaxReply) return 0;
                char chunk[4096];
                std::size_t got = 0;
                if (c_->socket.receive_until(chunk, sizeof chunk, got, deadline) != IoStatus::ok)
                    return 0;
                buffer_.append(chunk, got);
                continue;
            }
            taken += line.size() + 1;
            if (taken > kMaxReply) return 0;
            if (int code = lines_.add(line); code != 0) {
                t_->message(line, 2);
                if (text) *text = line;
                return code;
            }
        }
    }

    bool command(const std::string& cmd, const std::string& shown = {}) {
        t_->message(shown.empty() ? cmd : shown, 1);
        std::string line = cmd + "\r\n";
        return c_->socket.send_all(line.data(), line.size(), p_.send_timeout_ms()) == IoStatus::ok;
    }

    int ask(const std::string& cmd, std::string* text = nullptr, const std::string& shown = {}) {
        if (!command(cmd, shown)) return 0;
        return reply(text);
    }

    Step connect_control() {
        if (Step st = connect_with_messages(*t_, c_->socket, t_->address, p_.connect_timeout_ms());
            st != Step::done)
            return st;
        t_->message(msg::awaiting_welcome());
        buffer_.clear();
        lines_.reset();
        int code = reply();
        if (code < 200 || code >= 300) {
            if (t_->stopping()) return Step::fatal;
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

    // Restart support, the remote file's size and the policy bits decide
    // where sending starts.
    Step choose_offset(std::int64_t& offset) {
        std::int64_t remote_size = -1;
        int code = ask("REST 100");
        if (code == 0) return Step::retry;
        if (code == 350) {
            t_->message(msg::restart_supported());
            if (ask("REST 0") == 0) return Step::retry;
            std::string text;
            if (ask("SIZE " + remote_name_, &text) == 213 && text.size() > 4)
                remote_size = std::atoll(text.c_str() + 4);
        } else {
            t_->message(msg::restart_unsupported());
        }
        if (remote_size > 0) {
            int policy = p_.mode_flags & kPolicyMask;
            if (p_.mode_flags & kModeAskExisting)
                policy = t_->ask(kEventAskExistingRemote, remote_size, policy) & kPolicyMask;
            if (policy == kPolicyContinue && remote_size <= file_size_) offset = remote_size;
        }
        return Step::done;
    }

    // Data channel before STOR: passive connect, or a listener for active mode.
    Step open_data() {
        if (!active_mode_) {
            std::string text;
            int code = ask("PASV", &text);
            if (code == 0) return Step::retry;
            // Connect only to the server we already talk to; an announced
            // foreign address would let the server aim us anywhere.
            int port = code == 227 ? parse_pasv_port(text) : 0;
            in_addr peer{};
            if (port > 0 && c_->socket.peer_address(peer) &&
                data_.connect(peer, port, p_.connect_timeout_ms()) == IoStatus::ok)
                return Step::done;
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
        std::string cmd = "PORT " + std::to_string(b[0]) + "," + std::to_string(b[1]) + "," +
                          std::to_string(b[2]) + "," + std::to_string(b[3]) + "," +
                          std::to_string(port / 256) + "," + std::to_string(port % 256);
        if (ask(cmd) != 200) {
            t_->error(msg::active_failed());
            return Step::retry;
        }
        return Step::done;
    }

    Step store(std::int64_t& offset) {
        if (ask(binary_mode(p_) ? "TYPE I" : "TYPE A") == 0) return Step::retry;
        int code = ask("REST " + std::to_string(offset));
        if (code == 0) return Step::retry;
        if (code != 350) offset = 0;
        code = ask("STOR " + remote_name_);
        if (code != 125 && code != 150) {
            if (code == 0) return Step::retry;
            t_->error(msg::unsupported_reply());
            return Step::fatal;
        }
        if (!active_mode_) return Step::done;
        // Only the server may bring the data connection.
        in_addr server{};
        if (!c_->socket.peer_address(server) ||
            data_.accept_from(listener_, server, p_.connect_timeout_ms()) != IoStatus::ok) {
            t_->error(msg::data_channel_error());
            return Step::retry;
        }
        listener_.close();
        return Step::done;
    }

    // The local file's MD5 is read beside the sending, once for all attempts,
    // so the server's digest can be checked as soon as it says the file arrived.
    void start_hashing() {
        if (hasher_.joinable()) return;
        hasher_ = std::thread([this] {
            local_md5_ =
                md5_hex_of(fd_, file_size_, [this] { return stop_hashing_ || t_->stopping(); });
        });
    }

    Step send_file(std::int64_t offset) {
        start_hashing();
        t_->message(msg::sending());
        t_->event(kEventPartBegins, file_size_ - offset);
        std::int64_t pos = offset;
        // Pieces of send_chunk would each leave as a small segment; corked, the
        // kernel sends full ones. A rate-limited upload sends as it goes.
        const bool corked = p_.rate_limit <= 0;
        if (corked) data_.set_cork(true);
        while (pos < file_size_) {
            if (t_->stopping()) return Step::fatal;
            std::int64_t piece = p_.rate_limit > 0 ? t_->rate_share() : p_.send_chunk;
            piece = std::min(piece, file_size_ - pos);
            auto began = Clock::now();
            if (data_.send_file(fd_, pos, static_cast<std::size_t>(piece), p_.send_timeout_ms()) !=
                IoStatus::ok) {
                if (t_->stopping()) return Step::fatal;
                if (!unchanged()) return changed();
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
                    t_->pause(
                        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                             std::chrono::seconds(1) - spent)
                                             .count()));
            }
        }
        if (corked) data_.set_cork(false);
        data_.close();
        return Step::done;
    }

    // Only the server's word that the file arrived counts as success.
    Step confirm() {
        int code = reply();
        if (code != 226 && code != 250) {
            if (t_->stopping()) return Step::fatal;
            t_->error(msg::upload_broken());
            return Step::retry;
        }
        if (!unchanged()) return changed();
        HashCheck check = check_stored();
        if (check == HashCheck::mismatched) {
            if (t_->stopping()) return Step::fatal;
            t_->error(msg::content_differs());
            ask("QUIT");
            return Step::fatal;
        }
        if (check == HashCheck::matched) t_->message(msg::content_verified());
        {
            std::lock_guard lock(t_->mutex_);
            t_->upload_complete = true;
            t_->upload_verified = check == HashCheck::matched;
            t_->upload_check = check == HashCheck::matched ? Outcome::Upload::verified
                               : no_hash_                  ? Outcome::Upload::server_has_no_hash
                                                           : Outcome::Upload::none;
        }
        ask("QUIT");
        return Step::done;
    }

    // The server's MD5 of what it stored against the local file's. A server
    // without the hash extension refuses and the upload stands as before.
    HashCheck check_stored() {
        if (hasher_.joinable()) hasher_.join();
        if (local_md5_.empty()) return HashCheck::unchecked;
        int code = ask("OPTS HASH MD5");
        // A permanent refusal: the server has no HASH, not just a failed check.
        no_hash_ = code >= 500 && code <= 504;
        if (code != 200) return HashCheck::unchecked;
        std::string text;
        code = ask("HASH " + remote_name_, &text);
        // Not the extension's answer: a server that takes any command, or knows no HASH.
        no_hash_ = (code >= 200 && code < 300 && code != 213) || (code >= 500 && code <= 504);
        return judge_hash_reply(code, text, file_size_, local_md5_);
    }

    std::shared_ptr<Task> t_;
    Connection* c_;
    const TaskParam& p_;
    EngineSettings s_;
    Socket data_;
    Socket listener_;
    std::string buffer_;
    FtpReplyLines lines_;
    std::string remote_name_;
    int fd_ = -1;
    struct stat opened_ {};  // the file as it was opened
    std::int64_t file_size_ = 0;
    std::int64_t sent_now_ = 0;
    bool active_mode_ = false;
    std::thread hasher_;
    std::atomic<bool> stop_hashing_{false};
    std::string local_md5_;  // written by hasher_, read after it is joined
    bool no_hash_ = false;   // OPTS HASH was refused for good
};

}  // namespace

void ftp_upload_main(std::shared_ptr<Task> task, Connection* c) {
    FtpSender(std::move(task), c).run();
}

}  // namespace qorvel::engine
