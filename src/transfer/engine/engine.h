// Download and FtpUpload objects: each runs at most one task at a time on
// threads of its own and reports through the callbacks of its TaskParam.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "transfer/engine/task_param.h"

namespace qorvel::engine {

// How a task ended. Event 4 is sent for every ending; this tells them apart.
struct Outcome {
    enum class Result { none, success, failed, stopped };
    Result result = Result::none;
    std::string message;  // GBK; the error text for a failure
    std::int64_t bytes = 0;
    std::string local_path;  // GBK; where a finished download was put
    // An upload whose server gave the MD5 of what it stored, equal to the local file's.
    bool verified = false;
    // A finished upload: its content verified by the server's MD5, or a server
    // without HASH refused the check (none: unchecked, or not a finished upload).
    enum class Upload { none, verified, server_has_no_hash };
    Upload upload = Upload::none;
    // A finished download: its file's length, and whether its content was
    // compared with the server's digest (none: not a finished download).
    enum class Content { none, no_digest, verified };
    Content content = Content::none;
    std::int64_t length = -1;
};

// Engine-wide settings; tests shorten the retry wait, count and limit.
struct EngineSettings {
    int receive_buffer = 20480;  // room for an HTTP answer head
    int retry_wait_ms = 5000;
    int max_attempts = 999;  // counted afresh whenever a retry finds new bytes moved
    int max_redirects = 10;
    // A task whose retries have moved no new byte for this long fails with
    // its last error, so a dead or hostile server cannot keep it for hours.
    int stall_limit_ms = 120000;
    // Tests only: called with the partial file's path after a download's last
    // byte, before its content is checked.
    std::function<void(const std::string& partial_path)> before_content_check;
    // Tests only: called before each piece the content check reads back from the disk.
    std::function<void()> on_read_back_piece;
};

// The file a download writes into until it is complete; the final name
// appears only on success, so a broken download never looks finished.
// Usually name + ".part"; a name too long for that gets a prefix of the name
// and a hash. A task whose usual partial name is taken by a file not its own
// writes to another one (".1.part", ".2.part" ...).
std::string partial_name(const std::string& local_path);
EngineSettings engine_settings();
void set_engine_settings(const EngineSettings& settings);

// A running task that waits to try again after a failed attempt: the number
// of that attempt and the error that ended it. attempt is 0 while bytes move.
struct RetryState {
    int attempt = 0;
    std::string reason;  // GBK
};

class Task;
struct Slot;

class TransferObject {
  public:
    TransferObject();
    ~TransferObject();
    TransferObject(const TransferObject&) = delete;
    TransferObject& operator=(const TransferObject&) = delete;

    bool running() const;
    // The outcome of the last task that ended on this object (none while running or never run).
    Outcome outcome() const;
    // Blocks until no task is held, or the time-out passes; true when idle.
    bool wait_idle(int timeout_ms) const;
    // Safe from any thread; attempt 0 when nothing runs or bytes move again.
    RetryState retry_state() const;

  protected:
    std::shared_ptr<Task> current() const;
    std::shared_ptr<Slot> slot_;
};

class Download : public TransferObject {
  public:
    // 0: adds a connection that takes over half of the part with the most bytes left.
    bool add_connection();
    // 1: starts a download; resume_record from stop_and_save continues its parts.
    bool start(const TaskParam& param, const std::string& resume_record = {});
    // 6: stops, waits for the connections and returns what a later start
    // resumes from; the bytes so far stay in the task's partial file.
    bool stop_and_save(std::string& resume_record);
    // What stop_and_save would return, while the task goes on: a snapshot of
    // the parts' written bytes, the partial file synced to the disk after it,
    // so the record never claims a byte the disk may not hold. False while
    // nothing resumable is written yet (or no task runs).
    bool checkpoint(std::string& resume_record);
    // 7
    std::int64_t bytes_received() const;
    // 8: bytes since the previous call.
    std::int64_t recent_bytes();
    // The length the server announced; -1 while unknown.
    std::int64_t total_bytes() const;
    // 9: stops; what was received is removed.
    void stop();
    // For answer 2 to event 18: the caller's new local path (GBK), set from the callback.
    // Event 18 comes when the name is taken at the start, and again when a file
    // took the name while downloading.
    void choose_local_path(const std::string& path);
};

class FtpUpload : public TransferObject {
  public:
    // 2
    bool start(const TaskParam& param);
    // 3: ends the sending (if still going) and releases the task.
    bool finish();
    // 4
    std::int64_t bytes_sent() const;
    // 5: bytes sent on any engine connection since the previous call, process-wide.
    static std::int64_t sent_since_last_query();
};

}  // namespace qorvel::engine
