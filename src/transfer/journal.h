// The durable journal of one account's transfer lists: an SQLite database in
// the user's data folder that keeps every row of both queues and both done
// lists, with what a later run needs to go on, and the account's download
// settings. Each change is one transaction; nothing is written while nothing
// changes. No windows, no engine: the roads and the queues feed it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace qorvel::transfer {

enum class JournalList { downloads = 0, downloads_done = 1, uploads = 2, uploads_done = 3 };

// Row states as stored; the numbers stay, rows of older runs keep their meaning.
enum class JournalState { waiting = 0, running = 1, failed = 2, paused = 3, done = 4 };

// One row of a list. Queue rows are known by their task id; done rows get a
// number of their own when added. Texts are the program's (GBK) bytes.
struct JournalRow {
    long long id = 0;
    JournalList list = JournalList::downloads;
    JournalState state = JournalState::waiting;
    std::string name;         // download: the listed name; upload: the local path
    std::string size_text;    // as shown
    std::string file_id;      // download: the file's id; upload done: the new file's id
    std::string folder;       // download: save folder; upload: target folder's name
    long long folder_id = 0;  // upload: target folder's id
    std::string local_path;   // the file the engine writes or reads; a done row's shown path
    int policy = 0;           // same-name choice when the row was queued
    std::string failure;      // why a failed row failed
    std::string remark;       // upload done: how it went ("常规上传", "极速秒传")
    std::string record;       // download: the engine's resume record of the last checkpoint
    std::int64_t offset = 0;  // upload: bytes the server has confirmed
    std::string remote;       // upload: the remote name the bytes went to
    std::string partial;      // download: the partial file the engine was about to create
    bool operator==(const JournalRow&) const = default;
};

// Several changes that go in as one transaction.
struct JournalChange {
    std::vector<JournalRow> put;  // queue rows: added or changed (record and offset kept)
    std::vector<std::pair<JournalList, long long>> gone;  // queue rows removed
    std::vector<JournalRow> done;                         // rows added on top of a done list
    bool empty() const { return put.empty() && gone.empty() && done.empty(); }
};

class Journal {
  public:
    // $XDG_DATA_HOME (or ~/.local/share) + "qorvel/queues"; empty without either.
    static std::filesystem::path default_folder();
    // The account's database: the lower-case hex SHA-256 of the account name's
    // bytes + ".sqlite", so no name can reach outside the folder.
    static std::filesystem::path path_for(const std::filesystem::path& folder,
                                          const std::string& account);

    // Opens or creates the database; the folder is made 0700, the file 0600.
    // A link, or anything but a regular file, at the file's place is refused.
    static std::unique_ptr<Journal> open(const std::filesystem::path& file,
                                         std::string* why = nullptr);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // One transaction; false when it could not be committed (nothing of it stays).
    bool apply(const JournalChange& change);
    // Progress of a running row; writes only when the row is there and the value differs.
    bool set_record(JournalList list, long long id, const std::string& record);
    bool set_offset(JournalList list, long long id, std::int64_t offset, const std::string& remote);
    // Written before the engine creates the file, so a partial file the journal
    // names is ours even when the program ended before its first checkpoint.
    bool set_partial(JournalList list, long long id, const std::string& partial);
    bool set_setting(const std::string& key, const std::string& value);
    std::optional<std::string> setting(const std::string& key) const;

    // A list's rows in the order they were added (done lists: oldest first).
    std::vector<JournalRow> load(JournalList list) const;
    // The highest queue id of a list, so new rows never reuse one.
    long long last_id(JournalList list) const;
    // Transactions committed since open (tests count them).
    long long commits() const;
    std::filesystem::path file() const { return file_; }

  private:
    Journal(sqlite3* db, std::filesystem::path file);
    bool exec(const char* sql) const;
    bool write_change(const JournalChange& change);

    mutable std::mutex mutex_;
    sqlite3* db_;
    std::filesystem::path file_;
    long long commits_ = 0;
};

}  // namespace qorvel::transfer
