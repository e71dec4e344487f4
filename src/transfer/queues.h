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

enum class RowState { waiting, running, failed, paused };

enum class RemoveResult { removed, running, unknown };

// What pause() did: a waiting row is paused at once; the running one must be
// stopped by the caller, who then settles it with stopped_on_purpose().
enum class PauseResult { paused, stop_running, unchanged };

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
    // Stopped on purpose while running (pause, quit): whoever stopped it settles the row.
    bool stopping = false;
    std::string resume_record;  // a paused download continues from this (Download::start)
    bool partly_sent = false;   // a paused upload: the server holds its first bytes
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
        finished_one_ = false;
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
        std::optional<Task> task;   // the row to start now
        bool run_ended = false;     // nothing left: this call ended the run
        bool finished_one = false;  // the ended run completed a row (the shut-down waits for one)
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
        return {std::nullopt, true, finished_one_};
    }

    // The running task ended well: its row leaves the queue.
    bool complete(TaskId id) {
        std::lock_guard lock(mutex_);
        for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
            if (it->id == id && it->state == RowState::running) {
                tasks_.erase(it);
                finished_one_ = true;
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
                // A retry starts afresh: a failed task keeps no partial file.
                t.stopping = false;
                t.resume_record.clear();
                t.partly_sent = false;
                return true;
            }
        }
        return false;
    }

    // A waiting row is paused; the running one is marked as stopping on purpose
    // and left to the caller to stop. Failed and paused rows stay as they are.
    PauseResult pause(TaskId id) {
        std::lock_guard lock(mutex_);
        for (auto& t : tasks_) {
            if (t.id != id) continue;
            if (t.state == RowState::waiting) {
                t.state = RowState::paused;
                return PauseResult::paused;
            }
            // Nothing to stop before its engine object exists.
            if (t.state == RowState::running && t.object && !t.cancelled && !t.stopping) {
                t.stopping = true;
                return PauseResult::stop_running;
            }
            return PauseResult::unchanged;
        }
        return PauseResult::unchanged;
    }
    // The running task marked by pause() has stopped: it becomes paused (or
    // waiting again, for a start after the program's next login) and keeps
    // what continues it. False when it was not stopping (it ended on its own).
    bool stopped_on_purpose(TaskId id, std::string record, bool partly_sent,
                            RowState after = RowState::paused) {
        std::lock_guard lock(mutex_);
        for (auto& t : tasks_) {
            if (t.id != id || t.state != RowState::running || !t.stopping) continue;
            t.state = after;
            t.stopping = false;
            t.resume_record = std::move(record);
            t.partly_sent = partly_sent;
            return true;
        }
        return false;
    }
    bool stopping(TaskId id) const {
        std::lock_guard lock(mutex_);
        for (const auto& t : tasks_)
            if (t.id == id) return t.state == RowState::running && t.stopping;
        return false;
    }
    // A paused row waits again, keeping what continues it.
    bool resume(TaskId id) { return rewait(id, RowState::paused); }
    // A failed row waits again, its reason forgotten.
    bool retry(TaskId id) { return rewait(id, RowState::failed); }
    // Whether a run would start anything: a row waits or runs.
    bool has_work() const {
        std::lock_guard lock(mutex_);
        for (const auto& t : tasks_)
            if (t.state == RowState::waiting || t.state == RowState::running) return true;
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
    // Whether o is the task's engine object: the ended event of a paused row's
    // earlier run must not act on its next run.
    bool holds_object(TaskId id, const Object* o) const {
        std::lock_guard lock(mutex_);
        for (const auto& t : tasks_)
            if (t.id == id) return t.object == o;
        return false;
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
    bool rewait(TaskId id, RowState from) {
        std::lock_guard lock(mutex_);
        for (auto& t : tasks_) {
            if (t.id != id || t.state != from) continue;
            t.state = RowState::waiting;
            t.failure.clear();
            return true;
        }
        return false;
    }

    mutable std::mutex mutex_;
    std::deque<Task> tasks_;
    TaskId last_id_ = 0;
    bool active_ = false;
    bool finished_one_ = false;  // the current run completed a row
    std::vector<std::unique_ptr<Object>> objects_;
};

using DownloadQueue = TransferQueue<DownloadEntry, engine::Download>;
using UploadQueue = TransferQueue<UploadEntry, engine::FtpUpload>;

}  // namespace qorvel::transfer
