#include "platform/service_hosts.h"

#include <cstdlib>

#include "net/text.h"
#include "platform/ini_file.h"
#include "platform/special_folders.h"

namespace qorvel {

namespace {

struct Field {
    const char* name;  // INI key and option name
    const char* env;
    std::string ServiceHosts::*member;
    bool with_port;
};

const Field kFields[] = {
    {"web", "QORVEL_WEB", &ServiceHosts::web, true},
    {"direct", "QORVEL_DIRECT", &ServiceHosts::direct, true},
    {"files2", "QORVEL_FILES2", &ServiceHosts::files2, true},
    {"files3", "QORVEL_FILES3", &ServiceHosts::files3, true},
    {"ftp-host", "QORVEL_FTP_HOST", &ServiceHosts::ftp_host, false},
};

bool apply(ServiceHosts& hosts, const Field& f, const std::string& value, const std::string& from,
           std::vector<std::string>& errors) {
    bool ok = f.with_port ? valid_host_port(value) : valid_host(value);
    if (!ok) {
        errors.push_back(from + ": " + f.name + " \"" + value + "\" is not " +
                         (f.with_port ? "host:port" : "a host name"));
        return false;
    }
    hosts.*(f.member) = value;
    return true;
}

}  // namespace

std::filesystem::path hosts_config_file() {
    if (const char* c = std::getenv("QORVEL_CONFIG"); c && *c) return c;
    const char* x = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path base = (x && *x) ? std::filesystem::path(x) : home_folder() / ".config";
    return base / "qorvel" / "qorvel.ini";
}

bool valid_host(const std::string& host) {
    if (host.empty() || host.size() > 253) return false;
    for (char c : host) {
        auto u = static_cast<unsigned char>(c);
        if (u <= ' ' || c == '/' || c == ':' || c == '?' || c == '#' || c == '@' || u == 0x7F)
            return false;
    }
    return true;
}

bool valid_host_port(const std::string& address) {
    size_t colon = address.rfind(':');
    if (colon == std::string::npos || !valid_host(address.substr(0, colon))) return false;
    std::string port = address.substr(colon + 1);
    if (port.empty() || port.size() > 5) return false;
    for (char c : port)
        if (c < '0' || c > '9') return false;
    int p = std::atoi(port.c_str());
    return p >= 1 && p <= 65535;
}

void load_hosts_file(ServiceHosts& hosts, const std::filesystem::path& file,
                     std::vector<std::string>& errors) {
    for (const Field& f : kFields) {
        std::string key = std::string(f.name) == "ftp-host" ? "ftp_host" : f.name;
        std::string v = ini_read(file, "hosts", key);
        if (!v.empty()) apply(hosts, f, v, file.string(), errors);
    }
    std::string probe = ini_read(file, "hosts", "probe");
    if (!probe.empty()) hosts.probe_url = probe;
}

void load_hosts_environment(ServiceHosts& hosts, std::vector<std::string>& errors) {
    for (const Field& f : kFields) {
        const char* v = std::getenv(f.env);
        if (v && *v) apply(hosts, f, v, f.env, errors);
    }
    if (const char* p = std::getenv("QORVEL_PROBE"); p && *p) hosts.probe_url = p;
}

std::vector<std::string> load_hosts_arguments(ServiceHosts& hosts,
                                              const std::vector<std::string>& args,
                                              std::vector<std::string>& errors) {
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const Field* match = nullptr;
        std::string value;
        bool have_value = false;
        for (const Field& f : kFields) {
            std::string opt = std::string("--") + f.name;
            if (a == opt) {
                match = &f;
                if (i + 1 < args.size()) {
                    value = args[++i];
                    have_value = true;
                }
            } else if (a.rfind(opt + "=", 0) == 0) {
                match = &f;
                value = a.substr(opt.size() + 1);
                have_value = true;
            }
            if (match) break;
        }
        if (!match) {
            rest.push_back(a);
            continue;
        }
        if (!have_value) {
            errors.push_back(std::string("--") + match->name + " needs a value");
            continue;
        }
        apply(hosts, *match, value, "command line", errors);
    }
    return rest;
}

ServiceHosts configured_hosts(const std::vector<std::string>& args,
                              std::vector<std::string>& errors, std::vector<std::string>* rest) {
    ServiceHosts hosts;
    load_hosts_file(hosts, hosts_config_file(), errors);
    load_hosts_environment(hosts, errors);
    std::vector<std::string> r = load_hosts_arguments(hosts, args, errors);
    if (rest) *rest = std::move(r);
    return hosts;
}

}  // namespace qorvel
