#include "support/service_instance.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <thread>

namespace qorvel::test {

std::string process_loopback_address() {
    // Process ids have at most 22 bits: 127.64.0.0 to 127.127.255.255.
    auto pid = static_cast<unsigned>(::getpid());
    return "127." + std::to_string(64 + ((pid >> 16) & 63)) + "." +
           std::to_string((pid >> 8) & 255) + "." + std::to_string(pid & 255);
}

namespace fs = std::filesystem;

std::string ServiceInstance::binary() {
    if (const char* env = std::getenv("QORVEL_SERVICE_BIN"); env && *env) return env;
    std::error_code ec;
    fs::path dir = fs::read_symlink("/proc/self/exe", ec).parent_path();
    for (int i = 0; i < 6 && !dir.empty(); ++i, dir = dir.parent_path()) {
        fs::path candidate = dir / "service" / "qorvel-service";
        if (fs::exists(candidate, ec)) return candidate.string();
        if (dir == dir.root_path()) break;
    }
    return "qorvel-service";
}

ServiceInstance::ServiceInstance(ServiceInstanceOptions options)
    : options_(std::move(options)), data_(std::make_unique<TempDir>("qorvel-service")) {
    log_ = data_->path() / "service.log";
    ftp_port_ = options_.ftp_port;
}

ServiceInstance::~ServiceInstance() {
    stop();
}

namespace {

// "role=port" lines; false until all five are there.
bool read_ports(const fs::path& file, std::map<std::string, int>* out) {
    std::string text = read_file(file);
    out->clear();
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) break;
        std::string line = text.substr(pos, nl - pos);
        pos = nl + 1;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        (*out)[line.substr(0, eq)] = std::atoi(line.c_str() + eq + 1);
    }
    for (const char* role : {"web", "direct", "files2", "files3", "ftp"})
        if (out->count(role) == 0 || (*out)[role] <= 0) return false;
    return true;
}

}  // namespace

bool ServiceInstance::start() {
    // The first start lets the service bind any free ports and tell us which;
    // picking a free port here and handing it over would race other tests.
    // A restart asks for the same ports again.
    fs::path ports_file = data_->path() / "ports";
    std::error_code ec;
    fs::remove(ports_file, ec);
    std::vector<std::string> argv = {binary(),
                                     "--data",
                                     (data_->path() / "data").string(),
                                     "--web",
                                     host_port(web_port_),
                                     "--direct",
                                     host_port(direct_port_),
                                     "--files2",
                                     host_port(files2_port_),
                                     "--files3",
                                     host_port(files3_port_),
                                     "--ftp",
                                     host_port(ftp_port_),
                                     "--ports-file",
                                     ports_file.string()};
    if (options_.seed_demo) argv.push_back("--seed-demo");
    if (!options_.throttle) argv.push_back("--no-throttle");
    for (const auto& a : options_.extra_args) argv.push_back(a);
    child_ = ChildProcess(argv, log_.string());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    std::map<std::string, int> ports;
    while (!read_ports(ports_file, &ports)) {
        if (!child_.running() || std::chrono::steady_clock::now() > deadline) {
            stop();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    web_port_ = ports["web"];
    direct_port_ = ports["direct"];
    files2_port_ = ports["files2"];
    files3_port_ = ports["files3"];
    ftp_port_ = ports["ftp"];
    return child_.running();
}

int ServiceInstance::stop() {
    if (child_.pid() <= 0) return 0;
    return child_.stop(std::chrono::seconds(5));
}

bool ServiceInstance::restart() {
    stop();
    return start();
}

bool ServiceInstance::running() {
    return child_.pid() > 0 && child_.running();
}

}  // namespace qorvel::test
