// get and put: the transfer engine under the command line. A download goes to
// its partial name and takes its final name only once its size and the
// service's digest are checked; an interrupted one keeps its partial file and
// its record beside it, so the next get goes on from there. An upload is
// registered only after the FTP server's digest matched the local file.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/context.h"
#include "cli/local_rules.h"
#include "cli/messages.h"
#include "cli/output.h"
#include "net/charset.h"
#include "transfer/digest.h"
#include "transfer/download_rules.h"
#include "transfer/engine/engine.h"
#include "transfer/progress_rules.h"
#include "transfer/upload_rules.h"

namespace qorvel::cli {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::atomic<bool> g_interrupted{false};
void on_signal(int) {
    g_interrupted = true;
}

// Attempts that moved nothing before a download is put away for a later get:
// a person at a terminal wants an answer in seconds.
constexpr int kGiveUpAttempts = 3;
std::string u(const std::string& gbk) {
    return gbk_to_utf8(gbk);
}

void report(Context& c, const char* status, const std::string& remote_utf8,
            const std::string& local_gbk, const std::string& word_gbk, bool resumed = false) {
    if (c.inv.json)
        c.out(json_object({{"status", json_string(status)},
                           {"remote", json_string(remote_utf8)},
                           {"local", json_string(u(local_gbk))},
                           {"resumed", resumed ? "true" : "false"}}));
    else
        c.out(u(word_gbk) + printable(u(local_gbk)));
}

// "" none, "file", "link" or "other", without following a link.
std::string entry_type(const std::string& path_gbk) {
    struct stat st {};
    if (::lstat(text_to_path(path_gbk).c_str(), &st) != 0) return "";
    if (S_ISLNK(st.st_mode)) return "link";
    return S_ISREG(st.st_mode) ? "file" : "other";
}

bool taken(const std::string& path_gbk) {
    return !entry_type(path_gbk).empty();
}

int random_prefix() {
    thread_local std::mt19937 gen{std::random_device{}()};
    return std::uniform_int_distribution<int>(10000, 50000)(gen);
}

// A small file of ours written new and renamed over, never through a link.
bool write_note(const std::string& path_gbk, const std::string& text) {
    fs::path p = text_to_path(path_gbk);
    fs::path tmp = p;
    tmp += ".new";
    ::unlink(tmp.c_str());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(tmp.c_str(), p.c_str()) == 0) return true;
    ::unlink(tmp.c_str());
    return false;
}

std::optional<std::string> read_note(const std::string& path_gbk) {
    int fd = ::open(text_to_path(path_gbk).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        st.st_size > (1 << 20)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    ssize_t got = ::read(fd, text.data(), text.size());
    ::close(fd);
    if (got != st.st_size) return std::nullopt;
    return text;
}

void remove_regular(const std::string& path_gbk) {
    if (entry_type(path_gbk) == "file") ::unlink(text_to_path(path_gbk).c_str());
}

// Progress with a speed averaged over the last few ticks.
class Pace {
  public:
    explicit Pace(const Context& c, std::string name) : c_(c), name_(std::move(name)) {}
    void tick(std::int64_t done, std::int64_t total) {
        auto now = Clock::now();
        if (!c_.stderr_tty || now - last_ < std::chrono::milliseconds(500)) return;
        average_.add(1, done - last_done_, now);
        last_done_ = done;
        last_ = now;
        c_.progress(progress_line(name_, done, total, average_.per_second()));
    }
    ~Pace() { c_.progress(""); }

  private:
    const Context& c_;
    std::string name_;
    transfer::SpeedAverage average_;
    Clock::time_point last_ = Clock::now();
    std::int64_t last_done_ = 0;
};

struct Getter {
    Context& c;
    Outcome result;

    void note(const Outcome& o) { result.exit = graver(result.exit, o.exit); }

    // One file into folder (GBK, ending in "/").
    Outcome file(const Entry& e, const std::string& folder, const std::string& shown) {
        if (e.size == "0B") {
            report(c, "skipped", shown, e.name, GBK(text::kLinkOnly));
            return Outcome::success();
        }
        auto name = transfer::safe_local_name(e.name);
        if (!name) return fail(c, Exit::item_failed, GBK(text::kBadLocalName) + e.name);
        std::string final_path = folder + *name;
        std::string note_path = resume_note_path(final_path);
        std::string target = final_path;
        std::string replaces;
        Placing placing = decide_placing(entry_type(final_path), c.inv.on_exists);
        switch (placing) {
        case Placing::fresh: break;
        case Placing::skip:
            report(c, "skipped", shown, final_path, GBK(text::kSkipped));
            return Outcome::success();
        case Placing::numbered: {
            auto plan = transfer::plan_target(folder, *name, 1, taken, random_prefix);
            if (!plan.ok) return fail(c, Exit::item_failed, GBK(text::kNoFreeName) + final_path);
            final_path = target = plan.final_path;
            break;
        }
        case Placing::replace:
            target = folder + transfer::replacement_name(*name, static_cast<std::uint64_t>(e.id));
            replaces = final_path;
            break;
        case Placing::refuse:
            return fail(c, Exit::item_failed, GBK(text::kCannotWrite) + final_path);
        }
        auto link = c.api.storage_link(std::to_string(e.id));
        if (!link.ok()) {
            if (link.kind() == api::ErrorKind::refused)
                return fail(c, Exit::item_failed, GBK(text::kNoLink) + u(e.name));
            return c.failure(link.error());
        }
        // A note of an interrupted get of this name: its partial file goes on.
        std::string record;
        std::optional<ResumeNote> resumed;
        // A replacing download's partial file lies beside the old file too.
        if (placing == Placing::fresh || placing == Placing::replace) {
            if (auto text = read_note(note_path))
                if (auto n = parse_resume_note(*text); n && partial_belongs(final_path, n->partial))
                    resumed = n;
        }
        engine::TaskParam p;
        p.mode_flags = engine::kModeDownload;
        p.url = c.api.download_address(*link);
        p.local_path = target;
        p.connections = c.inv.connections;
        p.receive_chunk = 1 << 20;
        p.message_callback = [](const std::string&, int) {};
        p.event_callback = [](int code, engine::TaskId, std::int64_t, std::int64_t,
                              engine::TaskId) {
            // A file that took the name meanwhile is never replaced behind the user's back.
            return code == engine::kEventLocalFileExists ? engine::kExistsGiveUp : 0;
        };
        // Known as ours before it exists, so a kill leaves nothing nobody names.
        p.partial_chosen = [note_path](const std::string& partial) {
            write_note(note_path, resume_note_text({partial, {}}));
        };
        engine::Download d;
        bool started = false;
        if (resumed && !resumed->record.empty()) started = d.start(p, resumed->record);
        if (resumed && !started) remove_regular(resumed->partial);
        if (!started && !d.start(p)) {
            ::unlink(text_to_path(note_path).c_str());
            return fail(c, Exit::item_failed, GBK(text::kCannotWrite) + final_path);
        }
        if (resumed && started && !c.inv.json && c.stderr_tty)
            c.progress(u(GBK(text::kResumed)) + printable(u(final_path)));
        Pace pace(c, u(*name));
        auto next_checkpoint = Clock::now() + std::chrono::seconds(1);
        std::int64_t checked = -1;
        bool put_away = false;
        while (!d.wait_idle(100)) {
            std::int64_t done = d.bytes_received();
            pace.tick(done, d.total_bytes());
            if (Clock::now() >= next_checkpoint && done != checked) {
                next_checkpoint = Clock::now() + std::chrono::seconds(1);
                std::string r;
                if (d.checkpoint(r)) {
                    checked = done;
                    auto n = parse_resume_note(read_note(note_path).value_or(""));
                    if (n) write_note(note_path, resume_note_text({n->partial, r}));
                }
            }
            if (g_interrupted || d.retry_state().attempt >= kGiveUpAttempts) {
                // Put away for the next get: the partial file and its record stay.
                put_away = d.stop_and_save(record);
                d.wait_idle(5000);
                break;
            }
        }
        engine::Outcome o = d.outcome();
        if (put_away && o.result == engine::Outcome::Result::stopped) {
            auto n = parse_resume_note(read_note(note_path).value_or(""));
            if (n && !record.empty()) write_note(note_path, resume_note_text({n->partial, record}));
            bool interrupted = g_interrupted.load();
            return fail(c, interrupted ? Exit::item_failed : Exit::unreachable,
                        GBK(text::kInterrupted) + final_path);
        }
        ::unlink(text_to_path(note_path).c_str());
        if (o.result != engine::Outcome::Result::success)
            return fail(c, Exit::item_failed,
                        GBK(text::kDownloadFailed) + final_path +
                            (o.message.empty() ? std::string() : GBK("：") + o.message));
        // As the window's: a regular file of the checked length, its content
        // matched with the service's digest when one came.
        struct stat st {};
        bool whole = o.length >= 0 && ::lstat(text_to_path(o.local_path).c_str(), &st) == 0 &&
                     S_ISREG(st.st_mode) && st.st_size == o.length;
        bool checked_content = o.content == engine::Outcome::Content::verified ||
                               o.content == engine::Outcome::Content::no_digest;
        if (!whole || !checked_content) {
            remove_regular(o.local_path);
            return fail(c, Exit::item_failed, GBK(text::kNotVerified) + final_path);
        }
        std::string placed = o.local_path;
        if (!replaces.empty()) {
            if (::rename(text_to_path(o.local_path).c_str(), text_to_path(replaces).c_str()) != 0) {
                remove_regular(o.local_path);
                return fail(c, Exit::item_failed, GBK(text::kCannotWrite) + replaces);
            }
            placed = replaces;
        }
        report(c, "downloaded", shown, placed, GBK(text::kSaved), resumed && started);
        return Outcome::success();
    }

    // A whole folder into parent (GBK, ending in "/"), keeping its structure.
    Outcome folder(const Entry& e, const std::string& parent, const std::string& shown, int depth,
                   std::set<long long>& visited) {
        if (depth > kMaxDepth || visited.size() >= kMaxFolders || !visited.insert(e.id).second)
            return Outcome::success();
        std::string local = parent;
        if (e.id != 0 || depth > 0) {
            auto name = transfer::safe_local_name(e.name);
            if (!name) return fail(c, Exit::item_failed, GBK(text::kBadLocalName) + e.name);
            local = parent + *name;
            std::string type = entry_type(local);
            struct stat st {};
            if (type.empty()) {
                if (::mkdir(text_to_path(local).c_str(), 0755) != 0)
                    return fail(c, Exit::item_failed,
                                GBK(text::kCannotWrite) + local + GBK("：") +
                                    utf8_to_gbk(std::strerror(errno)));
            } else if (type != "other" || ::lstat(text_to_path(local).c_str(), &st) != 0 ||
                       !S_ISDIR(st.st_mode)) {
                // A link or a file where the folder goes: nothing is written through it.
                return fail(c, Exit::item_failed, GBK(text::kCannotWrite) + local);
            }
            local += "/";
        }
        Listing l = c.list(e.id);
        if (!l.outcome.ok()) return l.outcome;
        for (const auto& child : l.entries) {
            std::string child_shown = (shown == "/" ? "" : shown) + "/" + u(child.name);
            Outcome o = child.is_folder() ? folder(child, local, child_shown, depth + 1, visited)
                                          : file(child, local, child_shown);
            note(o);
            if (o.exit == Exit::unreachable) return o;
        }
        return Outcome::success();
    }
};

}  // namespace

Outcome run_get(Context& c) {
    if (auto o = c.use_saved_session(); !o.ok()) return o;
    std::string dir = c.inv.out_dir.empty() ? "." : c.inv.out_dir;
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        ::access(dir.c_str(), W_OK | X_OK) != 0)
        return fail(c, Exit::item_failed, GBK("目标文件夹无法写入：") + utf8_to_gbk(dir));
    std::string folder = path_to_text(fs::path(dir));
    if (folder.empty() || folder.back() != '/') folder += "/";
    // Every path is checked before anything is fetched.
    std::vector<Resolved> items;
    for (const auto& typed : c.inv.operands) {
        Resolved r = c.resolve_path(typed);
        if (!r.outcome.ok()) return r.outcome;
        items.push_back(r);
    }
    auto pw = c.api.access_password_from_settings();
    if (!pw.ok() && pw.kind() != api::ErrorKind::refused) return c.failure(pw.error());

    engine::EngineSettings s = engine::engine_settings();
    s.retry_wait_ms = 1000;
    set_engine_settings(s);
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::signal(SIGPIPE, SIG_IGN);

    Getter g{c, {}};
    for (const auto& r : items) {
        std::set<long long> visited;
        Entry e = r.entry;
        if (!e.is_folder() && e.name.empty()) e.name = "id-" + std::to_string(e.id);
        Outcome o = e.is_folder() ? g.folder(e, folder, r.shown, r.entry.id == 0 ? 0 : 0, visited)
                                  : g.file(e, folder, r.shown);
        g.note(o);
        if (o.exit == Exit::unreachable || g_interrupted) break;
    }
    return g.result;
}

// --- put ---

namespace {

struct Putter {
    Context& c;
    // Remote folder ids by their path below the target.
    std::map<std::vector<std::string>, long long> folder_ids;

    // The id of the folder name inside parent, created when missing.
    std::optional<long long> ensure_folder(long long parent, const std::string& name,
                                           Outcome& outcome) {
        auto find = [&]() -> std::optional<std::vector<long long>> {
            auto folders = c.api.folders_of(parent);
            if (!folders.ok()) {
                outcome = c.failure(folders.error());
                return std::nullopt;
            }
            std::vector<long long> ids;
            for (const auto& f : *folders)
                if (f.name == name) ids.push_back(f.id);
            return ids;
        };
        auto ids = find();
        if (!ids) return std::nullopt;
        if (ids->empty()) {
            auto made = c.api.create_folder(parent, name);
            if (!made.ok()) {
                outcome = made.kind() == api::ErrorKind::refused
                              ? c.refusal(GBK(text::kNameRefused) + name)
                              : c.failure(made.error());
                return std::nullopt;
            }
            ids = find();
            if (!ids) return std::nullopt;
        }
        if (ids->size() != 1) {
            std::vector<Entry> found;
            for (long long id : *ids) {
                Entry e;
                e.id = id;
                found.push_back(e);
            }
            outcome = fail(c, Exit::item_failed, ambiguity_message(u(name), found));
            return std::nullopt;
        }
        return ids->front();
    }

    Outcome file(const UploadFile& f, long long folder_id) {
        std::string name = transfer::file_name_of(f.path);
        auto began = transfer::regular_file_stamp(f.path);
        if (!began) return fail(c, Exit::item_failed, GBK(text::kUnreadable) + f.path);
        if (c.inv.instant) {
            if (auto digest = transfer::file_md5_hex(text_to_path(f.path))) {
                auto id = c.api.instant_upload(folder_id, *digest, name);
                if (id.ok()) {
                    report(c, "instant", u(name), f.path, GBK(text::kInstant));
                    return Outcome::success();
                }
                if (id.kind() != api::ErrorKind::refused) return c.failure(id.error());
            }
        }
        engine::TaskParam p;
        p.mode_flags = engine::kModeUpload;
        p.url = transfer::ftp_upload_url(c.api.hosts().ftp_host, transfer::remote_name_for(f.path));
        p.local_path = f.path;
        p.connections = 1;
        p.transfer_type = 1;
        p.send_chunk = 8 << 20;
        p.message_callback = [](const std::string&, int) {};
        p.event_callback = [](int, engine::TaskId, std::int64_t, std::int64_t, engine::TaskId) {
            return 0;
        };
        engine::FtpUpload up;
        if (!up.start(p)) return fail(c, Exit::item_failed, GBK(text::kUploadFailed) + f.path);
        Pace pace(c, u(name));
        bool gave_up = false;
        while (!up.wait_idle(100)) {
            pace.tick(up.bytes_sent(), f.size);
            if (g_interrupted || up.retry_state().attempt >= kGiveUpAttempts) {
                gave_up = !g_interrupted;
                up.finish();
                up.wait_idle(5000);
                break;
            }
        }
        engine::Outcome o = up.outcome();
        up.finish();
        auto now = transfer::regular_file_stamp(f.path);
        if (auto why = transfer::upload_refusal(o, now && *now == *began)) {
            // The service that stopped answering is not this file's fault.
            return fail(c, gave_up ? Exit::unreachable : Exit::item_failed,
                        GBK(text::kUploadFailed) + f.path + GBK("：") +
                            (o.message.empty() ? *why : o.message));
        }
        auto id = c.api.register_upload(folder_id, name);
        if (!id.ok()) {
            if (id.kind() == api::ErrorKind::refused)
                return c.refusal(GBK(text::kNotRegistered) + f.path);
            return c.failure(id.error());
        }
        report(c, "uploaded", u(name), f.path, GBK(text::kUploaded));
        return Outcome::success();
    }
};

}  // namespace

Outcome run_put(Context& c) {
    if (auto o = c.use_saved_session(); !o.ok()) return o;
    // Every local file is checked before anything is sent.
    UploadPlan plan = plan_upload(c.inv.operands);
    for (const auto& l : plan.links_skipped) c.err(GBK(text::kLinkSkipped) + l);
    if (!plan.refused.empty()) {
        for (const auto& [path, why] : plan.refused) c.err(why + GBK("：") + path);
        return Outcome::fail(Exit::item_failed, {});
    }
    Resolved target = c.resolve_path(c.inv.to.empty() ? "/" : c.inv.to);
    if (!target.outcome.ok()) return target.outcome;
    if (!target.entry.is_folder())
        return fail(c, Exit::item_failed, GBK(text::kNotFolder) + utf8_to_gbk(target.shown));

    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::signal(SIGPIPE, SIG_IGN);
    engine::EngineSettings s = engine::engine_settings();
    s.retry_wait_ms = 1000;
    set_engine_settings(s);

    Putter p{c, {}};
    p.folder_ids[{}] = target.entry.id;
    for (const auto& folders : plan.folders) {
        std::vector<std::string> parent(folders.begin(), folders.end() - 1);
        auto at = p.folder_ids.find(parent);
        if (at == p.folder_ids.end()) continue;
        Outcome o;
        auto id = p.ensure_folder(at->second, folders.back(), o);
        if (!id) return o;
        p.folder_ids[folders] = *id;
    }
    Outcome result;
    for (const auto& f : plan.files) {
        auto at = p.folder_ids.find(f.folders);
        if (at == p.folder_ids.end()) continue;
        Outcome o = p.file(f, at->second);
        result.exit = graver(result.exit, o.exit);
        if (o.exit == Exit::unreachable || g_interrupted) break;
    }
    return result;
}

}  // namespace qorvel::cli
