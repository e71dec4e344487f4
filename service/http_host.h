// One HTTP host of the service. cpp-httplib 0.11 routes and answers, but it
// reads requests on its worker threads with only a per-read time-out, no
// limit on header lines or chunked bodies, and a listen backlog of 5. So the
// reading is ours: one event-loop thread accepts (with a real backlog) and
// reads every request whole under a deadline and the limits, and only a
// complete request is handed to a worker, which runs the library's request
// processing over the bytes already read and writes the answer to the socket.
// A slow sender therefore holds no worker, one address cannot take more
// than three quarters of the workers (slow readers of long answers), and
// stop() closes whatever is still being sent.
#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "request_reader.h"

namespace qorvel::service {

struct HttpHostLimits {
    RequestLimits request;
    int request_timeout_s = 10;    // whole head and body of one request
    int keep_alive_timeout_s = 5;  // idle wait for the next request
    int write_timeout_s = 30;      // each wait to write part of an answer
    int max_connections = 1024;    // being read or kept alive, per host
    int max_per_address = 256;     // of those, from one address
    int listen_backlog = 1024;
    int workers = 32;
};

class HttpHost : public httplib::Server {
  public:
    explicit HttpHost(HttpHostLimits limits = {});
    ~HttpHost() override;

    // Binds host:port (port 0: any free port); false with the reason.
    bool bind(const std::string& host, int port, std::string* error);
    int port() const { return port_; }
    void start();
    // Closes the listener and every connection still sending a request,
    // waits for the answers in progress and joins the threads.
    void stop();

    struct Connection;

  private:
    void loop();
    void work();
    void serve(std::unique_ptr<Connection> c);
    void give_back(std::unique_ptr<Connection> c);
    void wake();
    bool admit(const std::string& address);
    void release(const std::string& address);

    HttpHostLimits limits_;
    int listen_fd_ = -1;
    int epoll_fd_ = -1;
    int wake_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread loop_thread_;
    std::vector<std::thread> workers_;

    // Declared before the queues, so they outlive the connections in them.
    std::mutex count_mutex_;
    std::unordered_map<std::string, int> open_;  // connections from each address

    std::mutex mutex_;
    std::condition_variable ready_cv_;
    std::deque<std::unique_ptr<Connection>> ready_;     // complete requests for the workers
    std::deque<std::unique_ptr<Connection>> returned_;  // kept-alive connections for the loop
    std::unordered_map<std::string, int> busy_;         // workers answering each address
};

}  // namespace qorvel::service
