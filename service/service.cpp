#include "service.h"

#include <httplib.h>

#include <algorithm>
#include <cstdio>

#include "ftp_server.h"
#include "http_service.h"
#include "net/charset.h"
#include "pages.h"
#include "seed.h"
#include "store.h"

namespace qorvel::service {

bool split_address(const std::string& address, std::string* host, int* port) {
    size_t colon = address.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string p = address.substr(colon + 1);
    if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos)
        return false;
    int value = std::stoi(p);
    if (value < 0 || value > 65535) return false;
    *host = address.substr(0, colon);
    *port = value;
    return true;
}

namespace {

// "role=port" lines, written to a temporary name and renamed, so a reader
// never sees half a file.
bool write_ports_file(const std::filesystem::path& file, const std::vector<int>& ports,
                      std::string* error) {
    static const char* roles[] = {"web", "direct", "files2", "files3", "ftp"};
    std::string text;
    for (size_t i = 0; i < ports.size() && i < 5; ++i)
        text += std::string(roles[i]) + "=" + std::to_string(ports[i]) + "\n";
    std::filesystem::path tmp = file;
    tmp += ".tmp";
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (f) ok = std::fclose(f) == 0 && ok;
    std::error_code ec;
    if (ok) std::filesystem::rename(tmp, file, ec);
    if (!ok || ec) {
        *error = "cannot write " + file.string();
        return false;
    }
    return true;
}

}  // namespace

struct Service::Impl {
    std::unique_ptr<Store> store;
    std::unique_ptr<Incoming> incoming;
    std::unique_ptr<FailureLimiter> failures;
    std::unique_ptr<HttpService> http;
    std::unique_ptr<FtpServer> ftp;
    std::vector<std::unique_ptr<HttpHost>> servers;
};

Service::Service(ServiceOptions options) : options_(std::move(options)) {}

Service::~Service() {
    stop();
}

bool Service::start(std::string* error) {
    impl_ = std::make_unique<Impl>();
    Impl& im = *impl_;
    struct Host {
        const char* role;
        std::string address;
    };
    const Host hosts[] = {{"web", options_.web},
                          {"direct", options_.direct},
                          {"files2", options_.files2},
                          {"files3", options_.files3},
                          {"ftp", options_.ftp}};
    std::string host[5];
    int port[5] = {};
    for (int i = 0; i < 5; ++i) {
        if (!split_address(hosts[i].address, &host[i], &port[i])) {
            *error = std::string("bad ") + hosts[i].role +
                     " address (want host:port): " + hosts[i].address;
            return false;
        }
    }
    try {
        im.store = std::make_unique<Store>(options_.data_dir);
        if (options_.seed_demo) seed_demo(*im.store);
    } catch (const std::exception& e) {
        *error = e.what();
        return false;
    }
    im.incoming =
        std::make_unique<Incoming>(im.store->incoming_dir(), options_.ftp_limits.keep_upload_s,
                                   options_.ftp_limits.max_waiting_bytes);
    HttpSettings settings;
    settings.client_version = options_.client_version;
    settings.update_url = options_.update_url;
    settings.throttle_bytes_per_s = options_.throttle_bytes_per_s;

    ports_.clear();
    for (int i = 0; i < 4; ++i) {
        HttpHostLimits limits = options_.http;
        // Only the web host takes forms; the others need no body at all.
        if (i > 0)
            limits.request.max_body_bytes = std::min<size_t>(limits.request.max_body_bytes, 4096);
        auto server = std::make_unique<HttpHost>(limits);
        server->set_exception_handler(
            [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
                res.status = 500;
                res.set_content("Internal error\n", "text/plain");
            });
        server->set_error_handler([](const httplib::Request&, httplib::Response& res) {
            if (res.body.empty())
                res.set_content("Error " + std::to_string(res.status) + "\n", "text/plain");
        });
        std::string bind_error;
        if (!server->bind(host[i], port[i], &bind_error)) {
            *error = std::string("cannot listen on ") + hosts[i].address + " (" + hosts[i].role +
                     "): " + bind_error;
            stop();
            return false;
        }
        ports_.push_back(server->port());
        im.servers.push_back(std::move(server));
    }
    // The web host's own address goes into its pages, so it takes the port
    // actually bound.
    settings.web_base = "http://" + host[0] + ":" + std::to_string(ports_[0]);
    im.failures = std::make_unique<FailureLimiter>(options_.guard);
    im.http = std::make_unique<HttpService>(*im.store, *im.incoming, *im.failures, settings,
                                            options_.guard);
    im.http->install_web(*im.servers[0]);
    im.http->install_direct(*im.servers[1]);
    im.http->install_files(*im.servers[2], options_.throttle);
    im.http->install_files(*im.servers[3], false);

    Store* store = im.store.get();
    FailureLimiter* failures = im.failures.get();
    im.ftp = std::make_unique<FtpServer>(
        *im.incoming,
        // Named logins are password checks like the web login's, counted the same way.
        [store, failures](const std::string& user, const std::string& password,
                          const std::string& address) {
            auto name = gbk_in(user);
            auto account = name ? store->account_by_name(*name) : std::nullopt;
            if (!account) account = store->account_by_name(user);
            std::string key = account ? "login:" + std::to_string(account->id) : std::string();
            int64_t now = steady_now_ms();
            if (failures->wait_ms("addr:" + address, now) > 0 ||
                (!key.empty() && failures->wait_ms(key, now) > 0))
                return false;
            bool ok = account && store->check_password(account->id, password);
            if (ok) {
                failures->succeeded(key);
            } else {
                failures->failed("addr:" + address, now);
                if (!key.empty()) failures->failed(key, now);
            }
            return ok;
        },
        options_.ftp_limits);
    std::string ftp_error;
    if (!im.ftp->bind(host[4], port[4], &ftp_error)) {
        *error = "cannot listen on " + options_.ftp + " (ftp): " + ftp_error;
        stop();
        return false;
    }
    ports_.push_back(im.ftp->port());
    for (auto& server : im.servers) server->start();
    im.ftp->start();
    auto at = [&](int i) { return host[i] + ":" + std::to_string(ports_[static_cast<size_t>(i)]); };
    lines_ = {"web host      http://" + at(0), "direct host   http://" + at(1),
              std::string("file host 2   http://") + at(2) +
                  (options_.throttle ? " (" + std::to_string(options_.throttle_bytes_per_s / 1024) +
                                           " KB/s per connection)"
                                     : std::string(" (no limit)")),
              "file host 3   http://" + at(3), "ftp server    ftp://" + at(4)};
    if (!options_.ports_file.empty() && !write_ports_file(options_.ports_file, ports_, error)) {
        stop();
        return false;
    }
    return true;
}

void Service::stop() {
    if (!impl_) return;
    Impl& im = *impl_;
    if (im.http) im.http->stop();
    for (auto& server : im.servers) server->stop();
    if (im.ftp) im.ftp->stop();
    im.servers.clear();
    im.ftp.reset();
    im.http.reset();
    im.incoming.reset();
    im.failures.reset();
    im.store.reset();
    impl_.reset();
}

}  // namespace qorvel::service
