// Where the service lives. Defaults point at the local reference service;
// an INI of our own, environment variables and command-line options override
// them, in that order.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qorvel {

struct ServiceHosts {
    std::string web = "127.0.0.1:18080";     // pages and forms
    std::string direct = "127.0.0.1:18081";  // direct download links
    std::string files2 = "127.0.0.1:18082";  // file host for non-members
    std::string files3 = "127.0.0.1:18083";  // file host for members
    std::string ftp_host = "127.0.0.1";      // bare host; uploads add ":1678"
    std::string probe_url;                   // connection check; empty: the web host

    std::string web_url(const std::string& path_and_query) const {
        return "http://" + web + path_and_query;
    }
    std::string direct_url(const std::string& path_and_query) const {
        return "http://" + direct + path_and_query;
    }
    std::string ftp_address() const { return ftp_host + ":1678"; }
    std::string connection_probe() const { return probe_url.empty() ? web_url("/") : probe_url; }
};

// $QORVEL_CONFIG, else $XDG_CONFIG_HOME/qorvel/qorvel.ini (~/.config/... by default).
std::filesystem::path hosts_config_file();

// True for "host:port" with a port of 1 to 65535 and a host without blanks or "/".
bool valid_host_port(const std::string& address);
bool valid_host(const std::string& host);

// Reads [hosts] web, direct, files2, files3, ftp_host, probe from the INI.
// Unusable values are reported in errors and ignored.
void load_hosts_file(ServiceHosts& hosts, const std::filesystem::path& file,
                     std::vector<std::string>& errors);
// QORVEL_WEB, QORVEL_DIRECT, QORVEL_FILES2, QORVEL_FILES3, QORVEL_FTP_HOST.
void load_hosts_environment(ServiceHosts& hosts, std::vector<std::string>& errors);
// --web ADDR --direct ADDR --files2 ADDR --files3 ADDR --ftp-host HOST (also
// written --opt=value). Other arguments are left for the window toolkit.
// Returns the arguments that were not ours.
std::vector<std::string> load_hosts_arguments(ServiceHosts& hosts,
                                              const std::vector<std::string>& args,
                                              std::vector<std::string>& errors);

// All three layers over the defaults.
ServiceHosts configured_hosts(const std::vector<std::string>& args,
                              std::vector<std::string>& errors,
                              std::vector<std::string>* rest = nullptr);

}  // namespace qorvel
