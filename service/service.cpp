#include "service.h"

#include <httplib.h>

#include <thread>

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
    if (value < 1 || value > 65535) return false;
    *host = address.substr(0, colon);
    *port = value;
    return true;
}

struct Service::Impl {
    std::unique_ptr<Store> store;
    std::unique_ptr<Incoming> incoming;
    std::unique_ptr<HttpService> http;
    std::unique_ptr<FtpServer> ftp;
    std::vector<std::unique_ptr<httplib::Server>> servers;
    std::vector<std::thread> threads;
};

Service::Service(ServiceOptions options) : options_(std::move(options)) {}

Service::~Service() { stop(); }

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
            *error = std::string("bad ") + hosts[i].role + " address (want host:port): " +
                     hosts[i].address;
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
    im.incoming = std::make_unique<Incoming>(im.store->incoming_dir());
    HttpSettings settings;
    settings.web_base = "http://" + options_.web;
    settings.client_version = options_.client_version;
    settings.update_url = options_.update_url;
    settings.throttle_bytes_per_s = options_.throttle_bytes_per_s;
    im.http = std::make_unique<HttpService>(*im.store, *im.incoming, settings);

    int threads = options_.http_threads;
    for (int i = 0; i < 4; ++i) {
        auto server = std::make_unique<httplib::Server>();
        server->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
        server->set_payload_max_length(1 << 20);
        server->set_read_timeout(10, 0);
        server->set_write_timeout(30, 0);
        server->set_keep_alive_timeout(5);
        server->set_exception_handler(
            [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
                res.status = 500;
                res.set_content("Internal error\n", "text/plain");
            });
        server->set_error_handler([](const httplib::Request&, httplib::Response& res) {
            if (res.body.empty()) res.set_content("Error " + std::to_string(res.status) + "\n", "text/plain");
        });
        if (i == 0) im.http->install_web(*server);
        if (i == 1) im.http->install_direct(*server);
        if (i == 2) im.http->install_files(*server, options_.throttle);
        if (i == 3) im.http->install_files(*server, false);
        if (!server->bind_to_port(host[i], port[i])) {
            *error = std::string("cannot listen on ") + hosts[i].address + " (" + hosts[i].role + ")";
            stop();
            return false;
        }
        im.servers.push_back(std::move(server));
    }
    Store* store = im.store.get();
    im.ftp = std::make_unique<FtpServer>(
        *im.incoming, [store](const std::string& user, const std::string& password) {
            auto name = gbk_in(user);
            auto account = name ? store->account_by_name(*name) : std::nullopt;
            if (!account) account = store->account_by_name(user);
            return account && store->check_password(account->id, password);
        });
    std::string ftp_error;
    if (!im.ftp->bind(host[4], port[4], &ftp_error)) {
        *error = "cannot listen on " + options_.ftp + " (ftp): " + ftp_error;
        stop();
        return false;
    }
    for (auto& server : im.servers)
        im.threads.emplace_back([s = server.get()] { s->listen_after_bind(); });
    im.ftp->start();
    lines_ = {"web host      http://" + options_.web,
              "direct host   http://" + options_.direct,
              std::string("file host 2   http://") + options_.files2 +
                  (options_.throttle ? " (1000 KB/s per connection)" : " (no limit)"),
              "file host 3   http://" + options_.files3,
              "ftp server    ftp://" + options_.ftp};
    return true;
}

void Service::stop() {
    if (!impl_) return;
    Impl& im = *impl_;
    if (im.http) im.http->stop();
    for (auto& server : im.servers) server->stop();
    for (auto& t : im.threads)
        if (t.joinable()) t.join();
    im.threads.clear();
    if (im.ftp) im.ftp->stop();
    im.servers.clear();
    im.ftp.reset();
    im.http.reset();
    im.incoming.reset();
    im.store.reset();
    impl_.reset();
}

}  // namespace qorvel::service
