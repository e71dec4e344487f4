#include "request_reader.h"

#include <string_view>

#include "net/text.h"

namespace qorvel::service {

namespace {

bool all_digits(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// A chunk-size line: hex digits, optional ";extensions".
bool parse_chunk_size(std::string_view line, int64_t* size) {
    line = line.substr(0, line.find(';'));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    if (line.empty() || line.size() > 15) return false;
    int64_t v = 0;
    for (char c : line) {
        int d = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (d < 0) return false;
        v = v * 16 + d;
    }
    *size = v;
    return true;
}

}  // namespace

RequestReader::State RequestReader::fail(int status) {
    error_ = status;
    close_ = true;
    state_ = State::failed;
    return state_;
}

RequestReader::State RequestReader::take(std::string& in) {
    if (state_ != State::reading) return state_;
    if (!in_body_) {
        // Empty lines before a request line are skipped, as the standard asks.
        while (!started_ && !in.empty() && (in[0] == '\r' || in[0] == '\n')) {
            if (in[0] == '\r' && in.size() < 2) return state_;
            in.erase(0, in[0] == '\r' && in[1] == '\n' ? 2 : 1);
        }
        if (in.empty()) return state_;
        started_ = true;
        size_t end = std::string::npos, after = 0;
        for (size_t nl = in.find('\n', scanned_); nl != std::string::npos;
             nl = in.find('\n', nl + 1)) {
            size_t line_start = scanned_;
            scanned_ = nl + 1;
            size_t length = nl - line_start - (nl > line_start && in[nl - 1] == '\r' ? 1 : 0);
            if (length == 0) {
                end = line_start;
                after = nl + 1;
                break;
            }
            if (++lines_ > limits_.max_head_lines + 1) return fail(431);
        }
        if (end == std::string::npos) {
            if (in.size() > limits_.max_head_bytes) return fail(431);
            return state_;
        }
        if (after > limits_.max_head_bytes) return fail(431);
        std::string head = in.substr(0, end);
        in.erase(0, after);
        if (parse_head(head) == State::failed) return state_;
        in_body_ = true;
    }
    if (chunked_) return take_chunked(in);
    size_t n = static_cast<size_t>(std::min<int64_t>(body_left_, static_cast<int64_t>(in.size())));
    body_.append(in, 0, n);
    in.erase(0, n);
    body_left_ -= static_cast<int64_t>(n);
    if (body_left_ > 0) return state_;
    out_ = head_;
    if (!body_.empty() || chunked_)
        out_ += "Content-Length: " + std::to_string(body_.size()) + "\r\n";
    out_ += "\r\n";
    out_ += body_;
    body_.clear();
    state_ = State::complete;
    return state_;
}

RequestReader::State RequestReader::parse_head(std::string_view head) {
    bool first = true, http10 = false, keep_alive = false, has_length = false;
    int64_t length = 0;
    while (!head.empty()) {
        size_t nl = head.find('\n');
        std::string_view line = head.substr(0, nl);
        head = nl == std::string_view::npos ? std::string_view() : head.substr(nl + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (first) {
            first = false;
            size_t sp1 = line.find(' '), sp2 = line.rfind(' ');
            if (sp1 == std::string_view::npos || sp1 == sp2) return fail(400);
            std::string_view version = line.substr(sp2 + 1);
            if (version == "HTTP/1.0")
                http10 = true;
            else if (version != "HTTP/1.1")
                return fail(400);
            head_.append(line);
            head_ += "\r\n";
            continue;
        }
        // Folded header lines are refused: they hide one header inside another.
        if (line.empty() || line[0] == ' ' || line[0] == '\t') return fail(400);
        size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) return fail(400);
        std::string_view name = line.substr(0, colon);
        if (name.find_first_of(" \t") != std::string_view::npos) return fail(400);
        std::string lname = text_lower(name);
        std::string value = text_trim(line.substr(colon + 1));
        if (lname == "content-length") {
            if (!all_digits(value) || value.size() > 18) return fail(400);
            int64_t v = std::stoll(value);
            if (has_length && v != length) return fail(400);
            has_length = true;
            length = v;
            continue;
        }
        if (lname == "transfer-encoding") {
            if (text_lower(value) != "chunked") return fail(501);
            chunked_ = true;
            continue;
        }
        if (lname == "expect" && text_lower(value) == "100-continue") {
            expect_continue_ = true;
            continue;
        }
        if (lname == "connection") {
            std::string v = text_lower(value);
            if (v.find("close") != std::string::npos) close_ = true;
            if (v.find("keep-alive") != std::string::npos) keep_alive = true;
        }
        head_.append(line);
        head_ += "\r\n";
    }
    if (http10 && !keep_alive) close_ = true;
    // Both framings at once is how requests are smuggled past a front end.
    if (chunked_ && has_length) return fail(400);
    if (has_length && length > static_cast<int64_t>(limits_.max_body_bytes)) return fail(413);
    body_left_ = length;
    return state_;
}

RequestReader::State RequestReader::take_chunked(std::string& in) {
    for (;;) {
        switch (chunk_) {
        case Chunk::size: {
            size_t nl = in.find('\n');
            if (nl == std::string::npos) {
                if (in.size() > 1024) return fail(400);
                return state_;
            }
            std::string_view line(in.data(), nl);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            int64_t size = 0;
            if (!parse_chunk_size(line, &size)) return fail(400);
            in.erase(0, nl + 1);
            if (size == 0) {
                chunk_ = Chunk::trailer;
                break;
            }
            if (static_cast<int64_t>(body_.size()) + size >
                static_cast<int64_t>(limits_.max_body_bytes))
                return fail(413);
            chunk_left_ = size;
            chunk_ = Chunk::data;
            break;
        }
        case Chunk::data: {
            size_t n = static_cast<size_t>(
                std::min<int64_t>(chunk_left_, static_cast<int64_t>(in.size())));
            body_.append(in, 0, n);
            in.erase(0, n);
            chunk_left_ -= static_cast<int64_t>(n);
            if (chunk_left_ > 0) return state_;
            chunk_ = Chunk::data_end;
            break;
        }
        case Chunk::data_end: {
            if (in.empty()) return state_;
            if (in[0] == '\n') {
                in.erase(0, 1);
            } else if (in[0] == '\r') {
                if (in.size() < 2) return state_;
                if (in[1] != '\n') return fail(400);
                in.erase(0, 2);
            } else {
                return fail(400);
            }
            chunk_ = Chunk::size;
            break;
        }
        case Chunk::trailer: {
            size_t nl = in.find('\n');
            if (nl == std::string::npos) {
                if (trailer_bytes_ + in.size() > limits_.max_head_bytes) return fail(431);
                return state_;
            }
            trailer_bytes_ += nl + 1;
            if (trailer_bytes_ > limits_.max_head_bytes) return fail(431);
            bool empty = nl == 0 || (nl == 1 && in[0] == '\r');
            in.erase(0, nl + 1);
            if (!empty) {
                // Trailer fields are dropped, but count like header lines.
                if (++lines_ > limits_.max_head_lines + 1) return fail(431);
                break;
            }
            chunked_ = false;
            out_ = head_ + "Content-Length: " + std::to_string(body_.size()) + "\r\n\r\n" + body_;
            body_.clear();
            state_ = State::complete;
            return state_;
        }
        }
    }
}

}  // namespace qorvel::service
