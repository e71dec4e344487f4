// The local file of a download: created new and sized to its full length at
// once; connections write their pieces at their offsets with pwrite (measured
// twice as fast as a shared memory map, whose first write to each page faults
// into the file system).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include <sys/stat.h>

#include <openssl/types.h>

namespace qorvel::engine {

// Why a local file operation failed, in the user's words (GBK), by errno:
// the one table every file error the user sees goes through.
std::string local_file_reason(int err);

// Opens a file to read only when it is a regular file: never through a link
// at its last component, never blocking on a FIFO or device (the type is read
// from the open descriptor, which then blocks as usual). -1 otherwise.
int open_regular_file(const std::filesystem::path& path);

// The lower-case hex MD5 of the first length bytes of an open file, read with
// pread so another reader of the descriptor is not disturbed. Empty when the
// file ends early, cannot be read, or stop() turns true on the way.
std::string md5_hex_of(int fd, std::int64_t length, const std::function<bool()>& stop);

// The MD5 of a regular file (16 bytes), read in pieces; empty when it cannot
// be read to its end or stop() turns true on the way.
std::string file_md5(const std::filesystem::path& path, const std::function<bool()>& stop = {});

// The MD5 of the first length bytes of a regular file whose bytes before from
// already went through ctx: only the rest is read. Empty as file_md5.
std::string file_md5_after(const std::filesystem::path& path, EVP_MD_CTX* ctx, std::int64_t from,
                           std::int64_t length, const std::function<bool()>& stop);

// Bytes as lower-case hex digits, two per byte.
std::string hex_text(const std::string& bytes);

// What a file was when its last byte had been written: a later change of
// content, length or place shows in one of these.
struct FileIdentity {
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec changed{};
    timespec modified{};
};
FileIdentity identity_of(const struct stat& st);
bool same_identity(const FileIdentity& a, const FileIdentity& b);

class LocalFile {
  public:
    enum class Created { ok, exists, error };

    LocalFile() = default;
    ~LocalFile() { close(); }
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;

    // Never replaces an existing file. length -1: unknown, the file grows as data comes.
    Created create_new(const std::filesystem::path& path, std::int64_t length);
    // A file of an earlier, saved task; its size must be length.
    bool open_existing(const std::filesystem::path& path, std::int64_t length);
    // Makes room for at least length bytes (unknown-length downloads only).
    bool reserve(std::int64_t length);
    // Writes bytes at pos (within the sized length); false on a disk error.
    bool write_at(std::int64_t pos, const char* bytes, std::size_t size);
    // Another descriptor of the open file (-1 when none): the caller may sync
    // through it while the task ends and closes its own.
    int duplicate() const;
    // Cuts an unknown-length file to what was received.
    void set_final_length(std::int64_t length);
    // Sizes the file anew for another version of the download (-1: unknown, grows again).
    bool resize(std::int64_t length);
    // errno of the last failed create_new.
    int error() const { return error_; }

    // The file as close() left it, after its last write; unknown when the
    // descriptor could not be read.
    const FileIdentity& closed_identity() const { return closed_; }

    std::int64_t length() const { return sized_; }
    bool is_open() const { return fd_ >= 0; }
    void close();

  private:
    int fd_ = -1;
    std::int64_t sized_ = 0;  // writes must stay below this
    std::int64_t final_ = -1;
    int error_ = 0;
    FileIdentity closed_;
};

}  // namespace qorvel::engine
