// One connection of an HTTP download: request, answer head, body into the file.
// An attempt runs its steps in order; each says whether to go on, retry or end.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <sys/stat.h>

#include "net/charset.h"
#include "transfer/engine/http_answer.h"
#include "transfer/engine/messages.h"
#include "transfer/engine/steps.h"
#include "transfer/engine/task.h"

namespace qorvel::engine {

namespace {

using Clock = std::chrono::steady_clock;

bool is_redirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Further partial names tried when the usual one is taken by a file not ours.
constexpr int kPartialNames = 16;

class HttpConnection {
  public:
    HttpConnection(std::shared_ptr<Task> t, Connection* c)
        : t_(std::move(t)),
          c_(c),
          p_(t_->param),
          s_(engine_settings()),
          head_(static_cast<std::size_t>(std::max(s_.receive_buffer, 1024))) {}

    void run() {
        int attempts = 0;
        int hops = 0;
        for (;;) {
            if (t_->stopping()) return;
            redirected_ = false;
            restarted_ = false;
            Step step = attempt();
            c_->socket.close();
            if (step == Step::done) {
                c_->ok = true;
                return;
            }
            if (step == Step::handed_back || step == Step::fatal || t_->stopping()) return;
            // A new version of the file asks for offset 0 at once; that request
            // cannot lead here again, so this never spins.
            if (restarted_) continue;
            if (redirected_) {
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
    Step attempt() {
        std::int64_t from = 0;
        if (part_finished(from)) return Step::done;
        {
            std::lock_guard lock(t_->mutex_);
            address_ = t_->address;
        }
        if (Step st = connect_with_messages(*t_, c_->socket, address_, p_.connect_timeout_ms());
            st != Step::done)
            return st;
        if (Step st = send_request(from); st != Step::done) return st;
        HttpHead h;
        if (Step st = read_head(h); st != Step::done) return st;
        if (is_redirect(h.status)) return follow(h.location);
        if (Step st = check_status(h, from); st != Step::done) return st;
        std::int64_t length = h.status == 206 ? h.range_total : h.length;
        if (h.chunked) length = -1;
        if (c_->segment < 0) {
            if (Step st = take_part(h, length); st != Step::done) return st;
        } else if (Step st = same_version(h, length, from); st != Step::done) {
            return st;
        }
        announce_part(from);
        return h.chunked ? receive_chunked() : receive_body();
    }

    // Where this connection's part continues; true when nothing is left.
    bool part_finished(std::int64_t& from) {
        std::lock_guard lock(t_->mutex_);
        generation_ = t_->generation;
        if (c_->segment < 0) return false;
        Segment& s = t_->segments[static_cast<std::size_t>(c_->segment)];
        if (s.complete()) return true;
        if (t_->length_unknown && s.received > 0) {
            // Without a length there is no range to ask for: start over.
            t_->rewind_bytes(s.received);
            c_->bytes -= s.received;
            s.received = 0;
            s.reserved = 0;
        }
        from = s.start + s.received;
        return false;
    }

    std::string port_text() const { return std::to_string(address_.port); }

    Step send_request(std::int64_t from) {
        std::string host = address_.host + (address_.port != 80 ? ":" + port_text() : "");
        std::string req = "GET " + address_.path + " HTTP/1.1\r\n";
        req += "Host: " + host + "\r\n";
        req += "Accept: */*\r\n";
        req += "Referer: http://" + host + "/\r\n";
        req += "User-Agent: Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n";
        if (from > 0) req += "Range: bytes=" + std::to_string(from) + "-\r\n";
        req += "Pragma: no-cache\r\n";
        req += "Cache-Control: no-cache\r\n";
        req += "Connection: close\r\n\r\n";
        if (c_->socket.send_all(req.data(), req.size(), p_.send_timeout_ms()) != IoStatus::ok) {
            t_->error(fill(msg::connect_failed(), {address_.host, port_text()}));
            return Step::retry;
        }
        return Step::done;
    }

    // The answer head must end within the buffer and within one receive time-out.
    Step read_head(HttpHead& h) {
        std::size_t have = 0, head_end = std::string::npos;
        auto deadline = Clock::now() + std::chrono::milliseconds(p_.receive_timeout_ms());
        while (head_end == std::string::npos) {
            if (have == head_.size()) {
                t_->error(msg::head_too_long());
                return Step::fatal;
            }
            std::size_t got = 0;
            IoStatus st =
                c_->socket.receive_until(head_.data() + have, head_.size() - have, got, deadline);
            if (st != IoStatus::ok) {
                if (t_->stopping()) return Step::fatal;
                t_->error(st == IoStatus::timeout
                              ? fill(msg::connect_timeout(), {address_.host, port_text()})
                              : msg::no_reply());
                return Step::retry;
            }
            std::size_t scan = have > 3 ? have - 3 : 0;
            have += got;
            head_end = std::string_view(head_.data(), have).find("\r\n\r\n", scan);
        }
        if (!parse_http_head(std::string_view(head_.data(), head_end + 2), h)) {
            t_->error(fill(msg::http_unsupported(), {"0"}));
            return Step::fatal;
        }
        body_at_ = head_end + 4;
        body_have_ = have;
        return Step::done;
    }

    Step follow(const std::string& location) {
        auto next = resolve_location(address_, location);
        if (!next || next->scheme != "http") {
            t_->error(msg::bad_url());
            return Step::fatal;
        }
        {
            std::lock_guard lock(t_->mutex_);
            t_->address = *next;
        }
        t_->message(fill(msg::redirected(), {address_text(*next)}));
        redirected_ = true;
        return Step::retry;
    }

    Step check_status(const HttpHead& h, std::int64_t from) {
        if (h.status == 400 || h.status == 403 || h.status == 404) {
            t_->error(msg::http_error());
            return Step::fatal;
        }
        if ((h.status != 200 && h.status != 206) ||
            (h.status == 206 && (h.range_start != from || h.range_total < 0))) {
            t_->error(fill(msg::http_unsupported(), {std::to_string(h.status)}));
            return Step::fatal;
        }
        return Step::done;
    }

    // A later answer must be the first answer's version of the file, and a
    // range must get its range. Otherwise the download starts over from 0
    // with one connection: two versions are never spliced, and a whole body
    // for a range is written from its start rather than trusted to match.
    Step same_version(const HttpHead& h, std::int64_t length, std::int64_t& from) {
        bool whole_for_range = from > 0 && h.status != 206;
        {
            std::lock_guard lock(t_->mutex_);
            // A restart by another connection has taken our part away.
            if (t_->generation != generation_) return Step::handed_back;
            // A record older than digests takes the first answer's.
            if (!t_->md5_known) {
                t_->md5 = h.md5;
                t_->md5_known = true;
            }
            bool same = (t_->length_unknown ? length < 0 : length == t_->total_length) &&
                        h.etag == t_->etag && h.last_modified == t_->last_modified &&
                        h.md5 == t_->md5;
            if (same && !whole_for_range) return Step::done;
        }
        if (whole_for_range) {
            t_->message(msg::restart_unsupported());
        } else {
            bool longer_or_shorter;
            {
                std::lock_guard lock(t_->mutex_);
                longer_or_shorter = length != t_->total_length;
            }
            t_->message(longer_or_shorter ? msg::length_changed() : msg::remote_file_changed());
        }
        if (Step st = restart(h, length); st != Step::done) return st;
        if (h.status == 206 && from > 0) {
            // This body begins at the old offset: ask for the new version from 0.
            restarted_ = true;
            return Step::retry;
        }
        from = 0;
        return Step::done;
    }

    // Drops every part received so far; this connection takes the whole file
    // of the given version. Waits until no piece of the old one is being written.
    Step restart(const HttpHead& h, std::int64_t length) {
        std::unique_lock gate(t_->write_gate);
        std::unique_lock lock(t_->mutex_);
        if (t_->generation != generation_) return Step::handed_back;
        c_->bytes -= t_->segments[static_cast<std::size_t>(c_->segment)].received;
        std::int64_t dropped = 0;
        for (auto& s : t_->segments) {
            dropped += s.received;
            s.end = s.start;
            s.received = 0;
            s.reserved = s.start;
        }
        Segment& mine = t_->segments[static_cast<std::size_t>(c_->segment)];
        mine.start = 0;
        mine.end = length;
        mine.reserved = 0;
        mine.owner = c_->id;
        t_->rewind_bytes(dropped);
        // The pieces start again from 0 after others: the file is read back.
        t_->stream.abandon();
        t_->total_length = length;
        t_->length_unknown = length < 0;
        t_->ranges_ok = false;
        t_->etag = h.etag;
        t_->last_modified = h.last_modified;
        t_->md5 = h.md5;
        t_->md5_known = true;
        generation_ = ++t_->generation;
        if (t_->file.resize(length)) return Step::done;
        lock.unlock();
        t_->error(msg::create_failed());
        return Step::fatal;
    }

    // The first connection creates the file and the segment table.
    Step take_part(const HttpHead& h, std::int64_t length) {
        if (!create_file(length)) return Step::fatal;
        // Only a digest to compare with is worth the hashing.
        if (!h.md5.empty()) t_->stream.begin();
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
            t_->etag = h.etag;
            t_->last_modified = h.last_modified;
            t_->md5 = h.md5;
            t_->md5_known = true;
            t_->file_ready = true;
            extra = t_->take_pending_extra();
        }
        for (int i = 0; i < extra; ++i) t_->post_open_connection();
        return Step::done;
    }

    void announce_part(std::int64_t from) {
        std::int64_t left;
        {
            std::lock_guard lock(t_->mutex_);
            const Segment& s = t_->segments[static_cast<std::size_t>(c_->segment)];
            left = s.end < 0 ? -1 : s.end - from;
        }
        t_->event(kEventPartBegins, left);
    }

    bool create_file(std::int64_t length) {
        std::string path;
        {
            std::lock_guard lock(t_->mutex_);
            path = t_->local_path;
        }
        int err = 0;
        // A name is taken when a file holds it. A partial name taken by a file
        // that is not ours (ours are always new) is left alone for another one.
        auto create = [&](const std::string& name) {
            std::lock_guard lock(t_->mutex_);
            struct stat st {};
            if (::lstat(text_to_path(name).c_str(), &st) == 0) return LocalFile::Created::exists;
            for (int n = 0; n < kPartialNames; ++n) {
                std::string partial = partial_candidate(name, n);
                struct stat held {};
                if (::lstat(text_to_path(partial).c_str(), &held) == 0) continue;
                if (t_->param.partial_chosen) t_->param.partial_chosen(partial);
                auto r = t_->file.create_new(text_to_path(partial), length);
                if (r == LocalFile::Created::exists) continue;
                if (r == LocalFile::Created::ok) {
                    t_->local_path = name;
                    t_->partial_path = partial;
                } else {
                    err = t_->file.error();
                }
                return r;
            }
            err = EEXIST;
            return LocalFile::Created::error;
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
                r = chosen.empty() ? LocalFile::Created::exists : create(chosen);
                if (r == LocalFile::Created::exists) err = EEXIST;
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
            t_->error(file_error_text(err, path));
            return false;
        }
        return true;
    }

    enum class Claim { piece, part_done, no_room, dropped };
    // Claims the next piece of the part: its offset and size.
    Claim claim(std::int64_t& pos, std::int64_t& want, std::int64_t limit) {
        std::lock_guard lock(t_->mutex_);
        if (t_->generation != generation_) return Claim::dropped;
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

    enum class Stored { ok, failed, dropped };
    // Writes a claimed piece and counts it, unless a restart dropped the part
    // meanwhile: then the piece belongs to the old version and is not written.
    Stored store(std::int64_t pos, const char* bytes, std::size_t size) {
        std::shared_lock gate(t_->write_gate);
        {
            std::lock_guard lock(t_->mutex_);
            if (t_->generation != generation_) return Stored::dropped;
        }
        if (!t_->file.write_at(pos, bytes, size)) return Stored::failed;
        t_->stream.feed(pos, bytes, size);
        auto got = static_cast<std::int64_t>(size);
        {
            std::lock_guard lock(t_->mutex_);
            t_->segments[static_cast<std::size_t>(c_->segment)].received += got;
        }
        t_->add_bytes(got);
        c_->bytes += got;
        return Stored::ok;
    }

    // Keeps the rate limit after a piece.
    void account(std::int64_t got) {
        if (p_.rate_limit > 0) {
            window_bytes_ += got;
            if (window_bytes_ >= t_->rate_share()) {
                auto spent = Clock::now() - window_start_;
                if (spent < std::chrono::seconds(1))
                    t_->pause(
                        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
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
        t_->error(st == IoStatus::timeout
                      ? fill(msg::connect_timeout(), {address_.host, port_text()})
                      : msg::connection_lost());
        return Step::retry;
    }

    // The length is known, or the body ends when the server closes.
    Step receive_body() {
        window_start_ = Clock::now();
        window_bytes_ = 0;
        for (;;) {
            if (t_->stopping()) return Step::fatal;
            std::int64_t pos = 0, want = 0;
            std::size_t leftover = body_have_ - body_at_;
            Claim cl =
                claim(pos, want, leftover ? static_cast<std::int64_t>(leftover) : piece_limit());
            if (cl == Claim::part_done) break;
            if (cl == Claim::no_room) return no_room();
            if (cl == Claim::dropped) return Step::handed_back;
            std::size_t got = 0;
            Stored stored = Stored::ok;
            if (leftover) {
                got = static_cast<std::size_t>(want);
                stored = store(pos, head_.data() + body_at_, got);
                body_at_ += got;
                if (want < static_cast<std::int64_t>(leftover))
                    body_at_ = body_have_;  // past our part
            } else {
                if (buffer_.size() < static_cast<std::size_t>(want))
                    buffer_.resize(static_cast<std::size_t>(want));
                IoStatus st = c_->socket.receive(buffer_.data(), static_cast<std::size_t>(want),
                                                 got, p_.receive_timeout_ms());
                if (st == IoStatus::ok) stored = store(pos, buffer_.data(), got);
                // A close ends a body of unknown length, unless it is our own stop.
                if (st == IoStatus::closed && !t_->stopping()) {
                    std::lock_guard lock(t_->mutex_);
                    if (t_->generation != generation_) return Step::handed_back;
                    if (t_->length_unknown) {
                        finish_unknown_length();
                        return Step::done;
                    }
                }
                if (st != IoStatus::ok) return lost(st);
            }
            if (stored == Stored::failed) return no_room();
            if (stored == Stored::dropped) return Step::handed_back;
            account(static_cast<std::int64_t>(got));
        }
        return Step::done;
    }

    // Writes a run of chunk data at the part's end, piece by piece.
    bool write_chunk_data(const char* data, std::size_t size) {
        while (size > 0) {
            if (t_->stopping()) return false;
            std::int64_t pos = 0, want = 0;
            Claim cl = claim(
                pos, want, std::min<std::int64_t>(static_cast<std::int64_t>(size), piece_limit()));
            Stored stored = cl == Claim::piece ? store(pos, data, static_cast<std::size_t>(want))
                            : cl == Claim::dropped ? Stored::dropped
                                                   : Stored::failed;
            if (stored != Stored::ok) {
                (stored == Stored::dropped ? dropped_ : write_failed_) = true;
                return false;
            }
            account(want);
            data += want;
            size -= static_cast<std::size_t>(want);
        }
        return true;
    }

    Step receive_chunked() {
        window_start_ = Clock::now();
        window_bytes_ = 0;
        ChunkedDecoder decoder;
        auto sink = [this](const char* d, std::size_t n) { return write_chunk_data(d, n); };
        for (;;) {
            body_at_ += decoder.feed(head_.data() + body_at_, body_have_ - body_at_, sink);
            if (write_failed_) return no_room();
            if (dropped_) return Step::handed_back;
            if (t_->stopping()) return Step::fatal;
            if (decoder.state() == ChunkedDecoder::State::done) {
                std::lock_guard lock(t_->mutex_);
                if (t_->generation != generation_) return Step::handed_back;
                finish_unknown_length();
                return Step::done;
            }
            if (decoder.state() == ChunkedDecoder::State::error) return lost(IoStatus::error);
            body_at_ = body_have_ = 0;
            std::size_t got = 0;
            IoStatus st =
                c_->socket.receive(head_.data(), head_.size(), got, p_.receive_timeout_ms());
            if (st != IoStatus::ok) return lost(st);
            body_have_ = got;
        }
    }

    // The body has ended: the length is what arrived. Called under the task's lock.
    void finish_unknown_length() {
        Segment& s = t_->segments[static_cast<std::size_t>(c_->segment)];
        t_->total_length = s.received;
        s.end = s.received;
        t_->file.set_final_length(s.received);
    }

    std::shared_ptr<Task> t_;
    Connection* c_;
    const TaskParam& p_;
    EngineSettings s_;
    std::vector<char> head_;    // the answer head, then the body as it arrives
    std::vector<char> buffer_;  // one piece of the body on its way to the file
    std::size_t body_at_ = 0, body_have_ = 0;
    Address address_;
    bool redirected_ = false;
    bool restarted_ = false;  // a new version wants its body from offset 0
    bool write_failed_ = false;
    bool dropped_ = false;  // a restart took this connection's part away
    int generation_ = 0;    // the task's restarts this connection knows of
    Clock::time_point window_start_;
    std::int64_t window_bytes_ = 0;
};

}  // namespace

void http_connection_main(std::shared_ptr<Task> task, Connection* c) {
    HttpConnection(std::move(task), c).run();
}

}  // namespace qorvel::engine
