// The MD5 of a download taken from its pieces as they are written, so the
// bytes that arrived in order from offset 0 need not be read back once the
// file is whole: all of it with one connection, the first part with several.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <openssl/types.h>

namespace qorvel::engine {

class StreamDigest {
  public:
    StreamDigest() = default;
    ~StreamDigest() { abandon(); }
    StreamDigest(const StreamDigest&) = delete;
    StreamDigest& operator=(const StreamDigest&) = delete;

    // Starts over for a new, empty file.
    void begin();
    // Bytes just written at pos, from any connection. A piece past where the
    // last one ended is left to the read-back; one before it (bytes written
    // again) gives the digest up for good.
    void feed(std::int64_t pos, const char* bytes, std::size_t size);
    // Gives up: the file is read back instead.
    void abandon();

    struct Prefix {
        std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx{nullptr, nullptr};
        std::int64_t length = 0;  // the bytes [0, length) went through ctx
    };
    // The digest of the bytes that went through in order, at most length of
    // them; no context when it was given up. Waits for the pieces still queued.
    Prefix finish(std::int64_t length);

  private:
    void hash_loop();
    void stop_thread(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<char>> queue_;
    std::vector<std::vector<char>> spare_;
    std::size_t queued_ = 0;
    bool active_ = false;
    bool closing_ = false;
    std::int64_t next_ = 0;  // where the next piece must begin
    Prefix done_;            // what the thread hashed once it is done
    std::thread thread_;
};

}  // namespace qorvel::engine
