// The account's lists across log-ins and runs: the journal opened at a login,
// the rows put back into the lists, and everything put away before another
// account comes.
#include "net/charset.h"
#include "roads/transfer/roads.h"
#include "transfer/engine/engine.h"
#include "transfer/journal_link.h"
#include "transfer/upload_rules.h"

namespace qorvel {

namespace {

using transfer::JournalList;
using transfer::JournalRow;
using transfer::JournalState;

constexpr const char* kSaveFolderKey = "save_folder";
constexpr const char* kSameNameKey = "same_name";

std::vector<ui::Row> download_rows(const std::vector<JournalRow>& rows) {
    std::vector<ui::Row> out;
    out.reserve(rows.size());
    for (const auto& r : rows) {
        ui::Row row;
        row.value = r.id;
        std::string state;
        std::string note;
        if (r.state == JournalState::failed) {
            state = GBK("失败");
            note = r.failure;
            row.tooltip = GBK("下载失败：") + r.failure;
        } else if (r.state == JournalState::paused) {
            state = GBK("已暂停");
        }
        row.cells = {r.name, r.size_text, state, r.file_id, note, r.folder};
        out.push_back(std::move(row));
    }
    return out;
}

std::vector<ui::Row> upload_rows(const std::vector<JournalRow>& rows) {
    std::vector<ui::Row> out;
    out.reserve(rows.size());
    for (const auto& r : rows) {
        ui::Row row;
        row.value = r.id;
        std::string size = r.size_text;
        if (r.state == JournalState::failed) {
            size = GBK("失败：") + r.failure;
            row.tooltip = GBK("上传失败：") + r.failure;
        } else if (r.state == JournalState::paused) {
            size = GBK("已暂停");  // as the pause showed it
        }
        row.cells = {r.name, r.folder, std::to_string(r.folder_id), size};
        out.push_back(std::move(row));
    }
    return out;
}

// Done lists show the newest row on top.
std::vector<ui::Row> done_rows(const std::vector<JournalRow>& rows, bool downloads) {
    std::vector<ui::Row> out;
    out.reserve(rows.size());
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        ui::Row row;
        row.cells =
            downloads ? std::vector<std::string>{it->name, it->local_path}
                      : std::vector<std::string>{it->name, it->size_text, it->file_id, it->remark};
        out.push_back(std::move(row));
    }
    return out;
}

void set_captions(ui::Window& w) {
    w["选择夹2"].set_page_title(
        0, GBK("下载中(") + std::to_string(w["超级列表框2"].row_count()) + ")");
    w["选择夹2"].set_page_title(
        1, GBK("已完成(") + std::to_string(w["超级列表框3"].row_count()) + ")");
    w["选择夹3"].set_page_title(
        0, GBK("客户端上传(") + std::to_string(w["超级列表框6"].row_count()) + ")");
    w["选择夹3"].set_page_title(
        1, GBK("最近已完成(") + std::to_string(w["超级列表框4"].row_count()) + ")");
}

std::filesystem::path journal_file(Client& c, const std::string& account) {
    auto folder = c.journal_folder.empty() ? transfer::Journal::default_folder() : c.journal_folder;
    return folder.empty() ? folder : transfer::Journal::path_for(folder, account);
}

}  // namespace

void save_download_settings(Client& c) {
    auto w = c.main_window();
    auto journal = c.transfers().journal();
    if (!w || !journal) return;
    // Written only when a value differs: an idle client writes nothing.
    journal->set_setting(kSaveFolderKey, (*w)["编辑框49"].text());
    journal->set_setting(kSameNameKey, std::to_string((*w)["组合框6"].current()));
}

void keep_running_for_next_start(Client& c, std::optional<transfer::TaskId> download,
                                 std::optional<transfer::TaskId> upload) {
    auto journal = c.transfers().journal();
    if (!journal) return;
    // The quit stopped them, not the user: the next login starts them again.
    transfer::JournalChange change;
    if (auto t = download ? c.transfers().downloads.find(*download) : std::nullopt) {
        t->state = transfer::RowState::running;
        change.put.push_back(transfer::journal_row(*t));
    }
    if (auto t = upload ? c.transfers().uploads.find(*upload) : std::nullopt) {
        t->state = transfer::RowState::running;
        change.put.push_back(transfer::journal_row(*t));
    }
    if (!change.empty()) journal->apply(change);
}

void close_account_transfers(Client& c) {
    auto& t = c.transfers();
    auto journal = t.journal();
    // What the stops below cause is not the user's doing: the journal keeps the
    // rows as they were, running ones with where they got to.
    transfer::detach_journal(t);
    t.downloads.halt();
    t.uploads.halt();
    if (auto task = t.downloads.running(); task && task->object) {
        std::string record;
        if (task->object->stop_and_save(record) && journal && !record.empty())
            journal->set_record(JournalList::downloads, task->id, record);
    }
    if (auto task = t.uploads.running(); task && task->object) {
        std::int64_t sent = task->object->bytes_sent();
        task->object->finish();
        if (journal)
            journal->set_offset(JournalList::uploads, task->id, sent,
                                transfer::remote_name_for(task->entry.path));
    }
    t.downloads.take_all();
    t.uploads.take_all();
    auto w = c.main_window();
    if (!w) return;
    for (const char* list : {"超级列表框2", "超级列表框3", "超级列表框6", "超级列表框4"})
        (*w)[list].clear_rows();
    set_captions(*w);
    (*w)["按钮28"].set_enabled(true);
    (*w)["上传按钮"].set_enabled(true);
    (*w)["上传速度时钟"].set_interval(0);
}

void open_account_transfers(Client& c, const std::string& account) {
    if (c.transfers().journal()) close_account_transfers(c);
    auto w = c.main_window();
    if (!w) return;
    std::string why;
    auto journal = transfer::Journal::open(journal_file(c, account), &why);
    if (!journal) {
        (*w)["日志编辑框"].append_text(GBK("无法打开传输记录：") + why + "\r\n");
        return;
    }
    std::shared_ptr<transfer::Journal> shared = std::move(journal);
    auto& t = c.transfers();
    auto restored = transfer::restore_queues(t, *shared);
    if (auto folder = shared->setting(kSaveFolderKey); folder && !folder->empty())
        (*w)["编辑框49"].set_text(*folder);
    if (auto policy = shared->setting(kSameNameKey)) {
        int n = std::atoi(policy->c_str());
        if (n >= 0 && n < (*w)["组合框6"].item_count()) (*w)["组合框6"].set_current(n);
    }
    // One batch per list: a hundred thousand rows are one repaint, not as many.
    (*w)["超级列表框2"].append_rows(download_rows(restored.downloads));
    (*w)["超级列表框3"].append_rows(done_rows(restored.downloads_done, true));
    (*w)["超级列表框6"].append_rows(upload_rows(restored.uploads));
    (*w)["超级列表框4"].append_rows(done_rows(restored.uploads_done, false));
    set_captions(*w);
    transfer::attach_journal(t, shared);
    if (restored.download_was_running) start_downloads(c);
    if (restored.upload_was_running) start_uploads(c);
}

}  // namespace qorvel
