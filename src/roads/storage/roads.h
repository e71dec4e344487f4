// The storage browser's operations over the main window's controls: the
// folder tree, the paged file list, the folder and file changes with their
// small windows, and the addresses handed to the desktop. Handlers run on the
// window thread; requests run on workers with their controls disabled.
#pragma once

#include "roads/client.h"

namespace qorvel::storage {

enum class Verdict { accepted, refused, unreachable };

// A text of messages.h as GBK, and an information box with it (any thread).
std::string gbk(const char* utf8);
void say(Client& c, const char* utf8);

// Tree and list (any thread unless noted).
void reset_folder_tree(Client& c);
// The first visit to page "目录/文件/分享" in a run loads the current folder.
void first_tree_load(Client& c);
// Starts a folder load on a worker; false (after the busy message) when a
// load is running already.
bool start_folder_load(Client& c);
// The same load listing every file of the folder at once ("&dqlx=1"), for
// the whole-folder download; false when a load is running.
bool start_whole_folder_load(Client& c);
void on_page_selected(Client& c);  // window thread
void set_upload_target_from_tree(Client& c, bool show_upload_page);

// Folder and file changes (window thread; requests on workers).
void delete_folder(Client& c);
void open_change_window(Client& c, const char* window_id);
void open_file_operation(Client& c, int mode);
// F5: the tree's current folder read again, its sub-folders and its list.
void reload_current_folder(Client& c);
void on_change_window_created(Client& c, ui::Window& w);
void create_folder(Client& c, ui::Window& w);
void rename_folder(Client& c, ui::Window& w);
void create_link_file(Client& c, ui::Window& w);
void rename_file(Client& c, ui::Window& w);
void delete_selected_files(Client& c, ui::Window& w);
void move_selected_files(Client& c, ui::Window& w);

// Addresses and local files (window thread).
void open_file_page(Client& c);
void copy_file_page(Client& c);
void open_folder_page(Client& c);
void copy_folder_page(Client& c);
void open_uploaded_page(Client& c);
void copy_uploaded_page(Client& c);
void copy_uploaded_direct(Client& c);
void open_uploaded_file(Client& c);
void show_uploaded_file(Client& c);
void open_finished_file(Client& c);
void show_finished_file(Client& c);

// Wiring: the main window's handlers and the client's tree hooks; the small
// windows' handlers (false for a window that is not ours).
void wire_storage_main_window(Client& c, ui::Window& main);
bool wire_storage_window(Client& c, ui::Window& w);

}  // namespace qorvel::storage
