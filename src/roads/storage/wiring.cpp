#include "roads/storage/roads.h"
#include "storage/names.h"
#include "ui/windows/catalogue.h"

namespace qorvel::storage {

using ui::Event;
using ui::EventArgs;

void wire_storage_main_window(Client& c, ui::Window& main) {
    c.reset_tree = [&c] { reset_folder_tree(c); };
    c.first_tree_load = [&c] { first_tree_load(c); };

    main.on(names::kTree, Event::current_item_changed, [&c](EventArgs&) { start_folder_load(c); });
    main.on(names::kPageCombo, Event::item_selected, [&c](EventArgs&) { on_page_selected(c); });
    main.on(names::kFileList, Event::double_click, [&c](EventArgs&) { open_file_page(c); });
    main.on(names::kUploadHere, Event::clicked,
            [&c](EventArgs&) { set_upload_target_from_tree(c, true); });
    main.on(names::kSetUploadCheck, Event::clicked, [&c, &main](EventArgs&) {
        if (main[names::kSetUploadCheck].checked()) set_upload_target_from_tree(c, false);
    });

    auto on_file_menu = [&](const char* item, std::function<void()> fn) {
        main.on_chosen(names::kFileMenu, item, [fn = std::move(fn)](EventArgs&) { fn(); });
    };
    on_file_menu("删除选中文件", [&c] { open_file_operation(c, 1); });
    on_file_menu("移动选中文件", [&c] { open_file_operation(c, 2); });
    on_file_menu("打开选中文件(网页)", [&c] { open_file_page(c); });
    on_file_menu("获取文件分享链接", [&c] { copy_file_page(c); });
    on_file_menu("创建外链", [&c] { open_change_window(c, windows::kCreateLinkFileWindow); });
    on_file_menu("修改文件名", [&c] { open_change_window(c, windows::kRenameFileWindow); });

    auto on_tree_menu = [&](const char* item, std::function<void()> fn) {
        main.on_chosen(names::kTreeMenu, item, [fn = std::move(fn)](EventArgs&) { fn(); });
    };
    on_tree_menu("打开文件夹(网页)", [&c] { open_folder_page(c); });
    on_tree_menu("获取文件夹分享链接", [&c] { copy_folder_page(c); });
    on_tree_menu("删除文件夹", [&c] { delete_folder(c); });
    on_tree_menu("重命名", [&c] { open_change_window(c, windows::kFolderNewNameWindow); });
    on_tree_menu("创建文件夹", [&c] { open_change_window(c, windows::kCreateFolderWindow); });
    on_tree_menu("创建外链文件", [&c] { open_change_window(c, windows::kCreateLinkFileWindow); });

    // Keys do what the menu items do.
    auto on_key = [&](const char* control, ui::Key key, std::function<void()> fn) {
        main.on_key(control, key, ui::kNoModifiers, [fn = std::move(fn)](EventArgs&) { fn(); });
    };
    on_key(names::kFileList, ui::Key::del, [&c] { open_file_operation(c, 1); });
    on_key(names::kFileList, ui::Key::f2,
           [&c] { open_change_window(c, windows::kRenameFileWindow); });
    on_key(names::kFileList, ui::Key::f5, [&c] { reload_current_folder(c); });
    on_key(names::kTree, ui::Key::f2,
           [&c] { open_change_window(c, windows::kFolderNewNameWindow); });
    on_key(names::kTree, ui::Key::f5, [&c] { reload_current_folder(c); });

    auto on_menu = [&](const char* menu, const char* item, std::function<void()> fn) {
        main.on_chosen(menu, item, [fn = std::move(fn)](EventArgs&) { fn(); });
    };
    on_menu(names::kUploadedMenu, "打开网页文件链接", [&c] { open_uploaded_page(c); });
    on_menu(names::kUploadedMenu, "复制网页分享链接", [&c] { copy_uploaded_page(c); });
    on_menu(names::kUploadedMenu, "复制该文件直链", [&c] { copy_uploaded_direct(c); });
    on_menu(names::kUploadedMenu, "打开该文件", [&c] { open_uploaded_file(c); });
    on_menu(names::kUploadedMenu, "打开文件夹", [&c] { show_uploaded_file(c); });
    on_menu(names::kFinishedMenu, "打开文件", [&c] { open_finished_file(c); });
    on_menu(names::kFinishedMenu, "访问文件夹", [&c] { show_finished_file(c); });
}

bool wire_storage_window(Client& c, ui::Window& w) {
    using Op = void (*)(Client&, ui::Window&);
    std::string id = w.id();
    Op action = nullptr;
    if (id == windows::kCreateFolderWindow)
        action = create_folder;
    else if (id == windows::kFolderNewNameWindow)
        action = rename_folder;
    else if (id == windows::kCreateLinkFileWindow)
        action = create_link_file;
    else if (id == windows::kRenameFileWindow)
        action = rename_file;
    else if (id == windows::kFileOperationWindow)
        action = move_selected_files;
    else
        return false;
    w.on_window(Event::created, [&c, &w](EventArgs&) { on_change_window_created(c, w); });
    w.on(names::kAction, Event::clicked, [&c, &w, action](EventArgs&) { action(c, w); });
    if (id == windows::kFileOperationWindow) {
        w.on(names::kDeleteButton, Event::clicked,
             [&c, &w](EventArgs&) { delete_selected_files(c, w); });
    } else {
        // Enter is a click on the action button, so not while it is disabled (a request runs).
        w.on_key("", ui::Key::enter, ui::kNoModifiers, [&c, &w, action](EventArgs&) {
            if (w[names::kAction].enabled()) action(c, w);
        });
    }
    return true;
}

}  // namespace qorvel::storage
