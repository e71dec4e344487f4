#include "transfer/engine/local_file.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qorvel::engine {

namespace {

// Real blocks up front, so a full disk fails here and not as SIGBUS mid-download.
bool allocate(int fd, std::int64_t length) {
    if (length <= 0) return true;
    if (::fallocate(fd, 0, 0, static_cast<off_t>(length)) == 0) return true;
    if (errno != EOPNOTSUPP && errno != ENOSYS) return false;
    return ::posix_fallocate(fd, 0, static_cast<off_t>(length)) == 0;
}

}  // namespace

LocalFile::Created LocalFile::create_new(const std::filesystem::path& path, std::int64_t length) {
    close();
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return errno == EEXIST ? Created::exists : Created::error;
    fd_ = fd;
    if (!allocate(fd, length) || !map(length < 0 ? 0 : length)) {
        close();
        ::unlink(path.c_str());
        return Created::error;
    }
    return Created::ok;
}

bool LocalFile::open_existing(const std::filesystem::path& path, std::int64_t length) {
    close();
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    fd_ = fd;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || st.st_size != length || !map(length)) {
        close();
        return false;
    }
    return true;
}

bool LocalFile::map(std::int64_t length) {
    if (length == 0) return true;
    void* p = ::mmap(nullptr, static_cast<size_t>(length), PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (p == MAP_FAILED) return false;
    data_ = static_cast<char*>(p);
    mapped_ = length;
    return true;
}

bool LocalFile::reserve(std::int64_t length) {
    if (length <= mapped_) return true;
    std::int64_t grown = mapped_ ? mapped_ : (1 << 20);
    while (grown < length) grown *= 2;
    if (!allocate(fd_, grown)) return false;
    if (data_) {
        void* p = ::mremap(data_, static_cast<size_t>(mapped_), static_cast<size_t>(grown), MREMAP_MAYMOVE);
        if (p == MAP_FAILED) return false;
        data_ = static_cast<char*>(p);
        mapped_ = grown;
        return true;
    }
    return map(grown);
}

void LocalFile::set_final_length(std::int64_t length) { final_ = length; }

void LocalFile::close() {
    if (data_) ::munmap(data_, static_cast<size_t>(mapped_));
    data_ = nullptr;
    if (fd_ >= 0) {
        if (final_ >= 0) {
            if (::ftruncate(fd_, static_cast<off_t>(final_)) != 0) {
                // The bytes are all there; only the tail of zeros remains.
            }
        }
        ::close(fd_);
    }
    fd_ = -1;
    mapped_ = 0;
    final_ = -1;
}

}  // namespace qorvel::engine
