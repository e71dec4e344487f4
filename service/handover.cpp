#include "handover.h"

#include <openssl/evp.h>

#include "store.h"

namespace qorvel::service {

namespace {

std::string digest(std::string_view a, std::string_view b) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    EVP_DigestUpdate(ctx, a.data(), a.size());
    EVP_DigestUpdate(ctx, b.data(), b.size());
    EVP_DigestFinal_ex(ctx, out, &len);
    EVP_MD_CTX_free(ctx);
    return std::string(reinterpret_cast<char*>(out), len);
}

// XOR with a key stream drawn from the token; the same call opens it again.
std::string seal(const std::string& token, std::string_view text) {
    std::string out(text);
    std::string stream;
    for (int block = 0; stream.size() < out.size(); ++block)
        stream += digest("seal" + std::to_string(block), token);
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(out[i] ^ stream[i]);
    return out;
}

}  // namespace

std::string sha256_hex(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string raw = digest(bytes, {});
    std::string out;
    for (unsigned char c : raw) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

bool Handovers::expired(const Entry& e, int64_t now_ms) const {
    return e.confirmed_ms ? now_ms - e.confirmed_ms > handover_ms_
                          : now_ms - e.opened_ms > page_ms_;
}

void Handovers::prune(int64_t now_ms) {
    for (auto it = entries_.begin(); it != entries_.end();)
        it = expired(it->second, now_ms) ? entries_.erase(it) : std::next(it);
}

Handovers::Page Handovers::open_page(int64_t now_ms) {
    Page page{random_hex(16), random_hex(16)};
    std::lock_guard lock(mutex_);
    prune(now_ms);
    // Full of fresh pages (someone asking in a loop): the oldest goes.
    while (entries_.size() >= max_open_) {
        auto oldest = entries_.begin();
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (it->second.opened_ms < oldest->second.opened_ms) oldest = it;
        entries_.erase(oldest);
    }
    Entry e;
    e.form_hash = sha256_hex(page.form_key);
    e.opened_ms = now_ms;
    entries_[sha256_hex(page.token)] = std::move(e);
    return page;
}

bool Handovers::page_open(const std::string& token, const std::string& form_key, int64_t now_ms) {
    if (token.empty() || form_key.empty()) return false;
    std::lock_guard lock(mutex_);
    auto it = entries_.find(sha256_hex(token));
    return it != entries_.end() && !expired(it->second, now_ms) && !it->second.confirmed_ms &&
           it->second.form_hash == sha256_hex(form_key);
}

bool Handovers::confirm(const std::string& token, const std::string& form_key, int account,
                        const std::string& password, int64_t now_ms) {
    if (!page_open(token, form_key, now_ms)) return false;
    std::lock_guard lock(mutex_);
    auto it = entries_.find(sha256_hex(token));
    if (it == entries_.end()) return false;
    it->second.confirmed_ms = now_ms;
    it->second.account = account;
    it->second.sealed = seal(token, password);
    return true;
}

std::optional<std::pair<int, std::string>> Handovers::take(const std::string& token,
                                                           int64_t now_ms) {
    if (token.empty()) return std::nullopt;
    std::lock_guard lock(mutex_);
    auto it = entries_.find(sha256_hex(token));
    if (it == entries_.end() || !it->second.confirmed_ms) return std::nullopt;
    bool fresh = !expired(it->second, now_ms);
    std::pair<int, std::string> out{it->second.account, seal(token, it->second.sealed)};
    entries_.erase(it);
    if (!fresh) return std::nullopt;
    return out;
}

size_t Handovers::size() {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

}  // namespace qorvel::service
