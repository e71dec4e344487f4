// The folder tree, the paged file list and the addresses handed to the desktop.
#include <string>
#include <vector>

#include "net/charset.h"
#include "net/text.h"
#include "net/web.h"
#include "roads/service_api.h"
#include "roads/storage/roads.h"
#include "storage/answers.h"
#include "storage/messages.h"
#include "storage/names.h"

namespace qorvel::storage {

namespace {

// Rows and sub-folders reach the view this many at a time.
constexpr size_t kBatch = 100;

// The tree's current item, falling back to the root when none is current.
int current_folder_item(ui::Control& tree) {
    int item = tree.current();
    if (item > 0 && tree.tree_item_parent(item) >= 0) return item;
    auto top = tree.tree_children(ui::kTreeRoot);
    if (top.empty()) return -1;
    tree.set_current(top.front());
    return top.front();
}

// The stamp line and the busy test of a list load, as one step.
bool begin_list_load(Client& c, ui::Window& w) {
    if (c.timestamped_log_enabled)
        w[names::kStampLog].append_text(c.take_time_stamp() + gbk(text::kStampStart));
    if (c.browser().try_begin_load()) return true;
    say(c, text::kBusy);
    return false;
}

// The end of every load, whatever became of it.
// The load ends only once its controls are back, so whoever sees it idle can use them.
void finish_list_load(Client& c, ui::Window& w, const char* status) {
    if (c.timestamped_log_enabled)
        w[names::kStampLog].append_text(c.take_time_stamp() + gbk(text::kStampDone));
    w[names::kWorkList].set_enabled(true);
    w[names::kTree].set_enabled(true);
    w[names::kTabs].set_enabled(true);
    w[names::kStatus].set_caption(gbk(status));
    // A whole-folder list asks for one load only, whether it was answered or not.
    c.browser().set_folder_download_pending(false);
    c.browser().end_load();
}

void fill_page_combo(ui::Control& combo, int pages) {
    combo.clear_items();
    for (int i = 0; i < pages; ++i) combo.add_item(std::to_string(i));
    if (pages > 0) combo.set_current(0);
}

void show_rows(ui::Window& w, const std::vector<FileRow>& rows) {
    ui::Control& list = w[names::kFileList];
    ui::Control& names_box = w[names::kNameList];
    for (size_t at = 0; at < rows.size(); at += kBatch) {
        std::vector<ui::Row> batch;
        for (size_t i = at; i < rows.size() && i < at + kBatch; ++i) {
            ui::Row r;
            r.cells = {rows[i].name, rows[i].size, rows[i].date, rows[i].downloads};
            r.value = rows[i].id;
            batch.push_back(std::move(r));
            names_box.add_item(rows[i].name, rows[i].id);
        }
        list.append_rows(std::move(batch));
    }
}

// Shows the page a list load asked for; false when it went unanswered, which
// ends the load. The busy flag is held (worker).
bool show_file_page(Client& c, ui::Window& w, const WebReply& reply) {
    if (!reply.answered) {
        // The rows shown stay: an unanswered page is no empty folder.
        finish_list_load(c, w, text::kFilesUnreachable);
        return false;
    }
    w[names::kFileList].clear_rows();
    w[names::kNameList].clear_items();
    // The whole answer: a zero byte in it must not hide the rows and page count after it.
    FilePage page = parse_file_page(reply.body, w[names::kEntryPattern].text());
    if (c.browser().rebuild_page_list()) fill_page_combo(w[names::kPageCombo], page.pages);
    show_rows(w, page.rows);
    w[names::kActivityLog].append_text(gbk(text::kLogDone));
    w[names::kPageFileCount].set_caption(gbk(text::kPageFileCount) +
                                         std::to_string(page.rows.size()) + gbk("个"));
    return true;
}

// The end of a list load whose page was shown: the settings page's answer.
void end_file_list(Client& c, ui::Window& w, bool whole, const WebReply& settings) {
    // The password of the settings page; an unanswered fetch keeps the one we had.
    if (settings.answered)
        c.browser().set_access_password(
            read_access_password(utf8_to_gbk(settings.body), w[names::kPasswordMarker].text()));
    // The upload target follows before the controls come back, so that an upload
    // started the moment they do goes to this folder.
    if (w[names::kSetUploadCheck].checked()) set_upload_target_from_tree(c, false);
    finish_list_load(c, w, text::kLoaded);
    if (whole && c.folder_listed_for_download) c.folder_listed_for_download();
}

// Loads the page whose address is in 编辑框3; the busy flag is held (worker).
// The settings page is asked at the same time and read after the page.
void fetch_file_list(Client& c, ui::Window& w) {
    w[names::kWorkList].set_enabled(false);
    bool whole = c.browser().folder_download_pending();
    std::string address = file_list_request(c.hosts(), w[names::kListAddress].text(), whole);
    w[names::kListAddress].set_text(address);
    using Part = api::ServiceApi::ViewPart;
    service_api(c).folder_view(false, 0, address, [&](Part part, WebReply& reply) {
        if (part == Part::page) return show_file_page(c, w, reply);
        end_file_list(c, w, whole, reply);
        return true;
    });
}

// The folder worker: one level of sub-folders, then the folder's first page,
// then the settings page. The three are asked together and each answer is
// read as it comes in, in that order; an unanswered one ends the load there,
// as if the next had never been asked.
void run_folder_load(Client& c, const std::shared_ptr<ui::Window>& main) {
    ui::Window& w = *main;
    ui::Control& tree = w[names::kTree];
    StorageBrowser& b = c.browser();
    b.set_rebuild_page_list(true);
    w[names::kStatus].set_caption(gbk(text::kReadingFolders));
    std::string pid = c.session().login_pid();
    int item = current_folder_item(tree);
    long long folder = item > 0 ? tree.tree_item_value(item) : 0;
    bool ask_folders = item > 0 && !(tree.expanded(item) && !tree.tree_children(item).empty());
    bool whole = b.folder_download_pending();
    std::string list = list_address(c.hosts(), pid, folder);
    std::string page = file_list_request(c.hosts(), list, whole);
    auto folders_done = [&] {
        if (item > 0) tree.expand(item);
        w[names::kListAddress].set_text(list);
        w[names::kStatus].set_caption(gbk(text::kReadingFiles));
        w[names::kWorkList].set_enabled(false);
        w[names::kListAddress].set_text(page);
    };
    if (!ask_folders) folders_done();
    using Part = api::ServiceApi::ViewPart;
    service_api(c).folder_view(ask_folders, folder, page, [&](Part part, WebReply& reply) {
        if (part == Part::settings) {
            end_file_list(c, w, whole, reply);
            return true;
        }
        if (part == Part::page) return show_file_page(c, w, reply);
        if (!reply.answered) {
            // Keep what the tree showed; a later visit to the page tries again.
            b.reset_first_load();
            finish_list_load(c, w, text::kFolderUnreachable);
            return false;
        }
        auto entries = parse_folder_answer(reply.body, w[names::kFolderPattern].text());
        for (int child : tree.tree_children(item)) tree.delete_tree_item(child);
        for (size_t at = 0; at < entries.size(); at += kBatch) {
            std::vector<std::pair<std::string, long long>> batch;
            for (size_t i = at; i < entries.size() && i < at + kBatch; ++i)
                batch.emplace_back(entries[i].name, entries[i].id);
            tree.add_tree_items(item, batch);
        }
        folders_done();
        return true;
    });
}

}  // namespace

std::string gbk(const char* utf8) {
    return utf8_to_gbk(utf8);
}

void say(Client& c, const char* utf8) {
    c.prompts().message_box(gbk(utf8), MessageButtons::ok);
}

void reset_folder_tree(Client& c) {
    auto main = c.main_window();
    if (!main) return;
    ui::Control& tree = (*main)[names::kTree];
    tree.clear_tree();
    tree.set_current(tree.add_tree_item(ui::kTreeRoot, gbk(text::kRootFolder), 0));
    // A new login shows nothing of the last one and loads again on the next visit.
    (*main)[names::kFileList].clear_rows();
    c.browser().reset_first_load();
}

void first_tree_load(Client& c) {
    auto main = c.main_window();
    if (!main || !c.browser().claim_first_load()) return;
    (*main)[names::kTabs].set_enabled(false);
    ui::Control& tree = (*main)[names::kTree];
    tree.expand(tree.current(), false);
    if (!start_folder_load(c)) c.browser().reset_first_load();
}

bool start_folder_load(Client& c) {
    auto main = c.main_window();
    if (!main || !begin_list_load(c, *main)) return false;
    (*main)[names::kTree].set_enabled(false);
    c.browser().set_folder_download_pending(false);
    c.program().start_worker([&c, main] { run_folder_load(c, main); });
    return true;
}

bool start_whole_folder_load(Client& c) {
    auto main = c.main_window();
    if (!main || !begin_list_load(c, *main)) return false;
    (*main)[names::kTree].set_enabled(false);
    c.browser().set_folder_download_pending(true);
    c.program().start_worker([&c, main] { run_folder_load(c, main); });
    return true;
}

void on_page_selected(Client& c) {
    auto main = c.main_window();
    if (!main) return;
    ui::Window& w = *main;
    ui::Control& combo = w[names::kPageCombo];
    int index = combo.current();
    if (index < 0) return;
    // Refused before anything changes: the running load keeps its address.
    if (!begin_list_load(c, w)) return;
    ui::Control& tree = w[names::kTree];
    long long folder = tree.current() > 0 ? tree.tree_item_value(tree.current()) : 0;
    c.browser().set_folder_id(static_cast<int>(folder));
    c.browser().set_rebuild_page_list(false);
    combo.set_enabled(false);
    // The tree waits too, so the folder shown and the folder picked stay one.
    tree.set_enabled(false);
    w[names::kListAddress].set_text(
        page_address(c.hosts(), c.session().login_pid(), folder, combo.item_text(index)));
    c.program().start_worker([&c, main, index] {
        ui::Control& box = (*main)[names::kPageCombo];
        fetch_file_list(c, *main);
        box.set_enabled(true);
        box.set_current(index);
    });
}

void set_upload_target_from_tree(Client& c, bool show_upload_page) {
    auto main = c.main_window();
    if (!main) return;
    ui::Control& tree = (*main)[names::kTree];
    int item = tree.current();
    if (item <= 0) return;
    c.browser().set_folder_id(static_cast<int>(tree.tree_item_value(item)));
    (*main)[names::kUploadTarget].set_caption(gbk(text::kUploadTo) + tree.tree_item_text(item));
    if (show_upload_page) (*main)[names::kTabs].set_current(0);
}

// --- addresses and local files ---

namespace {

// The current row's item value of the file list, or nothing.
bool current_file(Client& c, long long& id) {
    auto main = c.main_window();
    if (!main) return false;
    ui::Control& list = (*main)[names::kFileList];
    int row = list.current();
    if (row < 0) return false;
    id = list.row_value(row);
    return true;
}

bool current_folder(Client& c, long long& id) {
    auto main = c.main_window();
    if (!main) return false;
    ui::Control& tree = (*main)[names::kTree];
    if (tree.current() <= 0) return false;
    id = tree.tree_item_value(tree.current());
    return std::to_string(id) != "-1";
}

// A cell of the current row of one of the transfer lists, or nothing.
bool current_cell(Client& c, const char* list_name, int column, std::string& out) {
    auto main = c.main_window();
    if (!main) return false;
    ui::Control& list = (*main)[list_name];
    int row = list.current();
    if (row < 0) return false;
    out = list.cell(row, column);
    return true;
}

}  // namespace

void open_file_page(Client& c) {
    long long id = 0;
    if (current_file(c, id)) open_in_browser(c.shell(), file_page_url(c.hosts(), id));
}

void copy_file_page(Client& c) {
    long long id = 0;
    if (!current_file(c, id)) return;
    c.shell().set_clipboard_text(file_page_url(c.hosts(), id));
    say(c, text::kCopied);
}

void open_folder_page(Client& c) {
    long long id = 0;
    if (current_folder(c, id))
        open_in_browser(c.shell(), folder_page_url(c.hosts(), c.session().login_pid(), id));
}

void copy_folder_page(Client& c) {
    long long id = 0;
    if (!current_folder(c, id)) return;
    c.shell().set_clipboard_text(folder_page_url(c.hosts(), c.session().login_pid(), id));
    say(c, text::kCopied);
}

void open_uploaded_page(Client& c) {
    std::string pid;
    if (current_cell(c, names::kUploadedList, 2, pid))
        open_in_browser(c.shell(), file_page_url(c.hosts(), pid));
}

void copy_uploaded_page(Client& c) {
    std::string pid;
    if (!current_cell(c, names::kUploadedList, 2, pid)) return;
    c.shell().set_clipboard_text(file_page_url(c.hosts(), pid));
    say(c, text::kCopied);
}

void copy_uploaded_direct(Client& c) {
    std::string pid;
    if (!current_cell(c, names::kUploadedList, 2, pid)) return;
    c.shell().set_clipboard_text(direct_url(c.hosts(), pid, c.browser().access_password_or_zero()));
    say(c, text::kDirectCopied);
}

void open_uploaded_file(Client& c) {
    std::string path;
    if (current_cell(c, names::kUploadedList, 0, path)) c.shell().open_file(path);
}

void show_uploaded_file(Client& c) {
    std::string path;
    if (current_cell(c, names::kUploadedList, 0, path)) c.shell().show_in_file_manager(path);
}

void open_finished_file(Client& c) {
    std::string path;
    if (current_cell(c, names::kFinishedList, 1, path)) c.shell().open_file(path);
}

void show_finished_file(Client& c) {
    std::string path;
    if (current_cell(c, names::kFinishedList, 1, path)) c.shell().show_in_file_manager(path);
}

}  // namespace qorvel::storage
