// The HTTP side of the service: routes of the main web host, the
// direct-link host and the two file hosts.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace httplib {
class Server;
}

namespace qorvel::service {

class Store;
class Incoming;

struct HttpSettings {
    std::string web_base;  // "http://host:port" of the main web host
    std::string client_version = "147";
    std::string update_url;
    int64_t throttle_bytes_per_s = 1000 * 1024;
    int files_per_page = 20;
};

class HttpService {
public:
    HttpService(Store& store, Incoming& incoming, HttpSettings settings);

    void install_web(httplib::Server& server);
    void install_direct(httplib::Server& server);
    // throttle: limit each download to throttle_bytes_per_s.
    void install_files(httplib::Server& server, bool throttle);
    // Ends running downloads quickly at shut-down.
    void stop() { stopping_ = true; }

private:
    Store& store_;
    Incoming& incoming_;
    HttpSettings settings_;
    std::atomic<bool> stopping_{false};
};

}  // namespace qorvel::service
