// Accounts, sessions, folders and files in SQLite, file contents in a blob
// folder. Contents are told apart by SHA-256: MD5 is what the service reports
// and what instant uploads name, but it is not collision-proof. Every public
// call is atomic and safe from any thread. Texts are UTF-8 here; the pages
// convert at the edge.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace qorvel::service {

struct Account {
    int id = 0;
    std::string name;
    std::string email;
    bool vip = false;
    std::string access_password;  // empty: none set
    std::string question;
    std::string answer;
    std::string signature;
    std::string created;  // "YYYY-MM-DD"
};

struct Folder {
    int id = 0;
    int parent = 0;
    std::string name;
};

struct FileEntry {
    int id = 0;
    int account = 0;
    int folder = 0;
    std::string name;
    int64_t size = 0;
    std::string md5;      // empty for a link-only file
    std::string blob;     // SHA-256 of the content; empty: none stored
    std::string link;     // storage link under "/up/"
    std::string outside;  // outside address of a link-only file
    std::string created;  // "YYYY-MM-DD HH:MM:SS"
    int64_t downloads = 0;
    bool link_only() const { return !outside.empty(); }
};

struct BlobInfo {
    std::string md5;
    int64_t size = 0;
    std::string sha256;
};

// MD5 and SHA-256 of bytes that arrive piece by piece.
class ContentDigest {
  public:
    ContentDigest();
    ~ContentDigest();
    ContentDigest(const ContentDigest&) = delete;
    ContentDigest& operator=(const ContentDigest&) = delete;
    void update(const char* data, size_t size);
    BlobInfo finish();  // ends the stream

  private:
    void* md5_;
    void* sha256_;
    int64_t size_ = 0;
};

enum class RegisterResult { ok, name_taken, email_taken };
enum class FolderDelete { ok, not_found, has_children };

class Store {
  public:
    // Opens (and creates) dir/qorvel.sqlite3, dir/blobs and dir/incoming.
    explicit Store(const std::filesystem::path& dir);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const std::filesystem::path& incoming_dir() const { return incoming_; }

    // Accounts.
    std::optional<Account> account_by_name(std::string_view name);
    std::optional<Account> account_by_id(int id);
    bool check_password(int account, std::string_view password);
    RegisterResult register_account(std::string_view name, std::string_view password,
                                    std::string_view email, int* new_id = nullptr);
    void set_password(int account, std::string_view password);
    void set_account_details(int account, bool vip, std::string_view access_password,
                             std::string_view question, std::string_view answer);
    // Records a password-mail request; false when one was made less than
    // window_s seconds ago.
    bool note_mail_request(int account, int64_t now, int64_t window_s);

    // Sessions: a login makes a new key and ends the account's other sessions.
    // A session unused for longer than the idle time has ended.
    std::string login(int account, std::string_view address = {});
    std::optional<int> session_account(std::string_view key);
    // Whether the account's live session was opened from this address (the
    // client sends no key with its folder and file lists).
    bool session_at(int account, std::string_view address);
    void set_session_idle(int seconds) { session_idle_s_ = seconds; }

    // Folders (id 0 is the default folder and is not stored).
    std::vector<Folder> sub_folders(int account, int parent, size_t limit);
    bool folder_exists(int account, int folder);  // true for 0
    std::optional<int> create_folder(int account, int parent, std::string_view name);
    bool rename_folder(int account, int folder, std::string_view name);
    FolderDelete delete_folder(int account, int folder);

    // Files, newest first.
    // Page `page` (from 0) of a folder's files and their count, read under one
    // hold of the lock, so no change lands between them; no files for a page
    // past the end.
    std::vector<FileEntry> file_page(int account, int folder, int page, int per_page, int* total);
    int count_account_files(int account);
    std::optional<FileEntry> file(int id);
    std::optional<FileEntry> file_by_link(std::string_view link);
    // blob: one stored with put_blob.
    std::optional<int> add_file(int account, int folder, std::string_view name,
                                const BlobInfo& blob);
    // Takes an uploaded file into the blob folder (hashing it unless its
    // digest is known) and adds it; the same content already stored is kept
    // once, after comparing the bytes.
    std::optional<int> add_uploaded_file(int account, int folder, std::string_view name,
                                         const std::filesystem::path& file,
                                         std::optional<BlobInfo> known = std::nullopt);
    // Instant upload: adds a file whose content is stored content with this
    // MD5, still in use by some file. Refused when more than one content
    // has it: the MD5 alone cannot tell which is meant.
    std::optional<int> claim_file(int account, int folder, std::string_view name,
                                  std::string_view md5);
    std::optional<int> add_link_file(int account, int folder, std::string_view name,
                                     std::string_view outside);
    bool rename_file(int account, int id, std::string_view name);
    // All or nothing: false (and nothing changed) when any id is not the
    // account's own file.
    bool delete_files(int account, const std::vector<int>& ids);
    bool move_files(int account, const std::vector<int>& ids, int target);
    void count_download(int id);

    // Blobs: a content's file, named by its MD5 (a second content with the
    // same MD5 gets its SHA-256 added to the name). A blob no file uses any
    // more is removed.
    std::optional<std::filesystem::path> content_path(const FileEntry& file);
    BlobInfo put_blob(std::string_view bytes);

    // Named flags and values.
    std::optional<std::string> meta(std::string_view key);
    void set_meta(std::string_view key, std::string_view value);

    // Runs body inside one transaction (used by seeding).
    template <typename F>
    void transaction(F&& body) {
        std::lock_guard lock(mutex_);
        exec("BEGIN IMMEDIATE");
        try {
            body();
            exec("COMMIT");
        } catch (...) {
            exec("ROLLBACK");
            throw;
        }
    }

  private:
    // Runs body (mutex held) in one transaction; commits only when it
    // returns true.
    template <typename F>
    void transaction_locked(F&& body) {
        exec("BEGIN IMMEDIATE");
        try {
            if (body())
                exec("COMMIT");
            else
                exec("ROLLBACK");
        } catch (...) {
            exec("ROLLBACK");
            throw;
        }
    }
    void exec(const char* sql);
    void migrate();
    void migrate_ids();
    void migrate_blobs();
    void sweep_blobs();
    std::filesystem::path blob_file(std::string_view name) const;
    // The stored blob of this content (a row whose file is there), after the
    // bytes at `file` were found equal when given.
    std::optional<std::string> stored_blob_name(const BlobInfo& info);
    // Records the blob (moving `file` in) unless it is stored; its name.
    std::optional<std::string> keep_blob(const BlobInfo& info, const std::filesystem::path& file);
    int insert_file(int account, int folder, std::string_view name, const BlobInfo& blob);
    std::vector<std::string> blobs_of_files(const char* where, int a, int b);
    void drop_unused_blobs(const std::vector<std::string>& sha256s);
    std::filesystem::path dir_;
    std::filesystem::path blobs_;
    std::filesystem::path incoming_;
    sqlite3* db_ = nullptr;
    std::recursive_mutex mutex_;
    int session_idle_s_ = 2 * 3600;
};

// Lower-case hex digests of a whole file; nullopt when it cannot be read.
std::optional<BlobInfo> digest_of_file(const std::filesystem::path& file);
// Whether two files hold the same bytes.
bool same_bytes(const std::filesystem::path& a, const std::filesystem::path& b);
std::string md5_hex(std::string_view bytes);
std::string random_hex(size_t bytes);
std::string now_text();  // local "YYYY-MM-DD HH:MM:SS"

}  // namespace qorvel::service
