// The download and upload queues as data. Each queue keeps its rows in order
// with a state, and next() is the one place that decides what runs: the first
// waiting row, one at a time. Rows are known by their task id, which is also
// the item value of their list-view row, so no thread acts on a row position
// read elsewhere. Every member is guarded by the queue's own lock.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "transfer/engine/engine.h"

namespace qorvel::transfer {

using TaskId = long long;

enum class RowState { waiting, running, failed };

enum class RemoveResult { removed, running, unknown };

struct DownloadEntry {
    std::string name;       // file name as listed (GBK); also the local name
    std::string size_text;  // as listed, display only
    std::string file_id;    // decimal id on the service
    std::string folder;     // save folder ending in "/", empty: the default one
};

struct UploadEntry {
    std::string path;         // local path (GB18030 text)
    std::string folder_name;  // target folder's name
    long long folder_id = 0;  // target folder's id
    std::string size_text;
};

template <class Entry, class Object>
struct QueuedTask {
    TaskId id = 0;
    RowState state = RowState::waiting;
    Entry entry;
    std::string failure;       // why a failed row failed (GBK)
    Object* object = nullptr;  // its engine object once started; the queue owns it
    std::string local_path;    // the file the engine writes or reads (GB18030 text)
    bool cancelled = false;    // cleared away while running: its end only drops it
};

template <class Entry, class Object>
class TransferQueue {
  public:
    using Task = QueuedTask<Entry, Object>;

    // Appends a waiting row; returns its id.
    TaskId add(Entry entry) {
        std::lock_guard lock(mutex_);
        Task t;
        t.id = ++last_id_;
        t.entry = std::move(entry);
        tasks_.push_back(std::move(t));
        return last_id_;
    }

    // Starts a run unless one is in progress; true when the caller must start the runner.
    // begun() runs under the queue's lock (see next()).
    bool begin_run(const std::function<void()>& begun = {}) {
        std::lock_guard lock(mutex_);
        if (active_) return false;
        active_ = true;
        if (begun) begun();
        return true;
    }
    // Ends the run without starting anything more (the program is closing).
    void halt() {
        std::lock_guard lock(mutex_);
        active_ = false;
    }
    bool run_active() const {
        std::lock_guard lock(mutex_);
        return active_;
    }

    struct Step {
        std::optional<Task> task;  // the row to start now
        bool run_ended = false;    // nothing left: this call ended the run
    };
    // The scheduler: the first waiting row becomes the running task. Nothing
    // starts while another task runs; with no waiting row the run ends, and
    // ended() runs under the queue's lock, as begun() does when a run begins: a
    // start button given back by the end of one run can then never land after
    // the next run has taken it.
    Step next(const std::function<void()>& ended = {}) {
        std::lock_guard lock(mutex_);
        if (!active_) return {};
        for (auto& t : tasks_) {
            if (t.state == RowState::running) return {};
        }
        for (auto& t : tasks_) {
            if (t.state == RowState::waiting) {
                t.state = RowState::running;
                return {t, false};
            }
        }
        active_ = false;
        if (ended) ended();
        return {std::nullopt, true};
    }

    // The running task ended well: its row leaves the queue.
    bool complete(TaskId id) {
        std::lock_guard lock(mutex_);
        for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
            if (it->id == id && it->state == RowState::running) {
                tasks_.erase(it);
                return true;
            }
        }
        return false;
    }

    // The running task did not succeed: the row stays, marked, and is not tried again.
    bool fail(TaskId id, std::string why) {
        std::lock_guard lock(mutex_);
        for (auto& t : tasks_) {
            if (t.id == id && t.state == RowState::running) {
                t.state = RowState::failed;
                t.failure = std::move(why);
                return true;
            }
        }
        return false;
    }

    // Deletes a row unless it is the one running.
    RemoveResult remove(TaskId id) {
        std::lock_guard lock(mutex_);
        for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
            if (it->id != id) continue;
            if (it->state == RowState::running) return RemoveResult::running;
            tasks_.erase(it);
            return RemoveResult::removed;
        }
        return RemoveResult::unknown;
    }

    // Drops every row that is not running; returns the running task's id, if any,
    // so the caller can stop it. cancel_running marks that task cancelled: it
    // stays until its runner drops it, so nothing else starts meanwhile.
    std::optional<TaskId> clear(bool cancel_running = false) {
        std::lock_guard lock(mutex_);
        std::optional<TaskId> running;
        std::deque<Task> keep;
        for (auto& t : tasks_) {
            if (t.state == RowState::running) {
                running = t.id;
                if (cancel_running) t.cancelled = true;
                keep.push_back(std::move(t));
            }
        }
        tasks_ = std::move(keep);
        return running;
    }

    // Removes the running task if it was cancelled; true when it was.
    bool drop_cancelled(TaskId id) {
        std::lock_guard lock(mutex_);
        for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
            if (it->id == id && it->state == RowState::running && it->cancelled) {
                tasks_.erase(it);
                return true;
            }
        }
        return false;
    }

    std::optional<Task> find(TaskId id) const {
        std::lock_guard lock(mutex_);
        for (const auto& t : tasks_) {
            if (t.id == id) return t;
        }
        return std::nullopt;
    }
    std::optional<Task> running() const {
        std::lock_guard lock(mutex_);
        for (const auto& t : tasks_) {
            if (t.state == RowState::running) return t;
        }
        return std::nullopt;
    }
    std::vector<Task> tasks() const {
        std::lock_guard lock(mutex_);
        return {tasks_.begin(), tasks_.end()};
    }
    std::size_t size() const {
        std::lock_guard lock(mutex_);
        return tasks_.size();
    }

    // A fresh engine object for the running task. Ended objects are kept until
    // the queue goes, so a progress tick never reads a freed one.
    Object* fresh_object(TaskId id, std::string local_path) {
        std::lock_guard lock(mutex_);
        for (auto& t : tasks_) {
            if (t.id != id || t.state != RowState::running) continue;
            objects_.push_back(std::make_unique<Object>());
            t.object = objects_.back().get();
            t.local_path = std::move(local_path);
            return t.object;
        }
        return nullptr;
    }
    // Calls fn(task) under the queue's lock while a started task runs, so what fn
    // writes for it cannot land after the task has failed or completed.
    template <class F>
    bool with_running(F&& fn) const {
        std::lock_guard lock(mutex_);
        for (const auto& t : tasks_) {
            if (t.state != RowState::running) continue;
            if (!t.object) return false;
            fn(t);
            return true;
        }
        return false;
    }

  private:
    mutable std::mutex mutex_;
    std::deque<Task> tasks_;
    TaskId last_id_ = 0;
    bool active_ = false;
    std::vector<std::unique_ptr<Object>> objects_;
};

using DownloadQueue = TransferQueue<DownloadEntry, engine::Download>;
using UploadQueue = TransferQueue<UploadEntry, engine::FtpUpload>;

}  // namespace qorvel::transfer
