// Reading what an HTTP server answers: the head, Content-Range and chunked
// bodies. Pure functions over bytes, so they are tested and fuzzed alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qorvel::engine {

struct HttpHead {
    int status = 0;
    std::int64_t length = -1;       // Content-Length, -1 when missing or unreadable
    std::int64_t range_start = -1;  // Content-Range start and total, -1 when missing
    std::int64_t range_total = -1;
    bool accept_ranges = false;
    bool chunked = false;
    std::string location;
    // Validators: a later answer with others is another version of the file.
    std::string etag;
    std::string last_modified;
    // The whole file's MD5 from "Digest: md5=..." (16 bytes), on full and partial
    // answers alike; empty when none came. Two different values give one that no
    // file matches.
    std::string md5;
};

// The head up to (not including) the empty line. A bare LF ends a line as
// CRLF does, so no value can carry a line break. False when the status line
// is not HTTP/1.0 or HTTP/1.1 with a three-digit code, or when Content-Length
// is given more than once with different values (repeating one value is fine).
bool parse_http_head(std::string_view text, HttpHead& head);

// "bytes START-END/TOTAL"; false unless start and total are decimal and
// start <= end < total.
bool parse_content_range(std::string_view value, std::int64_t& start, std::int64_t& total);

// The MD5 among the comma-separated instance digests of a Digest value
// ("md5=<base64>", the name in any case): 16 bytes, or empty when none is readable.
std::string digest_md5(std::string_view value);

// A decimal count of at most 18 digits, -1 for anything else.
std::int64_t decimal_or_minus_one(std::string_view text);

// Decodes a chunked body as it arrives; the chunk data goes to the sink.
class ChunkedDecoder {
  public:
    enum class State { size_line, data, data_end, done, error };
    // Takes the bytes it can; returns how many it used. Stops early when the
    // sink refuses (returns false) or the body ends (done) or breaks (error).
    using Sink = std::function<bool(const char* data, std::size_t size)>;
    std::size_t feed(const char* data, std::size_t size, const Sink& sink);
    State state() const { return state_; }

  private:
    State state_ = State::size_line;
    std::string line_;
    std::int64_t left_ = 0;
};

}  // namespace qorvel::engine
