// Web-login hand-overs. The sign-in page gets a token (its cookie) and a
// form key (a hidden field) from the server; a confirmation counts only
// with both, so a cookie planted in someone's browser pairs with no page.
// Nothing is kept that would hand the account over to whoever reads it:
// tokens and form keys are held as SHA-256, the password sealed with a key
// derived from the token. A hand-over is given out once, and forgotten
// after its time. Held in memory only.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace qorvel::service {

class Handovers {
  public:
    Handovers(int page_s, int handover_s, size_t max_open = 10000)
        : page_ms_(int64_t(page_s) * 1000),
          handover_ms_(int64_t(handover_s) * 1000),
          max_open_(max_open) {}

    struct Page {
        std::string token;
        std::string form_key;
    };
    Page open_page(int64_t now_ms);
    // True when token and form key were issued together and the page is
    // still open (not confirmed, not expired).
    bool page_open(const std::string& token, const std::string& form_key, int64_t now_ms);
    bool confirm(const std::string& token, const std::string& form_key, int account,
                 const std::string& password, int64_t now_ms);
    // The confirmed hand-over of token, once.
    std::optional<std::pair<int, std::string>> take(const std::string& token, int64_t now_ms);
    size_t size();

  private:
    struct Entry {
        std::string form_hash;
        int64_t opened_ms = 0;
        int64_t confirmed_ms = 0;  // 0: not yet
        int account = 0;
        std::string sealed;
    };
    void prune(int64_t now_ms);
    bool expired(const Entry& e, int64_t now_ms) const;

    int64_t page_ms_;
    int64_t handover_ms_;
    size_t max_open_;
    std::mutex mutex_;
    std::map<std::string, Entry> entries_;  // by SHA-256 of the token
};

std::string sha256_hex(std::string_view bytes);

}  // namespace qorvel::service
