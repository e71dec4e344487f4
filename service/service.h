// The whole service: storage, the four HTTP hosts and the FTP server.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ftp_server.h"
#include "http_host.h"
#include "http_service.h"

namespace qorvel::service {

struct ServiceOptions {
    std::filesystem::path data_dir;
    bool seed_demo = false;
    std::string web = "127.0.0.1:18080";
    std::string direct = "127.0.0.1:18081";
    std::string files2 = "127.0.0.1:18082";
    std::string files3 = "127.0.0.1:18083";
    std::string ftp = "127.0.0.1:1678";
    bool throttle = true;
    int64_t throttle_bytes_per_s = 1000 * 1024;
    std::string client_version = "147";
    std::string update_url;  // empty: a page on the web host
    HttpHostLimits http;     // every HTTP host
    FtpLimits ftp_limits;
    GuardSettings guard;  // sessions, hand-overs, failed attempts
    // When set, the bound ports are written here ("web=PORT" lines, replaced
    // atomically) once every listener is up; port 0 in an address binds any.
    std::filesystem::path ports_file;
};

// Splits "host:port"; false when the port is missing or out of range (0 is
// allowed: any free port).
bool split_address(const std::string& address, std::string* host, int* port);

class Service {
  public:
    explicit Service(ServiceOptions options);
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // Opens the data, seeds when asked, binds every listener and starts
    // serving. On failure returns false with the reason in *error.
    bool start(std::string* error);
    // One line per listener, for the start-up output.
    const std::vector<std::string>& listener_lines() const { return lines_; }
    // The ports bound, in the order web, direct, files2, files3, ftp.
    const std::vector<int>& ports() const { return ports_; }
    void stop();

  private:
    struct Impl;
    ServiceOptions options_;
    std::unique_ptr<Impl> impl_;
    std::vector<std::string> lines_;
    std::vector<int> ports_;
};

}  // namespace qorvel::service
