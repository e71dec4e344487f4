#include "net/web.h"

#include <curl/curl.h>

#include <array>
#include <mutex>
#include <optional>

#include "net/text.h"
#include "net/url.h"

namespace qorvel {

namespace {

const char kUserAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
const char kDefaultAccept[] =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\n";
const char kDefaultLanguage[] = "Accept-Language: zh-cn\r\n";
const char kFormType[] = "Content-Type: application/x-www-form-urlencoded\r\n";
constexpr size_t kMaxAnswer = 64u << 20;  // pages are small; refuse to buffer a flood
constexpr int kMaxRedirects = 10;
constexpr size_t kIdleMultis = 4;     // threads that load at once, at most, keep theirs
constexpr long kKeptConnections = 8;  // open connections each keeps between calls

std::string failure_bytes() {
    return std::string(255, '\0');
}

void global_init() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

struct Answer {
    std::string body;
    std::string headers;
    bool overflow = false;
};

size_t on_body(char* data, size_t size, size_t n, void* user) {
    auto* a = static_cast<Answer*>(user);
    size_t len = size * n;
    if (a->body.size() + len > kMaxAnswer) {
        a->overflow = true;
        return 0;
    }
    a->body.append(data, len);
    return len;
}

size_t on_header(char* data, size_t size, size_t n, void* user) {
    auto* a = static_cast<Answer*>(user);
    size_t len = size * n;
    std::string_view line(data, len);
    // Keep only the final answer's block (not a "100 Continue" before it).
    if (line.substr(0, 5) == "HTTP/") a->headers.clear();
    if (a->headers.size() + len <= kMaxAnswer) a->headers.append(data, len);
    return len;
}

// "Name: value" lines of a CRLF header text.
curl_slist* header_list(std::string_view text) {
    curl_slist* list = nullptr;
    for (const std::string& line : text_split(text, "\r\n")) {
        if (line.empty()) continue;
        list = curl_slist_append(list, line.c_str());
    }
    return list;
}

std::string header_value(std::string_view block, std::string_view name) {
    for (const std::string& line : text_split(block, "\r\n")) {
        if (line.size() > name.size() && text_find(line, name, 1, true) == 1 &&
            line[name.size()] == ':')
            return text_trim(line.substr(name.size() + 1));
    }
    return {};
}

long status_of(CURL* h) {
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

struct Target {
    bool https = false;
    std::string host;  // with port when one was written
    std::string path;
    std::string user, password;
};

// Resolves a Location header against the address that answered.
std::string resolve_location(const Target& from, const std::string& location) {
    if (text_find(location, "http://", 1, true) == 1 ||
        text_find(location, "https://", 1, true) == 1)
        return location;
    std::string base = std::string(from.https ? "https://" : "http://") + from.host;
    if (!location.empty() && location[0] == '/') return base + location;
    std::string dir = from.path.substr(0, from.path.find('?'));
    dir = dir.substr(0, dir.rfind('/') + 1);
    return base + dir + location;
}

// Splits "http[s]://[user[:password]@]host[:port][/path]"; nothing for other schemes.
std::optional<Target> parse_target(std::string_view address) {
    std::string url(address.substr(0, address.find('#')));
    if (has_control_chars(url)) return std::nullopt;
    Target t;
    if (text_find(url, "http://", 1, true) == 1) {
        url = url.substr(7);
    } else if (text_find(url, "https://", 1, true) == 1) {
        t.https = true;
        url = url.substr(8);
    } else {
        return std::nullopt;
    }
    size_t slash = url.find('/');
    std::string authority = url.substr(0, slash);
    t.path = slash == std::string::npos ? "/" : url.substr(slash);
    if (size_t at = authority.rfind('@'); at != std::string::npos) {
        std::string cred = authority.substr(0, at);
        authority = authority.substr(at + 1);
        size_t colon = cred.find(':');
        t.user = cred.substr(0, colon);
        if (colon != std::string::npos) t.password = cred.substr(colon + 1);
    }
    t.host = text_lower(authority);
    if (t.host.empty() || t.host[0] == ':') return std::nullopt;
    return t;
}

// host:port with the scheme's port written out, for telling hosts apart.
std::string origin_of(const Target& t) {
    if (t.host.find(':') != std::string::npos) return t.host;
    return t.host + (t.https ? ":443" : ":80");
}

// Caller header lines may hold blanks and tabs but no other control byte:
// a bare CR or LF inside a line would start a header line of its own.
bool header_text_safe(std::string_view text) {
    for (const std::string& line : text_split(text, "\r\n"))
        for (char c : line)
            if (c != '\t' && has_control_chars(std::string_view(&c, 1))) return false;
    return true;
}

std::string without_referer(const std::string& headers) {
    std::string kept;
    for (const std::string& line : text_split(headers, "\r\n")) {
        if (line.empty() || text_find(line, "Referer:", 1, true) == 1) continue;
        kept += line + "\r\n";
    }
    return kept;
}

bool is_redirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// One hop of a plain GET: HTTP/1.0 and the target as written.
void set_get_target(CURL* h, const Target& t) {
    std::string base = std::string(t.https ? "https://" : "http://") + t.host + "/";
    curl_easy_setopt(h, CURLOPT_URL, base.c_str());
    curl_easy_setopt(h, CURLOPT_REQUEST_TARGET, t.path.c_str());
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    if (!t.user.empty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, t.user.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, t.password.c_str());
    }
}

// What one hop of a plain GET came to: a reply, or the next address to ask.
struct GetHop {
    bool follow = false;
    Target next;
    WebReply reply;
};

GetHop read_get_hop(const Target& from, CURLcode rc, long status, Answer& answer) {
    GetHop out;
    if (answer.overflow) return out;
    if (rc != CURLE_OK) {  // partial or nothing, never a retry
        out.reply.body = std::move(answer.body);
        return out;
    }
    std::string location = header_value(answer.headers, "Location");
    if (is_redirect(status) && !location.empty()) {
        std::optional<Target> next = parse_target(resolve_location(from, location));
        if (!next) {
            out.reply.body = std::move(answer.body);
            return out;
        }
        out.follow = true;
        out.next = *next;
        return out;
    }
    out.reply.answered = status > 0 && status < 500;
    out.reply.body = std::move(answer.body);
    return out;
}

}  // namespace

struct WebSession::Impl {
    CURLSH* share = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
    mutable std::mutex settings_mutex;
    WebTimeouts timeouts;
    std::function<void()> pump;
    std::thread::id ui_thread;
    std::mutex pool_mutex;
    std::vector<CURLM*> idle_multis;

    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
        static_cast<Impl*>(user)->locks[static_cast<size_t>(data)].lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* user) {
        static_cast<Impl*>(user)->locks[static_cast<size_t>(data)].unlock();
    }

    CURL* new_handle(Answer& answer) {
        CURL* h = curl_easy_init();
        if (!h) return nullptr;
        WebTimeouts t;
        {
            std::lock_guard g(settings_mutex);
            t = timeouts;
        }
        curl_easy_setopt(h, CURLOPT_SHARE, share);
        curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");  // cookie engine on, nothing loaded
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
        // Direct unless a caller names a proxy: never the proxy variables of
        // the environment, so both routines take the same route to a host.
        curl_easy_setopt(h, CURLOPT_PROXY, "");
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, t.connect_ms);
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, t.total_ms);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, t.stall_s);
        curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, on_body);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, on_header);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, &answer);
        return h;
    }

    // The window layer's pump when called on the window thread, else nothing.
    std::function<void()> pump_here() {
        std::lock_guard g(settings_mutex);
        if (pump && std::this_thread::get_id() == ui_thread) return pump;
        return {};
    }

    // get_together's multi handles wait here between calls with their
    // connections open; each is used by one thread at a time.
    CURLM* take_multi() {
        {
            std::lock_guard g(pool_mutex);
            if (!idle_multis.empty()) {
                CURLM* m = idle_multis.back();
                idle_multis.pop_back();
                return m;
            }
        }
        CURLM* m = curl_multi_init();
        if (m) curl_multi_setopt(m, CURLMOPT_MAXCONNECTS, kKeptConnections);
        return m;
    }
    void give_back(CURLM* m) {
        {
            std::lock_guard g(pool_mutex);
            if (idle_multis.size() < kIdleMultis) {
                idle_multis.push_back(m);
                return;
            }
        }
        curl_multi_cleanup(m);
    }

    CURLcode perform(CURL* h) {
        std::function<void()> p = pump_here();
        if (!p) return curl_easy_perform(h);
        CURLM* m = curl_multi_init();
        curl_multi_add_handle(m, h);
        CURLcode result = CURLE_OK;
        int running = 1;
        while (running) {
            if (curl_multi_perform(m, &running) != CURLM_OK) {
                result = CURLE_FAILED_INIT;
                break;
            }
            if (!running) break;
            curl_multi_poll(m, nullptr, 0, 10, nullptr);
            p();
        }
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(m, &queued))
            if (msg->msg == CURLMSG_DONE) result = msg->data.result;
        curl_multi_remove_handle(m, h);
        curl_multi_cleanup(m);
        return result;
    }
};

WebSession::WebSession() : impl_(std::make_unique<Impl>()) {
    global_init();
    impl_->share = curl_share_init();
    curl_share_setopt(impl_->share, CURLSHOPT_LOCKFUNC, &Impl::lock);
    curl_share_setopt(impl_->share, CURLSHOPT_UNLOCKFUNC, &Impl::unlock);
    curl_share_setopt(impl_->share, CURLSHOPT_USERDATA, impl_.get());
    curl_share_setopt(impl_->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    curl_share_setopt(impl_->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
}

WebSession::~WebSession() {
    // The kept connections go before the share their handles used.
    for (CURLM* m : impl_->idle_multis) curl_multi_cleanup(m);
    curl_share_cleanup(impl_->share);
}

WebSession& WebSession::process() {
    static WebSession session;
    return session;
}

void WebSession::set_timeouts(const WebTimeouts& timeouts) {
    std::lock_guard g(impl_->settings_mutex);
    impl_->timeouts = timeouts;
}

WebTimeouts WebSession::timeouts() const {
    std::lock_guard g(impl_->settings_mutex);
    return impl_->timeouts;
}

void WebSession::set_ui_pump(std::function<void()> pump, std::thread::id ui_thread) {
    std::lock_guard g(impl_->settings_mutex);
    impl_->pump = std::move(pump);
    impl_->ui_thread = ui_thread;
}

std::string WebSession::get(std::string_view url, bool* answered) {
    if (answered) *answered = false;
    std::optional<Target> parsed = parse_target(url);
    if (!parsed) return {};
    Target t = *parsed;

    for (int hop = 0; hop <= kMaxRedirects; ++hop) {
        Answer answer;
        CURL* h = impl_->new_handle(answer);
        if (!h) return {};
        set_get_target(h, t);
        curl_slist* headers = curl_slist_append(nullptr, "Accept: */*");
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
        CURLcode rc = impl_->perform(h);
        long status = status_of(h);
        curl_easy_cleanup(h);
        curl_slist_free_all(headers);
        GetHop step = read_get_hop(t, rc, status, answer);
        if (step.follow) {
            t = step.next;
            continue;
        }
        if (answered) *answered = step.reply.answered;
        return std::move(step.reply.body);
    }
    return {};
}

std::vector<WebReply> WebSession::get_together(const std::vector<std::string>& urls) {
    std::vector<WebReply> replies(urls.size());
    get_in_order(urls, [&](size_t i, WebReply& reply) {
        replies[i] = std::move(reply);
        return true;
    });
    return replies;
}

void WebSession::get_in_order(const std::vector<std::string>& urls,
                              const std::function<bool(size_t, WebReply&)>& on_reply) {
    struct Exchange {
        Target target;
        int hop = 0;
        Answer answer;
        CURL* h = nullptr;
        curl_slist* headers = nullptr;
        bool done = false;
        WebReply reply;
    };
    std::vector<Exchange> exchanges(urls.size());
    CURLM* m = impl_->take_multi();
    if (!m) {
        for (size_t i = 0; i < urls.size(); ++i) {
            WebReply none;
            if (!on_reply(i, none)) return;
        }
        return;
    }
    size_t running = 0;
    auto send = [&](Exchange& e) {
        e.answer = Answer{};
        e.h = impl_->new_handle(e.answer);
        if (!e.h) {
            e.done = true;
            return;
        }
        set_get_target(e.h, e.target);
        e.headers = curl_slist_append(nullptr, "Accept: */*");
        e.headers = curl_slist_append(e.headers, "Connection: Keep-Alive");
        curl_easy_setopt(e.h, CURLOPT_HTTPHEADER, e.headers);
        curl_easy_setopt(e.h, CURLOPT_PRIVATE, static_cast<void*>(&e));
        if (curl_multi_add_handle(m, e.h) == CURLM_OK) {
            ++running;
            return;
        }
        curl_easy_cleanup(e.h);
        e.h = nullptr;
        curl_slist_free_all(e.headers);
        e.headers = nullptr;
        e.done = true;
    };
    // A transfer taken off before its end closes its connection.
    auto take_off = [&](Exchange& e) {
        curl_multi_remove_handle(m, e.h);
        curl_easy_cleanup(e.h);
        e.h = nullptr;
        curl_slist_free_all(e.headers);
        e.headers = nullptr;
        --running;
    };
    for (size_t i = 0; i < urls.size(); ++i) {
        Exchange& e = exchanges[i];
        std::optional<Target> parsed = parse_target(urls[i]);
        if (!parsed) {
            e.done = true;
            continue;
        }
        e.target = *parsed;
        send(e);
    }
    std::function<void()> pump = impl_->pump_here();
    size_t handed = 0;
    bool wanted = true;
    for (;;) {
        // Each reply goes out once it and every one before it are in.
        while (wanted && handed < exchanges.size() && exchanges[handed].done) {
            wanted = on_reply(handed, exchanges[handed].reply);
            ++handed;
        }
        if (!wanted || handed == exchanges.size() || running == 0) break;
        int still = 0;
        if (curl_multi_perform(m, &still) != CURLM_OK) break;
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(m, &queued)) {
            if (msg->msg != CURLMSG_DONE) continue;
            CURLcode rc = msg->data.result;  // msg dies with its handle
            void* user = nullptr;
            curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &user);
            Exchange& e = *static_cast<Exchange*>(user);
            long status = status_of(e.h);
            take_off(e);
            GetHop step = read_get_hop(e.target, rc, status, e.answer);
            if (step.follow && e.hop < kMaxRedirects) {
                ++e.hop;
                e.target = step.next;
                send(e);
                continue;
            }
            if (!step.follow) e.reply = std::move(step.reply);
            e.done = true;
        }
        if (handed < exchanges.size() && exchanges[handed].done) continue;
        curl_multi_poll(m, nullptr, 0, pump ? 10 : 1000, nullptr);
        if (pump) pump();
    }
    // Left here: transfers no longer wanted, or those of a failing multi handle,
    // which are no answers.
    for (Exchange& e : exchanges) {
        if (!e.h) continue;
        take_off(e);
        if (!e.answer.overflow) e.reply.body = std::move(e.answer.body);
        e.done = true;
    }
    impl_->give_back(m);
    while (wanted && handed < exchanges.size()) {
        wanted = on_reply(handed, exchanges[handed].reply);
        ++handed;
    }
}

std::string WebSession::request(std::string_view url, std::string_view method,
                                std::string_view proxy, std::string* headers_io,
                                std::string_view body, std::string* answer_headers,
                                bool* answered) {
    if (answered) *answered = false;
    std::string local_headers;
    std::string& headers = headers_io ? *headers_io : local_headers;
    std::string path = url_path(url);
    std::string host = url_host(url, false);
    int port = url_port(url);
    if (host.empty() || port <= 0 || port > 65535) return failure_bytes();
    if (has_control_chars(url) || !header_text_safe(headers)) return failure_bytes();

    if (text_find(headers, "Accept: ", 1, true) == -1) headers += kDefaultAccept;
    if (text_find(headers, "Referer: ", 1, true) == -1) {
        headers += "Referer: ";
        headers.append(url);
        headers += "\r\n";
    }
    if (text_find(headers, "Accept-Language: ", 1, true) == -1) headers += kDefaultLanguage;

    std::string verb = method.empty() ? std::string("GET") : std::string(method);
    std::string upper = text_upper(verb);
    bool post = false;
    if (upper == "POST") {
        post = true;
        if (!body.empty()) {
            if (text_find(headers, "Content-Type: ", 1, true) == -1) headers += kFormType;
            headers += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        }
    } else if (upper != "GET") {
        return failure_bytes();
    }

    Target t;
    t.host = host + ":" + std::to_string(port);
    t.path = path;
    std::string send_body(post ? body : std::string_view{});
    std::string send_verb = verb;
    std::string send_headers = headers;

    for (int hop = 0; hop <= kMaxRedirects; ++hop) {
        Answer answer;
        CURL* h = impl_->new_handle(answer);
        if (!h) return failure_bytes();
        std::string base = "http://" + t.host + "/";
        curl_easy_setopt(h, CURLOPT_URL, base.c_str());
        curl_easy_setopt(h, CURLOPT_REQUEST_TARGET, t.path.c_str());
        curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, send_verb.c_str());
        std::string proxy_text = text_trim(proxy);
        if (!proxy_text.empty()) {
            std::string p = "http://" + proxy_text;
            curl_easy_setopt(h, CURLOPT_PROXY, p.c_str());
        }
        // The header text is sent as written; libcurl adds only Host and Cookie.
        curl_slist* list = header_list(send_headers);
        list = curl_slist_append(list, "Expect:");
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, list);
        if (!send_body.empty()) {
            curl_easy_setopt(h, CURLOPT_POSTFIELDS, send_body.data());
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(send_body.size()));
        }
        CURLcode rc = impl_->perform(h);
        long status = status_of(h);
        curl_easy_cleanup(h);
        curl_slist_free_all(list);
        if (answer_headers) *answer_headers = answer.headers;
        if (answer.overflow) return {};
        if (rc != CURLE_OK) return answer.body;
        std::string location = header_value(answer.headers, "Location");
        if (is_redirect(status) && !location.empty()) {
            // This routine speaks plain HTTP only.
            std::optional<Target> next = parse_target(resolve_location(t, location));
            if (!next || next->https) return answer.body;
            bool other_host = origin_of(*next) != origin_of(t);
            if (other_host) {
                // The form and the Referer (whose query holds the session key)
                // belong to the host they were meant for.
                if ((status == 307 || status == 308) && !send_body.empty()) return answer.body;
                send_headers = without_referer(send_headers);
            }
            t = *next;
            if (t.host.find(':') == std::string::npos) t.host += ":80";
            if (status != 307 && status != 308) {
                // A redirected form turns into a plain GET, as browsers do.
                send_body.clear();
                send_verb = "GET";
                std::string kept;
                for (const std::string& line : text_split(send_headers, "\r\n")) {
                    if (text_find(line, "Content-Type:", 1, true) == 1 ||
                        text_find(line, "Content-Length:", 1, true) == 1 || line.empty())
                        continue;
                    kept += line + "\r\n";
                }
                send_headers = kept;
            }
            continue;
        }
        if (answered) *answered = status > 0 && status < 500;
        return answer.body;
    }
    return {};
}

bool WebSession::probe(std::string_view url, long timeout_ms) {
    Answer answer;
    CURL* h = impl_->new_handle(answer);
    if (!h) return false;
    std::string u(url);
    curl_easy_setopt(h, CURLOPT_URL, u.c_str());
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, timeout_ms);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, timeout_ms);
    CURLcode rc = impl_->perform(h);
    long status = status_of(h);
    curl_easy_cleanup(h);
    return (rc == CURLE_OK || answer.overflow) && status > 0;
}

std::vector<WebCookie> WebSession::cookies() const {
    std::vector<WebCookie> out;
    CURL* h = curl_easy_init();
    if (!h) return out;
    curl_easy_setopt(h, CURLOPT_SHARE, impl_->share);
    curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");
    curl_slist* list = nullptr;
    curl_easy_getinfo(h, CURLINFO_COOKIELIST, &list);
    for (curl_slist* l = list; l; l = l->next) {
        // Netscape format: domain, subdomains, path, secure, expires, name, value.
        std::string line = l->data;
        if (line.rfind("#HttpOnly_", 0) == 0) line = line.substr(10);
        std::vector<std::string> f;
        size_t start = 0;
        for (int i = 0; i < 6; ++i) {
            size_t tab = line.find('\t', start);
            if (tab == std::string::npos) break;
            f.push_back(line.substr(start, tab - start));
            start = tab + 1;
        }
        if (f.size() != 6) continue;
        WebCookie c;
        c.domain = f[0];
        if (!c.domain.empty() && c.domain[0] == '.') c.domain = c.domain.substr(1);
        c.include_subdomains = f[1] == "TRUE";
        c.path = f[2];
        c.secure = f[3] == "TRUE";
        c.expires = std::atoll(f[4].c_str());
        c.name = f[5];
        c.value = line.substr(start);
        out.push_back(std::move(c));
    }
    curl_slist_free_all(list);
    curl_easy_cleanup(h);
    return out;
}

void WebSession::set_cookie(const WebCookie& c) {
    CURL* h = curl_easy_init();
    if (!h) return;
    curl_easy_setopt(h, CURLOPT_SHARE, impl_->share);
    curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");
    std::string line = (c.include_subdomains ? "." : "") + c.domain + "\t" +
                       (c.include_subdomains ? "TRUE" : "FALSE") + "\t" +
                       (c.path.empty() ? "/" : c.path) + "\t" + (c.secure ? "TRUE" : "FALSE") +
                       "\t" + std::to_string(c.expires) + "\t" + c.name + "\t" + c.value;
    curl_easy_setopt(h, CURLOPT_COOKIELIST, line.c_str());
    curl_easy_cleanup(h);
}

void WebSession::clear_cookies() {
    CURL* h = curl_easy_init();
    if (!h) return;
    curl_easy_setopt(h, CURLOPT_SHARE, impl_->share);
    curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(h, CURLOPT_COOKIELIST, "ALL");
    curl_easy_cleanup(h);
}

std::string web_get(std::string_view url) {
    return WebSession::process().get(url);
}

std::string web_request(std::string_view url, std::string_view method, std::string_view proxy,
                        std::string* headers, std::string_view body, std::string* answer_headers) {
    return WebSession::process().request(url, method, proxy, headers, body, answer_headers);
}

std::string web_request_text(std::string_view url, std::string_view method, std::string_view proxy,
                             std::string* headers, std::string_view body,
                             std::string* answer_headers) {
    return bytes_to_text(web_request(url, method, proxy, headers, body, answer_headers));
}

WebReply web_get_reply(std::string_view url) {
    WebReply r;
    r.body = WebSession::process().get(url, &r.answered);
    return r;
}

std::vector<WebReply> web_get_replies(const std::vector<std::string>& urls) {
    return WebSession::process().get_together(urls);
}

void web_get_in_order(const std::vector<std::string>& urls,
                      const std::function<bool(size_t, WebReply&)>& on_reply) {
    WebSession::process().get_in_order(urls, on_reply);
}

WebReply web_post_reply(std::string_view url, std::string_view body) {
    WebReply r;
    r.body = WebSession::process().request(url, "POST", {}, nullptr, body, nullptr, &r.answered);
    return r;
}

bool check_internet_connection(std::string_view probe_url) {
    return WebSession::process().probe(probe_url);
}

}  // namespace qorvel
