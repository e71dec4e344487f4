// A tiny HTTP server on loopback that records every request byte for byte and
// answers from a script, for tests of request routines.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qorvel::test {

struct RecordedRequest {
    std::string head;  // request line and headers, up to and including the blank line
    std::string body;
    std::string target() const;  // the request target of the first line
};

class RecordingServer {
  public:
    // The answer for a request: raw bytes written back before the connection closes.
    using Responder = std::function<std::string(const RecordedRequest&)>;

    explicit RecordingServer(Responder responder, const std::string& host = "127.0.0.1");
    // keep_alive: each connection is served on a thread of its own, one
    // request after another until the client closes it, goes quiet for 2 s
    // or is answered with "Connection: close"; answers may then be sent in
    // any order across connections.
    RecordingServer(Responder responder, const std::string& host, bool keep_alive);
    ~RecordingServer();
    RecordingServer(const RecordingServer&) = delete;
    RecordingServer& operator=(const RecordingServer&) = delete;

    int port() const { return port_; }
    std::string address() const;  // host:port
    std::vector<RecordedRequest> requests() const;
    int connections() const { return connections_; }  // accepted so far

    static std::string answer(int status, const std::string& body,
                              const std::string& extra_headers = {});
    // The same answer without "Connection: close".
    static std::string kept_answer(int status, const std::string& body,
                                   const std::string& extra_headers = {});

  private:
    void serve();
    void handle(int fd);
    void serve_kept(int fd);

    Responder responder_;
    std::string host_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    bool keep_alive_ = false;
    std::atomic<int> connections_{0};
    std::thread thread_;
    std::vector<std::thread> kept_;  // only the accepting thread adds to it
    mutable std::mutex mutex_;
    std::vector<RecordedRequest> requests_;
};

}  // namespace qorvel::test
