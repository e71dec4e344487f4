#include "store.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "net/text.h"

namespace qorvel::service {

namespace fs = std::filesystem;

namespace {

// One prepared statement with bound parameters; finalized on scope exit.
class Stmt {
  public:
    Stmt(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("sqlite prepare: ") + sqlite3_errmsg(db));
    }
    ~Stmt() { sqlite3_finalize(stmt_); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    Stmt& bind(int i, std::string_view text) {
        sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& bind(int i, int64_t value) {
        sqlite3_bind_int64(stmt_, i, value);
        return *this;
    }
    Stmt& bind(int i, int value) { return bind(i, static_cast<int64_t>(value)); }
    Stmt& bind_null(int i) {
        sqlite3_bind_null(stmt_, i);
        return *this;
    }
    // True while a row is available.
    bool step() {
        int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw std::runtime_error(std::string("sqlite step: ") + sqlite3_errmsg(db_));
    }
    // Runs a statement that may fail on a constraint; false then.
    bool try_run() {
        int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_DONE || rc == SQLITE_ROW) return true;
        if ((rc & 0xff) == SQLITE_CONSTRAINT) return false;
        throw std::runtime_error(std::string("sqlite step: ") + sqlite3_errmsg(db_));
    }
    void run() { step(); }
    int64_t i64(int col) const { return sqlite3_column_int64(stmt_, col); }
    int i32(int col) const { return static_cast<int>(sqlite3_column_int64(stmt_, col)); }
    std::string text(int col) const {
        const unsigned char* p = sqlite3_column_text(stmt_, col);
        int n = sqlite3_column_bytes(stmt_, col);
        return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n))
                 : std::string();
    }
    bool is_null(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }

  private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

const char* kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS accounts (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE,
  email TEXT NOT NULL,
  email_key TEXT NOT NULL UNIQUE,
  salt TEXT NOT NULL,
  pw_hash TEXT NOT NULL,
  vip INTEGER NOT NULL DEFAULT 0,
  access_pw TEXT NOT NULL DEFAULT '',
  question TEXT NOT NULL DEFAULT '',
  answer TEXT NOT NULL DEFAULT '',
  signature TEXT NOT NULL DEFAULT '',
  created TEXT NOT NULL,
  mail_request_at INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE IF NOT EXISTS sessions (
  key TEXT PRIMARY KEY,
  account_id INTEGER NOT NULL,
  created INTEGER NOT NULL,
  last_used INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS sessions_account ON sessions(account_id);
CREATE TABLE IF NOT EXISTS folders (
  id INTEGER PRIMARY KEY,
  account_id INTEGER NOT NULL,
  parent_id INTEGER NOT NULL,
  name TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS folders_parent ON folders(account_id, parent_id);
CREATE TABLE IF NOT EXISTS blobs (md5 TEXT PRIMARY KEY, size INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS files (
  id INTEGER PRIMARY KEY,
  account_id INTEGER NOT NULL,
  folder_id INTEGER NOT NULL,
  name TEXT NOT NULL,
  size INTEGER NOT NULL,
  md5 TEXT,
  link TEXT NOT NULL UNIQUE,
  outside TEXT NOT NULL DEFAULT '',
  created TEXT NOT NULL,
  downloads INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS files_folder ON files(account_id, folder_id);
)SQL";

std::string hex(const unsigned char* data, size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

std::string sha256_hex(std::string_view a, std::string_view b) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    EVP_DigestUpdate(ctx, a.data(), a.size());
    EVP_DigestUpdate(ctx, b.data(), b.size());
    EVP_DigestFinal_ex(ctx, digest, &len);
    EVP_MD_CTX_free(ctx);
    return hex(digest, len);
}

Account read_account(Stmt& st) {
    Account a;
    a.id = st.i32(0);
    a.name = st.text(1);
    a.email = st.text(2);
    a.vip = st.i64(3) != 0;
    a.access_password = st.text(4);
    a.question = st.text(5);
    a.answer = st.text(6);
    a.signature = st.text(7);
    a.created = st.text(8);
    return a;
}

const char* kAccountColumns =
    "SELECT id, name, email, vip, access_pw, question, answer, signature, created FROM accounts ";

FileEntry read_file_row(Stmt& st) {
    FileEntry f;
    f.id = st.i32(0);
    f.account = st.i32(1);
    f.folder = st.i32(2);
    f.name = st.text(3);
    f.size = st.i64(4);
    f.md5 = st.text(5);
    f.link = st.text(6);
    f.outside = st.text(7);
    f.created = st.text(8);
    f.downloads = st.i64(9);
    return f;
}

const char* kFileColumns =
    "SELECT id, account_id, folder_id, name, size, md5, link, outside, created, downloads FROM "
    "files ";

}  // namespace

std::string md5_hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &len, EVP_md5(), nullptr);
    return hex(digest, len);
}

Md5Stream::Md5Stream() : ctx_(EVP_MD_CTX_new()) {
    EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(ctx_), EVP_md5(), nullptr);
}
Md5Stream::~Md5Stream() {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_));
}
void Md5Stream::update(const char* data, size_t size) {
    EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx_), data, size);
}
std::string Md5Stream::hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(ctx_), digest, &len);
    return qorvel::service::hex(digest, len);
}

std::optional<BlobInfo> md5_of_file(const fs::path& file) {
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) return std::nullopt;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
    std::vector<char> buf(1 << 16);
    int64_t total = 0;
    bool ok = true;
    for (;;) {
        size_t n = std::fread(buf.data(), 1, buf.size(), f);
        if (n > 0) {
            EVP_DigestUpdate(ctx, buf.data(), n);
            total += static_cast<int64_t>(n);
        }
        if (n < buf.size()) {
            ok = !std::ferror(f);
            break;
        }
    }
    std::fclose(f);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx, digest, &len);
    EVP_MD_CTX_free(ctx);
    if (!ok) return std::nullopt;
    return BlobInfo{hex(digest, len), total};
}

std::string random_hex(size_t bytes) {
    std::vector<unsigned char> buf(bytes);
    if (RAND_bytes(buf.data(), static_cast<int>(bytes)) != 1)
        throw std::runtime_error("no random bytes");
    return hex(buf.data(), bytes);
}

std::string now_text() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

Store::Store(const fs::path& dir) : dir_(dir), blobs_(dir / "blobs"), incoming_(dir / "incoming") {
    fs::create_directories(blobs_);
    fs::create_directories(incoming_);
    fs::path db = dir / "qorvel.sqlite3";
    if (sqlite3_open_v2(db.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw std::runtime_error("cannot open " + db.string() + ": " + msg);
    }
    sqlite3_busy_timeout(db_, 5000);
    exec("PRAGMA journal_mode=WAL");
    exec("PRAGMA synchronous=NORMAL");
    exec(kSchema);
    // Data folders from before idle sessions: add the column, count from login.
    if (sqlite3_exec(db_, "ALTER TABLE sessions ADD COLUMN last_used INTEGER NOT NULL DEFAULT 0",
                     nullptr, nullptr, nullptr) == SQLITE_OK)
        exec("UPDATE sessions SET last_used = created");
    // Hand-overs used to be kept here with their passwords in plain text.
    exec("DROP TABLE IF EXISTS handovers");
}

Store::~Store() {
    if (db_) sqlite3_close(db_);
}

void Store::exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::string msg = err ? err : "unknown";
        sqlite3_free(err);
        throw std::runtime_error("sqlite: " + msg);
    }
}

std::optional<Account> Store::account_by_name(std::string_view name) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, (std::string(kAccountColumns) + "WHERE name = ?1").c_str());
    st.bind(1, name);
    if (!st.step()) return std::nullopt;
    return read_account(st);
}

std::optional<Account> Store::account_by_id(int id) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, (std::string(kAccountColumns) + "WHERE id = ?1").c_str());
    st.bind(1, id);
    if (!st.step()) return std::nullopt;
    return read_account(st);
}

bool Store::check_password(int account, std::string_view password) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "SELECT salt, pw_hash FROM accounts WHERE id = ?1");
    st.bind(1, account);
    if (!st.step()) return false;
    return sha256_hex(st.text(0), password) == st.text(1);
}

RegisterResult Store::register_account(std::string_view name, std::string_view password,
                                       std::string_view email, int* new_id) {
    std::lock_guard lock(mutex_);
    {
        Stmt st(db_, "SELECT 1 FROM accounts WHERE name = ?1");
        st.bind(1, name);
        if (st.step()) return RegisterResult::name_taken;
    }
    {
        Stmt st(db_, "SELECT 1 FROM accounts WHERE email_key = ?1");
        st.bind(1, text_lower(email));
        if (st.step()) return RegisterResult::email_taken;
    }
    std::string salt = random_hex(8);
    Stmt st(db_,
            "INSERT INTO accounts (name, email, email_key, salt, pw_hash, created) "
            "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    st.bind(1, name).bind(2, email).bind(3, text_lower(email)).bind(4, salt);
    st.bind(5, sha256_hex(salt, password)).bind(6, now_text().substr(0, 10));
    if (!st.try_run()) return RegisterResult::name_taken;
    if (new_id) *new_id = static_cast<int>(sqlite3_last_insert_rowid(db_));
    return RegisterResult::ok;
}

void Store::set_password(int account, std::string_view password) {
    std::lock_guard lock(mutex_);
    std::string salt = random_hex(8);
    Stmt st(db_, "UPDATE accounts SET salt = ?1, pw_hash = ?2 WHERE id = ?3");
    st.bind(1, salt).bind(2, sha256_hex(salt, password)).bind(3, account).run();
}

void Store::set_account_details(int account, bool vip, std::string_view access_password,
                                std::string_view question, std::string_view answer) {
    std::lock_guard lock(mutex_);
    Stmt st(db_,
            "UPDATE accounts SET vip = ?1, access_pw = ?2, question = ?3, answer = ?4 "
            "WHERE id = ?5");
    st.bind(1, vip ? 1 : 0).bind(2, access_password).bind(3, question).bind(4, answer);
    st.bind(5, account).run();
}

bool Store::note_mail_request(int account, int64_t now, int64_t window_s) {
    std::lock_guard lock(mutex_);
    Stmt st(db_,
            "UPDATE accounts SET mail_request_at = ?1 WHERE id = ?2 AND "
            "(mail_request_at = 0 OR ?1 - mail_request_at >= ?3 OR mail_request_at > ?1)");
    st.bind(1, now).bind(2, account).bind(3, window_s).run();
    return sqlite3_changes(db_) > 0;
}

std::string Store::login(int account) {
    std::lock_guard lock(mutex_);
    std::string key = random_hex(16);
    exec("BEGIN IMMEDIATE");
    try {
        Stmt del(db_, "DELETE FROM sessions WHERE account_id = ?1");
        del.bind(1, account).run();
        auto now = static_cast<int64_t>(std::time(nullptr));
        Stmt ins(db_,
                 "INSERT INTO sessions (key, account_id, created, last_used) "
                 "VALUES (?1, ?2, ?3, ?3)");
        ins.bind(1, key).bind(2, account).bind(3, now).run();
        exec("COMMIT");
    } catch (...) {
        exec("ROLLBACK");
        throw;
    }
    return key;
}

std::optional<int> Store::session_account(std::string_view key) {
    if (key.empty()) return std::nullopt;
    std::lock_guard lock(mutex_);
    auto now = static_cast<int64_t>(std::time(nullptr));
    Stmt st(db_, "SELECT account_id, last_used FROM sessions WHERE key = ?1");
    st.bind(1, key);
    if (!st.step()) return std::nullopt;
    int account = st.i32(0);
    int64_t last = st.i64(1);
    if (now - last > session_idle_s_) {
        Stmt del(db_, "DELETE FROM sessions WHERE key = ?1");
        del.bind(1, key).run();
        return std::nullopt;
    }
    // Written at most once a minute, not on every request.
    if (now - last >= 60 || last > now) {
        Stmt touch(db_, "UPDATE sessions SET last_used = ?1 WHERE key = ?2");
        touch.bind(1, now).bind(2, key).run();
    }
    return account;
}

std::vector<Folder> Store::sub_folders(int account, int parent, size_t limit) {
    std::lock_guard lock(mutex_);
    Stmt st(db_,
            "SELECT id, parent_id, name FROM folders WHERE account_id = ?1 AND parent_id = ?2 "
            "ORDER BY id LIMIT ?3");
    st.bind(1, account).bind(2, parent).bind(3, static_cast<int64_t>(limit));
    std::vector<Folder> out;
    while (st.step()) out.push_back({st.i32(0), st.i32(1), st.text(2)});
    return out;
}

bool Store::folder_exists(int account, int folder) {
    if (folder == 0) return true;
    std::lock_guard lock(mutex_);
    Stmt st(db_, "SELECT 1 FROM folders WHERE id = ?1 AND account_id = ?2");
    st.bind(1, folder).bind(2, account);
    return st.step();
}

std::optional<int> Store::create_folder(int account, int parent, std::string_view name) {
    std::lock_guard lock(mutex_);
    if (!folder_exists(account, parent)) return std::nullopt;
    Stmt st(db_, "INSERT INTO folders (account_id, parent_id, name) VALUES (?1, ?2, ?3)");
    st.bind(1, account).bind(2, parent).bind(3, name).run();
    return static_cast<int>(sqlite3_last_insert_rowid(db_));
}

bool Store::rename_folder(int account, int folder, std::string_view name) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "UPDATE folders SET name = ?1 WHERE id = ?2 AND account_id = ?3");
    st.bind(1, name).bind(2, folder).bind(3, account).run();
    return sqlite3_changes(db_) > 0;
}

FolderDelete Store::delete_folder(int account, int folder) {
    std::lock_guard lock(mutex_);
    if (folder == 0 || !folder_exists(account, folder)) return FolderDelete::not_found;
    {
        Stmt st(db_, "SELECT 1 FROM folders WHERE account_id = ?1 AND parent_id = ?2 LIMIT 1");
        st.bind(1, account).bind(2, folder);
        if (st.step()) return FolderDelete::has_children;
    }
    exec("BEGIN IMMEDIATE");
    try {
        Stmt files(db_, "DELETE FROM files WHERE account_id = ?1 AND folder_id = ?2");
        files.bind(1, account).bind(2, folder).run();
        Stmt del(db_, "DELETE FROM folders WHERE id = ?1 AND account_id = ?2");
        del.bind(1, folder).bind(2, account).run();
        exec("COMMIT");
    } catch (...) {
        exec("ROLLBACK");
        throw;
    }
    return FolderDelete::ok;
}

int Store::count_files(int account, int folder) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "SELECT COUNT(*) FROM files WHERE account_id = ?1 AND folder_id = ?2");
    st.bind(1, account).bind(2, folder);
    st.step();
    return st.i32(0);
}

int Store::count_account_files(int account) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "SELECT COUNT(*) FROM files WHERE account_id = ?1");
    st.bind(1, account);
    st.step();
    return st.i32(0);
}

std::vector<FileEntry> Store::list_files(int account, int folder, int offset, int limit) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, (std::string(kFileColumns) +
                  "WHERE account_id = ?1 AND folder_id = ?2 ORDER BY id DESC LIMIT ?3 OFFSET ?4")
                     .c_str());
    st.bind(1, account).bind(2, folder).bind(3, limit).bind(4, offset);
    std::vector<FileEntry> out;
    while (st.step()) out.push_back(read_file_row(st));
    return out;
}

std::optional<FileEntry> Store::file(int id) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, (std::string(kFileColumns) + "WHERE id = ?1").c_str());
    st.bind(1, id);
    if (!st.step()) return std::nullopt;
    return read_file_row(st);
}

std::optional<FileEntry> Store::file_by_link(std::string_view link) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, (std::string(kFileColumns) + "WHERE link = ?1").c_str());
    st.bind(1, link);
    if (!st.step()) return std::nullopt;
    return read_file_row(st);
}

std::optional<int> Store::add_file(int account, int folder, std::string_view name,
                                   const BlobInfo& blob) {
    std::lock_guard lock(mutex_);
    if (!folder_exists(account, folder)) return std::nullopt;
    Stmt st(db_,
            "INSERT INTO files (account_id, folder_id, name, size, md5, link, created) "
            "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    st.bind(1, account).bind(2, folder).bind(3, name).bind(4, blob.size).bind(5, blob.md5);
    st.bind(6, random_hex(16)).bind(7, now_text()).run();
    return static_cast<int>(sqlite3_last_insert_rowid(db_));
}

std::optional<int> Store::add_link_file(int account, int folder, std::string_view name,
                                        std::string_view outside) {
    std::lock_guard lock(mutex_);
    if (!folder_exists(account, folder)) return std::nullopt;
    Stmt st(db_,
            "INSERT INTO files (account_id, folder_id, name, size, md5, link, outside, created) "
            "VALUES (?1, ?2, ?3, 0, NULL, ?4, ?5, ?6)");
    st.bind(1, account).bind(2, folder).bind(3, name).bind(4, random_hex(16));
    st.bind(5, outside).bind(6, now_text()).run();
    return static_cast<int>(sqlite3_last_insert_rowid(db_));
}

bool Store::rename_file(int account, int id, std::string_view name) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "UPDATE files SET name = ?1 WHERE id = ?2 AND account_id = ?3");
    st.bind(1, name).bind(2, id).bind(3, account).run();
    return sqlite3_changes(db_) > 0;
}

bool Store::delete_files(int account, const std::vector<int>& ids) {
    std::lock_guard lock(mutex_);
    std::vector<int> unique(ids);
    std::sort(unique.begin(), unique.end());
    unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
    bool all = true;
    transaction_locked([&] {
        for (int id : unique) {
            Stmt st(db_, "DELETE FROM files WHERE id = ?1 AND account_id = ?2");
            st.bind(1, id).bind(2, account).run();
            if (sqlite3_changes(db_) == 0) {
                all = false;
                break;
            }
        }
        return all;
    });
    return all;
}

bool Store::move_files(int account, const std::vector<int>& ids, int target) {
    std::lock_guard lock(mutex_);
    if (!folder_exists(account, target)) return false;
    std::vector<int> unique(ids);
    std::sort(unique.begin(), unique.end());
    unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
    bool all = true;
    transaction_locked([&] {
        for (int id : unique) {
            Stmt st(db_, "UPDATE files SET folder_id = ?1 WHERE id = ?2 AND account_id = ?3");
            st.bind(1, target).bind(2, id).bind(3, account).run();
            if (sqlite3_changes(db_) == 0) {
                all = false;
                break;
            }
        }
        return all;
    });
    return all;
}

void Store::count_download(int id) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "UPDATE files SET downloads = downloads + 1 WHERE id = ?1");
    st.bind(1, id).run();
}

std::optional<BlobInfo> Store::blob(std::string_view md5) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "SELECT md5, size FROM blobs WHERE md5 = ?1");
    st.bind(1, md5);
    if (!st.step()) return std::nullopt;
    BlobInfo info{st.text(0), st.i64(1)};
    std::error_code ec;
    if (!fs::exists(blob_path(info.md5), ec)) return std::nullopt;
    return info;
}

fs::path Store::blob_path(std::string_view md5) const {
    std::string name(md5);
    return blobs_ / name.substr(0, 2) / name;
}

std::optional<BlobInfo> Store::adopt_blob(const fs::path& file, std::optional<BlobInfo> known) {
    auto info = known ? known : md5_of_file(file);
    if (!info) return std::nullopt;
    std::lock_guard lock(mutex_);
    fs::path target = blob_path(info->md5);
    std::error_code ec;
    if (fs::exists(target, ec)) {
        fs::remove(file, ec);
    } else {
        fs::create_directories(target.parent_path(), ec);
        fs::rename(file, target, ec);
        if (ec) return std::nullopt;
    }
    Stmt st(db_, "INSERT OR IGNORE INTO blobs (md5, size) VALUES (?1, ?2)");
    st.bind(1, info->md5).bind(2, info->size).run();
    return info;
}

BlobInfo Store::put_blob(std::string_view bytes) {
    BlobInfo info{md5_hex(bytes), static_cast<int64_t>(bytes.size())};
    std::lock_guard lock(mutex_);
    fs::path target = blob_path(info.md5);
    std::error_code ec;
    if (!fs::exists(target, ec)) {
        fs::create_directories(target.parent_path());
        fs::path tmp = target;
        tmp += ".tmp";
        {
            std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            if (!out) throw std::runtime_error("cannot write blob " + tmp.string());
        }
        fs::rename(tmp, target);
    }
    Stmt st(db_, "INSERT OR IGNORE INTO blobs (md5, size) VALUES (?1, ?2)");
    st.bind(1, info.md5).bind(2, info.size).run();
    return info;
}

std::optional<std::string> Store::meta(std::string_view key) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "SELECT value FROM meta WHERE key = ?1");
    st.bind(1, key);
    if (!st.step()) return std::nullopt;
    return st.text(0);
}

void Store::set_meta(std::string_view key, std::string_view value) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "INSERT OR REPLACE INTO meta (key, value) VALUES (?1, ?2)");
    st.bind(1, key).bind(2, value).run();
}

}  // namespace qorvel::service
