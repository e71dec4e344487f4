#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <memory>

#include "net/charset.h"
#include "net/text.h"
#include "roads/service_api.h"
#include "roads/storage/roads.h"
#include "roads/transfer/desktop_road.h"
#include "roads/transfer/roads.h"
#include "roads/transfer/shut_down.h"
#include "transfer/digest.h"
#include "transfer/engine/messages.h"
#include "transfer/journal.h"
#include "transfer/upload_rules.h"

namespace qorvel {

namespace {

using transfer::TaskId;
using transfer::UploadEntry;

void set_queue_caption(ui::Window& w) {
    w["选择夹3"].set_page_title(
        0, GBK("客户端上传(") + std::to_string(w["超级列表框6"].row_count()) + ")");
}

// Appends rows whose target is the tree's current folder: one change of the
// queue, in the journal before the list shows it.
void add_rows(Client& c, ui::Window& w, const std::vector<std::string>& paths) {
    if (paths.empty()) return;
    ui::Control& tree = w["树型框1"];
    int item = tree.current();
    std::string folder_name = item > 0 ? tree.tree_item_text(item) : GBK("默认文件夹");
    long long folder_id = item > 0 ? tree.tree_item_value(item) : 0;
    std::vector<UploadEntry> entries;
    entries.reserve(paths.size());
    for (const auto& path : paths) {
        std::string size = transfer::upload_size_text(transfer::file_size_of(path));
        entries.push_back(UploadEntry{path, folder_name, folder_id, size});
    }
    auto ids = c.transfers().uploads.add_all(entries);
    std::vector<ui::Row> shown;
    shown.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& e = entries[i];
        shown.push_back(
            ui::Row{{e.path, e.folder_name, std::to_string(e.folder_id), e.size_text}, ids[i]});
    }
    w["超级列表框6"].append_rows(std::move(shown));
    set_queue_caption(w);
}

void add_folder_files(std::vector<std::string>& adding, const std::string& folder,
                      transfer::AddingReport& report) {
    auto found = transfer::files_of_folder(folder);
    adding.insert(adding.end(), found.paths.begin(), found.paths.end());
    report.links_skipped += found.links_skipped;
}

// Says what adding left out, in the status line and the log.
void show_adding_report(ui::Window& w, const transfer::AddingReport& report) {
    std::string summary = transfer::adding_summary(report);
    if (summary.empty()) return;
    w["标签49"].set_caption(GBK("状态：") + summary);
    for (const auto& line : transfer::adding_log_lines(report))
        w["日志编辑框"].append_text(line + "\r\n");
}

// A file picked on its own through a link is the user's choice: it goes as the
// file the link names, shown by its real path, which the upload then opens
// without following links. A path that does not resolve stays as given.
std::string chosen_file_path(const std::string& path) {
    std::string real = transfer::real_path_of(path);
    return real.empty() ? path : real;
}

void fail_upload(Client& c, ui::Window& w, TaskId id, const std::string& why) {
    // A row cleared away while it ran leaves nothing behind.
    if (c.transfers().uploads.drop_cancelled(id)) return;
    c.transfers().uploads.fail(id, why);
    w["标签49"].set_caption(GBK("状态：") + why);
    ui::Control& queue = w["超级列表框6"];
    queue.set_cell_of(id, 3, GBK("失败：") + why);
    // The cell and the status line may cut it short; the tooltip and the log do not.
    queue.set_row_tooltip_of(id, GBK("上传失败：") + why);
    int row = queue.find_row(static_cast<long long>(id));
    std::string path = row >= 0 ? queue.cell(row, 0) : std::string();
    w["日志编辑框"].append_text(GBK("上传失败 ") + path + GBK("：") + why + "\r\n");
    note_transfer_failed(c, transfer::QueueKind::upload, path, why);
}

// The file is now one of the account's: list it and move the row out of the queue.
void record_upload(Client& c, ui::Window& w, TaskId id, const std::string& path, std::int64_t size,
                   long long new_id, const std::string& remark) {
    ui::Control& uploaded = w["超级列表框4"];
    uploaded.insert_row(0, path);
    uploaded.set_cell(0, 1, transfer::completed_size_text(size));
    uploaded.set_cell(0, 2, std::to_string(new_id));
    uploaded.set_cell(0, 3, remark);
    std::string name = transfer::file_name_of(path);
    std::string kb = std::to_string(size / 1024) + "KB";
    // On top of the file list, whichever folder it shows.
    ui::Control& files = w["超级列表框1"];
    files.insert_row(0, name, new_id);
    files.set_cell(0, 1, kb);
    w["选择夹3"].set_page_title(1, GBK("最近已完成(") + std::to_string(uploaded.row_count()) + ")");
    c.transfers().uploads.complete(
        id, {path, transfer::completed_size_text(size), std::to_string(new_id), remark});
    note_transfer_done(c, transfer::QueueKind::upload, path);
    w["超级列表框6"].delete_row_of(id);
    set_queue_caption(w);
}

// The one way an upload becomes a "最近已完成" row: upload_refusal finds nothing
// against it (the engine's success, the file as it began, its content verified
// or a server without HASH), then the service registers it. False: the row failed.
bool complete_upload(Client& c, ui::Window& w, TaskId id, const std::string& path,
                     const engine::Outcome& outcome,
                     const std::function<api::Result<long long>()>& register_file,
                     const std::string& remark) {
    const transfer::FileStamp began = c.transfers().upload_stamp;
    auto now = transfer::regular_file_stamp(path);
    if (auto why = transfer::upload_refusal(outcome, now && *now == began)) {
        fail_upload(c, w, id, *why);
        return false;
    }
    api::Result<long long> reg = register_file();
    if (!reg) {
        fail_upload(c, w, id, reg.error().message);
        return false;
    }
    record_upload(c, w, id, path, began.size, *reg, remark);
    return true;
}

bool try_instant_upload(Client& c, ui::Window& w, TaskId id, const std::string& path,
                        long long folder_id) {
    auto digest = transfer::file_md5_hex(text_to_path(path));
    if (!digest) return false;
    api::Result<long long> reg =
        service_api(c).instant_upload(folder_id, *digest, transfer::file_name_of(path));
    if (!reg) return false;
    // The service matched the digest of the file's bytes with content it holds:
    // verified, and registered by that very answer.
    engine::Outcome matched;
    matched.result = engine::Outcome::Result::success;
    matched.upload = engine::Outcome::Upload::verified;
    if (complete_upload(
            c, w, id, path, matched, [&] { return reg; }, GBK("极速秒传")))
        w["标签49"].set_caption(GBK("状态：上传完成！文件为极速秒传！"));
    return true;
}

void on_upload_ended(Client& c, TaskId id);

bool stopped_on_purpose(const transfer::UploadQueue& q, TaskId id) {
    auto now = q.find(id);
    return now && (now->state != transfer::RowState::running || now->stopping);
}

void show_waiting(ui::Window& w, TaskId id, const std::string& size_text) {
    ui::Control& queue = w["超级列表框6"];
    queue.set_cell_of(id, 3, size_text);
    queue.set_row_tooltip_of(id, "");
}

// Ends the running upload that pause() marked without registering it. False
// when it ended on its own first (a success is then registered as usual).
bool stop_and_keep_upload(Client& c, TaskId id, transfer::RowState after) {
    auto& q = c.transfers().uploads;
    auto task = q.find(id);
    if (!task) return false;
    std::int64_t sent = 0;
    if (task->object) {
        sent = task->object->bytes_sent();
        task->object->finish();
        task->object->wait_idle(5000);
        if (task->object->outcome().result == engine::Outcome::Result::success) return false;
    }
    if (auto journal = c.transfers().journal(); journal && sent > 0)
        journal->set_offset(transfer::JournalList::uploads, id, sent,
                            transfer::remote_name_for(task->entry.path));
    return q.stopped_on_purpose(id, {}, sent, after);
}

TaskId selected_upload(ui::Window& w) {
    ui::Control& queue = w["超级列表框6"];
    int sel = queue.current();
    return sel < 0 || sel >= queue.row_count() ? 0 : queue.row_value(sel);
}

void run_next_upload(Client& c) {
    auto w = c.main_window();
    if (!w) return;
    auto& q = c.transfers().uploads;
    for (;;) {
        set_queue_caption(*w);
        auto step = q.next([&] {
            (*w)["上传速度时钟"].set_interval(0);
            (*w)["上传按钮"].set_enabled(true);
        });
        if (step.run_ended) {
            note_run_ended(c, transfer::QueueKind::upload);
            // A run that finished nothing moved nothing worth ending the session for.
            if (step.finished_one && (*w)["选择框2"].checked())
                shut_down_after_run(c, *w, "选择框2");
            return;
        }
        if (!step.task) return;
        const TaskId id = step.task->id;
        const UploadEntry& e = step.task->entry;
        (*w)["标签49"].set_caption(GBK("状态：文件开始上传..."));
        (*w)["进度条"].set_position(0);
        (*w)["标签46"].set_caption(GBK("进度：0%"));
        (*w)["上传速度时钟"].set_interval(0);
        (*w)["文件路径编辑框"].set_text(e.path);

        // Opened without following a link or waiting on a FIFO.
        auto stamp = transfer::regular_file_stamp(e.path);
        if (!stamp) {
            fail_upload(c, *w, id, GBK("文件无法读取，上传失败！"));
            continue;
        }
        c.transfers().upload_stamp = *stamp;
        std::int64_t size = stamp->size;
        (*w)["标签50"].set_caption(GBK("文件大小：") + std::to_string(size / 1024) + "KB");
        if (q.drop_cancelled(id)) continue;
        if ((*w)["选择框1"].checked() && try_instant_upload(c, *w, id, e.path, e.folder_id)) {
            continue;
        }
        if (q.drop_cancelled(id)) continue;
        (*w)["日志编辑框"].append_text(GBK("开始上传文件") + e.path + "\r\n");

        // The user's own file goes out under the remote name: no copy on the way.
        std::string remote = transfer::remote_name_for(e.path);
        auto& p = c.transfers().upload_params;
        p.mode_flags = engine::kModeUpload;
        // A row of an earlier run or a pause goes on after the bytes the server
        // still keeps (the engine asks SIZE and REST); without them it starts over.
        // The server's digest of the whole file still decides the registration.
        if (step.task->saved_offset > 0) p.mode_flags |= engine::kPolicyContinue;
        std::string user = (*w)["用户名编辑框"].text();
        std::string password = (*w)["密码编辑框"].text();
        p.user_name = user.empty() ? "anonymous" : user;
        p.password = password.empty() ? engine::kAnonymousPassword : password;
        p.connections = 1;
        p.transfer_type = 3;
        p.local_path = e.path;
        p.url = transfer::ftp_upload_url(c.hosts().ftp_host, remote);
        p.timeout_1 = p.timeout_2 = p.timeout_3 = 5000;
        p.send_chunk = 20480;
        p.message_callback = [](const std::string&, int) {};
        // Set before the start: an ended event of an earlier run of this row is not ours.
        auto ours = std::make_shared<std::atomic<engine::FtpUpload*>>(nullptr);
        p.event_callback = [&c, id, ours](int code, engine::TaskId, std::int64_t, std::int64_t,
                                          engine::TaskId) {
            if (code == engine::kEventEnded) {
                c.program().start_worker([&c, id, ours] {
                    if (c.transfers().uploads.holds_object(id, ours->load()))
                        on_upload_ended(c, id);
                });
            }
            return code == engine::kEventAskExistingRemote ? 1 : 0;
        };
        (*w)["上传速度时钟"].set_interval(1000);
        engine::FtpUpload* object = q.fresh_object(id, e.path);
        ours->store(object);
        if (!object || !object->start(p)) {
            fail_upload(c, *w, id, GBK("无法启动上传任务"));
            continue;
        }
        return;
    }
}

void on_upload_ended(Client& c, TaskId id) {
    auto w = c.main_window();
    auto& q = c.transfers().uploads;
    auto task = q.find(id);
    if (!w || !task || !task->object) return;
    engine::FtpUpload* object = task->object;
    object->wait_idle(5000);
    engine::Outcome outcome = object->outcome();
    object->finish();
    // Paused or stopped for the exit: whoever stopped it settles the row.
    if (outcome.result != engine::Outcome::Result::success && stopped_on_purpose(q, id)) return;
    bool whole = false;  // every byte arrived: the bar and 标签46 stay at 100%
    if (q.drop_cancelled(id)) {
        // Cleared away while it ran: not registered, no row left.
    } else if (task) {
        const std::string& path = task->entry.path;
        c.transfers().last_upload_folder.set(transfer::folder_part_of(path));
        if (outcome.result == engine::Outcome::Result::success) {
            (*w)["进度条"].set_position(100);
            (*w)["标签46"].set_caption(GBK("进度：100%"));
            whole = true;
        }
        auto register_file = [&] {
            return service_api(c).register_upload(task->entry.folder_id,
                                                  transfer::file_name_of(path));
        };
        if (complete_upload(c, *w, id, path, outcome, register_file, GBK("常规上传"))) {
            (*w)["标签49"].set_caption(GBK("状态：文件上传完成！"));
            if (outcome.upload == engine::Outcome::Upload::verified)
                (*w)["日志编辑框"].append_text(GBK("服务器已核对文件内容：") + path + "\r\n");
        }
    }
    if (!whole) {
        (*w)["进度条"].set_position(0);
        (*w)["标签46"].set_caption(GBK("进度：0%"));
    }
    (*w)["标签47"].set_caption(GBK("上传速度：0KB"));
    run_next_upload(c);
}

}  // namespace

void add_upload_files(Client& c) {
    auto w = c.main_window();
    if ((*w)["组合框8"].current() != 0) {
        add_upload_folder(c);
        return;
    }
    // The chooser opens where the last upload came from.
    auto paths = c.program().choose_files(GBK("请选择文件"), GBK("所有文件（*.*）") + "|*",
                                          c.transfers().last_upload_folder.get());
    transfer::AddingReport report;
    std::vector<std::string> adding;
    for (const auto& chosen : paths) {
        std::string path = chosen_file_path(chosen);
        if (transfer::path_kind(path) == transfer::PathKind::folder) continue;
        if (transfer::under_upload_limit(transfer::file_size_of(path)))
            adding.push_back(path);
        else
            report.too_large.push_back(path);
    }
    add_rows(c, *w, adding);
    show_adding_report(*w, report);
}

void add_upload_files_menu(Client& c) {
    (*c.main_window())["组合框8"].set_current(0);
    add_upload_files(c);
}

void add_upload_folder(Client& c) {
    auto w = c.main_window();
    std::string folder = c.prompts().choose_folder(GBK("请选择一个文件夹"));
    if (folder.empty()) return;
    transfer::AddingReport report;
    std::vector<std::string> adding;
    add_folder_files(adding, folder, report);
    add_rows(c, *w, adding);
    show_adding_report(*w, report);
}

void add_dropped_items(Client& c, const std::vector<std::string>& paths) {
    auto w = c.main_window();
    transfer::AddingReport report;
    std::vector<std::string> adding;
    for (const auto& dropped : paths) {
        auto kind = transfer::path_kind(dropped);
        // A folder keeps the path it was dropped by; a file is judged as what it is.
        const std::string path =
            kind == transfer::PathKind::file ? chosen_file_path(dropped) : dropped;
        switch (transfer::decide_dropped(path, kind, transfer::file_size_of(path))) {
        case transfer::DropAction::add_file: adding.push_back(path); break;
        case transfer::DropAction::add_folder: add_folder_files(adding, path, report); break;
        case transfer::DropAction::too_large: report.too_large.push_back(path); break;
        case transfer::DropAction::name_refused: report.name_refused.push_back(path); break;
        case transfer::DropAction::skip: break;
        }
    }
    add_rows(c, *w, adding);
    show_adding_report(*w, report);
    start_uploads(c);
}

void show_upload_target(Client& c) {
    storage::set_upload_target_from_tree(c, true);
}

void start_uploads(Client& c) {
    auto w = c.main_window();
    auto& q = c.transfers().uploads;
    if (q.size() == 0) return;
    if (!q.begin_run([&] { (*w)["上传按钮"].set_enabled(false); })) return;
    c.program().start_worker([&c] { run_next_upload(c); });
}

void update_upload_progress(Client& c) {
    auto w = c.main_window();
    auto& q = c.transfers().uploads;
    engine::FtpUpload* object = nullptr;
    std::string path;
    TaskId id = 0;
    q.with_running([&](const transfer::UploadQueue::Task& task) {
        object = task.object;
        path = task.local_path;
        id = task.id;
    });
    // An ended transfer counts nothing more; its end shows the last figures.
    if (!w || !object || object->outcome().result != engine::Outcome::Result::none) return;
    std::int64_t sent = object->bytes_sent();
    std::int64_t size = transfer::file_size_of(path);
    int percent = size > 0 ? static_cast<int>(std::lround(static_cast<double>(sent) * 100.0 /
                                                          static_cast<double>(size)))
                           : 0;
    if (percent > 100) percent = 100;
    std::int64_t recent = engine::FtpUpload::sent_since_last_query();
    auto& pace = c.transfers().upload_pace;
    pace.add(id, recent, transfer::SpeedAverage::Clock::now());
    std::int64_t left = size < 0 ? -1 : std::max<std::int64_t>(size - sent, 0);
    auto texts =
        transfer::running_row_texts(object->retry_state(), std::to_string(recent / 1024) + "KB",
                                    transfer::pace_text(left, pace.per_second()));
    const std::string& text = texts.tooltip;
    // Written under the queue's lock and only while the transfer runs: its end
    // (which finds the task under that lock first) has the last word.
    q.with_running([&](const transfer::UploadQueue::Task& task) {
        if (task.id != id || object->outcome().result != engine::Outcome::Result::none) return;
        (*w)["进度条"].set_position(percent);
        (*w)["标签46"].set_caption(GBK("进度：") + std::to_string(percent) + "%");
        (*w)["标签47"].set_caption(GBK("上传速度：") + texts.cell);
        (*w)["标签49"].set_caption(GBK("状态：") + text);
        (*w)["超级列表框6"].set_row_tooltip_of(id, text);
    });
    // What was sent; on a later start the server's SIZE decides where to go on.
    auto journal = c.transfers().journal();
    if (journal && c.transfers().upload_checkpoints.due(id, sent, std::chrono::steady_clock::now()))
        journal->set_offset(transfer::JournalList::uploads, id, sent,
                            transfer::remote_name_for(path));
}

void delete_upload_task(Client& c) {
    auto w = c.main_window();
    ui::Control& queue = (*w)["超级列表框6"];
    int sel = queue.current();
    if (sel < 0 || sel >= queue.row_count()) return;
    TaskId id = queue.row_value(sel);
    if (c.transfers().uploads.remove(id) == transfer::RemoveResult::running) {
        c.program().message_box(GBK("该任务正在执行中，暂时无法删除。"));
        return;
    }
    queue.delete_row_of(id);
}

void clear_upload_tasks(Client& c) {
    auto w = c.main_window();
    // The running task stays in the queue, cancelled, until its runner drops it.
    auto running = c.transfers().uploads.clear(true);
    ui::Control& queue = (*w)["超级列表框6"];
    for (const auto& row : queue.rows()) queue.delete_row_of(row.value);
    set_queue_caption(*w);
    // The running upload is ended too and never registered.
    if (running) {
        if (auto task = c.transfers().uploads.find(*running); task && task->object)
            task->object->finish();
    }
}

void start_uploads_by_hand(Client& c) {
    auto& q = c.transfers().uploads;
    if (q.size() > 0 && !q.has_work()) {
        c.program().message_box(GBK("上传列表中只有失败或暂停的任务，请先重试或继续。"));
        return;
    }
    start_uploads(c);
}

void pause_upload_task(Client& c) {
    auto w = c.main_window();
    TaskId id = selected_upload(*w);
    auto show_paused = [](ui::Window& w, TaskId id) {
        w["超级列表框6"].set_cell_of(id, 3, GBK("已暂停"));
        w["超级列表框6"].set_row_tooltip_of(id, "");
    };
    switch (c.transfers().uploads.pause(id)) {
    case transfer::PauseResult::paused: show_paused(*w, id); break;
    case transfer::PauseResult::stop_running:
        c.program().start_worker([&c, id, show_paused] {
            auto w = c.main_window();
            if (!w) return;
            if (stop_and_keep_upload(c, id, transfer::RowState::paused)) {
                show_paused(*w, id);
                (*w)["进度条"].set_position(0);
                (*w)["标签46"].set_caption(GBK("进度：0%"));
                (*w)["标签47"].set_caption(GBK("上传速度：0KB"));
                (*w)["标签49"].set_caption(GBK("状态：已暂停"));
            }
            run_next_upload(c);
        });
        break;
    case transfer::PauseResult::unchanged: break;
    }
}

void resume_upload_task(Client& c) {
    auto w = c.main_window();
    TaskId id = selected_upload(*w);
    auto task = c.transfers().uploads.find(id);
    if (!task || !c.transfers().uploads.resume(id)) return;
    show_waiting(*w, id, task->entry.size_text);
    start_uploads(c);
}

void retry_upload_task(Client& c) {
    auto w = c.main_window();
    TaskId id = selected_upload(*w);
    auto task = c.transfers().uploads.find(id);
    if (!task || !c.transfers().uploads.retry(id)) return;
    show_waiting(*w, id, task->entry.size_text);
    start_uploads(c);
}

void pause_or_resume_upload_task(Client& c) {
    auto w = c.main_window();
    auto task = c.transfers().uploads.find(selected_upload(*w));
    if (!task) return;
    if (task->state == transfer::RowState::paused)
        resume_upload_task(c);
    else
        pause_upload_task(c);
}

void retry_failed_uploads(Client& c) {
    auto w = c.main_window();
    if (!w) return;
    auto& q = c.transfers().uploads;
    auto ids = q.retry_failed();
    if (ids.empty()) return;
    for (TaskId id : ids)
        if (auto task = q.find(id)) show_waiting(*w, id, task->entry.size_text);
    start_uploads(c);
}

bool stop_upload_for_exit(Client& c) {
    auto& q = c.transfers().uploads;
    q.halt();  // nothing starts after it
    auto task = q.running();
    if (!task || q.pause(task->id) != transfer::PauseResult::stop_running) return false;
    return stop_and_keep_upload(c, task->id, transfer::RowState::waiting);
}

}  // namespace qorvel
