// The storage browser's own state: the folder in view, the access password,
// the list's busy flag, the page-list flag, the first-visit flag and what the
// file-list menu picked for the small windows. Owned by Client; every member
// is safe from any thread.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

namespace qorvel {

class StorageBrowser {
  public:
    // The folder uploads and folder operations act on (0: "默认文件夹").
    int folder_id() const { return folder_id_.load(); }
    void set_folder_id(int id) { folder_id_.store(id); }

    // Empty until the first file list has read it from the settings page.
    std::string access_password() const {
        std::lock_guard g(mutex_);
        return access_password_;
    }
    void set_access_password(std::string password) {
        std::lock_guard g(mutex_);
        access_password_ = std::move(password);
    }
    // The password for a copied direct address, whose form users keep: "0"
    // for none. Only the address carries it; the stored password stays as read.
    std::string access_password_or_zero() const {
        std::lock_guard g(mutex_);
        return access_password_.empty() ? std::string("0") : access_password_;
    }

    // One load of the file list at a time: testing and setting is one step,
    // so of two loads started together exactly one runs.
    bool try_begin_load() { return !busy_.exchange(true); }
    void end_load() { busy_.store(false); }
    bool busy() const { return busy_.load(); }

    bool rebuild_page_list() const { return rebuild_page_list_.load(); }
    void set_rebuild_page_list(bool on) { rebuild_page_list_.store(on); }

    // A whole-folder download asked the next load to list every file.
    bool folder_download_pending() const { return folder_download_pending_.load(); }
    void set_folder_download_pending(bool on) { folder_download_pending_.store(on); }

    // True for the first caller only, until reset (a failed first load).
    bool claim_first_load() { return !first_load_done_.exchange(true); }
    void reset_first_load() { first_load_done_.store(false); }
    bool first_load_done() const { return first_load_done_.load(); }

    // The file-list menu's pick for "文件操作": 1 delete, 2 move, and the ids
    // of the selected rows, each followed by ",".
    int file_op_mode() const { return file_op_mode_.load(); }
    void set_file_op_mode(int mode) { file_op_mode_.store(mode); }
    std::string selected_file_ids() const {
        std::lock_guard g(mutex_);
        return selected_file_ids_;
    }
    void set_selected_file_ids(std::string ids) {
        std::lock_guard g(mutex_);
        selected_file_ids_ = std::move(ids);
    }
    // The tree folder "创建外链文件" was opened for, as decimal text.
    std::string selected_folder_text() const {
        std::lock_guard g(mutex_);
        return selected_folder_text_;
    }
    void set_selected_folder_text(std::string id) {
        std::lock_guard g(mutex_);
        selected_folder_text_ = std::move(id);
    }

  private:
    std::atomic<int> folder_id_{0};
    std::atomic<bool> busy_{false};
    std::atomic<bool> rebuild_page_list_{false};
    std::atomic<bool> folder_download_pending_{false};
    std::atomic<bool> first_load_done_{false};
    std::atomic<int> file_op_mode_{0};
    mutable std::mutex mutex_;
    std::string access_password_;
    std::string selected_file_ids_;
    std::string selected_folder_text_;
};

}  // namespace qorvel
