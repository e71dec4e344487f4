// The folder and file changes and their small windows. Each request runs on
// a worker while the control that started it is disabled, so the window stays
// responsive and handlers stay one at a time.
#include <memory>
#include <string>
#include <vector>

#include "net/charset.h"
#include "roads/service_api.h"
#include "roads/storage/roads.h"
#include "storage/answers.h"
#include "storage/messages.h"
#include "storage/names.h"
#include "ui/windows/catalogue.h"

namespace qorvel::storage {

namespace {

// Why a change was not made, as the service API words it.
void tell(Client& c, const api::Error& e) {
    c.prompts().message_box(e.message, MessageButtons::ok);
}

// The live window behind a handler's window, kept alive for the worker.
std::shared_ptr<ui::Window> hold(Client& c, ui::Window& w) {
    auto live = c.program().find(w.id());
    return live.get() == &w ? live : nullptr;
}

// Runs change on a worker with control disabled meanwhile; the control comes
// back unless the window was closed by then.
void run_change(Client& c, const std::shared_ptr<ui::Window>& w, const char* control,
                std::function<void()> change) {
    (*w)[control].set_enabled(false);
    c.program().start_worker([w, control, change = std::move(change)] {
        change();
        (*w)[control].set_enabled(true);
    });
}

// Collapses the folder item, makes it current and loads it again.
void reload_folder(Client& c, ui::Control& tree, int item) {
    if (item > 0 && tree.tree_item_parent(item) >= 0) {
        tree.set_current(item);
        tree.expand(item, false);
    }
    start_folder_load(c);
}

struct TreePick {
    int item = -1;
    long long folder = 0;
    std::string text;
};

TreePick tree_pick(ui::Window& main) {
    ui::Control& tree = main[names::kTree];
    TreePick p;
    p.item = tree.current();
    if (p.item > 0) {
        p.folder = tree.tree_item_value(p.item);
        p.text = tree.tree_item_text(p.item);
    }
    return p;
}

}  // namespace

void delete_folder(Client& c) {
    auto main = c.main_window();
    if (!main) return;
    if (c.prompts().message_box(gbk(text::kAskDeleteFolder), MessageButtons::yes_no) != kAnswerYes)
        return;
    TreePick pick = tree_pick(*main);
    c.browser().set_folder_id(static_cast<int>(pick.folder));
    if (pick.folder == 0) {
        say(c, text::kRootProtected);
        return;
    }
    api::ServiceApi api = service_api(c);
    run_change(c, main, names::kTree, [&c, main, pick, api] {
        api::Result<void> done = api.delete_folder(pick.folder);
        if (!done) return tell(c, done.error());
        (*main)[names::kTree].delete_tree_item(pick.item);
        say(c, text::kDeleted);
    });
}

void open_change_window(Client& c, const char* window_id) {
    auto main = c.main_window();
    if (!main) return;
    std::string id = window_id;
    if (id == windows::kRenameFileWindow && (*main)[names::kFileList].current() < 0) return;
    if (id == windows::kCreateLinkFileWindow)
        c.browser().set_selected_folder_text(std::to_string(tree_pick(*main).folder));
    // One window of a kind: a second open starts over with fresh input.
    if (auto open = c.program().find(id)) c.program().close(*open);
    if (auto w = c.make_window(id)) c.program().open(w, false);
}

void reload_current_folder(Client& c) {
    auto main = c.main_window();
    if (!main) return;
    ui::Control& tree = (*main)[names::kTree];
    reload_folder(c, tree, tree.current());
}

void open_file_operation(Client& c, int mode) {
    auto main = c.main_window();
    if (!main) return;
    ui::Control& list = (*main)[names::kFileList];
    std::vector<long long> ids;
    for (int row : list.selected_rows()) ids.push_back(list.row_value(row));
    c.browser().set_file_op_mode(mode);
    c.browser().set_selected_file_ids(selected_ids_text(ids));
    open_change_window(c, windows::kFileOperationWindow);
}

void on_change_window_created(Client& c, ui::Window& w) {
    auto main = c.main_window();
    if (!main) return;
    std::string id = w.id();
    if (id == windows::kCreateFolderWindow) {
        w[names::kParentEdit].set_text(tree_pick(*main).text);
    } else if (id == windows::kFolderNewNameWindow) {
        w[names::kNameEdit].set_text(tree_pick(*main).text);
    } else if (id == windows::kRenameFileWindow) {
        ui::Control& list = (*main)[names::kFileList];
        w[names::kNameEdit].set_text(list.cell(list.current(), 0));
    } else if (id == windows::kFileOperationWindow) {
        ui::Control& combo = w[names::kTargetCombo];
        combo.clear_items();
        for (const ui::TreeItem& item : (*main)[names::kTree].tree_items())
            combo.add_item(item.text, item.value);
        combo.set_current(0);
        bool move = c.browser().file_op_mode() == 2;
        combo.set_enabled(move);
        w[names::kAction].set_enabled(move);
        w[names::kDeleteButton].set_enabled(!move);
    }
}

void create_folder(Client& c, ui::Window& w) {
    auto main = c.main_window();
    auto self = hold(c, w);
    if (!main || !self) return;
    TreePick parent = tree_pick(*main);
    c.browser().set_folder_id(static_cast<int>(parent.folder));
    api::ServiceApi api = service_api(c);
    std::string name = w[names::kNewFolderEdit].text();
    run_change(c, self, names::kAction, [&c, main, self, parent, api, name] {
        api::Result<void> done = api.create_folder(parent.folder, name);
        if (!done) return tell(c, done.error());
        say(c, text::kCreated);
        reload_folder(c, (*main)[names::kTree], parent.item);
        c.program().close(*self);
    });
}

void rename_folder(Client& c, ui::Window& w) {
    auto main = c.main_window();
    auto self = hold(c, w);
    if (!main || !self) return;
    TreePick pick = tree_pick(*main);
    std::string name = w[names::kNameEdit].text();
    api::ServiceApi api = service_api(c);
    run_change(c, self, names::kAction, [&c, main, self, pick, name, api] {
        api::Result<void> done = api.rename_folder(pick.folder, name);
        if (!done) return tell(c, done.error());
        say(c, text::kRenamed);
        (*main)[names::kTree].set_tree_item_text(pick.item, name);
        c.program().close(*self);
    });
}

void create_link_file(Client& c, ui::Window& w) {
    auto main = c.main_window();
    auto self = hold(c, w);
    if (!main || !self) return;
    api::ServiceApi api = service_api(c);
    std::string folder = c.browser().selected_folder_text();
    std::string name = w[names::kNameEdit].text();
    std::string link = w[names::kLinkEdit].text();
    run_change(c, self, names::kAction, [&c, main, self, api, folder, name, link] {
        api::Result<void> done = api.create_link_file(folder, name, link);
        if (!done) return tell(c, done.error());
        say(c, text::kLinkCreated);
        c.program().close(*self);
        c.browser().set_rebuild_page_list(true);
        reload_folder(c, (*main)[names::kTree], (*main)[names::kTree].current());
    });
}

void rename_file(Client& c, ui::Window& w) {
    auto main = c.main_window();
    auto self = hold(c, w);
    if (!main || !self) return;
    if (c.prompts().message_box(gbk(text::kAskRenameFile), MessageButtons::yes_no) != kAnswerYes)
        return;
    ui::Control& list = (*main)[names::kFileList];
    int row = list.current();
    if (row < 0) return;
    long long file = list.row_value(row);
    std::string name = w[names::kNameEdit].text();
    api::ServiceApi api = service_api(c);
    run_change(c, self, names::kAction, [&c, main, self, file, name, api] {
        api::Result<void> done = api.rename_file(file, name);
        if (!done) return tell(c, done.error());
        say(c, text::kRenamed);
        // The row is found by its file, not by where it stood.
        ui::Control& rows = (*main)[names::kFileList];
        int at = rows.find_row(file);
        if (at >= 0) rows.set_cell(at, 0, name);
        c.program().close(*self);
    });
}

void delete_selected_files(Client& c, ui::Window& w) {
    auto main = c.main_window();
    auto self = hold(c, w);
    if (!main || !self) return;
    TreePick pick = tree_pick(*main);
    api::ServiceApi api = service_api(c);
    std::string ids = c.browser().selected_file_ids();
    run_change(c, self, names::kDeleteButton, [&c, main, self, pick, api, ids] {
        // The answer says nothing; only a service that cannot be reached does.
        api::Result<void> done = api.delete_files(ids, pick.folder);
        if (!done) return tell(c, done.error());
        reload_folder(c, (*main)[names::kTree], pick.item);
        c.program().close(*self);
    });
}

void move_selected_files(Client& c, ui::Window& w) {
    auto main = c.main_window();
    auto self = hold(c, w);
    if (!main || !self) return;
    ui::Control& combo = w[names::kTargetCombo];
    int index = combo.current();
    if (index < 0) return;
    long long target = combo.item_value(index);
    api::ServiceApi api = service_api(c);
    std::string ids = c.browser().selected_file_ids();
    run_change(c, self, names::kAction, [&c, main, self, index, target, api, ids] {
        api::Result<void> done = api.move_files(ids, target);
        if (!done) return tell(c, done.error());
        // The target's tree item: entry i of the combo is tree item i.
        ui::Control& tree = (*main)[names::kTree];
        auto items = tree.tree_items();
        int item = -1;
        if (index < static_cast<int>(items.size()) && items[index].value == target)
            item = items[index].id;
        for (size_t i = 0; item < 0 && i < items.size(); ++i)
            if (items[i].value == target) item = items[i].id;
        reload_folder(c, tree, item);
        c.program().close(*self);
    });
}

}  // namespace qorvel::storage
