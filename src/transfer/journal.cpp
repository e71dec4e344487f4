#include "transfer/journal.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include <openssl/evp.h>

namespace qorvel::transfer {

namespace fs = std::filesystem;

namespace {

// One prepared statement, finalized on every way out.
class Stmt {
  public:
    Stmt(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &st_, nullptr); }
    ~Stmt() { sqlite3_finalize(st_); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    bool ok() const { return st_ != nullptr; }
    // Texts go in as bytes: they are GBK, not UTF-8.
    void bind(int i, std::string_view bytes) {
        sqlite3_bind_blob(st_, i, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    }
    void bind(int i, long long v) { sqlite3_bind_int64(st_, i, v); }
    bool step_row() { return sqlite3_step(st_) == SQLITE_ROW; }
    bool run() {
        int rc = sqlite3_step(st_);
        sqlite3_reset(st_);
        sqlite3_clear_bindings(st_);
        return rc == SQLITE_DONE;
    }
    std::string bytes(int col) const {
        const void* p = sqlite3_column_blob(st_, col);
        int n = sqlite3_column_bytes(st_, col);
        return p ? std::string(static_cast<const char*>(p), static_cast<std::size_t>(n))
                 : std::string();
    }
    long long num(int col) const { return sqlite3_column_int64(st_, col); }

  private:
    sqlite3_stmt* st_ = nullptr;
};

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS queue ("
    " list INTEGER NOT NULL, id INTEGER NOT NULL, state INTEGER NOT NULL,"
    " name BLOB, size_text BLOB, file_id BLOB, folder BLOB, folder_id INTEGER,"
    " local_path BLOB, policy INTEGER, failure BLOB, remark BLOB,"
    " record BLOB NOT NULL DEFAULT x'', offset INTEGER NOT NULL DEFAULT 0,"
    " remote BLOB NOT NULL DEFAULT x'', partial BLOB NOT NULL DEFAULT x'',"
    " PRIMARY KEY (list, id)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS done ("
    " seq INTEGER PRIMARY KEY AUTOINCREMENT, list INTEGER NOT NULL,"
    " name BLOB, size_text BLOB, file_id BLOB, folder BLOB, folder_id INTEGER,"
    " local_path BLOB, remark BLOB);"
    "CREATE INDEX IF NOT EXISTS done_list ON done (list, seq);"
    "CREATE TABLE IF NOT EXISTS settings (key BLOB PRIMARY KEY, value BLOB) WITHOUT ROWID;";

bool is_queue(JournalList l) {
    return l == JournalList::downloads || l == JournalList::uploads;
}

std::string sha256_hex(const std::string& bytes) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(bytes.data(), bytes.size(), out, &n, EVP_sha256(), nullptr);
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < n; ++i) {
        hex += digits[out[i] >> 4];
        hex += digits[out[i] & 15];
    }
    return hex;
}

// The folder exists as a real directory of ours with mode 0700.
bool private_folder(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return false;
    return (st.st_mode & 07777) == 0700 || ::chmod(folder.c_str(), 0700) == 0;
}

}  // namespace

fs::path Journal::default_folder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    fs::path base;
    if (data && *data == '/') {
        base = data;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = fs::path(home) / ".local" / "share";
    } else {
        return {};
    }
    return base / "qorvel" / "queues";
}

fs::path Journal::path_for(const fs::path& folder, const std::string& account) {
    return folder / (sha256_hex(account) + ".sqlite");
}

std::unique_ptr<Journal> Journal::open(const fs::path& file, std::string* why) {
    auto refuse = [&](const std::string& text) -> std::unique_ptr<Journal> {
        if (why) *why = text;
        return nullptr;
    };
    if (file.empty() || !private_folder(file.parent_path())) return refuse("no private folder");
    // Created here, never through a link; SQLite then refuses a link as well.
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) return refuse("cannot open the file");
    struct stat st {};
    bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::getuid();
    if (regular && (st.st_mode & 077) != 0) regular = ::fchmod(fd, 0600) == 0;
    ::close(fd);
    if (!regular) return refuse("not a regular file of ours");
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        std::string text = db ? sqlite3_errmsg(db) : "cannot open the database";
        sqlite3_close(db);
        return refuse(text);
    }
    sqlite3_busy_timeout(db, 5000);
    std::unique_ptr<Journal> j(new Journal(db, file));
    // WAL with a sync at each commit: a committed action survives a power cut,
    // and a killed writer leaves the last commit whole.
    if (!j->exec("PRAGMA journal_mode=WAL") || !j->exec("PRAGMA synchronous=FULL") ||
        !j->exec(kSchema))
        return refuse(sqlite3_errmsg(db));
    // Journals written before partial names were kept get the column (an error
    // here means it is there already).
    j->exec("ALTER TABLE queue ADD COLUMN partial BLOB NOT NULL DEFAULT x''");
    return j;
}

Journal::Journal(sqlite3* db, fs::path file) : db_(db), file_(std::move(file)) {}

Journal::~Journal() {
    sqlite3_close(db_);
}

bool Journal::exec(const char* sql) const {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool Journal::write_change(const JournalChange& change) {
    if (!change.put.empty()) {
        // A failed row's partial file is gone with it: its record goes too.
        Stmt st(db_,
                "INSERT INTO queue (list, id, state, name, size_text, file_id, folder, folder_id,"
                " local_path, policy, failure, remark) VALUES (?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,"
                "?11,?12) ON CONFLICT (list, id) DO UPDATE SET state = excluded.state,"
                " name = excluded.name, size_text = excluded.size_text,"
                " file_id = excluded.file_id, folder = excluded.folder,"
                " folder_id = excluded.folder_id, local_path = excluded.local_path,"
                " policy = excluded.policy, failure = excluded.failure, remark = excluded.remark,"
                " record = CASE WHEN excluded.state = 2 THEN x'' ELSE record END");
        if (!st.ok()) return false;
        for (const auto& r : change.put) {
            st.bind(1, static_cast<long long>(r.list));
            st.bind(2, r.id);
            st.bind(3, static_cast<long long>(r.state));
            st.bind(4, r.name);
            st.bind(5, r.size_text);
            st.bind(6, r.file_id);
            st.bind(7, r.folder);
            st.bind(8, r.folder_id);
            st.bind(9, r.local_path);
            st.bind(10, static_cast<long long>(r.policy));
            st.bind(11, r.failure);
            st.bind(12, r.remark);
            if (!st.run()) return false;
        }
    }
    if (!change.gone.empty()) {
        Stmt st(db_, "DELETE FROM queue WHERE list = ?1 AND id = ?2");
        if (!st.ok()) return false;
        for (const auto& [list, id] : change.gone) {
            st.bind(1, static_cast<long long>(list));
            st.bind(2, id);
            if (!st.run()) return false;
        }
    }
    if (!change.done.empty()) {
        Stmt st(db_,
                "INSERT INTO done (list, name, size_text, file_id, folder, folder_id, local_path,"
                " remark) VALUES (?1,?2,?3,?4,?5,?6,?7,?8)");
        if (!st.ok()) return false;
        for (const auto& r : change.done) {
            st.bind(1, static_cast<long long>(r.list));
            st.bind(2, r.name);
            st.bind(3, r.size_text);
            st.bind(4, r.file_id);
            st.bind(5, r.folder);
            st.bind(6, r.folder_id);
            st.bind(7, r.local_path);
            st.bind(8, r.remark);
            if (!st.run()) return false;
        }
    }
    return true;
}

bool Journal::apply(const JournalChange& change) {
    if (change.empty()) return true;
    std::lock_guard lock(mutex_);
    if (!exec("BEGIN IMMEDIATE")) return false;
    if (!write_change(change) || !exec("COMMIT")) {
        exec("ROLLBACK");
        return false;
    }
    ++commits_;
    return true;
}

bool Journal::set_record(JournalList list, long long id, const std::string& record) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "UPDATE queue SET record = ?3 WHERE list = ?1 AND id = ?2 AND record <> ?3");
    st.bind(1, static_cast<long long>(list));
    st.bind(2, id);
    st.bind(3, record);
    if (!st.run()) return false;
    if (sqlite3_changes(db_) > 0) ++commits_;
    return true;
}

bool Journal::set_partial(JournalList list, long long id, const std::string& partial) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "UPDATE queue SET partial = ?3 WHERE list = ?1 AND id = ?2 AND partial <> ?3");
    st.bind(1, static_cast<long long>(list));
    st.bind(2, id);
    st.bind(3, partial);
    if (!st.run()) return false;
    if (sqlite3_changes(db_) > 0) ++commits_;
    return true;
}

bool Journal::set_offset(JournalList list, long long id, std::int64_t offset,
                         const std::string& remote) {
    std::lock_guard lock(mutex_);
    Stmt st(db_,
            "UPDATE queue SET offset = ?3, remote = ?4 WHERE list = ?1 AND id = ?2 AND"
            " (offset <> ?3 OR remote <> ?4)");
    st.bind(1, static_cast<long long>(list));
    st.bind(2, id);
    st.bind(3, static_cast<long long>(offset));
    st.bind(4, remote);
    if (!st.run()) return false;
    if (sqlite3_changes(db_) > 0) ++commits_;
    return true;
}

bool Journal::set_setting(const std::string& key, const std::string& value) {
    std::lock_guard lock(mutex_);
    Stmt st(db_,
            "INSERT INTO settings (key, value) VALUES (?1, ?2) ON CONFLICT (key) DO UPDATE SET"
            " value = excluded.value WHERE value <> excluded.value");
    st.bind(1, key);
    st.bind(2, value);
    if (!st.run()) return false;
    if (sqlite3_changes(db_) > 0) ++commits_;
    return true;
}

std::optional<std::string> Journal::setting(const std::string& key) const {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "SELECT value FROM settings WHERE key = ?1");
    st.bind(1, key);
    if (!st.step_row()) return std::nullopt;
    return st.bytes(0);
}

std::vector<JournalRow> Journal::load(JournalList list) const {
    std::lock_guard lock(mutex_);
    std::vector<JournalRow> rows;
    if (is_queue(list)) {
        Stmt st(db_,
                "SELECT id, state, name, size_text, file_id, folder, folder_id, local_path, policy,"
                " failure, remark, record, offset, remote, partial FROM queue WHERE list = ?1"
                " ORDER BY id");
        st.bind(1, static_cast<long long>(list));
        while (st.step_row()) {
            JournalRow r;
            r.list = list;
            r.id = st.num(0);
            long long state = st.num(1);
            // An unknown state from a later version waits rather than runs.
            r.state =
                state >= 0 && state <= 3 ? static_cast<JournalState>(state) : JournalState::waiting;
            r.name = st.bytes(2);
            r.size_text = st.bytes(3);
            r.file_id = st.bytes(4);
            r.folder = st.bytes(5);
            r.folder_id = st.num(6);
            r.local_path = st.bytes(7);
            r.policy = static_cast<int>(st.num(8));
            r.failure = st.bytes(9);
            r.remark = st.bytes(10);
            r.record = st.bytes(11);
            r.offset = st.num(12);
            r.remote = st.bytes(13);
            r.partial = st.bytes(14);
            rows.push_back(std::move(r));
        }
    } else {
        Stmt st(db_,
                "SELECT seq, name, size_text, file_id, folder, folder_id, local_path, remark"
                " FROM done WHERE list = ?1 ORDER BY seq");
        st.bind(1, static_cast<long long>(list));
        while (st.step_row()) {
            JournalRow r;
            r.list = list;
            r.state = JournalState::done;
            r.id = st.num(0);
            r.name = st.bytes(1);
            r.size_text = st.bytes(2);
            r.file_id = st.bytes(3);
            r.folder = st.bytes(4);
            r.folder_id = st.num(5);
            r.local_path = st.bytes(6);
            r.remark = st.bytes(7);
            rows.push_back(std::move(r));
        }
    }
    return rows;
}

long long Journal::last_id(JournalList list) const {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "SELECT COALESCE(MAX(id), 0) FROM queue WHERE list = ?1");
    st.bind(1, static_cast<long long>(list));
    return st.step_row() ? st.num(0) : 0;
}

long long Journal::commits() const {
    std::lock_guard lock(mutex_);
    return commits_;
}

}  // namespace qorvel::transfer
