// The MD5 of a download taken from its pieces as they are written, so a file
// that arrived in order from offset 0 need not be read back once it is whole.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qorvel::engine {

class StreamDigest {
  public:
    StreamDigest() = default;
    ~StreamDigest() { abandon(); }
    StreamDigest(const StreamDigest&) = delete;
    StreamDigest& operator=(const StreamDigest&) = delete;

    // Starts over for a new, empty file.
    void begin();
    // Bytes just written at pos, from any connection. A piece anywhere but
    // where the last one ended gives the digest up for good.
    void feed(std::int64_t pos, const char* bytes, std::size_t size);
    // Gives up: the file is read back instead.
    void abandon();
    // The raw MD5 when exactly the bytes [0, length) went through, in order;
    // empty otherwise. Waits for the pieces still queued.
    std::string finish(std::int64_t length);

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
    std::string result_;     // raw MD5 once the thread is done
    std::thread thread_;
};

}  // namespace qorvel::engine
