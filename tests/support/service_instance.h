// Starts qorvel-service on a loopback address for tests (the service binds
// free ports itself and writes them to a file we read) and stops it by its
// PID. The binary is taken from QORVEL_SERVICE_BIN, or
// found as service/qorvel-service above the test executable.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/process.h"

namespace qorvel::test {

struct ServiceInstanceOptions {
    std::string host = "127.0.0.1";  // any 127.x.y.z
    bool seed_demo = true;
    bool throttle = false;  // file host 2's per-connection limit
    int ftp_port = 0;       // 0: any free port; the client's uploads need 1678
    std::vector<std::string> extra_args;
};

class ServiceInstance {
  public:
    explicit ServiceInstance(ServiceInstanceOptions options = {});
    ~ServiceInstance();
    ServiceInstance(const ServiceInstance&) = delete;
    ServiceInstance& operator=(const ServiceInstance&) = delete;

    // Starts the service and waits until it reports its five ports; false on
    // failure. The ports are known only after this.
    bool start();
    // SIGTERM by PID; returns the exit status.
    int stop();
    // Same ports and data folder.
    bool restart();
    bool running();

    // "http://host:port" of each HTTP host.
    std::string web() const { return "http://" + host_port(web_port_); }
    std::string direct() const { return "http://" + host_port(direct_port_); }
    std::string files2() const { return "http://" + host_port(files2_port_); }
    std::string files3() const { return "http://" + host_port(files3_port_); }
    const std::string& host() const { return options_.host; }
    int web_port() const { return web_port_; }
    int ftp_port() const { return ftp_port_; }
    std::string ftp_url(const std::string& remote_name) const {
        return "ftp://" + host_port(ftp_port_) + "/" + remote_name;
    }
    const std::filesystem::path& data_dir() const { return data_->path(); }
    const std::filesystem::path& log_file() const { return log_; }

    static std::string binary();

  private:
    std::string host_port(int port) const { return options_.host + ":" + std::to_string(port); }

    ServiceInstanceOptions options_;
    std::unique_ptr<TempDir> data_;
    std::filesystem::path log_;
    ChildProcess child_;
    int web_port_ = 0, direct_port_ = 0, files2_port_ = 0, files3_port_ = 0, ftp_port_ = 0;
};

// Demo accounts created by --seed-demo.
// A loopback address of this process's own, for a service whose FTP port is
// fixed (the client always uploads to 1678): every live process id maps to
// another address, so test processes run side by side.
std::string process_loopback_address();

inline constexpr const char* kDemoMember = "demo";
inline constexpr const char* kDemoMemberPassword = "demo123";
inline constexpr const char* kDemoMemberAccessPassword = "8888";
inline constexpr const char* kDemoGuest = "guest";
inline constexpr const char* kDemoGuestPassword = "guest123";

}  // namespace qorvel::test
