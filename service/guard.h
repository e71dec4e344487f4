// What keeps guessing slow and sessions short-lived: settings, and the
// failure counter every password-checking form consults.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace qorvel::service {

struct GuardSettings {
    // A session unused this long ends (the client's watchdog asks every 30 s).
    int session_idle_s = 2 * 3600;
    // A web-login page can be confirmed this long after it was opened, and a
    // confirmed hand-over waits this long for the client to collect it.
    int handover_page_s = 600;
    int handover_s = 60;
    // Failed password checks per account and per address: this many are
    // answered at once, then each further try waits 1 s, 2 s, 4 s ... up to
    // max_delay_s after the last failure. Failures older than window_s are
    // forgotten.
    int failures_free = 5;
    int failure_window_s = 900;
    int max_delay_s = 300;
};

class FailureLimiter {
  public:
    explicit FailureLimiter(const GuardSettings& s)
        : free_(s.failures_free),
          window_ms_(int64_t(s.failure_window_s) * 1000),
          max_delay_ms_(int64_t(s.max_delay_s) * 1000) {}

    // Milliseconds before key may try again; 0 when it may try now.
    int64_t wait_ms(const std::string& key, int64_t now_ms);
    void failed(const std::string& key, int64_t now_ms);
    void succeeded(const std::string& key);

  private:
    struct Entry {
        int failures = 0;
        int64_t last_ms = 0;
    };
    void prune(int64_t now_ms);

    int free_;
    int64_t window_ms_;
    int64_t max_delay_ms_;
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
};

int64_t steady_now_ms();

}  // namespace qorvel::service
