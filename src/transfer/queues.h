// The download and upload queues as data. Each queue keeps its rows in order
// with a state, and next() is the one place that decides what runs: the first
// waiting row, one at a time. Rows are known by their task id, which is also
// the item value of their list-view row, so no thread acts on a row position
// read elsewhere. Every member is guarded by the queue's own lock.
#pragma once

#include <algorithm>
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
    int policy = 0;         // "组合框6" when queued
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
    // Kept from an earlier run or a pause: a download's resume record, an
    // upload's bytes the server had (the next start goes on from there).
    std::string saved_record;
    std::int64_t saved_offset = 0;
    std::string saved_partial;  // a download's partial file, named before it was created
    // Stopped on purpose while running (pause, quit): whoever stopped it settles the row.
    bool stopping = false;
};

// What one change of a queue did, told to its listener under the queue's lock,
// so a journal sees the changes in the order they happened.
template <class Task>
struct QueueChange {
    std::vector<Task> put;     // rows added or changed, as they are now
    std::vector<TaskId> gone;  // rows that left the queue
    // A row that ended well and the cells of its done row.
    std::optional<Task> completed;
    std::vector<std::string> done_cells;
};

template <class Entry, class Object>
class TransferQueue {
  public:
    using Task = QueuedTask<Entry, Object>;
    using Change = QueueChange<Task>;
    using Listener = std::function<void(const Change&)>;

    // Called under the queue's lock for every change of a row (empty: none).
    // Every method that adds, changes or removes a row tells it through changed().
    void set_listener(Listener listener) {
        std::lock_guard lock(mutex_);
        listener_ = std::move(listener);
    }

    // Appends a waiting row; returns its id.
    TaskId add(Entry entry) {
        std::vector<Entry> one;
        one.push_back(std::move(entry));
        return add_all(std::move(one)).front();
    }
    // Appends waiting rows as one change; returns their ids.
    std::vector<TaskId> add_all(std::vector<Entry> entries) {
        std::lock_guard lock(mutex_);
        Change change;
        std::vector<TaskId> ids;
        for (auto& e : entries) {
            Task t;
            t.id = ++last_id_;
            t.entry = std::move(e);
            tasks_.push_back(t);
            ids.push_back(t.id);
            change.put.push_back(std::move(t));
        }
        changed(change);
        return ids;
    }
    // Puts back a row kept from an earlier run, as it was, without telling the
    // listener; ids of later rows follow the highest one seen (at least floor).
    void restore(Task task, TaskId floor = 0) {
        std::lock_guard lock(mutex_);
        last_id_ = std::max({last_id_, task.id, floor});
        task.object = nullptr;
        tasks_.push_back(std::move(task));
    }
    void reserve_ids(TaskId floor) {
        std::lock_guard lock(mutex_);
        last_id_ = std::max(last_id_, floor);
    }
    // Empties the queue for another account without telling the listener (the
    // journal keeps the rows); returns the task that was running, if any.
    // Engine objects stay until the queue goes.
    std::optional<Task> take_all() {
        std::lock_guard lock(mutex_);
        std::optional<Task> running;
        for (auto& t : tasks_)
            if (t.state == RowState::running) running = t;
        tasks_.clear();
        active_ = false;
        return running;
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
                changed_one(t);
                return {t, false};
            }
        }
        active_ = false;
        if (ended) ended();
        return {std::nullopt, true, finished_one_};
    }

    // The running task ended well: its row leaves the queue (for the done row
    // of done_cells, in the same change).
    bool complete(TaskId id, std::vector<std::string> done_cells = {}) {
        std::lock_guard lock(mutex_);
        for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
            if (it->id == id && it->state == RowState::running) {
                Change change;
                change.gone.push_back(id);
                change.completed = *it;
                change.done_cells = std::move(done_cells);
                tasks_.erase(it);
                finished_one_ = true;
                changed(change);
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
                t.saved_record.clear();
                t.saved_offset = 0;
                changed_one(t);
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
                changed_one(t);
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
    // offset: an upload's bytes the server holds (0: none).
    bool stopped_on_purpose(TaskId id, std::string record, std::int64_t offset,
                            RowState after = RowState::paused) {
        std::lock_guard lock(mutex_);
        for (auto& t : tasks_) {
            if (t.id != id || t.state != RowState::running || !t.stopping) continue;
            t.state = after;
            t.stopping = false;
            t.saved_record = std::move(record);
            t.saved_offset = offset;
            changed_one(t);
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
    // Every failed row waits again, as one change; returns their ids.
    std::vector<TaskId> retry_failed() {
        std::lock_guard lock(mutex_);
        Change change;
        std::vector<TaskId> ids;
        for (auto& t : tasks_) {
            if (t.state != RowState::failed) continue;
            t.state = RowState::waiting;
            t.failure.clear();
            ids.push_back(t.id);
            change.put.push_back(t);
        }
        changed(change);
        return ids;
    }
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
            changed_gone(id);
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
        Change change;
        for (auto& t : tasks_) {
            if (t.state == RowState::running) {
                running = t.id;
                if (cancel_running) t.cancelled = true;
                keep.push_back(std::move(t));
            } else {
                change.gone.push_back(t.id);
            }
        }
        tasks_ = std::move(keep);
        changed(change);
        return running;
    }

    // Removes the running task if it was cancelled; true when it was.
    bool drop_cancelled(TaskId id) {
        std::lock_guard lock(mutex_);
        for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
            if (it->id == id && it->state == RowState::running && it->cancelled) {
                tasks_.erase(it);
                changed_gone(id);
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
            if (t.local_path != local_path) {
                t.local_path = std::move(local_path);
                changed_one(t);
            }
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
    void changed(const Change& change) const {
        if (listener_ && (!change.put.empty() || !change.gone.empty())) listener_(change);
    }
    void changed_one(const Task& t) const {
        Change change;
        change.put.push_back(t);
        changed(change);
    }
    void changed_gone(TaskId id) const {
        Change change;
        change.gone.push_back(id);
        changed(change);
    }
    bool rewait(TaskId id, RowState from) {
        std::lock_guard lock(mutex_);
        for (auto& t : tasks_) {
            if (t.id != id || t.state != from) continue;
            t.state = RowState::waiting;
            t.failure.clear();
            changed_one(t);
            return true;
        }
        return false;
    }

    mutable std::mutex mutex_;
    Listener listener_;
    std::deque<Task> tasks_;
    TaskId last_id_ = 0;
    bool active_ = false;
    bool finished_one_ = false;  // the current run completed a row
    std::vector<std::unique_ptr<Object>> objects_;
};

using DownloadQueue = TransferQueue<DownloadEntry, engine::Download>;
using UploadQueue = TransferQueue<UploadEntry, engine::FtpUpload>;

}  // namespace qorvel::transfer
