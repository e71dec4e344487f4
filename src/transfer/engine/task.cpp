#include "transfer/engine/task.h"

#include <chrono>
#include <optional>
#include <sstream>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "net/charset.h"
#include "net/text.h"
#include "transfer/engine/messages.h"

namespace qorvel::engine {

namespace {

std::mutex g_settings_mutex;
EngineSettings g_settings;
std::atomic<TaskId> g_next_id{1};
// The slot whose task this control thread runs.
thread_local const Slot* t_control_slot = nullptr;

// A further connection only takes a part worth a new request.
constexpr std::int64_t kMinSplit = 256 * 1024;

std::string field(const std::string& s) {
    return std::to_string(s.size()) + ":" + s + "\n";
}

bool read_field(std::istream& in, std::string& out) {
    std::size_t n = 0;
    char colon = 0;
    if (!(in >> n) || !in.get(colon) || colon != ':' || n > (1u << 20)) return false;
    out.resize(n);
    if (n && !in.read(out.data(), static_cast<std::streamsize>(n))) return false;
    return in.get() == '\n';
}

std::optional<std::string> unhex_text(const std::string& hex) {
    auto digit = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    if (hex.size() % 2 != 0 || hex.size() > 64) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int hi = digit(hex[i]), lo = digit(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

// What a file name may hold on disk, in bytes.
constexpr std::size_t kNameMax = 255;

std::size_t disk_bytes(const std::string& name) {
    return text_to_path(name).native().size();
}

// Where each character of a GBK/GB18030 text begins.
std::vector<std::size_t> character_starts(const std::string& text) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < text.size();) {
        starts.push_back(i);
        auto c = static_cast<unsigned char>(text[i]);
        std::size_t n = 1;
        if (c >= 0x81 && c <= 0xfe && i + 1 < text.size()) {
            auto d = static_cast<unsigned char>(text[i + 1]);
            n = d >= 0x30 && d <= 0x39 ? 4 : 2;
        }
        i += n;
    }
    return starts;
}

std::uint32_t name_hash(const std::string& text) {
    std::uint32_t h = 2166136261u;
    for (char c : text) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    return h;
}

// Moves a finished file to its name, never over another file: 0 or errno.
int place_file(const std::filesystem::path& part, const std::string& name) {
    auto done = text_to_path(name);
    if (::renameat2(AT_FDCWD, part.c_str(), AT_FDCWD, done.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL) return errno;
    // A file system without RENAME_NOREPLACE: a hard link cannot replace either.
    if (::link(part.c_str(), done.c_str()) != 0) return errno;
    ::unlink(part.c_str());
    return 0;
}

}  // namespace

std::string partial_candidate(const std::string& local_path, int n) {
    std::string suffix = (n == 0 ? std::string() : "." + std::to_string(n)) + ".part";
    auto slash = local_path.rfind('/');
    std::size_t at = slash == std::string::npos ? 0 : slash + 1;
    std::string name = local_path.substr(at);
    if (disk_bytes(name + suffix) <= kNameMax) return local_path + suffix;
    // Too long with the suffix: whole characters of the name, then a hash of all of it.
    char hash[16];
    std::snprintf(hash, sizeof hash, "~%08x", static_cast<unsigned>(name_hash(name)));
    std::string tail = hash + suffix;
    auto starts = character_starts(name);
    std::size_t keep = name.size();
    for (std::size_t i = starts.size();
         i > 0 && disk_bytes(name.substr(0, keep) + tail) > kNameMax;)
        keep = starts[--i];
    return local_path.substr(0, at) + name.substr(0, keep) + tail;
}

std::string partial_name(const std::string& local_path) {
    return partial_candidate(local_path, 0);
}

// '/' and '.' never occur inside a GBK character.
std::string numbered_name(const std::string& path, int n) {
    auto slash = path.rfind('/');
    std::size_t name_at = slash == std::string::npos ? 0 : slash + 1;
    auto dot = path.rfind('.');
    if (dot == std::string::npos || dot <= name_at) dot = path.size();
    return path.substr(0, dot) + "(" + std::to_string(n) + ")" + path.substr(dot);
}

std::string file_error_text(int err, const std::string& path) {
    if (err == EEXIST) return msg::name_taken();
    return fill(msg::cannot_write(), {path, local_file_reason(err)});
}

EngineSettings engine_settings() {
    std::lock_guard lock(g_settings_mutex);
    return g_settings;
}

void set_engine_settings(const EngineSettings& settings) {
    std::lock_guard lock(g_settings_mutex);
    g_settings = settings;
}

std::string fill(const std::string& text_template, const std::vector<std::string>& values) {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < text_template.size(); ++i) {
        char c = text_template[i];
        if (c == '%' && i + 1 < text_template.size() &&
            (text_template[i + 1] == 's' || text_template[i + 1] == 'd') && next < values.size()) {
            out += values[next++];
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

Task::Task(TaskKind k, const TaskParam& p, const Address& a, std::shared_ptr<Slot> slot)
    : kind(k),
      param(p),
      address(a),
      local_path(p.local_path),
      slot_(std::move(slot)),
      id_(g_next_id++) {}

Task::~Task() {
    for (auto& c : connections_)
        if (c->thread.joinable()) c->thread.detach();
}

bool Task::launch(int first_connections) {
    {
        std::lock_guard lock(mutex_);
        if (kind == TaskKind::ftp) {
            queue_.push_back({ItemType::start_sending});
        } else {
            for (int i = 0; i < first_connections; ++i)
                queue_.push_back({ItemType::open_connection});
            if (first_connections == 0) {
                ending_ = true;
                queue_.push_back({ItemType::end});
            }
        }
    }
    try {
        std::thread([self = shared_from_this()] { self->run(); }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void Task::post(Item item) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(item));
    }
    cv_.notify_all();
}

void Task::post_open_connection() {
    post({ItemType::open_connection});
}
void Task::post_finish() {
    post({ItemType::finish});
}

void Task::message(const std::string& text, int level) {
    if (param.message_callback) post({ItemType::message, -1, text, level});
}

void Task::error(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        failure_ = text;
    }
    message(text, 3);
}

void Task::event(int code, std::int64_t value) {
    if (param.event_callback) post({ItemType::event, -1, {}, 0, code, value});
}

int Task::ask(int code, std::int64_t value, int fallback) {
    if (!param.event_callback) return fallback;
    auto answer = std::make_shared<std::promise<int>>();
    auto future = answer->get_future();
    post({ItemType::ask, -1, {}, 0, code, value, answer});
    return future.get();
}

void Task::note_progress() {
    std::lock_guard lock(progress_mutex_);
    std::int64_t done = bytes_done_.load();
    if (done > progress_mark_) {
        progress_mark_ = done;
        progress_at_ = std::chrono::steady_clock::now();
    }
}

bool Task::next_attempt(int& attempts, const EngineSettings& settings) {
    {
        std::lock_guard lock(progress_mutex_);
        std::int64_t done = bytes_done_.load();
        auto now = std::chrono::steady_clock::now();
        if (done > progress_mark_) {
            progress_mark_ = done;
            progress_at_ = now;
            attempts = 0;
        } else if (now - progress_at_ >= std::chrono::milliseconds(settings.stall_limit_ms)) {
            return false;
        }
    }
    if (++attempts >= settings.max_attempts) {
        error(msg::too_many_attempts());
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        retry_reason_ = failure_;
    }
    retry_attempt_.store(attempts);
    message(fill(msg::retry_in(), {std::to_string(settings.retry_wait_ms / 1000)}));
    return pause(settings.retry_wait_ms);
}

RetryState Task::retry_state() {
    RetryState r;
    r.attempt = retry_attempt_.load();
    if (r.attempt == 0) return r;
    std::lock_guard lock(mutex_);
    r.reason = retry_reason_;
    return r;
}

bool Task::pause(int ms) {
    std::unique_lock lock(mutex_);
    cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping_.load(); });
    return !stopping_.load();
}

int Task::rate_share() const {
    if (param.rate_limit <= 0) return 0;
    int active = active_.load();
    int share = param.rate_limit / (active > 0 ? active : 1);
    return share > 0 ? share : 1;
}

void Task::request_stop() {
    stopping_ = true;
    {
        std::lock_guard lock(mutex_);
        for (auto& c : connections_) c->socket.shutdown_now();
    }
    cv_.notify_all();
}

bool Task::wait_connections(int timeout_ms) {
    for (int waited = 0; active_.load() > 0; waited += 20) {
        if (waited >= timeout_ms) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void Task::start_thread(Connection& c) {
    ++active_;
    auto self = shared_from_this();
    Connection* conn = &c;
    try {
        c.thread = std::thread([self, conn] {
            if (self->kind == TaskKind::http)
                http_connection_main(self, conn);
            else
                ftp_upload_main(self, conn);
            self->post({ItemType::connection_ended, conn->id});
        });
    } catch (const std::system_error&) {
        post({ItemType::connection_ended, c.id});
    }
}

void Task::open_connection() {
    if (stopping_) return;
    std::unique_lock lock(mutex_);
    int segment = -1;
    if (!file_ready) {
        if (!connections_.empty()) {
            // The first connection learns the length; the others wait for it.
            ++pending_extra_;
            return;
        }
    } else {
        if (length_unknown) return;
        for (std::size_t i = 0; i < segments.size(); ++i)
            if (segments[i].owner < 0 && !segments[i].complete()) {
                segment = static_cast<int>(i);
                break;
            }
        if (segment < 0 && ranges_ok) {
            // Split the part with the most bytes still to receive.
            std::int64_t best_left = 0;
            int best = -1;
            for (std::size_t i = 0; i < segments.size(); ++i) {
                const Segment& s = segments[i];
                if (s.complete()) continue;
                std::int64_t from = std::max(s.reserved, s.start + s.received);
                if (s.end - from > best_left) {
                    best_left = s.end - from;
                    best = static_cast<int>(i);
                }
            }
            if (best < 0 || best_left < kMinSplit) return;
            Segment& s = segments[static_cast<std::size_t>(best)];
            std::int64_t from = std::max(s.reserved, s.start + s.received);
            Segment added;
            added.start = from + best_left / 2;
            added.end = s.end;
            added.reserved = added.start;
            s.end = added.start;
            segments.push_back(added);
            segment = static_cast<int>(segments.size() - 1);
        }
        if (segment < 0) return;
    }
    auto c = std::make_unique<Connection>();
    c->id = next_connection_id_++;
    c->segment = segment;
    if (segment >= 0) segments[static_cast<std::size_t>(segment)].owner = c->id;
    if (stopping_) c->socket.shutdown_now();
    connections_.push_back(std::move(c));
    Connection& ref = *connections_.back();
    lock.unlock();
    start_thread(ref);
}

bool Task::all_segments_complete() const {
    if (!file_ready || segments.empty()) return false;
    std::int64_t covered = 0;
    for (const auto& s : segments) {
        if (!s.complete()) return false;
        covered += s.end - s.start;
    }
    return covered == total_length;
}

void Task::connection_ended(int id) {
    Connection* c = nullptr;
    {
        std::lock_guard lock(mutex_);
        for (auto& each : connections_)
            if (each->id == id) c = each.get();
        if (c && c->segment >= 0) segments[static_cast<std::size_t>(c->segment)].owner = -1;
    }
    if (!c) return;
    if (c->thread.joinable()) c->thread.join();
    --active_;
    if (param.event_callback) param.event_callback(kEventConnectionEnded, id_, c->bytes, 0, id_);

    if (kind == TaskKind::http && !stopping_ && c->ok) {
        // Keep the planned number of connections busy on what is left.
        int wanted = std::max(1, param.connections);
        for (int i = active_.load(); i < wanted; ++i) open_connection();
    }
    end_when_idle();
}

void Task::end_when_idle() {
    // Ends once nothing runs and nothing is about to; also after a stop that
    // came before the first connection started.
    std::lock_guard lock(mutex_);
    if (ending_ || active_.load() > 0) return;
    for (const auto& item : queue_)
        if (item.type == ItemType::open_connection || item.type == ItemType::start_sending) return;
    ending_ = true;
    queue_.push_back({ItemType::end});
}

Outcome Task::decide_outcome() {
    std::lock_guard lock(mutex_);
    Outcome o;
    o.bytes = bytes_done_.load();
    bool done = kind == TaskKind::http ? all_segments_complete() : upload_complete;
    if (done) {
        o.result = Outcome::Result::success;
        o.verified = kind != TaskKind::http && upload_verified;
        if (kind != TaskKind::http) o.upload = upload_check;
    } else if (stopping_) {
        o.result = Outcome::Result::stopped;
    } else {
        o.result = Outcome::Result::failed;
        o.message = failure_.empty() ? GBK("传输未完成") : failure_;
    }
    return o;
}

void Task::run() {
    control_id_ = std::this_thread::get_id();
    t_control_slot = slot_.get();
    Outcome outcome;
    for (;;) {
        control_loop();
        {
            std::lock_guard lock(mutex_);
            file.close();
        }
        outcome = decide_outcome();
        if (kind != TaskKind::http || settle_file(outcome) != Settled::start_over) break;
        start_over();
    }
    {
        std::lock_guard lock(slot_->mutex);
        slot_->last = outcome;
    }
    if (param.event_callback) param.event_callback(kEventEnded, id_, outcome.bytes, 0, id_);
    {
        std::lock_guard lock(slot_->mutex);
        if (slot_->task.get() == this) slot_->task.reset();
        --slot_->in_flight;
    }
    slot_->changed.notify_all();
}

void Task::start_over() {
    std::lock_guard lock(mutex_);
    rewind_bytes(bytes_done_.load());
    segments.clear();
    total_length = -1;
    file_ready = false;
    ranges_ok = false;
    length_unknown = false;
    etag.clear();
    last_modified.clear();
    md5.clear();
    md5_known = false;
    partial_path.clear();
    ++generation;
    // Every connection has ended and been joined.
    connections_.clear();
    pending_extra_ = 0;
    failure_.clear();
    ending_ = false;
    for (int i = 0; i < std::max(1, param.connections); ++i)
        queue_.push_back({ItemType::open_connection});
}

void Task::control_loop() {
    for (;;) {
        Item item{ItemType::end};
        {
            std::unique_lock lock(mutex_);
            if (!cv_.wait_for(lock, std::chrono::milliseconds(100),
                              [&] { return !queue_.empty(); }))
                continue;
            item = std::move(queue_.front());
            queue_.pop_front();
        }
        switch (item.type) {
        case ItemType::open_connection:
            open_connection();
            end_when_idle();
            break;
        case ItemType::connection_ended: connection_ended(item.connection); break;
        case ItemType::message:
            if (param.message_callback) param.message_callback(item.text, item.level);
            break;
        case ItemType::event:
            if (param.event_callback) param.event_callback(item.code, id_, item.value, 0, id_);
            break;
        case ItemType::ask:
            item.answer->set_value(param.event_callback
                                       ? param.event_callback(item.code, id_, item.value, 0, id_)
                                       : 0);
            break;
        case ItemType::start_sending: {
            std::unique_lock lock(mutex_);
            auto c = std::make_unique<Connection>();
            c->id = next_connection_id_++;
            if (stopping_) c->socket.shutdown_now();
            connections_.push_back(std::move(c));
            Connection& ref = *connections_.back();
            lock.unlock();
            start_thread(ref);
            end_when_idle();
            break;
        }
        case ItemType::finish: request_stop(); break;
        case ItemType::end: break;
        }
        if (item.type == ItemType::end) break;
    }
}

Task::Settled Task::settle_file(Outcome& outcome) {
    std::string final_name, partial, expected;
    std::int64_t length = -1;
    bool resumable = false;
    {
        std::lock_guard lock(mutex_);
        if (!file_ready) return Settled::done;
        final_name = local_path;
        partial = partial_path;
        length = total_length;
        resumable = !length_unknown && total_length >= 0;
        expected = md5;
    }
    auto part = text_to_path(partial);
    if (outcome.result != Outcome::Result::success) {
        stream.abandon();
        if (outcome.result == Outcome::Result::stopped && keep_partial_ && resumable)
            return Settled::done;
        ::unlink(part.c_str());
        return Settled::done;
    }
    // The control loop has ended: messages go straight to the caller.
    auto say = [&](const std::string& text, int level) {
        if (param.message_callback) param.message_callback(text, level);
    };
    auto fail = [&](const std::string& why) {
        stream.abandon();
        ::unlink(part.c_str());
        outcome.result = Outcome::Result::failed;
        outcome.message = why;
        outcome.content = Outcome::Content::none;
        outcome.length = -1;
        say(why, 3);
    };
    if (auto hook = engine_settings().before_content_check) hook(partial);
    // Done means a file of exactly the announced length...
    struct stat st {};
    if (::lstat(part.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != length) {
        fail(msg::size_mismatch());
        return Settled::done;
    }
    // ... and, when the server gave its digest, of its content as it is on
    // the disk: that is what takes the name, whatever arrived on the wire.
    if (!expected.empty()) {
        std::string actual = finished_md5(part, st, length);
        if (actual.empty() && stopping_) {
            // Stopped while reading back: kept for a resume, as any stop.
            outcome.result = Outcome::Result::stopped;
            if (!(keep_partial_ && resumable)) ::unlink(part.c_str());
            return Settled::done;
        }
        if (actual != expected) {
            if (content_retried_ || stopping_) {
                fail(msg::content_mismatch());
                return Settled::done;
            }
            content_retried_ = true;
            ::unlink(part.c_str());
            say(msg::content_retry(), 3);
            return Settled::start_over;
        }
        outcome.content = Outcome::Content::verified;
    } else {
        stream.abandon();
        outcome.content = Outcome::Content::no_digest;
    }
    outcome.length = length;
    std::string placed = final_name;
    int err = place_file(part, placed);
    if (err == EEXIST) {
        // A file took the name while we downloaded: the caller decides, as at the start.
        int answer = param.event_callback
                         ? param.event_callback(kEventLocalFileExists, id_, 0, 0, id_)
                         : kExistsAutoRename;
        if (answer == kExistsGiveUp) {
            fail(msg::user_gave_up());
            return Settled::done;
        }
        if (answer == kExistsCallerRenamed) {
            {
                std::lock_guard lock(mutex_);
                placed = chosen_path;
            }
            err = placed.empty() ? EEXIST : place_file(part, placed);
            if (err == 0) say(fill(msg::user_renamed(), {placed}), 0);
        } else {
            for (int n = 1; n <= 99 && err == EEXIST; ++n) {
                placed = numbered_name(final_name, n);
                err = place_file(part, placed);
                if (err == 0) say(fill(msg::auto_renamed(), {placed}), 0);
            }
        }
    }
    if (err != 0) {
        // Never left under the partial name: nobody would look for it there.
        fail(file_error_text(err, placed));
        return Settled::done;
    }
    outcome.local_path = placed;
    std::lock_guard lock(mutex_);
    local_path = placed;
    return Settled::done;
}

std::string Task::finished_md5(const std::filesystem::path& part, const struct stat& st,
                               std::int64_t length) {
    // Taken while writing: it stands for the disk when the file is still what
    // the last write left (same inode, size and change time, the latter
    // queried then and so refined by any later change). Only the bytes past
    // the part that came in order are read back.
    StreamDigest::Prefix streamed = stream.finish(length);
    auto piece_hook = engine_settings().on_read_back_piece;
    auto stop = [&] {
        if (piece_hook) piece_hook();
        return stopping_.load();
    };
    if (streamed.ctx && same_identity(file.closed_identity(), identity_of(st)))
        return file_md5_after(part, streamed.ctx.get(), streamed.length, length, stop);
    return file_md5(part, stop);
}

std::string Task::save_resume() {
    std::lock_guard lock(mutex_);
    if (!file_ready || length_unknown || total_length < 0) return {};
    std::string r = "QRVLRESUME1\n" + field(address_text(address)) + field(local_path) +
                    std::to_string(total_length) + "\n" + std::to_string(segments.size()) + "\n";
    for (const auto& s : segments)
        r += std::to_string(s.start) + " " + std::to_string(s.end) + " " +
             std::to_string(s.received) + "\n";
    return r + field(partial_path) + field(etag) + field(last_modified) +
           field(md5_known ? "md5=" + hex_text(md5) : std::string());
}

std::string Task::checkpoint() {
    // No restart may drop the parts between the snapshot and the sync.
    std::shared_lock gate(write_gate);
    int fd;
    {
        std::lock_guard lock(mutex_);
        fd = file.duplicate();
    }
    if (fd < 0) return {};
    // Parts count a piece only once its pwrite returned: the snapshot holds
    // written bytes only, and the sync after it puts them on the disk.
    std::string record = save_resume();
    bool synced = ::fdatasync(fd) == 0;
    ::close(fd);
    return synced ? record : std::string();
}

bool Task::load_resume(const std::string& record) {
    std::istringstream in(record);
    std::string magic, url, path;
    if (!std::getline(in, magic) || magic != "QRVLRESUME1" || !read_field(in, url) ||
        !read_field(in, path))
        return false;
    std::int64_t total = -1;
    std::size_t count = 0;
    if (!(in >> total >> count) || total < 0 || count > 4096) return false;
    std::vector<Segment> parts;
    std::int64_t covered = 0, done = 0;
    for (std::size_t i = 0; i < count; ++i) {
        Segment s;
        if (!(in >> s.start >> s.end >> s.received)) return false;
        if (s.start < 0 || s.end < s.start || s.end > total || s.received < 0 ||
            s.received > s.end - s.start)
            return false;
        s.reserved = s.start + s.received;
        covered += s.end - s.start;
        done += s.received;
        parts.push_back(s);
    }
    // Records of earlier versions end here: the usual partial name, no validators.
    std::string partial = partial_name(path), tag, modified, digest;
    if (std::string p; read_field(in, p) && read_field(in, tag) && read_field(in, modified))
        partial = p;
    // Then the digest the first answer gave ("md5=" and hex, none after "="),
    // unless the record is older than that: the next answer's is taken.
    std::optional<std::string> known_md5;
    if (read_field(in, digest) && digest.rfind("md5=", 0) == 0) {
        known_md5 = unhex_text(digest.substr(4));
        if (!known_md5) return false;
    }
    auto a = parse_address(url);
    if (!a || a->scheme != "http" || covered != total) return false;
    std::lock_guard lock(mutex_);
    if (!file.open_existing(text_to_path(partial), total)) return false;
    address = *a;
    local_path = path;
    partial_path = partial;
    etag = tag;
    last_modified = modified;
    md5_known = known_md5.has_value();
    md5 = known_md5.value_or("");
    total_length = total;
    segments = std::move(parts);
    file_ready = true;
    ranges_ok = true;
    bytes_done_ = done;
    return true;
}

// ---- objects ----

TransferObject::TransferObject() : slot_(std::make_shared<Slot>()) {}

TransferObject::~TransferObject() {
    if (auto t = current()) t->request_stop();
    // A released task may still be ending and calling back; wait for its event 4,
    // unless this runs inside that very callback.
    if (t_control_slot != slot_.get()) wait_idle(60000);
}

std::shared_ptr<Task> TransferObject::current() const {
    std::lock_guard lock(slot_->mutex);
    return slot_->task;
}

RetryState TransferObject::retry_state() const {
    auto t = current();
    return t ? t->retry_state() : RetryState{};
}

bool TransferObject::running() const {
    return current() != nullptr;
}

Outcome TransferObject::outcome() const {
    std::lock_guard lock(slot_->mutex);
    return slot_->last;
}

bool TransferObject::wait_idle(int timeout_ms) const {
    std::unique_lock lock(slot_->mutex);
    return slot_->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                   [&] { return slot_->in_flight == 0; });
}

namespace {

void release(Slot& slot, const std::shared_ptr<Task>& t) {
    std::lock_guard lock(slot.mutex);
    if (slot.task == t) slot.task.reset();
}

bool start_task(const std::shared_ptr<Slot>& slot, TaskKind kind, const TaskParam& param,
                const std::string& resume) {
    auto address = parse_address(param.url);
    std::string scheme = kind == TaskKind::http ? "http" : "ftp";
    if (!address && !resume.empty()) address = parse_address("http://resume/");
    if (!address || address->scheme != scheme) return false;
    // They go into the FTP login lines as they stand.
    if (has_control_chars(param.user_name) || has_control_chars(param.password)) return false;
    TaskParam copy = param;
    if (kind == TaskKind::http)
        copy.mode_flags |= kModeDownload;
    else
        copy.mode_flags = (copy.mode_flags & ~kModeDownload) | kModeUpload;
    if (copy.receive_chunk <= 0) copy.receive_chunk = 20480;
    if (copy.send_chunk <= 0) copy.send_chunk = 1024;
    if (copy.connections < 1) copy.connections = 1;
    if (copy.user_name.empty()) copy.user_name = "anonymous";
    if (copy.password.empty()) copy.password = kAnonymousPassword;

    std::lock_guard lock(slot->mutex);
    if (slot->task) return false;
    auto task = std::make_shared<Task>(kind, copy, *address, slot);
    int first = copy.connections;
    if (!resume.empty()) {
        if (!task->load_resume(resume)) return false;
        first = 0;
        for (const auto& s : task->segments)
            if (!s.complete()) ++first;
    }
    slot->task = task;
    ++slot->in_flight;
    slot->last = {};
    if (!task->launch(first)) {
        slot->task.reset();
        --slot->in_flight;
        return false;
    }
    return true;
}

}  // namespace

bool Download::start(const TaskParam& param, const std::string& resume_record) {
    return start_task(slot_, TaskKind::http, param, resume_record);
}

bool Download::add_connection() {
    auto t = current();
    if (!t) return false;
    t->post_open_connection();
    return true;
}

bool Download::stop_and_save(std::string& resume_record) {
    auto t = current();
    if (!t) return false;
    t->keep_partial();
    t->request_stop();
    if (!t->on_control_thread()) t->wait_connections(t->param.stop_wait_ms);
    resume_record = t->save_resume();
    release(*slot_, t);
    return true;
}

bool Download::checkpoint(std::string& resume_record) {
    auto t = current();
    if (!t) return false;
    std::string record = t->checkpoint();
    if (record.empty()) return false;
    resume_record = std::move(record);
    return true;
}

std::int64_t Download::bytes_received() const {
    auto t = current();
    return t ? t->bytes_done() : 0;
}

std::int64_t Download::recent_bytes() {
    auto t = current();
    return t ? t->take_recent() : 0;
}

std::int64_t Download::total_bytes() const {
    auto t = current();
    if (!t) return -1;
    std::lock_guard lock(t->mutex_);
    return t->file_ready && !t->length_unknown ? t->total_length : -1;
}

void Download::stop() {
    auto t = current();
    if (!t) return;
    t->request_stop();
    release(*slot_, t);
}

void Download::choose_local_path(const std::string& path) {
    auto t = current();
    if (!t) return;
    std::lock_guard lock(t->mutex_);
    t->chosen_path = path;
}

bool FtpUpload::start(const TaskParam& param) {
    return start_task(slot_, TaskKind::ftp, param, {});
}

bool FtpUpload::finish() {
    auto t = current();
    if (!t) return false;
    t->request_stop();
    if (!t->on_control_thread()) t->wait_connections(t->param.stop_wait_ms);
    release(*slot_, t);
    return true;
}

std::int64_t FtpUpload::bytes_sent() const {
    auto t = current();
    return t ? t->bytes_done() : 0;
}

std::int64_t FtpUpload::sent_since_last_query() {
    return take_sent_count();
}

}  // namespace qorvel::engine
