// Reads one HTTP/1.1 request from the bytes a connection has received so
// far, holding it to limits on the head (line count and size) and the body
// (declared or chunked). The request comes out with its body de-chunked and
// a plain Content-Length, so the library behind it never reads a chunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qorvel::service {

struct RequestLimits {
    size_t max_head_bytes = 64 * 1024;  // request line, header lines and trailers
    int max_head_lines = 100;
    size_t max_body_bytes = 1 << 20;
};

class RequestReader {
  public:
    enum class State { reading, complete, failed };

    explicit RequestReader(RequestLimits limits) : limits_(limits) {}

    // Consumes bytes from the front of `in` (what is not part of this
    // request stays there, for the next one on the connection).
    State take(std::string& in);

    State state() const { return state_; }
    bool started() const { return started_; }
    // True once the head is in: the client waits for "100 Continue" before
    // it sends the body.
    bool wants_continue() const { return expect_continue_ && state_ == State::reading && in_body_; }
    // The request as the handler side reads it (complete only).
    const std::string& request() const { return out_; }
    // The answer for a failed request: 400, 413, 431 or 501.
    int error_status() const { return error_; }
    // The client asked to close after this request (or spoke HTTP/1.0).
    bool close_after() const { return close_; }

  private:
    State fail(int status);
    State parse_head(std::string_view head);
    State take_chunked(std::string& in);

    enum class Chunk { size, data, data_end, trailer };

    RequestLimits limits_;
    State state_ = State::reading;
    bool started_ = false;
    bool in_body_ = false;
    bool chunked_ = false;
    bool expect_continue_ = false;
    bool close_ = false;
    int error_ = 0;
    size_t scanned_ = 0;  // head bytes already searched for its end
    int lines_ = 0;
    int64_t body_left_ = 0;  // Content-Length body still to come
    Chunk chunk_ = Chunk::size;
    int64_t chunk_left_ = 0;
    size_t trailer_bytes_ = 0;
    std::string head_;  // rewritten head, without its final empty line
    std::string body_;
    std::string out_;
};

}  // namespace qorvel::service
