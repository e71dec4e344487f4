#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>

#include <sys/stat.h>

#include "net/charset.h"
#include "net/text.h"
#include "roads/service_api.h"
#include "roads/storage/roads.h"
#include "roads/transfer/desktop_road.h"
#include "roads/transfer/roads.h"
#include "roads/transfer/shut_down.h"
#include "storage/answers.h"
#include "storage/names.h"
#include "transfer/download_rules.h"
#include "transfer/engine/engine.h"
#include "transfer/engine/messages.h"
#include "transfer/journal_link.h"

namespace qorvel {

namespace {

using transfer::DownloadEntry;
using transfer::TaskId;

void set_running_caption(ui::Window& w) {
    w["选择夹2"].set_page_title(
        0, GBK("下载中(") + std::to_string(w["超级列表框2"].row_count()) + ")");
}
void set_done_caption(ui::Window& w) {
    w["选择夹2"].set_page_title(
        1, GBK("已完成(") + std::to_string(w["超级列表框3"].row_count()) + ")");
}

void add_done_row(ui::Window& w, const std::string& name, const std::string& path) {
    ui::Control& done = w["超级列表框3"];
    done.insert_row(0, name);
    done.set_cell(0, 1, path);
    set_done_caption(w);
}

// A link-only entry's row: a link file or why none was made, never a download.
void add_link_row(Client& c, ui::Window& w, const std::string& name,
                  const std::string& path_or_why) {
    if (auto journal = c.transfers().journal()) {
        transfer::JournalChange change;
        change.done.push_back(
            transfer::done_row(transfer::JournalList::downloads_done, {name, path_or_why}));
        journal->apply(change);
    }
    add_done_row(w, name, path_or_why);
}

// Any entry counts, a link too (dangling or not): a name is never chosen
// through a link someone else planted.
bool taken(const std::string& path) {
    std::error_code ec;
    auto status = std::filesystem::symlink_status(text_to_path(path), ec);
    return status.type() != std::filesystem::file_type::not_found;
}

int random_prefix() {
    thread_local std::mt19937 gen{std::random_device{}()};
    return std::uniform_int_distribution<int>(10000, 50000)(gen);
}

std::string default_save_folder(ui::Window& w) {
    return w["编辑框49"].text();
}

// Link-only entries ("0B") become link files in the default save folder.
void make_link_shortcut(Client& c, ui::Window& w, const std::string& file_id,
                        const std::string& listed_name) {
    auto name = transfer::safe_local_name(listed_name);
    std::string folder = default_save_folder(w);
    api::Result<std::string> link = service_api(c).storage_link(file_id);
    if (!name || !link) {
        add_link_row(c, w, listed_name, GBK("失败：无法取得链接地址"));
        return;
    }
    // A link file opens what it names when launched: only a web or FTP address may go in.
    if (!transfer::link_file_address(*link)) {
        add_link_row(c, w, listed_name, GBK("失败：链接地址不是网址"));
        return;
    }
    std::string path = folder + *name + ".desktop";
    for (int attempt = 0; taken(path) && attempt < 64; ++attempt) {
        path = folder + std::to_string(random_prefix()) + *name + ".desktop";
    }
    if (taken(path) || !c.shell().create_shortcut(path, *link)) {
        add_link_row(c, w, listed_name, GBK("失败：无法创建链接文件"));
        return;
    }
    add_link_row(c, w, listed_name, path);
}

// The queueing steps over the selected rows of the file list.
void queue_rows(Client& c, ui::Window& w, const std::vector<int>& rows) {
    ui::Control& files = w["超级列表框1"];
    ui::Control& queue = w["超级列表框2"];
    std::string folder = c.transfers().chosen_save_folder.get();
    const int policy = w["组合框6"].current();
    std::vector<DownloadEntry> entries;
    for (int r : rows) {
        std::string name = files.cell(r, 0);
        std::string size = files.cell(r, 1);
        std::string file_id = std::to_string(files.row_value(r));
        if (size == "0B") {
            make_link_shortcut(c, w, file_id, name);
            continue;
        }
        entries.push_back(DownloadEntry{name, size, file_id, folder, policy});
    }
    save_download_settings(c);
    // One change of the queue, in the journal before the list shows it.
    auto ids = c.transfers().downloads.add_all(entries);
    std::vector<ui::Row> shown;
    shown.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& e = entries[i];
        shown.push_back(ui::Row{{e.name, e.size_text, "", e.file_id, "", e.folder}, ids[i]});
    }
    queue.append_rows(std::move(shown));
    if (!entries.empty()) {
        set_running_caption(w);
        start_downloads(c);
        ui::Control& tabs = w["选择夹1"];
        tabs.set_current(tabs.page_count() - 1);
        w["选择夹2"].set_current(0);  // the running rows, whichever list was open
    }
}

// The cell keeps the reason as it fits; the row's tooltip and the log say all of it.
void fail_download(Client& c, ui::Window& w, TaskId id, const std::string& why) {
    c.transfers().downloads.fail(id, why);
    ui::Control& queue = w["超级列表框2"];
    queue.set_cell_of(id, 2, GBK("失败"));
    queue.set_cell_of(id, 4, why);
    queue.set_row_tooltip_of(id, GBK("下载失败：") + why);
    int row = queue.find_row(static_cast<long long>(id));
    std::string name = row >= 0 ? queue.cell(row, 0) : std::string();
    w["日志编辑框"].append_text(GBK("下载失败 ") + name + GBK("：") + why + "\r\n");
    note_transfer_failed(c, transfer::QueueKind::download, name, why);
}

// How a running download ends up: where the file must go, and whether the
// road refused a name (no user was asked, so the row says the name was taken).
struct Placement {
    std::string final_path;
    bool replace = false;  // "同名覆盖": the finished file replaces what holds final_path
    std::atomic<bool> refused{false};
};

void on_download_ended(Client& c, TaskId id, const std::shared_ptr<Placement>& placement);

// At most once a second and only after bytes moved, the running row's record of
// the bytes on disk goes to the journal (the sync is outside the queue's lock).
void checkpoint_download(Client& c, engine::Download* object, TaskId id, std::int64_t moved) {
    auto journal = c.transfers().journal();
    if (!object || !journal ||
        !c.transfers().download_checkpoints.due(id, moved, std::chrono::steady_clock::now()))
        return;
    std::string record;
    if (object->checkpoint(record))
        journal->set_record(transfer::JournalList::downloads, id, record);
}

bool stopped_on_purpose(const transfer::DownloadQueue& q, TaskId id) {
    auto now = q.find(id);
    return now && (now->state != transfer::RowState::running || now->stopping);
}

// The cells of a row that waits: no progress, no reason, no tooltip.
void show_waiting(ui::Window& w, TaskId id) {
    ui::Control& queue = w["超级列表框2"];
    queue.set_cell_of(id, 2, "");
    queue.set_cell_of(id, 4, "");
    queue.set_row_tooltip_of(id, "");
}
void show_paused(ui::Window& w, TaskId id) {
    show_waiting(w, id);
    w["超级列表框2"].set_cell_of(id, 2, GBK("已暂停"));
}

// Stops the running download that pause() marked, keeping its partial file and
// the record it continues from on the task. False when it ended on its own first.
bool stop_and_keep_download(Client& c, TaskId id, transfer::RowState after) {
    auto& q = c.transfers().downloads;
    auto task = q.find(id);
    if (!task) return false;
    std::string record;
    if (task->object) {
        task->object->stop_and_save(record);
        task->object->wait_idle(5000);
        // A success or failure that came first is the ended handler's.
        if (task->object->outcome().result != engine::Outcome::Result::stopped) return false;
    }
    if (auto journal = c.transfers().journal(); journal && !record.empty())
        journal->set_record(transfer::JournalList::downloads, id, record);
    return q.stopped_on_purpose(id, std::move(record), 0, after);
}

TaskId selected_download(ui::Window& w) {
    ui::Control& queue = w["超级列表框2"];
    int sel = queue.current();
    return sel < 0 || sel >= queue.row_count() ? 0 : queue.row_value(sel);
}

// A partial file the journal named before it was created is ours: a regular
// file (never through a link) that nothing can resume is removed.
void remove_own_partial(const std::string& partial) {
    if (partial.empty()) return;
    struct stat st {};
    auto path = text_to_path(partial);
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
}

// Rows put back at a login start before the browser has read the account's
// access password from the settings page, and a protected file's link needs it.
// True when a password was learned.
bool learn_access_password(Client& c, ui::Window& w) {
    api::ServiceApi api = service_api(c);
    api.patterns().password_marker = w[storage::names::kPasswordMarker].text();
    api::Result<std::string> password = api.access_password_from_settings();
    if (!password) return false;
    c.browser().set_access_password(*password);
    return !password->empty();
}

// Starts the first waiting row; rows that cannot start fail and the next one is tried.
void run_next_download(Client& c) {
    auto w = c.main_window();
    if (!w) return;
    auto& q = c.transfers().downloads;
    for (;;) {
        auto step = q.next([&] { (*w)["按钮28"].set_enabled(true); });
        if (step.run_ended) {
            note_run_ended(c, transfer::QueueKind::download);
            // A run that finished nothing moved nothing worth ending the session for.
            if (step.finished_one && (*w)["选择框3"].checked())
                shut_down_after_run(c, *w, "选择框3");
            return;
        }
        if (!step.task) return;  // another task is running
        const TaskId id = step.task->id;
        const DownloadEntry& e = step.task->entry;

        auto name = transfer::safe_local_name(e.name);
        if (!name) {
            fail_download(c, *w, id, GBK("文件名无效"));
            continue;
        }
        // Built anew each time: a password learned meanwhile goes with the request.
        auto ask_link = [&] { return service_api(c).storage_link(e.file_id); };
        auto link = ask_link();
        // Asked only when refused without a password: an account without one
        // costs no request more per file.
        if (!link && c.browser().access_password().empty() && learn_access_password(c, *w))
            link = ask_link();
        if (!link) {
            fail_download(c, *w, id, link.error().message);
            continue;
        }
        std::string base = e.folder.empty() ? default_save_folder(*w) : e.folder;
        const int policy = (*w)["组合框6"].current();
        auto plan = transfer::plan_target(base, *name, policy, taken, random_prefix);
        if (!plan.ok) {
            fail_download(c, *w, id, GBK("没有可用的文件名"));
            continue;
        }
        // An old file of the same name is replaced only once the new one is complete.
        const std::string hidden = base + transfer::replacement_name(*name, id);
        std::string target = plan.replaces.empty() ? plan.final_path : hidden;
        auto placement = std::make_shared<Placement>();
        placement->final_path = plan.final_path;
        placement->replace = policy == static_cast<int>(transfer::SameName::overwrite);
        // A row of an earlier run goes on in the file its record names.
        const std::string& record = step.task->saved_record;
        const bool resuming = !record.empty() && !step.task->local_path.empty();
        if (resuming) {
            target = step.task->local_path;
            if (target != hidden) placement->final_path = target;
        }

        engine::Download* object = q.fresh_object(id, target);
        auto& p = c.transfers().download_params;
        p.url = service_api(c).download_address(*link);
        p.local_path = target;
        p.rate_limit = c.transfers().download_rate_limit.load();
        p.event_callback = [&c, id, object, placement, base, name = *name, policy](
                               int code, engine::TaskId, std::int64_t, std::int64_t,
                               engine::TaskId) {
            if (code == engine::kEventEnded) {
                c.program().start_worker([&c, id, object, placement] {
                    if (c.transfers().downloads.holds_object(id, object))
                        on_download_ended(c, id, placement);
                });
            }
            if (code != engine::kEventLocalFileExists) return 0;
            // A file took the name after the plan (at the start or while downloading):
            // the row's same-name rule decides again.
            auto to = transfer::retarget(base, name, policy, id, taken, random_prefix);
            if (!to) {
                placement->refused = true;
                return engine::kExistsGiveUp;
            }
            object->choose_local_path(*to);
            return engine::kExistsCallerRenamed;
        };
        (*w)["超级列表框2"].set_cell_of(id, 2, "0%");
        p.partial_chosen = [&c, id](const std::string& partial) {
            if (auto journal = c.transfers().journal())
                journal->set_partial(transfer::JournalList::downloads, id, partial);
        };
        // A record whose partial file is gone or changed starts the file afresh;
        // a partial file of ours that cannot be resumed goes first, so it is
        // never left behind beside the new one.
        bool started = object && resuming && object->start(p, record);
        if (object && !started) remove_own_partial(step.task->saved_partial);
        if (!object || (!started && !object->start(p))) {
            fail_download(c, *w, id, GBK("无法启动下载任务"));
            continue;
        }
        return;
    }
}

// The one way a download becomes a "已完成" row: the engine called it a
// success, its content matched the server's digest (or no digest came), and a
// regular file of the finished length stands at its path. False: the row failed.
bool complete_download(Client& c, ui::Window& w, TaskId id, const std::string& name,
                       const engine::Outcome& outcome, const std::string& path) {
    using engine::Outcome;
    struct stat st {};
    bool whole = outcome.result == Outcome::Result::success && outcome.length >= 0 &&
                 ::lstat(text_to_path(path).c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                 st.st_size == outcome.length;
    bool checked = outcome.content == Outcome::Content::verified ||
                   outcome.content == Outcome::Content::no_digest;
    if (!whole || !checked) {
        fail_download(c, w, id, !checked ? GBK("下载失败") : engine::msg::size_mismatch());
        return false;
    }
    c.transfers().downloads.complete(id, {name, path});
    note_transfer_done(c, transfer::QueueKind::download, path);
    add_done_row(w, name, path);
    w["超级列表框2"].delete_row_of(id);
    set_running_caption(w);
    return true;
}

void on_download_ended(Client& c, TaskId id, const std::shared_ptr<Placement>& placement) {
    auto w = c.main_window();
    auto& q = c.transfers().downloads;
    auto task = q.find(id);
    if (!w || !task || !task->object) return;
    engine::Download* object = task->object;
    object->wait_idle(5000);
    engine::Outcome outcome = object->outcome();
    // Paused or stopped for the exit: whoever stopped it settles the row.
    if (outcome.result == engine::Outcome::Result::stopped && stopped_on_purpose(q, id)) return;
    std::string final_path = outcome.local_path;

    if (outcome.result == engine::Outcome::Result::success && placement->replace &&
        outcome.local_path != placement->final_path) {
        final_path = placement->final_path;
        std::error_code ec;
        std::filesystem::rename(text_to_path(outcome.local_path), text_to_path(final_path), ec);
        if (ec) {
            // The finished file is ours and hidden: it must not stay behind.
            std::filesystem::remove(text_to_path(outcome.local_path), ec);
            outcome = engine::Outcome{};
            outcome.result = engine::Outcome::Result::failed;
            outcome.message = GBK("无法替换同名文件");
        }
    }
    if (outcome.result != engine::Outcome::Result::success) {
        // The engine has removed its partial file; an old file of the same name stays as it was.
        std::string why = outcome.result == engine::Outcome::Result::stopped ? GBK("已停止")
                          : placement->refused.load() ? GBK("文件名已被占用")
                          : outcome.message.empty()   ? GBK("下载失败")
                                                      : outcome.message;
        fail_download(c, *w, id, why);
    } else {
        complete_download(c, *w, id, task->entry.name, outcome, final_path);
    }
    run_next_download(c);
}

}  // namespace

void choose_save_location(Client& c) {
    auto w = c.main_window();
    std::string folder = c.prompts().choose_folder(GBK("请选择一个文件夹"));
    if (!folder.empty()) (*w)["编辑框49"].set_text(transfer::folder_text(folder));
    save_download_settings(c);
}

void queue_selected_downloads(Client& c) {
    auto w = c.main_window();
    c.transfers().chosen_save_folder.set(
        transfer::folder_text(c.prompts().choose_folder(GBK("请选择一个存放的目录。"))));
    queue_rows(c, *w, (*w)["超级列表框1"].selected_rows());
}

void queue_folder_download(Client& c) {
    auto w = c.main_window();
    c.transfers().chosen_save_folder.set(
        transfer::folder_text(c.prompts().choose_folder(GBK("请选择一个存放的目录。"))));
    // The browser lists the whole folder and then hands it to queue_listed_files.
    storage::start_whole_folder_load(c);
}

void queue_listed_files(Client& c) {
    auto w = c.main_window();
    std::vector<int> rows;
    int n = (*w)["超级列表框1"].row_count();
    for (int r = 0; r < n; ++r) rows.push_back(r);
    (*w)["超级列表框1"].set_selection(rows, n > 0 ? 0 : -1);
    queue_rows(c, *w, rows);
}

void start_downloads(Client& c) {
    auto w = c.main_window();
    auto& q = c.transfers().downloads;
    // A run in progress takes new rows along.
    if (!q.begin_run([&] { (*w)["按钮28"].set_enabled(false); })) return;
    if (q.size() == 0) {
        q.next([&] { (*w)["按钮28"].set_enabled(true); });  // ends the run
        c.program().message_box(GBK("没有下载任务！"));
        return;
    }
    if (!q.has_work()) {
        q.next([&] { (*w)["按钮28"].set_enabled(true); });  // ends the run
        c.program().message_box(GBK("下载列表中只有失败或暂停的任务，请先重试或继续。"));
        return;
    }
    c.program().start_worker([&c] { run_next_download(c); });
}

void update_download_progress(Client& c) {
    auto w = c.main_window();
    if (!w) return;
    ui::Control& queue = (*w)["超级列表框2"];
    auto& pace = c.transfers().download_pace;
    engine::Download* object = nullptr;
    TaskId id = 0;
    std::int64_t moved = 0;
    // Under the queue's lock: a row that failed meanwhile keeps its reason.
    c.transfers().downloads.with_running([&](const transfer::DownloadQueue::Task& task) {
        std::int64_t done = task.object->bytes_received();
        object = task.object;
        id = task.id;
        moved = done;
        std::int64_t total = task.object->total_bytes();
        std::int64_t recent = task.object->recent_bytes();
        queue.set_cell_of(task.id, 2, transfer::progress_text(done, total));
        pace.add(task.id, recent, transfer::SpeedAverage::Clock::now());
        std::int64_t left = total < 0 ? -1 : std::max<std::int64_t>(total - done, 0);
        auto texts =
            transfer::running_row_texts(task.object->retry_state(), transfer::speed_text(recent),
                                        transfer::pace_text(left, pace.per_second()));
        queue.set_cell_of(task.id, 4, texts.cell);
        queue.set_row_tooltip_of(task.id, texts.tooltip);
    });
    checkpoint_download(c, object, id, moved);
}

void delete_download_task(Client& c) {
    auto w = c.main_window();
    ui::Control& queue = (*w)["超级列表框2"];
    int sel = queue.current();
    if (sel < 0 || sel >= queue.row_count()) return;
    TaskId id = queue.row_value(sel);
    if (c.transfers().downloads.remove(id) == transfer::RemoveResult::running) {
        c.program().message_box(GBK("该任务正在执行中，暂时无法删除。"));
        return;
    }
    queue.delete_row_of(id);
}

void pause_download_task(Client& c) {
    auto w = c.main_window();
    TaskId id = selected_download(*w);
    switch (c.transfers().downloads.pause(id)) {
    case transfer::PauseResult::paused: show_paused(*w, id); break;
    case transfer::PauseResult::stop_running:
        // stop_and_save waits for the connections: not on the window thread.
        c.program().start_worker([&c, id] {
            auto w = c.main_window();
            if (!w) return;
            if (stop_and_keep_download(c, id, transfer::RowState::paused)) show_paused(*w, id);
            run_next_download(c);
        });
        break;
    case transfer::PauseResult::unchanged: break;
    }
}

void resume_download_task(Client& c) {
    auto w = c.main_window();
    TaskId id = selected_download(*w);
    if (!c.transfers().downloads.resume(id)) return;
    show_waiting(*w, id);
    start_downloads(c);
}

void retry_download_task(Client& c) {
    auto w = c.main_window();
    TaskId id = selected_download(*w);
    if (!c.transfers().downloads.retry(id)) return;
    show_waiting(*w, id);
    start_downloads(c);
}

void pause_or_resume_download_task(Client& c) {
    auto w = c.main_window();
    auto task = c.transfers().downloads.find(selected_download(*w));
    if (!task) return;
    if (task->state == transfer::RowState::paused)
        resume_download_task(c);
    else
        pause_download_task(c);
}

void retry_failed_downloads(Client& c) {
    auto w = c.main_window();
    if (!w) return;
    auto ids = c.transfers().downloads.retry_failed();
    if (ids.empty()) return;
    for (TaskId id : ids) show_waiting(*w, id);
    start_downloads(c);
}

bool stop_download_for_exit(Client& c) {
    auto w = c.main_window();
    if (!w) return true;
    const bool downloads = (*w)["超级列表框2"].row_count() > 0;
    const bool uploading = c.transfers().uploads.running().has_value();
    if (!downloads && !uploading) return true;
    int answer = c.program().message_box(
        downloads ? GBK("发现有未完成的下载任务，是否退出，如果退出，将停止并删除该文件。")
                  : GBK("发现有正在进行的上传任务，是否退出，如果退出，将停止该上传。"),
        MessageButtons::yes_no);
    if (answer != kAnswerYes) return false;
    auto& q = c.transfers().downloads;
    q.halt();  // the stop below must not start the next row
    // The partial file and its record stay with the task, so the download
    // continues after the next login instead of starting over.
    std::optional<TaskId> download, upload;
    if (auto task = q.running(); task && q.pause(task->id) == transfer::PauseResult::stop_running &&
                                 stop_and_keep_download(c, task->id, transfer::RowState::waiting))
        download = task->id;
    if (auto task = c.transfers().uploads.running(); task && stop_upload_for_exit(c))
        upload = task->id;
    keep_running_for_next_start(c, download, upload);
    return true;
}

}  // namespace qorvel
