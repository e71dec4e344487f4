// The two request routines every exchange with the service goes through.
// Both block the caller until the whole answer is read; a request made on the
// window thread keeps the windows responsive through the registered pump.
// One cookie store serves both routines and every thread of the process.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qorvel {

struct WebTimeouts {
    long connect_ms = 10000;  // a dead host fails within this
    long total_ms = 120000;   // no request runs longer
    long stall_s = 30;        // an answer that stops flowing for this long fails
};

struct WebReply;

struct WebCookie {
    std::string domain;  // host the cookie belongs to (no port)
    std::string path = "/";
    std::string name;
    std::string value;
    long long expires = 0;  // 0: a session cookie
    bool secure = false;
    bool include_subdomains = false;
};

class WebSession {
  public:
    WebSession();
    ~WebSession();
    WebSession(const WebSession&) = delete;
    WebSession& operator=(const WebSession&) = delete;

    // The process-wide session behind web_get and web_request.
    static WebSession& process();

    // Plain GET over HTTP/1.0; the body, or empty when nothing could be read.
    // answered, when given, tells whether the service gave a whole answer.
    std::string get(std::string_view url, bool* answered = nullptr);

    // The GETs of get() all under way at once, each with its own redirects
    // and time-outs, on connections kept alive for the next call ("Connection:
    // Keep-Alive" is the one header get() does not send). One reply per
    // address, in the order given, whatever order the answers came in.
    std::vector<WebReply> get_together(const std::vector<std::string>& urls);
    // The same, each reply handed to on_reply(index, reply) in the order of
    // urls as soon as it and every one before it are in. When on_reply
    // returns false the rest is dropped: their transfers end at once and
    // on_reply is not called again.
    void get_in_order(const std::vector<std::string>& urls,
                      const std::function<bool(size_t, WebReply&)>& on_reply);

    // The program's own request routine: method GET or POST (as written,
    // compared without case), optional "host:port" proxy, header text that is
    // completed in place, body, and the raw answer header block. On a bad
    // address or method the result is 255 zero bytes.
    std::string request(std::string_view url, std::string_view method = {},
                        std::string_view proxy = {}, std::string* headers = nullptr,
                        std::string_view body = {}, std::string* answer_headers = nullptr,
                        bool* answered = nullptr);

    // True when an HTTP answer (any status) arrives from the address.
    bool probe(std::string_view url, long timeout_ms = 5000);

    std::vector<WebCookie> cookies() const;
    void set_cookie(const WebCookie& cookie);
    void clear_cookies();

    void set_timeouts(const WebTimeouts& timeouts);
    WebTimeouts timeouts() const;

    // While a request runs on ui_thread, pump() is called every few
    // milliseconds so that the windows keep handling their events.
    void set_ui_pump(std::function<void()> pump, std::thread::id ui_thread);

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

std::string web_get(std::string_view url);
std::string web_request(std::string_view url, std::string_view method = {},
                        std::string_view proxy = {}, std::string* headers = nullptr,
                        std::string_view body = {}, std::string* answer_headers = nullptr);
// web_request's answer read as text (up to its first zero byte).
std::string web_request_text(std::string_view url, std::string_view method = {},
                             std::string_view proxy = {}, std::string* headers = nullptr,
                             std::string_view body = {}, std::string* answer_headers = nullptr);

// An answer together with whether it is one: a whole HTTP answer below 500
// arrived. An empty body from a service that answered is a verdict; an empty
// body from one that could not be reached is not.
struct WebReply {
    std::string body;
    bool answered = false;
};
WebReply web_get_reply(std::string_view url);
// The process-wide session's get_together and get_in_order.
std::vector<WebReply> web_get_replies(const std::vector<std::string>& urls);
void web_get_in_order(const std::vector<std::string>& urls,
                      const std::function<bool(size_t, WebReply&)>& on_reply);
// web_request with method "POST" and the default headers.
WebReply web_post_reply(std::string_view url, std::string_view body);

// Whether the service can be reached at all; probe_url is configuration.
bool check_internet_connection(std::string_view probe_url);

}  // namespace qorvel
