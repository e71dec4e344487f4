#include "support/service_instance.h"

#include <unistd.h>

#include <cstdlib>
#include <set>

namespace qorvel::test {

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
    std::set<int> taken;
    auto pick = [&] {
        for (int tries = 0; tries < 50; ++tries) {
            int port = free_port(options_.host);
            if (taken.insert(port).second) return port;
        }
        return 0;
    };
    web_port_ = pick();
    direct_port_ = pick();
    files2_port_ = pick();
    files3_port_ = pick();
    ftp_port_ = pick();
}

ServiceInstance::~ServiceInstance() { stop(); }

bool ServiceInstance::start() {
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
                                     host_port(ftp_port_)};
    if (options_.seed_demo) argv.push_back("--seed-demo");
    if (!options_.throttle) argv.push_back("--no-throttle");
    for (const auto& a : options_.extra_args) argv.push_back(a);
    child_ = ChildProcess(argv, log_.string());
    for (int port : {web_port_, direct_port_, files2_port_, files3_port_, ftp_port_}) {
        if (!wait_for_port(options_.host, port, std::chrono::seconds(15))) {
            stop();
            return false;
        }
    }
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

bool ServiceInstance::running() { return child_.pid() > 0 && child_.running(); }

}  // namespace qorvel::test
