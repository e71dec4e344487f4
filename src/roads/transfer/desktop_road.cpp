#include "roads/transfer/desktop_road.h"

#include <chrono>

#include "net/charset.h"
#include "platform/ini_file.h"
#include "roads/transfer/roads.h"
#include "transfer/upload_rules.h"

namespace qorvel {

namespace {

using transfer::QueueKind;

constexpr const char* kOpenFolder = "open-folder";
constexpr const char* kRetryFailed = "retry-failed";

// The share of the run done, or -1 when the queue has no run.
template <class Queue, class Bytes>
int queue_percent(const Queue& q, const transfer::RunTally& tally, Bytes bytes) {
    if (!q.run_active()) return -1;
    int remaining = 0;
    std::int64_t done = 0, total = 0;
    for (const auto& t : q.tasks()) {
        if (t.state == transfer::RowState::failed) continue;
        ++remaining;
        if (t.state == transfer::RowState::running && t.object) bytes(t, done, total);
    }
    return transfer::run_percent(tally.done + tally.failed, remaining, done, total);
}

}  // namespace

bool desktop_notices_enabled(const Client& c) {
    return ini_read(c.config().skin_file(), "desktop", "notifications") != "0";
}

void tell_desktop(Client& c, const transfer::NoticeText& notice) {
    if (!desktop_notices_enabled(c)) return;
    auto tray = [&c, notice] {
        if (auto main = c.main_window()) main->show_tray_message(notice.summary, notice.body);
    };
    if (!c.notifier) return tray();
    DesktopNotice n{gbk_to_utf8(notice.summary), gbk_to_utf8(notice.body), {}};
    if (!notice.folder.empty()) n.actions.push_back({kOpenFolder, gbk_to_utf8(GBK("打开文件夹"))});
    if (notice.retry_failed)
        n.actions.push_back({kRetryFailed, gbk_to_utf8(GBK("重试失败的任务"))});
    std::string folder = notice.folder;
    auto retry = notice.retry_failed;
    c.notifier->notify(
        std::move(n),
        [tray](bool delivered) {
            if (!delivered) tray();
        },
        [&c, folder, retry](const std::string& key) {
            if (key == kOpenFolder && !folder.empty()) {
                c.program().post([&c, folder] { c.shell().open_file(folder); });
            } else if (key == kRetryFailed && retry) {
                // The rows and their list belong to the window thread.
                c.program().post([&c, kind = *retry] {
                    if (kind == QueueKind::download)
                        retry_failed_downloads(c);
                    else
                        retry_failed_uploads(c);
                });
            }
        });
}

void note_transfer_done(Client& c, QueueKind kind, const std::string& path) {
    c.run_reports.done(kind, kind == QueueKind::download ? transfer::folder_part_of(path) : "");
}

void note_transfer_failed(Client& c, QueueKind kind, const std::string& name,
                          const std::string& why) {
    // A run halted by the close question stops its task on purpose: nothing to tell.
    auto& t = c.transfers();
    bool active = kind == QueueKind::download ? t.downloads.run_active() : t.uploads.run_active();
    if (!active || c.program().exiting()) return;
    if (auto n = c.run_reports.failed(kind, name, why)) tell_desktop(c, *n);
}

void note_run_ended(Client& c, QueueKind kind) {
    if (auto n = c.run_reports.run_ended(kind)) tell_desktop(c, *n);
}

void desktop_watch_step(Client& c, bool& held) {
    auto& t = c.transfers();
    bool running = t.downloads.run_active() || t.uploads.run_active();
    if (running != held) {
        held = running;
        if (c.sleep_inhibitor) c.sleep_inhibitor->set_held(held);
    }
    auto main = c.main_window();
    if (!main) return;
    int down = queue_percent(t.downloads, c.run_reports.tally(QueueKind::download),
                             [](const auto& task, std::int64_t& done, std::int64_t& total) {
                                 done = task.object->bytes_received();
                                 total = task.object->total_bytes();
                             });
    int up = queue_percent(t.uploads, c.run_reports.tally(QueueKind::upload),
                           [](const auto& task, std::int64_t& done, std::int64_t& total) {
                               done = task.object->bytes_sent();
                               total = transfer::file_size_of(task.local_path);
                           });
    std::string tip = transfer::tray_progress_text(down, up);
    main->set_tray_tooltip(tip.empty() ? main->caption() : tip);
}

void start_desktop_watch(Client& c) {
    c.program().start_worker([&c] {
        bool held = false;
        do {
            desktop_watch_step(c, held);
        } while (c.program().sleep_for(std::chrono::milliseconds(250)));
        if (held && c.sleep_inhibitor) c.sleep_inhibitor->set_held(false);
    });
}

}  // namespace qorvel
