// The transfer state the program owns: both queues, the task records they
// reuse, and the few texts the roads keep between actions.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "transfer/engine/task_param.h"
#include "transfer/progress_rules.h"
#include "transfer/queues.h"
#include "transfer/upload_rules.h"

namespace qorvel::transfer {

class Journal;

// A text shared between threads.
class LockedText {
  public:
    std::string get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    void set(std::string value) {
        std::lock_guard lock(mutex_);
        value_ = std::move(value);
    }

  private:
    mutable std::mutex mutex_;
    std::string value_;
};

class Transfers {
  public:
    // Each received piece costs a write, a progress update and an event; in 20 KB
    // pieces they took half of a fast link's speed. One piece of memory per connection.
    static constexpr int kDownloadPiece = 1024 * 1024;
    Transfers() { download_params.receive_chunk = kDownloadPiece; }

    DownloadQueue downloads;
    UploadQueue uploads;
    // Only the runner that holds a queue's running task touches its record.
    engine::TaskParam download_params;
    engine::TaskParam upload_params;
    FileStamp upload_stamp;  // the running upload's file as it was when it started
    // Bytes a second for every download, 0: none (tests slow a download down with it).
    // Set from any thread; read by the runner when a download starts.
    std::atomic<int> download_rate_limit{0};
    SpeedAverage download_pace;  // the running download's speed over the last ticks
    SpeedAverage upload_pace;
    CheckpointGate download_checkpoints;  // when the running rows' progress goes to the journal
    CheckpointGate upload_checkpoints;

    LockedText chosen_save_folder;  // the folder picked by the last download action
    LockedText last_upload_folder;  // where the file chooser opens

    // The logged-in account's journal; none before a login and after a log-out.
    std::shared_ptr<Journal> journal() const {
        std::lock_guard lock(journal_mutex_);
        return journal_;
    }
    void set_journal(std::shared_ptr<Journal> journal) {
        std::lock_guard lock(journal_mutex_);
        journal_ = std::move(journal);
    }

  private:
    mutable std::mutex journal_mutex_;
    std::shared_ptr<Journal> journal_;
};

}  // namespace qorvel::transfer
