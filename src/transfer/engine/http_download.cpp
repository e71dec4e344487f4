// One connection of an HTTP download: request, answer head, body into the map.
#include <algorithm>
#include <chrono>
#include <cstring>

#include <sys/stat.h>

#include "net/charset.h"
#include "transfer/engine/messages.h"
#include "transfer/engine/task.h"

namespace qorvel::engine {

namespace {

using Clock = std::chrono::steady_clock;

struct Head {
    int status = 0;
    std::int64_t length = -1;
    std::int64_t range_start = -1;
    std::int64_t range_total = -1;
    bool accept_ranges = false;
    bool chunked = false;
    std::string location;
};

bool starts_with_nocase(const std::string& line, const char* name) {
    std::size_t n = std::strlen(name);
    return line.size() >= n && strncasecmp(line.data(), name, n) == 0;
}

std::string trimmed(const std::string& s) {
    auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::int64_t to_number(const std::string& s) {
    if (s.empty() || s.size() > 18) return -1;
    std::int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

bool parse_head(const std::string& text, Head& h) {
    std::size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        // A bare LF ends a line too, so it can never hide inside a value.
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string line = text.substr(pos, eol - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pos = eol + 1;
        if (first) {
            first = false;
            if (!starts_with_nocase(line, "HTTP/1.1 ") && !starts_with_nocase(line, "HTTP/1.0 ")) return false;
            std::string code = line.substr(9, 3);
            h.status = static_cast<int>(to_number(code));
            if (h.status < 100) return false;
            continue;
        }
        auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string value = trimmed(line.substr(colon + 1));
        if (starts_with_nocase(line, "Content-Length:")) {
            h.length = to_number(value);
        } else if (starts_with_nocase(line, "Content-Range:")) {
            // bytes START-END/TOTAL
            auto sp = value.find(' ');
            auto dash = value.find('-');
            auto slash = value.find('/');
            if (sp != std::string::npos && dash != std::string::npos && slash != std::string::npos && sp < dash) {
                h.range_start = to_number(value.substr(sp + 1, dash - sp - 1));
                h.range_total = to_number(value.substr(slash + 1));
            }
        } else if (starts_with_nocase(line, "Location:")) {
            h.location = value;
        } else if (starts_with_nocase(line, "Accept-Ranges:")) {
            h.accept_ranges = strncasecmp(value.c_str(), "bytes", 5) == 0;
        } else if (starts_with_nocase(line, "Transfer-Encoding:")) {
            h.chunked = strcasestr(value.c_str(), "chunked") != nullptr;
        }
    }
    return !first;
}

// "dir/name(n).ext" for the n-th automatic name; '/' and '.' never occur inside a GBK character.
std::string numbered_name(const std::string& path, int n) {
    auto slash = path.rfind('/');
    std::size_t name_at = slash == std::string::npos ? 0 : slash + 1;
    auto dot = path.rfind('.');
    if (dot == std::string::npos || dot <= name_at) dot = path.size();
    return path.substr(0, dot) + "(" + std::to_string(n) + ")" + path.substr(dot);
}

enum class Step { done, retry, fatal, handed_back };

class HttpConnection {
public:
    HttpConnection(std::shared_ptr<Task> t, Connection* c)
        : t_(std::move(t)), c_(c), p_(t_->param), s_(engine_settings()),
          head_(static_cast<std::size_t>(std::max(s_.receive_buffer, 1024))) {}

    void run() {
        int attempts = 0;
        int hops = 0;
        for (;;) {
            if (t_->stopping()) return;
            Step step = attempt(hops);
            c_->socket.close();
            if (step == Step::done) {
                c_->ok = true;
                return;
            }
            if (step == Step::handed_back) return;
            if (step == Step::fatal || t_->stopping()) return;
            if (redirected_) {
                redirected_ = false;
                if (++hops > s_.max_redirects) {
                    t_->error(msg::too_many_redirects());
                    return;
                }
                continue;
            }
            if (!t_->next_attempt(attempts, s_)) return;
        }
    }

private:
    std::string where() const { return host_ + ":" + std::to_string(port_); }

    Step connect() {
        Address a;
        {
            std::lock_guard lock(t_->mutex_);
            a = t_->address;
        }
        address_ = a;
        host_ = a.host;
        port_ = a.port;
        if (!is_dotted_address(a.host)) t_->message(fill(msg::resolving(), {a.host}));
        in_addr ip{};
        if (!resolve_host(a.host, ip)) {
            t_->error(fill(msg::connect_failed(), {host_, std::to_string(port_)}));
            return Step::retry;
        }
        t_->message(fill(msg::connecting(), {host_, std::to_string(port_)}));
        IoStatus st = c_->socket.connect(ip, a.port, p_.timeout_1);
        if (st != IoStatus::ok) {
            if (t_->stopping()) return Step::fatal;
            t_->error(fill(st == IoStatus::timeout ? msg::connect_timeout() : msg::connect_failed(),
                           {host_, std::to_string(port_)}));
            return Step::retry;
        }
        t_->message(fill(msg::connected(), {host_, std::to_string(port_)}));
        return Step::done;
    }

    Step attempt(int) {
        // Where this connection's part continues.
        std::int64_t from = 0;
        {
            std::lock_guard lock(t_->mutex_);
            if (c_->segment >= 0) {
                Segment& s = t_->segments[static_cast<std::size_t>(c_->segment)];
                if (s.complete()) return Step::done;
                if (t_->length_unknown && s.received > 0) {
                    // Without a length there is no range to ask for: start over.
                    t_->rewind_bytes(s.received);
                    c_->bytes -= s.received;
                    s.received = 0;
                    s.reserved = 0;
                }
                from = s.start + s.received;
            }
        }
        if (Step st = connect(); st != Step::done) return st;

        std::string host = address_.host + (address_.port != 80 ? ":" + std::to_string(address_.port) : "");
        std::string req = "GET " + address_.path + " HTTP/1.1\r\n";
        req += "Host: " + host + "\r\n";
        req += "Accept: */*\r\n";
        req += "Referer: http://" + host + "/\r\n";
        req += "User-Agent: Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n";
        if (from > 0) req += "Range: bytes=" + std::to_string(from) + "-\r\n";
        req += "Pragma: no-cache\r\n";
        req += "Cache-Control: no-cache\r\n";
        req += "Connection: close\r\n\r\n";
        if (c_->socket.send_all(req.data(), req.size(), p_.timeout_2) != IoStatus::ok) {
            t_->error(fill(msg::connect_failed(), {host_, std::to_string(port_)}));
            return Step::retry;
        }

        // The answer head must end within the buffer and within one receive time-out.
        std::size_t have = 0, head_end = std::string::npos;
        auto deadline = Clock::now() + std::chrono::milliseconds(p_.timeout_3);
        while (head_end == std::string::npos) {
            if (have == head_.size()) {
                t_->error(msg::head_too_long());
                return Step::fatal;
            }
            std::size_t got = 0;
            IoStatus st = c_->socket.receive_until(head_.data() + have, head_.size() - have, got, deadline);
            if (st != IoStatus::ok) {
                if (t_->stopping()) return Step::fatal;
                t_->error(st == IoStatus::timeout ? fill(msg::connect_timeout(), {host_, std::to_string(port_)})
                                                  : msg::no_reply());
                return Step::retry;
            }
            std::size_t scan = have > 3 ? have - 3 : 0;
            have += got;
            std::string_view view(head_.data(), have);
            head_end = view.find("\r\n\r\n", scan);
        }
        Head h;
        if (!parse_head(std::string(head_.data(), head_end + 2), h)) {
            t_->error(fill(msg::http_unsupported(), {"0"}));
            return Step::fatal;
        }
        if (h.status == 301 || h.status == 302 || h.status == 303 || h.status == 307 || h.status == 308) {
            auto next = resolve_location(address_, h.location);
            if (!next || next->scheme != "http") {
                t_->error(msg::bad_url());
                return Step::fatal;
            }
            std::string text = address_text(*next);
            {
                std::lock_guard lock(t_->mutex_);
                t_->address = *next;
            }
            t_->message(fill(msg::redirected(), {text}));
            redirected_ = true;
            return Step::retry;
        }
        if (h.status == 400 || h.status == 403 || h.status == 404) {
            t_->error(msg::http_error());
            return Step::fatal;
        }
        if (h.status != 200 && h.status != 206) {
            t_->error(fill(msg::http_unsupported(), {std::to_string(h.status)}));
            return Step::fatal;
        }
        if (h.status == 206 && (h.range_start != from || h.range_total < 0)) {
            t_->error(fill(msg::http_unsupported(), {std::to_string(h.status)}));
            return Step::fatal;
        }
        std::int64_t length = h.status == 206 ? h.range_total : h.length;
        if (h.chunked) length = -1;
        skip_ = 0;
        if (from > 0 && h.status != 206) {
            // A whole body for a range: ranges cannot be trusted any longer.
            bool same_file;
            {
                std::lock_guard lock(t_->mutex_);
                same_file = !t_->length_unknown && length == t_->total_length;
            }
            if (!same_file) {
                t_->error(msg::restart_unsupported());
                return Step::fatal;
            }
            t_->message(msg::restart_unsupported());
            if (hand_back_part()) return Step::handed_back;
            skip_ = from;  // read the file from its start, keeping only our part
        }

        bool changed = false;
        if (c_->segment < 0) {
            if (!create_file(length)) return Step::fatal;
            int extra = 0;
            {
                std::lock_guard lock(t_->mutex_);
                Segment s;
                s.end = length;
                s.owner = c_->id;
                t_->segments.push_back(s);
                c_->segment = 0;
                t_->total_length = length;
                t_->length_unknown = length < 0;
                t_->ranges_ok = length >= 0 && (h.accept_ranges || h.status == 206);
                t_->file_ready = true;
                extra = t_->take_pending_extra();
            }
            for (int i = 0; i < extra; ++i) t_->post_open_connection();
        } else {
            std::lock_guard lock(t_->mutex_);
            if (t_->length_unknown ? length >= 0 : length != t_->total_length) changed = true;
        }
        if (changed) {
            t_->error(msg::length_changed());
            return Step::fatal;
        }

        std::int64_t left;
        {
            std::lock_guard lock(t_->mutex_);
            const Segment& s = t_->segments[static_cast<std::size_t>(c_->segment)];
            left = s.end < 0 ? -1 : s.end - from;
        }
        t_->event(kEventPartBegins, left);
        body_at_ = head_end + 4;
        body_have_ = have;
        return h.chunked ? receive_chunked() : receive_body();
    }

    bool create_file(std::int64_t length) {
        std::string path;
        {
            std::lock_guard lock(t_->mutex_);
            path = t_->local_path;
        }
        // A name is taken when the finished file or a partial one holds it.
        auto create = [&](const std::string& name) {
            std::lock_guard lock(t_->mutex_);
            struct stat st{};
            if (::lstat(text_to_path(name).c_str(), &st) == 0) return LocalFile::Created::exists;
            auto r = t_->file.create_new(text_to_path(partial_name(name)), length);
            if (r == LocalFile::Created::ok) t_->local_path = name;
            return r;
        };
        auto r = create(path);
        if (r == LocalFile::Created::exists) {
            int answer = t_->ask(kEventLocalFileExists, 0, kExistsAutoRename);
            if (answer == kExistsGiveUp) {
                t_->error(msg::user_gave_up());
                return false;
            }
            if (answer == kExistsCallerRenamed) {
                std::string chosen;
                {
                    std::lock_guard lock(t_->mutex_);
                    chosen = t_->chosen_path;
                }
                t_->message(fill(msg::user_renamed(), {chosen}));
                r = chosen.empty() ? LocalFile::Created::error : create(chosen);
            } else {
                for (int n = 1; n <= 99 && r == LocalFile::Created::exists; ++n) {
                    std::string name = numbered_name(path, n);
                    r = create(name);
                    if (r == LocalFile::Created::ok) t_->message(fill(msg::auto_renamed(), {name}));
                }
                if (r == LocalFile::Created::exists) {
                    t_->error(msg::rename_exhausted());
                    return false;
                }
            }
        }
        if (r != LocalFile::Created::ok) {
            t_->error(msg::create_failed());
            return false;
        }
        return true;
    }

    enum class Claim { piece, part_done, no_room };
    // Claims the next piece of the part: its offset and size.
    Claim claim(std::int64_t& pos, std::int64_t& want, std::int64_t limit) {
        std::lock_guard lock(t_->mutex_);
        Segment& s = t_->segments[static_cast<std::size_t>(c_->segment)];
        pos = s.start + s.received;
        if (s.end >= 0 && pos >= s.end) return Claim::part_done;
        want = limit;
        if (s.end >= 0) want = std::min(want, s.end - pos);
        s.reserved = std::max(s.reserved, pos + want);
        if (s.end < 0 && !t_->file.reserve(pos + want)) return Claim::no_room;
        return Claim::piece;
    }

    Step no_room() {
        t_->error(msg::create_failed());
        return Step::fatal;
    }

    void account(std::int64_t got) {
        {
            std::lock_guard lock(t_->mutex_);
            t_->segments[static_cast<std::size_t>(c_->segment)].received += got;
        }
        t_->add_bytes(got);
        c_->bytes += got;
        if (p_.rate_limit > 0) {
            window_bytes_ += got;
            if (window_bytes_ >= t_->rate_share()) {
                auto spent = Clock::now() - window_start_;
                if (spent < std::chrono::seconds(1))
                    t_->pause(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                   std::chrono::seconds(1) - spent)
                                                   .count()));
                window_start_ = Clock::now();
                window_bytes_ = 0;
            }
        }
    }

    std::int64_t piece_limit() const {
        if (p_.rate_limit > 0) return std::max<std::int64_t>(1, t_->rate_share() - window_bytes_);
        return p_.receive_chunk;
    }

    Step lost(IoStatus st) {
        if (t_->stopping()) return Step::fatal;
        t_->error(st == IoStatus::timeout ? fill(msg::connect_timeout(), {host_, std::to_string(port_)})
                                          : msg::connection_lost());
        return Step::retry;
    }

    // Reads and drops the bytes before this connection's part.
    Step discard() {
        while (skip_ > 0) {
            if (t_->stopping()) return Step::fatal;
            std::size_t leftover = body_have_ - body_at_;
            if (leftover) {
                std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(skip_, static_cast<std::int64_t>(leftover)));
                body_at_ += n;
                skip_ -= static_cast<std::int64_t>(n);
                continue;
            }
            std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(skip_, p_.receive_chunk));
            if (buffer_.size() < want) buffer_.resize(want);
            std::size_t got = 0;
            IoStatus st = c_->socket.receive(buffer_.data(), want, got, p_.timeout_3);
            if (st != IoStatus::ok) return lost(st);
            skip_ -= static_cast<std::int64_t>(got);
        }
        return Step::done;
    }

    // Gives this connection's part to the connection that streams the part
    // before it, when there is one: the server sends whole bodies anyway, so
    // one connection reads on through both.
    bool hand_back_part() {
        std::lock_guard lock(t_->mutex_);
        t_->ranges_ok = false;
        Segment& mine = t_->segments[static_cast<std::size_t>(c_->segment)];
        for (auto& before : t_->segments) {
            if (&before == &mine || before.end != mine.start || before.owner < 0 || before.end <= before.start)
                continue;
            before.end = mine.end;
            t_->rewind_bytes(mine.received);
            c_->bytes -= mine.received;
            mine.end = mine.start;
            mine.received = 0;
            mine.reserved = mine.start;
            return true;
        }
        return false;
    }

    Step receive_body() {
        window_start_ = Clock::now();
        window_bytes_ = 0;
        if (Step st = discard(); st != Step::done) return st;
        for (;;) {
            if (t_->stopping()) return Step::fatal;
            std::int64_t pos = 0, want = 0;
            std::size_t leftover = body_have_ - body_at_;
            Claim cl = claim(pos, want, leftover ? static_cast<std::int64_t>(leftover) : piece_limit());
            if (cl == Claim::part_done) break;
            if (cl == Claim::no_room) return no_room();
            std::size_t got = 0;
            if (leftover) {
                if (!t_->file.write_at(pos, head_.data() + body_at_, static_cast<std::size_t>(want)))
                    return no_room();
                got = static_cast<std::size_t>(want);
                body_at_ += got;
                if (want < static_cast<std::int64_t>(leftover)) body_at_ = body_have_;  // past our part
            } else {
                if (buffer_.size() < static_cast<std::size_t>(want))
                    buffer_.resize(static_cast<std::size_t>(want));
                IoStatus st = c_->socket.receive(buffer_.data(), static_cast<std::size_t>(want), got,
                                                 p_.timeout_3);
                if (st == IoStatus::ok && !t_->file.write_at(pos, buffer_.data(), got))
                    return no_room();
                if (st == IoStatus::closed && t_->length_unknown && !t_->stopping()) {
                    std::lock_guard lock(t_->mutex_);
                    t_->total_length = pos;
                    t_->segments[static_cast<std::size_t>(c_->segment)].end = pos;
                    t_->file.set_final_length(pos);
                    return Step::done;
                }
                if (st != IoStatus::ok) return lost(st);
            }
            account(static_cast<std::int64_t>(got));
        }
        return Step::done;
    }

    // Reads more of the body into the head buffer; false on loss.
    IoStatus refill() {
        if (body_at_ > 0) {
            std::memmove(head_.data(), head_.data() + body_at_, body_have_ - body_at_);
            body_have_ -= body_at_;
            body_at_ = 0;
        }
        if (body_have_ == head_.size()) return IoStatus::error;
        std::size_t got = 0;
        IoStatus st = c_->socket.receive(head_.data() + body_have_, head_.size() - body_have_, got, p_.timeout_3);
        if (st == IoStatus::ok) body_have_ += got;
        return st;
    }

    Step receive_chunked() {
        window_start_ = Clock::now();
        window_bytes_ = 0;
        for (;;) {
            // Chunk size line.
            std::size_t eol;
            while ((eol = std::string_view(head_.data() + body_at_, body_have_ - body_at_).find("\r\n")) ==
                   std::string_view::npos) {
                if (IoStatus st = refill(); st != IoStatus::ok) return lost(st);
            }
            std::string line(head_.data() + body_at_, eol);
            body_at_ += eol + 2;
            std::int64_t size = 0;
            std::size_t digits = 0;
            for (char ch : line) {
                int v = (ch >= '0' && ch <= '9') ? ch - '0'
                        : (ch >= 'a' && ch <= 'f') ? ch - 'a' + 10
                        : (ch >= 'A' && ch <= 'F') ? ch - 'A' + 10
                                                   : -1;
                if (v < 0) break;
                if (++digits > 15) return lost(IoStatus::error);
                size = size * 16 + v;
            }
            if (digits == 0) return lost(IoStatus::error);
            if (size == 0) {
                std::lock_guard lock(t_->mutex_);
                Segment& s = t_->segments[static_cast<std::size_t>(c_->segment)];
                t_->total_length = s.received;
                s.end = s.received;
                t_->file.set_final_length(s.received);
                return Step::done;
            }
            while (size > 0) {
                if (t_->stopping()) return Step::fatal;
                if (body_at_ == body_have_)
                    if (IoStatus st = refill(); st != IoStatus::ok) return lost(st);
                std::int64_t pos = 0, want = 0;
                std::int64_t avail = static_cast<std::int64_t>(body_have_ - body_at_);
                Claim cl = claim(pos, want, std::min({size, avail, piece_limit()}));
                if (cl == Claim::no_room) return no_room();
                if (cl == Claim::part_done) return lost(IoStatus::error);
                if (!t_->file.write_at(pos, head_.data() + body_at_, static_cast<std::size_t>(want)))
                    return no_room();
                body_at_ += static_cast<std::size_t>(want);
                size -= want;
                account(want);
            }
            while (body_have_ - body_at_ < 2)
                if (IoStatus st = refill(); st != IoStatus::ok) return lost(st);
            body_at_ += 2;  // CRLF after the chunk data
        }
    }

    std::shared_ptr<Task> t_;
    Connection* c_;
    const TaskParam& p_;
    EngineSettings s_;
    std::vector<char> head_;
    std::vector<char> buffer_;  // one piece of the body on its way to the file
    std::size_t body_at_ = 0, body_have_ = 0;
    Address address_;
    std::string host_;
    int port_ = 0;
    bool redirected_ = false;
    std::int64_t skip_ = 0;  // bytes of a whole body before our part
    Clock::time_point window_start_;
    std::int64_t window_bytes_ = 0;
};

}  // namespace

void http_connection_main(std::shared_ptr<Task> task, Connection* c) { HttpConnection(std::move(task), c).run(); }

}  // namespace qorvel::engine
