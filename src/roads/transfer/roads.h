// The download and upload queues' operations over the main window's controls.
// Each reads its inputs from the controls and the queue objects of the Client;
// workers write controls through their thread-safe models and find rows by
// their task id (the row's item value).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "roads/client.h"

namespace qorvel {

// Downloads.
void choose_save_location(Client& c);
void queue_selected_downloads(Client& c);
void queue_folder_download(Client& c);
void queue_listed_files(Client& c);
void start_downloads(Client& c);
void update_download_progress(Client& c);
void delete_download_task(Client& c);
// The selected row's menu: a paused download keeps its partial file and continues from it.
void pause_download_task(Client& c);
void resume_download_task(Client& c);
void retry_download_task(Client& c);
// Space on the list: a paused row continues, a waiting or running one pauses.
void pause_or_resume_download_task(Client& c);
// Every failed row waits again and the queue starts (the run-end notice's action).
void retry_failed_downloads(Client& c);
// The close question for running transfers: true when the program may end.
// Downloads stop with their partial file and resume record kept; uploads end unregistered.
bool stop_download_for_exit(Client& c);

// Uploads.
void add_upload_files(Client& c);
void add_upload_files_menu(Client& c);
void add_upload_folder(Client& c);
void add_dropped_items(Client& c, const std::vector<std::string>& paths);
void show_upload_target(Client& c);
void start_uploads(Client& c);
void update_upload_progress(Client& c);
void delete_upload_task(Client& c);
void clear_upload_tasks(Client& c);
// "上传按钮": says so when only failed or paused rows are left.
void start_uploads_by_hand(Client& c);
void pause_upload_task(Client& c);
void resume_upload_task(Client& c);
void retry_upload_task(Client& c);
void pause_or_resume_upload_task(Client& c);
void retry_failed_uploads(Client& c);
// Ends the running upload without registering it; the row waits (after the
// program's next login) or is paused. False when nothing was running.
bool stop_upload_for_exit(Client& c);

// The account's lists (src/transfer/journal_road.cpp): back from its journal
// after a login, put away before another account comes.
void open_account_transfers(Client& c, const std::string& account);
void close_account_transfers(Client& c);
void save_download_settings(Client& c);
// Rows the close question stopped are kept as running, so the next login resumes them.
void keep_running_for_next_start(Client& c, std::optional<transfer::TaskId> download,
                                 std::optional<transfer::TaskId> upload);

// Attaches all of the above to the main window.
void wire_transfer_operations(Client& c, ui::Window& main);

}  // namespace qorvel
