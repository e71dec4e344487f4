// The HTTP side of the service: routes of the main web host, the
// direct-link host and the two file hosts.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "guard.h"
#include "handover.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace qorvel::service {

class Store;
class Incoming;
struct Account;

struct HttpSettings {
    std::string web_base;  // "http://host:port" of the main web host
    std::string client_version = "147";
    std::string update_url;
    int64_t throttle_bytes_per_s = 1000 * 1024;
    int files_per_page = 20;
};

class HttpService {
  public:
    // failures: shared with the FTP server's logins.
    HttpService(Store& store, Incoming& incoming, FailureLimiter& failures, HttpSettings settings,
                GuardSettings guard = {});

    void install_web(httplib::Server& server);
    void install_direct(httplib::Server& server);
    // throttle: limit each download to throttle_bytes_per_s.
    void install_files(httplib::Server& server, bool throttle);
    // Ends running downloads quickly at shut-down.
    void stop() { stopping_ = true; }

  private:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
    using Route = std::function<void(const std::string& path, Handler)>;

    // The web host's routes, one group each.
    void install_pages(const Route& route);         // update file, notices, public pages
    void install_login(const Route& route);         // login, session checks, web login
    void install_account(const Route& route);       // account pages, registration, recovery
    void install_changes(const Route& route);       // folder and file changes
    void install_registration(const Route& route);  // upload registration

    // The account of a session key, or nullopt after writing `refusal`
    // (GBK unless a content type is given) as the answer.
    std::optional<int> account_or_refuse(std::string_view key, httplib::Response& res,
                                         const std::string& refusal,
                                         const char* content_type = nullptr);

    // Password guessing: whether these counters allow a check now, and the
    // outcome of one.
    bool may_try(const std::string& account_key, const std::string& address);
    void tried(const std::string& account_key, const std::string& address, bool ok);
    // The access password of a file's owner, as the pages check it.
    bool access_granted(int owner, const std::string& address, const std::string& expected,
                        const std::string& given);
    // Whether an account's folders, files and names may be shown: no access
    // password, the owner's live session at this address, or the password given.
    bool may_see(const Account& owner, const std::string& address, const std::string& given);

    Store& store_;
    Incoming& incoming_;
    HttpSettings settings_;
    FailureLimiter& failures_;
    Handovers handovers_;
    std::atomic<bool> stopping_{false};
};

}  // namespace qorvel::service
