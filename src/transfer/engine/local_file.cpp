#include "transfer/engine/local_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <openssl/evp.h>

#include "net/charset.h"

namespace qorvel::engine {

namespace {

// Sizes the file without allocating its blocks (writing into preallocated,
// unwritten extents costs several times more). A disk without room for the
// rest of the file is refused here; should it fill up later anyway, pwrite
// fails and the task ends with the file error.
bool allocate(int fd, std::int64_t length) {
    if (length <= 0) return true;
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    std::int64_t have = static_cast<std::int64_t>(st.st_blocks) * 512;
    struct statvfs vfs {};
    if (::fstatvfs(fd, &vfs) == 0) {
        std::int64_t room =
            static_cast<std::int64_t>(vfs.f_bavail) * static_cast<std::int64_t>(vfs.f_frsize);
        if (length - have > room) {
            errno = ENOSPC;
            return false;
        }
    }
    if (st.st_size >= length) return true;
    return ::ftruncate(fd, static_cast<off_t>(length)) == 0;
}

}  // namespace

std::string local_file_reason(int err) {
    switch (err) {
    case EACCES:
    case EPERM: return GBK("权限不够");
    case ENOSPC:
    case EDQUOT: return GBK("磁盘空间不足");
    case ENOENT:
    case ENOTDIR: return GBK("文件夹不存在");
    case ENAMETOOLONG: return GBK("文件名过长");
    case EROFS: return GBK("只读文件系统");
    case EFBIG: return GBK("文件过大");
    default: return std::strerror(err);
    }
}

int open_regular_file(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

namespace {

// The raw MD5 of the first length bytes of an open file (to its end when
// length is negative), read with pread in 1 MiB pieces from offset from on,
// ctx holding the bytes before it; empty when the file ends early, cannot be
// read, or stop() turns true on the way.
std::string md5_of(int fd, EVP_MD_CTX* ctx, std::int64_t from, std::int64_t length,
                   const std::function<bool()>& stop) {
    std::vector<unsigned char> buffer(1 << 20);
    std::int64_t pos = from;
    while (length < 0 || pos < length) {
        if (stop && stop()) return {};
        std::size_t want = buffer.size();
        if (length >= 0)
            want = static_cast<std::size_t>(
                std::min<std::int64_t>(length - pos, static_cast<std::int64_t>(want)));
        ssize_t n = ::pread(fd, buffer.data(), want, static_cast<off_t>(pos));
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 && length < 0) break;
        if (n <= 0 || EVP_DigestUpdate(ctx, buffer.data(), static_cast<std::size_t>(n)) != 1)
            return {};
        pos += n;
    }
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_DigestFinal_ex(ctx, md, &len) != 1) return {};
    return std::string(reinterpret_cast<const char*>(md), len);
}

std::string md5_of(int fd, std::int64_t length, const std::function<bool()>& stop) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) return {};
    return md5_of(fd, ctx.get(), 0, length, stop);
}

}  // namespace

std::string hex_text(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

std::string md5_hex_of(int fd, std::int64_t length, const std::function<bool()>& stop) {
    return hex_text(md5_of(fd, length, stop));
}

std::string file_md5(const std::filesystem::path& path, const std::function<bool()>& stop) {
    int fd = open_regular_file(path);
    if (fd < 0) return {};
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    std::string raw = md5_of(fd, -1, stop);
    ::close(fd);
    return raw;
}

std::string file_md5_after(const std::filesystem::path& path, EVP_MD_CTX* ctx, std::int64_t from,
                           std::int64_t length, const std::function<bool()>& stop) {
    int fd = open_regular_file(path);
    if (fd < 0) return {};
    ::posix_fadvise(fd, from, 0, POSIX_FADV_SEQUENTIAL);
    std::string raw = md5_of(fd, ctx, from, length, stop);
    ::close(fd);
    return raw;
}

FileIdentity identity_of(const struct stat& st) {
    FileIdentity id;
    id.known = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.changed = st.st_ctim;
    id.modified = st.st_mtim;
    return id;
}

bool same_identity(const FileIdentity& a, const FileIdentity& b) {
    auto same_time = [](const timespec& x, const timespec& y) {
        return x.tv_sec == y.tv_sec && x.tv_nsec == y.tv_nsec;
    };
    return a.known && b.known && a.device == b.device && a.inode == b.inode && a.size == b.size &&
           same_time(a.changed, b.changed) && same_time(a.modified, b.modified);
}

LocalFile::Created LocalFile::create_new(const std::filesystem::path& path, std::int64_t length) {
    close();
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        error_ = errno;
        return error_ == EEXIST ? Created::exists : Created::error;
    }
    fd_ = fd;
    if (!allocate(fd, length)) {
        error_ = errno;
        close();
        ::unlink(path.c_str());
        return Created::error;
    }
    sized_ = length < 0 ? 0 : length;
    return Created::ok;
}

bool LocalFile::open_existing(const std::filesystem::path& path, std::int64_t length) {
    close();
    // A record names the file; a link planted there since is not followed.
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    fd_ = fd;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != length) {
        close();
        return false;
    }
    sized_ = length;
    return true;
}

int LocalFile::duplicate() const {
    return fd_ >= 0 ? ::fcntl(fd_, F_DUPFD_CLOEXEC, 0) : -1;
}

bool LocalFile::reserve(std::int64_t length) {
    if (length <= sized_) return true;
    std::int64_t grown = sized_ ? sized_ : (1 << 20);
    while (grown < length) grown *= 2;
    if (!allocate(fd_, grown)) return false;
    sized_ = grown;
    return true;
}

bool LocalFile::write_at(std::int64_t pos, const char* bytes, std::size_t size) {
    if (pos < 0 || pos + static_cast<std::int64_t>(size) > sized_) return false;
    while (size > 0) {
        ssize_t n = ::pwrite(fd_, bytes, size, static_cast<off_t>(pos));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
        pos += n;
    }
    return true;
}

bool LocalFile::resize(std::int64_t length) {
    final_ = -1;
    if (length < 0) {
        sized_ = 0;
        return ::ftruncate(fd_, 0) == 0;
    }
    if (!allocate(fd_, length) || ::ftruncate(fd_, static_cast<off_t>(length)) != 0) return false;
    sized_ = length;
    return true;
}

void LocalFile::set_final_length(std::int64_t length) {
    final_ = length;
}

void LocalFile::close() {
    if (fd_ >= 0) {
        if (final_ >= 0) {
            if (::ftruncate(fd_, static_cast<off_t>(final_)) != 0) {
                // The bytes are all there; only the tail of zeros remains.
            }
        }
        // Queried here, the change time is refined on the next change
        // (multigrain time stamps), so any later write shows.
        struct stat st {};
        closed_ = ::fstat(fd_, &st) == 0 ? identity_of(st) : FileIdentity{};
        ::close(fd_);
    }
    fd_ = -1;
    sized_ = 0;
    final_ = -1;
}

}  // namespace qorvel::engine
