// Accounts, sessions, folders and files in SQLite, file contents
// in a blob folder addressed by MD5. Every public call is atomic and safe
// from any thread. Texts are UTF-8 here; the pages convert at the edge.
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
    std::string link;     // storage link under "/up/"
    std::string outside;  // outside address of a link-only file
    std::string created;  // "YYYY-MM-DD HH:MM:SS"
    int64_t downloads = 0;
    bool link_only() const { return !outside.empty(); }
};

struct BlobInfo {
    std::string md5;
    int64_t size = 0;
};

// MD5 of bytes that arrive piece by piece.
class Md5Stream {
  public:
    Md5Stream();
    ~Md5Stream();
    Md5Stream(const Md5Stream&) = delete;
    Md5Stream& operator=(const Md5Stream&) = delete;
    void update(const char* data, size_t size);
    std::string hex();  // ends the stream

  private:
    void* ctx_;
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
    std::string login(int account);
    std::optional<int> session_account(std::string_view key);
    void set_session_idle(int seconds) { session_idle_s_ = seconds; }

    // Folders (id 0 is the default folder and is not stored).
    std::vector<Folder> sub_folders(int account, int parent, size_t limit);
    bool folder_exists(int account, int folder);  // true for 0
    std::optional<int> create_folder(int account, int parent, std::string_view name);
    bool rename_folder(int account, int folder, std::string_view name);
    FolderDelete delete_folder(int account, int folder);

    // Files, newest first.
    int count_files(int account, int folder);
    std::vector<FileEntry> list_files(int account, int folder, int offset, int limit);
    int count_account_files(int account);
    std::optional<FileEntry> file(int id);
    std::optional<FileEntry> file_by_link(std::string_view link);
    std::optional<int> add_file(int account, int folder, std::string_view name,
                                const BlobInfo& blob);
    std::optional<int> add_link_file(int account, int folder, std::string_view name,
                                     std::string_view outside);
    bool rename_file(int account, int id, std::string_view name);
    // All or nothing: false (and nothing changed) when any id is not the
    // account's own file.
    bool delete_files(int account, const std::vector<int>& ids);
    bool move_files(int account, const std::vector<int>& ids, int target);
    void count_download(int id);

    // Blobs.
    std::optional<BlobInfo> blob(std::string_view md5);
    std::filesystem::path blob_path(std::string_view md5) const;
    // Hashes the file (unless its digest is known), moves it into the blob
    // folder (or drops it when the blob is there already) and records the blob.
    std::optional<BlobInfo> adopt_blob(const std::filesystem::path& file,
                                       std::optional<BlobInfo> known = std::nullopt);
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
    std::filesystem::path dir_;
    std::filesystem::path blobs_;
    std::filesystem::path incoming_;
    sqlite3* db_ = nullptr;
    std::recursive_mutex mutex_;
    int session_idle_s_ = 2 * 3600;
};

// Lower-case hex MD5 of a whole file; nullopt when it cannot be read.
std::optional<BlobInfo> md5_of_file(const std::filesystem::path& file);
std::string md5_hex(std::string_view bytes);
std::string random_hex(size_t bytes);
std::string now_text();  // local "YYYY-MM-DD HH:MM:SS"

}  // namespace qorvel::service
