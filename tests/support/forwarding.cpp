#include "support/forwarding.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace qorvel::test {

namespace {

// The head without its Connection header and with "Connection: close".
std::string closing_head(const std::string& head) {
    std::string out;
    size_t pos = 0;
    while (pos < head.size()) {
        size_t end = head.find("\r\n", pos);
        if (end == std::string::npos) end = head.size();
        std::string line = head.substr(pos, end - pos);
        pos = end + 2;
        if (line.empty()) break;
        std::string lower = line;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower.rfind("connection:", 0) == 0) continue;
        out += line + "\r\n";
    }
    return out + "Connection: close\r\n\r\n";
}

std::string ask_service(const std::string& host_port, const std::string& request) {
    size_t colon = host_port.rfind(':');
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(std::stoi(host_port.substr(colon + 1))));
    if (inet_pton(AF_INET, host_port.substr(0, colon).c_str(), &a.sin_addr) != 1) return {};
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        size_t off = 0;
        while (off < request.size()) {
            ssize_t n = ::send(fd, request.data() + off, request.size() - off, MSG_NOSIGNAL);
            if (n <= 0) break;
            off += static_cast<size_t>(n);
        }
        char buf[16384];
        for (int rounds = 0; rounds < 100000; ++rounds) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0) break;
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            answer.append(buf, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    return answer;
}

// The value of a header of a head (request or answer), "" when missing.
std::string header_value(const std::string& text, const std::string& lower_name) {
    size_t end = text.find("\r\n\r\n");
    size_t pos = text.find("\r\n");
    while (pos != std::string::npos && pos < end) {
        size_t eol = text.find("\r\n", pos + 2);
        std::string line = text.substr(pos + 2, eol - pos - 2);
        std::string lower = line;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower.rfind(lower_name + ":", 0) == 0) {
            std::string v = line.substr(lower_name.size() + 1);
            while (!v.empty() && v.front() == ' ') v.erase(0, 1);
            return v;
        }
        pos = eol;
    }
    return {};
}

// The text with a header's line set to value (removed when value is empty).
std::string set_header(const std::string& text, const std::string& name, const std::string& value) {
    size_t end = text.find("\r\n\r\n");
    if (end == std::string::npos) return text;
    std::string head, lower_name = name;
    for (char& c : lower_name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t pos = 0;
    while (pos < end) {
        size_t eol = text.find("\r\n", pos);
        std::string line = text.substr(pos, eol - pos);
        pos = eol + 2;
        std::string lower = line;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower.rfind(lower_name + ":", 0) != 0) head += line + "\r\n";
    }
    if (!value.empty()) head += name + ": " + value + "\r\n";
    return head + text.substr(end + 2);
}

}  // namespace

RecordingServer::Responder forward_with_fault(const std::string& host_port,
                                              std::shared_ptr<std::atomic<Fault>> fault) {
    return [host_port, fault](const RecordedRequest& r) {
        Fault f = fault->load();
        std::string range = header_value(r.head, "range");
        long long from = range.rfind("bytes=", 0) == 0 ? std::atoll(range.c_str() + 6) : 0;
        std::string head = r.head;
        if (from > 0 && f == Fault::whole_body_for_range) head = set_header(head, "Range", "");
        if (from > 0 && f == Fault::wrong_content_range)
            head = set_header(head, "Range", "bytes=" + std::to_string(from - 1) + "-");
        std::string answer = ask_service(host_port, closing_head(head) + r.body);
        if (answer.empty()) return RecordingServer::answer(502, "");
        switch (f) {
        case Fault::none: break;
        case Fault::flip_byte:
            return with_body(answer, [](std::string body) {
                if (!body.empty()) body[body.size() / 2] ^= 0x01;
                return body;
            });
        case Fault::drop_last_byte:
            return with_body(answer, [](std::string body) {
                if (!body.empty()) body.pop_back();
                return body;
            });
        case Fault::whole_body_for_range: {
            if (from <= 0 || answer.rfind("HTTP/1.1 200", 0) != 0) break;
            size_t end = answer.find("\r\n\r\n");
            std::string body = answer.substr(end + 4);
            auto total = static_cast<long long>(body.size());
            if (from >= total) break;
            std::string out = answer.substr(0, end + 4);
            out.replace(0, out.find("\r\n"), "HTTP/1.1 206 Partial Content");
            out = set_header(out, "Content-Range",
                             "bytes " + std::to_string(from) + "-" + std::to_string(total - 1) +
                                 "/" + std::to_string(total));
            return with_body(out + body, [&](std::string b) {
                return b.substr(0, static_cast<size_t>(total - from));
            });
        }
        case Fault::wrong_content_range: {
            std::string was = header_value(answer, "content-range");
            size_t slash = was.find('/');
            if (from <= 0 || slash == std::string::npos) break;
            long long total = std::atoll(was.c_str() + slash + 1);
            std::string out =
                set_header(answer, "Content-Range",
                           "bytes " + std::to_string(from) + "-" + std::to_string(total - 1) + "/" +
                               std::to_string(total));
            return with_body(out, [](std::string body) {
                if (!body.empty()) body.pop_back();
                return body;
            });
        }
        case Fault::wrong_digest:
            return set_header(answer, "Digest", "md5=EREREREREREREREREREREQ==");
        }
        return answer;
    };
}

RecordingServer::Responder forward_to(const std::string& host_port,
                                      std::shared_ptr<std::atomic<bool>> cut,
                                      std::shared_ptr<std::atomic<bool>> hold, AnswerEdit edit) {
    return [host_port, cut, hold, edit](const RecordedRequest& r) {
        for (int i = 0; hold && hold->load() && i < 2000; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (cut && cut->load()) return std::string();
        std::string answer = ask_service(host_port, closing_head(r.head) + r.body);
        if (answer.empty()) return RecordingServer::answer(502, "");
        return edit ? edit(r, std::move(answer)) : answer;
    };
}

std::string with_body(const std::string& answer,
                      const std::function<std::string(std::string body)>& change) {
    size_t end = answer.find("\r\n\r\n");
    if (end == std::string::npos) return answer;
    std::string body = change(answer.substr(end + 4));
    std::string head;
    size_t pos = 0;
    while (pos < end) {
        size_t eol = answer.find("\r\n", pos);
        if (eol == std::string::npos || eol > end) eol = end;
        std::string line = answer.substr(pos, eol - pos);
        pos = eol + 2;
        std::string lower = line;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower.rfind("content-length:", 0) == 0)
            line = "Content-Length: " + std::to_string(body.size());
        head += line + "\r\n";
    }
    return head + "\r\n" + body;
}

}  // namespace qorvel::test
