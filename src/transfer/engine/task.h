// One running transfer: its control thread, work queue, counters and connections.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "transfer/engine/address.h"
#include "transfer/engine/engine.h"
#include "transfer/engine/local_file.h"
#include "transfer/engine/socket_io.h"
#include "transfer/engine/stream_digest.h"
#include "transfer/engine/task_param.h"

namespace qorvel::engine {

// Where a Download or FtpUpload keeps its task; shared with the task so the
// task can release itself when it ends, even after the object is gone.
struct Slot {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::shared_ptr<Task> task;
    int in_flight = 0;  // tasks started here that have not sent event 4 yet
    Outcome last;
};

enum class TaskKind { http, ftp };

// A byte range of a multi-connection download; guarded by the task's lock.
struct Segment {
    std::int64_t start = 0;
    std::int64_t end = -1;  // exclusive; -1 while the length is unknown
    std::int64_t received = 0;
    std::int64_t reserved = 0;  // a running receive may write up to here
    int owner = -1;             // connection id, -1 when none
    bool complete() const { return end >= 0 && received >= end - start; }
};

struct Connection {
    int id = 0;
    int segment = -1;  // -1 until the first connection has created the file
    std::thread thread;
    Socket socket;
    std::int64_t bytes = 0;  // moved by this connection
    bool ok = false;         // finished its part
};

class Task : public std::enable_shared_from_this<Task> {
  public:
    Task(TaskKind kind, const TaskParam& param, const Address& address, std::shared_ptr<Slot> slot);
    ~Task();

    // Starts the control thread with its first work items.
    bool launch(int first_connections);

    // Resume state from a saved record (downloads).
    bool load_resume(const std::string& record);
    std::string save_resume();
    // save_resume of the bytes written so far, synced to the disk; empty when none.
    std::string checkpoint();

    // Called from any thread.
    void request_stop();
    bool wait_connections(int timeout_ms);
    void post_open_connection();
    void post_finish();
    bool stopping() const { return stopping_.load(); }
    bool on_control_thread() const { return std::this_thread::get_id() == control_id_; }

    // Called from connection threads.
    void message(const std::string& text, int level = 0);
    void error(const std::string& text);  // level 3, remembered as the failure reason
    void event(int code, std::int64_t value);
    int ask(int code, std::int64_t value, int fallback);
    // Sleeps, waking early on a stop; false when stopping.
    bool pause(int ms);
    // Counts a failed attempt and waits before the next one; false when no
    // attempt is left, the retries have made no progress for the stall limit
    // (the last error stands as the reason) or the task is stopped meanwhile.
    // Attempts count afresh once new bytes have moved.
    bool next_attempt(int& attempts, const EngineSettings& settings);
    void add_bytes(std::int64_t n) {
        bytes_done_.fetch_add(n, std::memory_order_relaxed);
        recent_bytes_.fetch_add(n, std::memory_order_relaxed);
        // Bytes moving again end the retrying the row shows.
        if (n > 0 && retry_attempt_.load(std::memory_order_relaxed) != 0)
            retry_attempt_.store(0, std::memory_order_relaxed);
    }
    RetryState retry_state();
    int rate_share() const;

    std::int64_t bytes_done() const { return bytes_done_.load(); }
    std::int64_t take_recent() { return recent_bytes_.exchange(0); }
    TaskId id() const { return id_; }

    // Fixed after start.
    const TaskKind kind;
    const TaskParam param;

    // Guarded by mutex_ (shared with the connection code).
    std::mutex mutex_;
    Address address;  // changes on redirects
    std::vector<Segment> segments;
    std::int64_t total_length = -1;
    bool file_ready = false;
    bool ranges_ok = false;
    bool length_unknown = false;
    bool upload_complete = false;
    bool upload_verified = false;
    Outcome::Upload upload_check = Outcome::Upload::none;
    std::string local_path;    // GBK; the name actually used
    std::string chosen_path;   // answer 2 to event 18
    std::string partial_path;  // GBK; the file written until the download is complete
    // The first answer's validators; an answer with others is another version.
    std::string etag;
    std::string last_modified;
    // The first answer's MD5 (empty when it gave none), once an answer came:
    // the finished file must have it, and an answer with another is another version.
    std::string md5;
    bool md5_known = false;
    // Counts restarts from offset 0: a piece claimed before one is not written.
    int generation = 0;
    LocalFile file;
    // The MD5 of a new file's pieces while they are written in order from 0.
    StreamDigest stream;
    // Held shared while a piece is written, alone while the parts are reset.
    std::shared_mutex write_gate;
    int take_pending_extra() {
        int n = pending_extra_;
        pending_extra_ = 0;
        return n;
    }
    // Takes back bytes that must move again; what they were counts as progress once.
    void rewind_bytes(std::int64_t n) {
        note_progress();
        bytes_done_.fetch_sub(n);
    }
    // stop_and_save: the partial file stays for the resume record.
    void keep_partial() { keep_partial_ = true; }

  private:
    enum class ItemType {
        open_connection,
        connection_ended,
        message,
        event,
        ask,
        start_sending,
        finish,
        end
    };
    struct Item {
        ItemType type;
        int connection = -1;
        std::string text;
        int level = 0;
        int code = 0;
        std::int64_t value = 0;
        std::shared_ptr<std::promise<int>> answer;
    };

    void post(Item item);
    void run();
    void open_connection();
    void connection_ended(int id);
    void end_when_idle();
    bool all_segments_complete() const;
    void start_thread(Connection& c);
    Outcome decide_outcome();
    enum class Settled { done, start_over };
    // Puts the partial file under its final name, or removes it; the outcome
    // turns into a failure when the file cannot take its name. A file whose
    // content does not match the server's digest is removed; the first time,
    // the download starts over.
    Settled settle_file(Outcome& outcome);
    // The finished file's MD5: the one taken while writing when the file is
    // as the last write left it, otherwise read back (empty on a stop).
    std::string finished_md5(const std::filesystem::path& part, const struct stat& st,
                             std::int64_t length);
    // Forgets every part and queues the first connections again.
    void start_over();
    void control_loop();
    void note_progress();

    std::shared_ptr<Slot> slot_;
    TaskId id_;
    std::atomic<std::thread::id> control_id_{};
    std::condition_variable cv_;  // queue and stop wake-ups
    std::deque<Item> queue_;
    std::vector<std::unique_ptr<Connection>> connections_;
    int next_connection_id_ = 0;
    int pending_extra_ = 0;
    std::atomic<int> active_{0};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> finish_requested_{false};
    std::atomic<std::int64_t> bytes_done_{0};
    std::atomic<std::int64_t> recent_bytes_{0};
    std::atomic<int> retry_attempt_{0};
    std::string retry_reason_;  // guarded by mutex_
    std::string failure_;
    bool ending_ = false;
    bool content_retried_ = false;
    std::atomic<bool> keep_partial_{false};
    std::mutex progress_mutex_;
    std::int64_t progress_mark_ = 0;  // the most bytes ever counted
    std::chrono::steady_clock::time_point progress_at_ = std::chrono::steady_clock::now();

    friend void http_connection_main(std::shared_ptr<Task> task, Connection* c);
    friend void ftp_upload_main(std::shared_ptr<Task> task, Connection* c);
};

void http_connection_main(std::shared_ptr<Task> task, Connection* c);
void ftp_upload_main(std::shared_ptr<Task> task, Connection* c);

// The n-th partial name of a download (0: the usual one), always within a
// file name's 255 bytes.
std::string partial_candidate(const std::string& local_path, int n);
// "dir/name(n).ext" for the n-th automatic name.
std::string numbered_name(const std::string& path, int n);
// What a failed file operation on path means to the user (GBK): which file and why.
std::string file_error_text(int err, const std::string& path);

// "%s" and "%d" of a message template filled in order.
std::string fill(const std::string& text_template, const std::vector<std::string>& values);

}  // namespace qorvel::engine
