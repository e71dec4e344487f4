#include "store.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sqlite3.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <set>
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
  last_used INTEGER NOT NULL DEFAULT 0,
  address TEXT NOT NULL DEFAULT ''
);
CREATE INDEX IF NOT EXISTS sessions_account ON sessions(account_id);
CREATE TABLE IF NOT EXISTS folders (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  account_id INTEGER NOT NULL,
  parent_id INTEGER NOT NULL,
  name TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS blobs (
  sha256 TEXT PRIMARY KEY,
  md5 TEXT NOT NULL,
  size INTEGER NOT NULL,
  name TEXT NOT NULL UNIQUE
);
CREATE TABLE IF NOT EXISTS files (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  account_id INTEGER NOT NULL,
  folder_id INTEGER NOT NULL,
  name TEXT NOT NULL,
  size INTEGER NOT NULL,
  md5 TEXT,
  link TEXT NOT NULL UNIQUE,
  outside TEXT NOT NULL DEFAULT '',
  created TEXT NOT NULL,
  downloads INTEGER NOT NULL DEFAULT 0,
  blob TEXT
);
)SQL";

// After the older layouts have been brought up to date.
const char* kIndexes = R"SQL(
CREATE INDEX IF NOT EXISTS folders_parent ON folders(account_id, parent_id);
CREATE INDEX IF NOT EXISTS files_folder ON files(account_id, folder_id);
CREATE INDEX IF NOT EXISTS files_blob ON files(blob);
CREATE INDEX IF NOT EXISTS blobs_md5 ON blobs(md5);
)SQL";

// Tables as they were before ids were never given twice.
const char* kFoldersRebuild = R"SQL(
CREATE TABLE folders_next (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  account_id INTEGER NOT NULL,
  parent_id INTEGER NOT NULL,
  name TEXT NOT NULL
);
INSERT INTO folders_next (id, account_id, parent_id, name)
  SELECT id, account_id, parent_id, name FROM folders;
DROP TABLE folders;
ALTER TABLE folders_next RENAME TO folders;
DELETE FROM sqlite_sequence WHERE name IN ('folders', 'folders_next');
INSERT INTO sqlite_sequence (name, seq) VALUES ('folders', MAX(
  (SELECT IFNULL(MAX(id), 0) FROM folders), (SELECT IFNULL(MAX(folder_id), 0) FROM files)));
)SQL";
const char* kFilesRebuild = R"SQL(
CREATE TABLE files_next (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  account_id INTEGER NOT NULL,
  folder_id INTEGER NOT NULL,
  name TEXT NOT NULL,
  size INTEGER NOT NULL,
  md5 TEXT,
  link TEXT NOT NULL UNIQUE,
  outside TEXT NOT NULL DEFAULT '',
  created TEXT NOT NULL,
  downloads INTEGER NOT NULL DEFAULT 0,
  blob TEXT
);
INSERT INTO files_next (id, account_id, folder_id, name, size, md5, link, outside, created,
                        downloads)
  SELECT id, account_id, folder_id, name, size, md5, link, outside, created, downloads FROM files;
DROP TABLE files;
ALTER TABLE files_next RENAME TO files;
DELETE FROM sqlite_sequence WHERE name IN ('files', 'files_next');
INSERT INTO sqlite_sequence (name, seq) VALUES ('files', (SELECT IFNULL(MAX(id), 0) FROM files));
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

bool regular_file(const fs::path& path, int64_t* size = nullptr) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (size) *size = st.st_size;
    return true;
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
    f.blob = st.text(10);
    return f;
}

const char* kFileColumns =
    "SELECT id, account_id, folder_id, name, size, md5, link, outside, created, downloads, blob "
    "FROM files ";

}  // namespace

std::string md5_hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &len, EVP_md5(), nullptr);
    return hex(digest, len);
}

ContentDigest::ContentDigest() : md5_(EVP_MD_CTX_new()), sha256_(EVP_MD_CTX_new()) {
    EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(md5_), EVP_md5(), nullptr);
    EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(sha256_), EVP_sha256(), nullptr);
}
ContentDigest::~ContentDigest() {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(md5_));
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(sha256_));
}
void ContentDigest::update(const char* data, size_t size) {
    EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(md5_), data, size);
    EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(sha256_), data, size);
    size_ += static_cast<int64_t>(size);
}
BlobInfo ContentDigest::finish() {
    auto final_hex = [](void* ctx) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int len = 0;
        EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(ctx), digest, &len);
        return qorvel::service::hex(digest, len);
    };
    return BlobInfo{final_hex(md5_), size_, final_hex(sha256_)};
}

std::optional<BlobInfo> digest_of_file(const fs::path& file) {
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) return std::nullopt;
    ContentDigest digest;
    std::vector<char> buf(1 << 16);
    bool ok = true;
    for (;;) {
        size_t n = std::fread(buf.data(), 1, buf.size(), f);
        if (n > 0) digest.update(buf.data(), n);
        if (n < buf.size()) {
            ok = !std::ferror(f);
            break;
        }
    }
    std::fclose(f);
    if (!ok) return std::nullopt;
    return digest.finish();
}

bool same_bytes(const fs::path& a, const fs::path& b) {
    int64_t size_a = 0, size_b = 0;
    if (!regular_file(a, &size_a) || !regular_file(b, &size_b) || size_a != size_b) return false;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> fa(std::fopen(a.c_str(), "rb"), std::fclose);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> fb(std::fopen(b.c_str(), "rb"), std::fclose);
    if (!fa || !fb) return false;
    std::vector<char> ba(1 << 16), bb(1 << 16);
    for (;;) {
        size_t na = std::fread(ba.data(), 1, ba.size(), fa.get());
        size_t nb = std::fread(bb.data(), 1, bb.size(), fb.get());
        if (na != nb || std::memcmp(ba.data(), bb.data(), na) != 0) return false;
        if (na < ba.size()) return !std::ferror(fa.get()) && !std::ferror(fb.get());
    }
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
    migrate();
    exec(kIndexes);
    sweep_blobs();
}

void Store::migrate() {
    // Data folders from before idle sessions: add the column, count from login.
    if (sqlite3_exec(db_, "ALTER TABLE sessions ADD COLUMN last_used INTEGER NOT NULL DEFAULT 0",
                     nullptr, nullptr, nullptr) == SQLITE_OK)
        exec("UPDATE sessions SET last_used = created");
    // Sessions from before their address was kept see their lists by password only.
    sqlite3_exec(db_, "ALTER TABLE sessions ADD COLUMN address TEXT NOT NULL DEFAULT ''", nullptr,
                 nullptr, nullptr);
    // Hand-overs used to be kept here with their passwords in plain text.
    exec("DROP TABLE IF EXISTS handovers");
    migrate_ids();
    migrate_blobs();
}

namespace {

std::string table_sql(sqlite3* db, const char* table) {
    Stmt st(db, "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?1");
    st.bind(1, std::string_view(table));
    return st.step() ? st.text(0) : std::string();
}

}  // namespace

void Store::migrate_ids() {
    // Without AUTOINCREMENT SQLite gives the highest id again once its row is
    // gone, and old links would lead to someone else's file or folder. The
    // next id follows the highest one still known.
    bool folders = table_sql(db_, "folders").find("AUTOINCREMENT") == std::string::npos;
    bool files = table_sql(db_, "files").find("AUTOINCREMENT") == std::string::npos;
    if (!folders && !files) return;
    exec("BEGIN IMMEDIATE");
    try {
        if (folders) exec(kFoldersRebuild);
        if (files) exec(kFilesRebuild);
        exec("COMMIT");
    } catch (...) {
        exec("ROLLBACK");
        throw;
    }
}

void Store::migrate_blobs() {
    if (table_sql(db_, "blobs").find("sha256") != std::string::npos) return;
    // Blobs were known by MD5 alone: hash each stored content again. The
    // files keep their names, so nothing moves.
    exec("BEGIN IMMEDIATE");
    try {
        exec("ALTER TABLE blobs RENAME TO blobs_md5");
        exec(kSchema);
        Stmt old(db_, "SELECT md5, size FROM blobs_md5");
        while (old.step()) {
            std::string md5 = old.text(0);
            int64_t size = old.i64(1);
            if (md5.size() != 32 || md5.find_first_not_of("0123456789abcdef") != std::string::npos)
                continue;
            auto info =
                regular_file(blob_file(md5)) ? digest_of_file(blob_file(md5)) : std::nullopt;
            if (!info || info->md5 != md5 || info->size != size) continue;
            Stmt ins(db_,
                     "INSERT OR IGNORE INTO blobs (sha256, md5, size, name) "
                     "VALUES (?1, ?2, ?3, ?2)");
            ins.bind(1, info->sha256).bind(2, md5).bind(3, size).run();
            Stmt use(db_,
                     "UPDATE files SET blob = ?1 WHERE md5 = ?2 AND size = ?3 AND outside = ''");
            use.bind(1, info->sha256).bind(2, md5).bind(3, size).run();
        }
        exec("DROP TABLE blobs_md5");
        exec("COMMIT");
    } catch (...) {
        exec("ROLLBACK");
        throw;
    }
}

void Store::sweep_blobs() {
    // Content no file uses any more is neither served nor claimed: it goes.
    exec(
        "DELETE FROM blobs WHERE NOT EXISTS (SELECT 1 FROM files WHERE files.blob = "
        "blobs.sha256)");
    std::set<std::string> kept;
    {
        Stmt st(db_, "SELECT name FROM blobs");
        while (st.step()) kept.insert(st.text(0));
    }
    std::error_code ec;
    for (fs::directory_iterator dir(blobs_, ec), end; !ec && dir != end; dir.increment(ec)) {
        std::error_code inner;
        if (dir->is_symlink(inner) || !dir->is_directory(inner)) {
            // Only half-written blobs lie at the top.
            if (dir->path().extension() == ".tmp") fs::remove(dir->path(), inner);
            continue;
        }
        std::vector<fs::path> gone;
        for (fs::directory_iterator it(dir->path(), inner); !inner && it != end;
             it.increment(inner))
            if (!kept.count(it->path().filename().string())) gone.push_back(it->path());
        for (const auto& path : gone) fs::remove(path, inner);
    }
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

std::string Store::login(int account, std::string_view address) {
    std::lock_guard lock(mutex_);
    std::string key = random_hex(16);
    exec("BEGIN IMMEDIATE");
    try {
        Stmt del(db_, "DELETE FROM sessions WHERE account_id = ?1");
        del.bind(1, account).run();
        auto now = static_cast<int64_t>(std::time(nullptr));
        Stmt ins(db_,
                 "INSERT INTO sessions (key, account_id, created, last_used, address) "
                 "VALUES (?1, ?2, ?3, ?3, ?4)");
        ins.bind(1, key).bind(2, account).bind(3, now).bind(4, address).run();
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

bool Store::session_at(int account, std::string_view address) {
    if (address.empty()) return false;
    std::lock_guard lock(mutex_);
    auto now = static_cast<int64_t>(std::time(nullptr));
    Stmt st(db_, "SELECT last_used FROM sessions WHERE account_id = ?1 AND address = ?2");
    st.bind(1, account).bind(2, address);
    while (st.step())
        if (now - st.i64(0) <= session_idle_s_) return true;
    return false;
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
    std::vector<std::string> used =
        blobs_of_files("account_id = ?1 AND folder_id = ?2", account, folder);
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
    drop_unused_blobs(used);
    return FolderDelete::ok;
}

int Store::count_account_files(int account) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "SELECT COUNT(*) FROM files WHERE account_id = ?1");
    st.bind(1, account);
    st.step();
    return st.i32(0);
}

std::vector<FileEntry> Store::file_page(int account, int folder, int page, int per_page,
                                        int* total) {
    std::lock_guard lock(mutex_);
    Stmt count(db_, "SELECT COUNT(*) FROM files WHERE account_id = ?1 AND folder_id = ?2");
    count.bind(1, account).bind(2, folder);
    count.step();
    *total = count.i32(0);
    std::vector<FileEntry> out;
    if (page < 0 || per_page <= 0 || static_cast<long long>(page) * per_page >= *total) return out;
    Stmt st(db_, (std::string(kFileColumns) +
                  "WHERE account_id = ?1 AND folder_id = ?2 ORDER BY id DESC LIMIT ?3 OFFSET ?4")
                     .c_str());
    st.bind(1, account).bind(2, folder).bind(3, per_page).bind(4, page * per_page);
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

int Store::insert_file(int account, int folder, std::string_view name, const BlobInfo& blob) {
    Stmt st(db_,
            "INSERT INTO files (account_id, folder_id, name, size, md5, link, created, blob) "
            "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    st.bind(1, account).bind(2, folder).bind(3, name).bind(4, blob.size).bind(5, blob.md5);
    st.bind(6, random_hex(16)).bind(7, now_text()).bind(8, blob.sha256).run();
    return static_cast<int>(sqlite3_last_insert_rowid(db_));
}

std::optional<int> Store::add_file(int account, int folder, std::string_view name,
                                   const BlobInfo& blob) {
    std::lock_guard lock(mutex_);
    if (!folder_exists(account, folder) || !stored_blob_name(blob)) return std::nullopt;
    return insert_file(account, folder, name, blob);
}

std::optional<int> Store::add_uploaded_file(int account, int folder, std::string_view name,
                                            const fs::path& file, std::optional<BlobInfo> known) {
    auto info = known && !known->sha256.empty() ? known : digest_of_file(file);
    if (!info) return std::nullopt;
    // The same content stored already is compared outside the lock: it may be large.
    std::optional<std::string> compared;
    {
        std::lock_guard lock(mutex_);
        if (!folder_exists(account, folder)) return std::nullopt;
        compared = stored_blob_name(*info);
    }
    if (compared && !same_bytes(file, blob_file(*compared))) return std::nullopt;
    std::lock_guard lock(mutex_);
    if (!folder_exists(account, folder)) return std::nullopt;
    auto now_stored = stored_blob_name(*info);
    if (now_stored && now_stored != compared && !same_bytes(file, blob_file(*now_stored)))
        return std::nullopt;
    std::optional<int> id;
    transaction_locked([&] {
        if (keep_blob(*info, file)) id = insert_file(account, folder, name, *info);
        return id.has_value();
    });
    return id;
}

std::optional<int> Store::claim_file(int account, int folder, std::string_view name,
                                     std::string_view md5) {
    std::lock_guard lock(mutex_);
    if (!folder_exists(account, folder)) return std::nullopt;
    Stmt st(db_,
            "SELECT sha256, md5, size, name FROM blobs WHERE md5 = ?1 AND EXISTS "
            "(SELECT 1 FROM files WHERE files.blob = blobs.sha256) LIMIT 2");
    st.bind(1, md5);
    std::vector<std::pair<BlobInfo, std::string>> found;
    while (st.step()) found.push_back({BlobInfo{st.text(1), st.i64(2), st.text(0)}, st.text(3)});
    if (found.size() != 1) return std::nullopt;
    const BlobInfo& blob = found[0].first;
    int64_t size = -1;
    if (!regular_file(blob_file(found[0].second), &size) || size != blob.size) return std::nullopt;
    return insert_file(account, folder, name, blob);
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
    std::vector<std::string> used;
    transaction_locked([&] {
        for (int id : unique) {
            auto blob = blobs_of_files("id = ?1 AND account_id = ?2", id, account);
            used.insert(used.end(), blob.begin(), blob.end());
            Stmt st(db_, "DELETE FROM files WHERE id = ?1 AND account_id = ?2");
            st.bind(1, id).bind(2, account).run();
            if (sqlite3_changes(db_) == 0) {
                all = false;
                break;
            }
        }
        return all;
    });
    if (all) drop_unused_blobs(used);
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

fs::path Store::blob_file(std::string_view name) const {
    std::string n(name);
    return blobs_ / n.substr(0, 2) / n;
}

std::optional<fs::path> Store::content_path(const FileEntry& file) {
    if (file.blob.empty()) return std::nullopt;
    std::lock_guard lock(mutex_);
    Stmt st(db_, "SELECT name FROM blobs WHERE sha256 = ?1");
    st.bind(1, file.blob);
    if (!st.step()) return std::nullopt;
    return blob_file(st.text(0));
}

std::optional<std::string> Store::stored_blob_name(const BlobInfo& info) {
    Stmt st(db_, "SELECT name, size FROM blobs WHERE sha256 = ?1");
    st.bind(1, info.sha256);
    if (!st.step() || st.i64(1) != info.size || !regular_file(blob_file(st.text(0))))
        return std::nullopt;
    return st.text(0);
}

std::optional<std::string> Store::keep_blob(const BlobInfo& info, const fs::path& file) {
    std::error_code ec;
    if (auto name = stored_blob_name(info)) {
        fs::remove(file, ec);
        return name;
    }
    // A record whose file went missing is replaced.
    Stmt del(db_, "DELETE FROM blobs WHERE sha256 = ?1");
    del.bind(1, info.sha256).run();
    // Named by MD5 as before; another content with that MD5 gets its own name.
    std::string name = info.md5;
    Stmt taken(db_, "SELECT 1 FROM blobs WHERE name = ?1");
    taken.bind(1, name);
    if (taken.step()) name += "-" + info.sha256;
    fs::path target = blob_file(name);
    fs::create_directories(target.parent_path(), ec);
    fs::rename(file, target, ec);
    if (ec) return std::nullopt;
    Stmt st(db_, "INSERT INTO blobs (sha256, md5, size, name) VALUES (?1, ?2, ?3, ?4)");
    st.bind(1, info.sha256).bind(2, info.md5).bind(3, info.size).bind(4, name).run();
    return name;
}

std::vector<std::string> Store::blobs_of_files(const char* where, int a, int b) {
    Stmt st(db_,
            (std::string("SELECT blob FROM files WHERE blob IS NOT NULL AND ") + where).c_str());
    st.bind(1, a).bind(2, b);
    std::vector<std::string> out;
    while (st.step()) out.push_back(st.text(0));
    return out;
}

void Store::drop_unused_blobs(const std::vector<std::string>& sha256s) {
    std::set<std::string> unique(sha256s.begin(), sha256s.end());
    for (const std::string& sha : unique) {
        Stmt used(db_, "SELECT 1 FROM files WHERE blob = ?1 LIMIT 1");
        used.bind(1, sha);
        if (used.step()) continue;
        Stmt st(db_, "SELECT name FROM blobs WHERE sha256 = ?1");
        st.bind(1, sha);
        if (!st.step()) continue;
        fs::path path = blob_file(st.text(0));
        Stmt del(db_, "DELETE FROM blobs WHERE sha256 = ?1");
        del.bind(1, sha).run();
        std::error_code ec;
        fs::remove(path, ec);
    }
}

BlobInfo Store::put_blob(std::string_view bytes) {
    ContentDigest digest;
    digest.update(bytes.data(), bytes.size());
    BlobInfo info = digest.finish();
    std::lock_guard lock(mutex_);
    if (stored_blob_name(info)) return info;
    fs::path tmp = blobs_ / ("put-" + info.sha256 + ".tmp");
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) throw std::runtime_error("cannot write blob " + tmp.string());
    }
    if (!keep_blob(info, tmp)) throw std::runtime_error("cannot store blob " + tmp.string());
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
