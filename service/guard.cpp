#include "guard.h"

#include <algorithm>
#include <chrono>

namespace qorvel::service {

namespace {
constexpr size_t kMaxEntries = 100000;
}

int64_t steady_now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t FailureLimiter::wait_ms(const std::string& key, int64_t now_ms) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(key);
    if (it == entries_.end()) return 0;
    const Entry& e = it->second;
    if (now_ms - e.last_ms > window_ms_ || e.failures < free_) return 0;
    int shift = std::min(e.failures - free_, 30);
    int64_t delay = std::min<int64_t>(int64_t(1000) << shift, max_delay_ms_);
    return std::max<int64_t>(0, e.last_ms + delay - now_ms);
}

void FailureLimiter::failed(const std::string& key, int64_t now_ms) {
    std::lock_guard lock(mutex_);
    if (entries_.size() >= kMaxEntries) prune(now_ms);
    Entry& e = entries_[key];
    if (now_ms - e.last_ms > window_ms_) e.failures = 0;
    ++e.failures;
    e.last_ms = now_ms;
}

void FailureLimiter::succeeded(const std::string& key) {
    std::lock_guard lock(mutex_);
    entries_.erase(key);
}

void FailureLimiter::prune(int64_t now_ms) {
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (now_ms - it->second.last_ms > window_ms_)
            it = entries_.erase(it);
        else
            ++it;
    }
    // Still full of fresh entries: the table must not grow without bound.
    if (entries_.size() >= kMaxEntries) entries_.clear();
}

}  // namespace qorvel::service
