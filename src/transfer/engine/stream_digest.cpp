#include "transfer/engine/stream_digest.h"

#include <cstring>
#include <memory>

#include <openssl/evp.h>

namespace qorvel::engine {

namespace {

// Pieces waiting for the hashing thread; a receiver faster than MD5 waits here
// rather than holding the whole file in memory.
constexpr std::size_t kMaxQueued = 8u << 20;
// The hashing thread wakes for this much, not for every piece: pieces from a
// limited host are a few KB each.
constexpr std::size_t kWakeBytes = 1u << 20;

}  // namespace

void StreamDigest::begin() {
    std::unique_lock lock(mutex_);
    stop_thread(lock);
    queue_.clear();
    queued_ = 0;
    next_ = 0;
    done_ = Prefix{};
    closing_ = false;
    active_ = true;
    try {
        thread_ = std::thread([this] { hash_loop(); });
    } catch (const std::system_error&) {
        active_ = false;
    }
}

void StreamDigest::feed(std::int64_t pos, const char* bytes, std::size_t size) {
    std::unique_lock lock(mutex_);
    if (!active_ || closing_ || size == 0 || pos > next_) return;
    if (pos < next_) {
        active_ = false;
        changed_.notify_all();
        return;
    }
    changed_.wait(lock, [&] { return queued_ < kMaxQueued || !active_; });
    if (!active_) return;
    std::vector<char> piece;
    if (!spare_.empty()) {
        piece = std::move(spare_.back());
        spare_.pop_back();
    }
    piece.assign(bytes, bytes + size);
    queue_.push_back(std::move(piece));
    queued_ += size;
    next_ += static_cast<std::int64_t>(size);
    if (queued_ >= kWakeBytes) changed_.notify_all();
}

void StreamDigest::abandon() {
    std::unique_lock lock(mutex_);
    active_ = false;
    stop_thread(lock);
}

StreamDigest::Prefix StreamDigest::finish(std::int64_t length) {
    std::unique_lock lock(mutex_);
    if (next_ > length) active_ = false;
    stop_thread(lock);
    Prefix prefix;
    if (active_ && done_.ctx) prefix = std::move(done_);
    done_ = Prefix{};
    active_ = false;
    return prefix;
}

// Called with the lock held; the thread hashes what is queued unless given up.
void StreamDigest::stop_thread(std::unique_lock<std::mutex>& lock) {
    closing_ = true;
    changed_.notify_all();
    if (thread_.joinable()) {
        lock.unlock();
        thread_.join();
        lock.lock();
    }
    spare_.clear();
}

void StreamDigest::hash_loop() {
    Prefix prefix;
    prefix.ctx = {EVP_MD_CTX_new(), EVP_MD_CTX_free};
    EVP_MD_CTX* ctx = prefix.ctx.get();
    bool ok = ctx && EVP_DigestInit_ex(ctx, EVP_md5(), nullptr) == 1;
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return queued_ >= kWakeBytes || closing_ || !active_; });
        // Once awake, everything queued is hashed before sleeping again.
        while (active_ && ok && !queue_.empty()) {
            std::vector<char> piece = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            ok = EVP_DigestUpdate(ctx, piece.data(), piece.size()) == 1;
            lock.lock();
            if (ok) prefix.length += static_cast<std::int64_t>(piece.size());
            queued_ -= piece.size();
            if (spare_.size() < 8) spare_.push_back(std::move(piece));
            changed_.notify_all();
        }
        if (!active_ || !ok || closing_) break;
    }
    if (ok && active_)
        done_ = std::move(prefix);
    else
        active_ = false;
    queue_.clear();
    queued_ = 0;
    changed_.notify_all();
}

}  // namespace qorvel::engine
