// A small FTP server on POSIX sockets that takes uploads into the incoming
// folder: USER/PASS (anonymous), PASV/EPSV/PORT, TYPE, REST, SIZE, STOR,
// HASH (with OPTS HASH), NOOP, QUIT. Remote names never leave the folder: each is stored under the
// MD5 of its bytes.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include <sys/stat.h>

#include "store.h"

namespace qorvel::service {

// Uploads waiting in the incoming folder for their registration. Each is
// kept under the uploading address and its remote name together, so one
// address can neither replace, register nor see another's upload, and it
// waits only `keep_s` after its last write before it is dropped. All the
// waiting uploads of one address together hold at most `quota` bytes.
class Incoming {
  public:
    Incoming(std::filesystem::path dir, int keep_s, int64_t quota = 2LL << 30)
        : dir_(std::move(dir)), keep_s_(keep_s), quota_(quota) {}
    std::filesystem::path path_for(std::string_view address, std::string_view remote_name) const;
    // false when the same upload is already being written (or registered)
    bool begin(std::string_view address, std::string_view remote_name);
    // Counts the upload at the size it was left with (nothing once it is gone).
    void end(std::string_view address, std::string_view remote_name);
    // Lets the upload hold `bytes`; false when the address's waiting uploads
    // would then pass the quota (or, with `room`, leave no byte of it free).
    bool reserve(std::string_view address, std::string_view remote_name, int64_t bytes,
                 bool room = false);
    bool busy(std::string_view address, std::string_view remote_name);
    // The waiting upload, when there is one that is still within its time.
    std::optional<std::filesystem::path> waiting(std::string_view address,
                                                 std::string_view remote_name);
    // Removes uploads older than their time that nobody is writing.
    int sweep();
    // The digest taken while an upload arrived whole, so its registration need
    // not read it again. It holds only while the file is as it was then.
    void note_digest(std::string_view address, std::string_view remote_name, BlobInfo digest,
                     const struct stat& written);
    void forget_digest(std::string_view address, std::string_view remote_name);
    std::optional<BlobInfo> digest_of(std::string_view address, std::string_view remote_name);

  private:
    std::string key(std::string_view address, std::string_view remote_name) const;
    void hold_locked(const std::string& key, std::string_view address, int64_t bytes);
    std::filesystem::path dir_;
    int keep_s_;
    int64_t quota_;
    std::mutex mutex_;
    // Bytes counted per upload (by key, with its address) and per address.
    // Kept in memory: uploads left from before a restart are swept in time.
    std::map<std::string, std::pair<std::string, int64_t>> held_;
    std::map<std::string, int64_t, std::less<>> per_address_bytes_;
    std::set<std::string> writing_;
    struct Noted {
        BlobInfo digest;
        dev_t device;
        ino_t inode;
        struct timespec modified;
    };
    std::map<std::string, Noted> digests_;
};

using LoginCheck = std::function<bool(const std::string& user, const std::string& password,
                                      const std::string& address)>;

struct FtpLimits {
    int max_connections = 64;
    int max_per_address = 8;
    int login_timeout_s = 10;  // to send a user name and a password that is taken
    int idle_timeout_s = 300;
    int data_timeout_s = 30;
    int64_t max_file_bytes = 4LL << 30;
    int64_t max_waiting_bytes = 2LL << 30;  // unregistered uploads of one address
    int keep_upload_s = 600;                // a waiting upload's time after its last write
    // Test aid only: flips the first byte of every upload as it is stored, so
    // tests can see a client catch a server that kept other bytes.
    bool corrupt_stored = false;
    // Test aid only: a server without the HASH extension (FEAT, OPTS HASH and HASH).
    bool no_hash = false;
    // Test aid only: HASH is offered but every HASH fails with a 451.
    bool hash_fails = false;
};

class FtpServer {
  public:
    // check_login(user, password, address): true for a named account that may
    // log in (the address is for counting failures).
    FtpServer(Incoming& incoming, LoginCheck check_login, FtpLimits limits = {});
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    // port 0: any free port; port() tells which.
    bool bind(const std::string& host, int port, std::string* error);
    int port() const { return port_; }
    void start();  // accept loop on its own thread
    void stop();   // closes the listener and ends every connection

  private:
    void accept_loop();
    void serve(int fd, uint32_t address);

    Incoming& incoming_;
    LoginCheck check_login_;
    FtpLimits limits_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::mutex per_address_mutex_;
    std::map<uint32_t, int> per_address_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> active_{0};
    std::thread acceptor_;
    std::mutex threads_mutex_;
    std::list<std::thread> threads_;
};

}  // namespace qorvel::service
