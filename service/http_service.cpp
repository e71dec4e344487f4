#include "http_service.h"

#include <fcntl.h>
#include <unistd.h>

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <thread>

#include "form_fields.h"
#include "ftp_server.h"
#include "net/charset.h"
#include "net/text.h"
#include "pages.h"
#include "store.h"

namespace qorvel::service {

namespace {

using Clock = std::chrono::steady_clock;

const char* kGbkHtml = "text/html; charset=gbk";
const char* kUtf8Html = "text/html; charset=utf-8";
const char* kAvatarPath = "avatar/default.gif";
const char* kHandoverCookie = "qorvel_qq";
const char* kHandoverFormKey = "qqyz";
constexpr int64_t kMailWindow = 300;
constexpr size_t kMaxIds = 1000;

// The form answers: "1" is success in the folder and file forms.
const char* kOk = "1";
const char* kFail = "0";

struct Fields {
    FormFields query;
    FormFields body;
};

Fields fields_of(const httplib::Request& req) {
    return {FormFields(query_of(req.target)), FormFields(req.body)};
}

void send_gbk(httplib::Response& res, const std::string& text) {
    res.set_content(text, kGbkHtml);
}

std::string gbk_page(const std::string& title_gbk, const std::string& body_gbk) {
    return "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\" />"
           "<title>" +
           title_gbk + "</title></head><body>\r\n" + body_gbk + "\r\n</body></html>\r\n";
}

std::string utf8_page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\r\n<html><head><meta charset=\"utf-8\" /><title>" + title +
           "</title></head><body>\r\n" + body + "\r\n</body></html>\r\n";
}

bool has_control(std::string_view s) {
    for (char ch : s) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) return true;
    }
    return false;
}

// A password as the client sends it (GBK), stored as those bytes.
bool valid_password(std::string_view gbk) {
    return !gbk.empty() && gbk.size() <= 64 && !has_control(gbk) &&
           gbk.find('|') == std::string_view::npos && gbk_in(gbk).has_value();
}

bool valid_email(std::string_view utf8) {
    size_t at = utf8.find('@');
    return !utf8.empty() && utf8.size() <= 100 && at != std::string_view::npos && at > 0 &&
           utf8.find('.') != std::string_view::npos && utf8.find("@.") == std::string_view::npos &&
           utf8.find_first_of("<>\"|' ") == std::string_view::npos && !has_control(utf8) &&
           utf8_in(utf8).has_value();
}

std::string cookie_value(const httplib::Request& req, std::string_view name) {
    for (size_t i = 0; i < req.get_header_value_count("Cookie"); ++i) {
        std::string header = req.get_header_value("Cookie", i);
        size_t pos = 0;
        while (pos < header.size()) {
            size_t end = header.find(';', pos);
            if (end == std::string::npos) end = header.size();
            std::string pair = text_trim(header.substr(pos, end - pos));
            size_t eq = pair.find('=');
            if (eq != std::string::npos && pair.substr(0, eq) == name) return pair.substr(eq + 1);
            pos = end + 1;
        }
    }
    return {};
}

// Every byte but letters and digits as %XX, fit for a link in an attribute.
std::string escape_all(std::string_view bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (char ch : bytes) {
        auto c = static_cast<unsigned char>(ch);
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            out += ch;
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

bool is_hex_token(std::string_view s, size_t n) {
    if (s.size() != n) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

// The page of an ended (or unknown) session. The client cuts its answer
// from byte 11 up to the next double quote and expects "CTYPE html PUBLIC "
// there, so the declaration starts after exactly six bytes.
std::string session_ended_page() {
    return "\r\n\r\n\r\n<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
           "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n"
           "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\" />"
           "<title>Qorvel</title></head><body><p>" +
           GBK("您的帐号已在其它地方登录，请重新登录。") + "</p></body></html>\r\n";
}

std::string session_live_page(const std::string& key) {
    return "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
           "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n"
           "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\" />"
           "<title>Qorvel</title></head><body><a href=\"/sxwj.php?zh=" +
           key + "\">" + GBK("刷新文件") + "</a></body></html>\r\n";
}

// 1x1 transparent GIF.
const unsigned char kGif[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80,
                              0x00, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0x21, 0xf9, 0x04,
                              0x01, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x01,
                              0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3b};

struct Range {
    int64_t first = 0;
    int64_t last = 0;
};

enum class RangeKind { none, single, unsatisfiable };

// A single "bytes=" range against size; several ranges or an unknown unit
// are served whole, as the standard allows.
RangeKind parse_range(const std::string& header, int64_t size, Range* out) {
    if (header.empty()) return RangeKind::none;
    const std::string prefix = "bytes=";
    if (header.compare(0, prefix.size(), prefix) != 0) return RangeKind::none;
    std::string ranges = text_trim(header.substr(prefix.size()));
    if (ranges.find(',') != std::string::npos) return RangeKind::none;
    size_t dash = ranges.find('-');
    if (dash == std::string::npos) return RangeKind::none;
    std::string a = text_trim(ranges.substr(0, dash)), b = text_trim(ranges.substr(dash + 1));
    auto number = [](const std::string& s, int64_t* v) {
        if (s.empty() || s.size() > 18 || s.find_first_not_of("0123456789") != std::string::npos)
            return false;
        *v = std::stoll(s);
        return true;
    };
    int64_t first = 0, last = 0;
    if (a.empty()) {
        if (!number(b, &last)) return RangeKind::none;
        if (last == 0 || size == 0) return RangeKind::unsatisfiable;
        out->first = last >= size ? 0 : size - last;
        out->last = size - 1;
        return RangeKind::single;
    }
    if (!number(a, &first)) return RangeKind::none;
    if (b.empty()) {
        last = size - 1;
    } else {
        if (!number(b, &last)) return RangeKind::none;
        if (last < first) return RangeKind::none;
        if (last >= size) last = size - 1;
    }
    if (first >= size) return RangeKind::unsatisfiable;
    out->first = first;
    out->last = last;
    return RangeKind::single;
}

struct FileSource {
    int fd = -1;
    int64_t start = 0;
    bool throttle = false;
    int64_t rate = 0;
    Clock::time_point began = Clock::now();
    int64_t sent = 0;
    ~FileSource() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

HttpService::HttpService(Store& store, Incoming& incoming, FailureLimiter& failures,
                         HttpSettings settings, GuardSettings guard)
    : store_(store),
      incoming_(incoming),
      settings_(std::move(settings)),
      failures_(failures),
      handovers_(guard.handover_page_s, guard.handover_s) {
    store_.set_session_idle(guard.session_idle_s);
}

namespace {

// The whole file's MD5 as an instance digest (RFC 3230): base64 of the 16
// bytes. Empty when the store has no MD5 for it.
std::string md5_digest_value(const std::string& md5_hex) {
    if (!is_hex_token(md5_hex, 32)) return {};
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    for (size_t i = 0; i < 32; i += 2)
        bytes += static_cast<char>(std::stoi(md5_hex.substr(i, 2), nullptr, 16));
    std::string out = "md5=";
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t n = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (i + 1 < bytes.size())
            n |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        if (i + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 2]);
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? alphabet[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? alphabet[n & 63] : '=';
    }
    return out;
}

// Serves a stored file: whole, or one range; 416 for a range past the end.
// Every answer with content names the whole file's MD5, so a client can check
// what it put together from any number of ranges.
void serve_file(const httplib::Request& req, httplib::Response& res, const std::string& path,
                int64_t size, const std::string& md5_hex, bool throttle, int64_t rate,
                const std::atomic<bool>& stopping, const std::function<void()>& on_whole_download) {
    // Ranges are answered here; the library's own handling breaks on bad ones.
    const_cast<httplib::Request&>(req).ranges.clear();
    Range range;
    RangeKind kind = parse_range(req.get_header_value("Range"), size, &range);
    res.set_header("Accept-Ranges", "bytes");
    if (kind == RangeKind::unsatisfiable) {
        res.status = 416;
        res.set_header("Content-Range", "bytes */" + std::to_string(size));
        res.set_content("Requested range not satisfiable\n", "text/plain");
        return;
    }
    int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        res.status = 404;
        res.set_content("File content missing\n", "text/plain");
        return;
    }
    if (std::string digest = md5_digest_value(text_lower(md5_hex)); !digest.empty())
        res.set_header("Digest", digest);
    auto source = std::make_shared<FileSource>();
    source->fd = fd;
    source->throttle = throttle;
    source->rate = rate > 0 ? rate : 1;
    int64_t length = size;
    if (kind == RangeKind::single) {
        res.status = 206;
        source->start = range.first;
        length = range.last - range.first + 1;
        res.set_header("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                            std::to_string(range.last) + "/" +
                                            std::to_string(size));
    } else {
        res.status = 200;
    }
    if (req.method == "GET" && source->start == 0 && on_whole_download) on_whole_download();
    if (length == 0) {
        res.set_content("", "application/octet-stream");
        return;
    }
    res.set_content_provider(
        static_cast<size_t>(length), "application/octet-stream",
        [source, &stopping](size_t offset, size_t left, httplib::DataSink& sink) {
            if (stopping) return false;
            char buf[65536];
            size_t chunk = std::min(left, source->throttle ? size_t(16384) : sizeof buf);
            ssize_t n = ::pread(source->fd, buf, chunk, source->start + static_cast<off_t>(offset));
            if (n <= 0) return false;
            if (!sink.write(buf, static_cast<size_t>(n))) return false;
            if (source->throttle) {
                source->sent += n;
                auto due = source->began +
                           std::chrono::microseconds(source->sent * 1000000 / source->rate);
                while (!stopping && Clock::now() < due)
                    std::this_thread::sleep_for(std::min<Clock::duration>(
                        due - Clock::now(), std::chrono::milliseconds(50)));
            }
            return true;
        });
}

}  // namespace

std::optional<int> HttpService::account_or_refuse(std::string_view key, httplib::Response& res,
                                                  const std::string& refusal,
                                                  const char* content_type) {
    if (auto account = store_.session_account(key)) return account;
    res.set_content(refusal, content_type ? content_type : kGbkHtml);
    return std::nullopt;
}

bool HttpService::may_try(const std::string& account_key, const std::string& address) {
    int64_t now = steady_now_ms();
    return failures_.wait_ms("addr:" + address, now) == 0 &&
           (account_key.empty() || failures_.wait_ms(account_key, now) == 0);
}

void HttpService::tried(const std::string& account_key, const std::string& address, bool ok) {
    if (ok) {
        if (!account_key.empty()) failures_.succeeded(account_key);
        return;
    }
    int64_t now = steady_now_ms();
    failures_.failed("addr:" + address, now);
    if (!account_key.empty()) failures_.failed(account_key, now);
}

bool HttpService::access_granted(int owner, const std::string& address, const std::string& expected,
                                 const std::string& given) {
    if (expected.empty()) return true;
    std::string key = "access:" + std::to_string(owner);
    // A refused try while slowed down says nothing about the password.
    if (!may_try(key, address)) return false;
    bool ok = given == expected;
    // No password at all ("0" is the client's "none") is not a guess.
    if ((!given.empty() && given != "0") || ok) tried(key, address, ok);
    return ok;
}

bool HttpService::may_see(const Account& owner, const std::string& address,
                          const std::string& given) {
    if (owner.access_password.empty() || store_.session_at(owner.id, address)) return true;
    return access_granted(owner.id, address, gbk_out(owner.access_password), given);
}

void HttpService::install_web(httplib::Server& server) {
    Route route = [&server](const std::string& path, Handler handler) {
        server.Get(path, handler);
        server.Post(path, handler);
    };
    install_pages(route);
    install_login(route);
    install_account(route);
    install_changes(route);
    install_registration(route);
}

void HttpService::install_pages(const Route& route) {
    route("/ge.txt", [this](const httplib::Request&, httplib::Response& res) {
        std::string url = settings_.update_url.empty() ? settings_.web_base + "/update.html"
                                                       : settings_.update_url;
        res.set_content(settings_.client_version + "|" + url, "text/plain");
    });
    route("/update.html", [](const httplib::Request&, httplib::Response& res) {
        send_gbk(res, gbk_page(GBK("软件更新"), GBK("请下载最新版本的客户端。")));
    });
    route("/guanli.php", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("ok", "text/plain");
    });
    route(std::string("/") + kAvatarPath, [](const httplib::Request&, httplib::Response& res) {
        res.set_content(reinterpret_cast<const char*>(kGif), sizeof kGif, "image/gif");
    });

    // Sub-folders of one folder, by the public login pid.
    route("/mljg/mljg.php", [this](const httplib::Request& req, httplib::Response& res) {
        FormFields q(query_of(req.target));
        auto account = parse_id(q.text("pid"));
        auto folder = parse_id(q.text("ml"));
        auto page = parse_id(q.text("yms"));
        auto owner = account ? store_.account_by_id(*account) : std::nullopt;
        std::string out;
        // Nothing of a protected account shows before its password.
        if (owner && folder && *folder >= 0 && (!page || *page == 0) &&
            store_.folder_exists(*account, *folder) &&
            may_see(*owner, req.remote_addr, q.text("fwmm"))) {
            for (const Folder& f : store_.sub_folders(*account, *folder, 1000))
                out += "wenjianjL" + gbk_out(f.name) + GBK("目录pid:") + std::to_string(f.id) +
                       "<br />";
        }
        send_gbk(res, out);
    });

    // One page of a folder's files ("dqlx=1": all of them, up to 500).
    route("/mljg/wjdq.php", [this](const httplib::Request& req, httplib::Response& res) {
        FormFields q(query_of(req.target));
        auto account = parse_id(q.text("pid"));
        auto folder = parse_id(q.text("ml"));
        auto page = parse_id(q.text("yms")).value_or(0);
        bool whole = q.text("dqlx") == "1";
        int per_page = whole ? 500 : settings_.files_per_page;
        auto owner = account ? store_.account_by_id(*account) : std::nullopt;
        std::string out;
        int pages = 0;
        if (owner && folder && *folder >= 0 && store_.folder_exists(*account, *folder) &&
            may_see(*owner, req.remote_addr, q.text("fwmm"))) {
            int total = 0;
            std::vector<FileEntry> files =
                store_.file_page(*account, *folder, whole ? 0 : page, per_page, &total);
            pages = whole ? 1 : std::max(1, (total + per_page - 1) / per_page);
            if (page >= 0 && page < pages) {
                for (const FileEntry& f : files) {
                    out += "<div style=\"display:none;\">" + GBK("pid：") + std::to_string(f.id) +
                           "<" + GBK("文件名：") + gbk_out(f.name) + "<" + GBK("大小：") +
                           size_text(f.size, f.link_only()) + "<" + GBK("日期：") + f.created +
                           "<" + GBK("下载量：") + std::to_string(f.downloads) +
                           "< </div><br />\r\n";
                }
            }
        }
        out += GBK("总共有") + std::to_string(pages) + GBK("页");
        send_gbk(res, out);
    });

    // The public folder page for a browser.
    route("/wdwj.php", [this](const httplib::Request& req, httplib::Response& res) {
        FormFields q(query_of(req.target));
        auto account_id = parse_id(q.text("pid"));
        auto folder = parse_id(q.text("ml").empty() ? "0" : q.text("ml"));
        int page = parse_id(q.text("yms")).value_or(0);
        auto account = account_id ? store_.account_by_id(*account_id) : std::nullopt;
        if (!account || !folder || *folder < 0 || !store_.folder_exists(account->id, *folder)) {
            send_gbk(res, gbk_page(GBK("文件夹"), GBK("该文件夹不存在。")));
            return;
        }
        std::string pid = std::to_string(account->id);
        std::string given = q.text("srmm");
        if (!may_see(*account, req.remote_addr, given)) {
            send_gbk(res, gbk_page(GBK("文件夹"),
                                   GBK("请输入访问密码：") +
                                       "<form method=\"get\" action=\"/wdwj.php\"><input "
                                       "type=\"hidden\" name=\"pid\" value=\"" +
                                       pid + "\" /><input type=\"hidden\" name=\"ml\" value=\"" +
                                       std::to_string(*folder) +
                                       "\" /><input type=\"text\" name=\"srmm\" /><input "
                                       "type=\"submit\" value=\"OK\" /></form>"));
            return;
        }
        // The links onward carry the password that opened this page.
        std::string pass = given.empty() ? std::string() : "&srmm=" + escape_all(given);
        std::string body = "<h3>" + gbk_out(account->name) + GBK(" 的文件夹") + "</h3>\r\n<ul>";
        for (const Folder& f : store_.sub_folders(account->id, *folder, 1000))
            body += "<li><a href=\"/wdwj.php?pid=" + pid + "&ml=" + std::to_string(f.id) + pass +
                    "\">[" + gbk_out(f.name) + "]</a></li>\r\n";
        int per_page = settings_.files_per_page;
        int total = 0;
        std::vector<FileEntry> files =
            store_.file_page(account->id, *folder, page, per_page, &total);
        int pages = std::max(1, (total + per_page - 1) / per_page);
        if (page >= 0 && page < pages)
            for (const FileEntry& f : files)
                body += "<li><a href=\"/ym.php?pid=" + std::to_string(f.id) + pass + "\">" +
                        gbk_out(f.name) + "</a> " + size_text(f.size, f.link_only()) + " " +
                        f.created + "</li>\r\n";
        body += "</ul>\r\n<p>";
        for (int i = 0; i < pages; ++i)
            body += "<a href=\"/wdwj.php?pid=" + pid + "&ml=" + std::to_string(*folder) +
                    "&yms=" + std::to_string(i) + pass + "\">" + std::to_string(i) + "</a> ";
        body += GBK("总共有") + std::to_string(pages) + GBK("页") + "</p>";
        send_gbk(res, gbk_page(GBK("文件夹"), body));
    });

    // A file's page: its storage link after "bsmzdyd", when the access
    // password (if any) was given.
    route("/ym.php", [this](const httplib::Request& req, httplib::Response& res) {
        FormFields q(query_of(req.target));
        auto id = parse_id(q.text("pid"));
        auto file = id ? store_.file(*id) : std::nullopt;
        auto owner = file ? store_.account_by_id(file->account) : std::nullopt;
        if (!file || !owner) {
            send_gbk(res, gbk_page(GBK("文件"), GBK("文件不存在或已被删除。")));
            return;
        }
        std::string name = gbk_out(file->name);
        // Not even the name shows before the password; the link is given
        // for the password alone, as it was.
        if (!access_granted(owner->id, req.remote_addr, gbk_out(owner->access_password),
                            q.text("srmm"))) {
            send_gbk(res,
                     gbk_page(GBK("文件"), GBK("请输入访问密码：") +
                                               "<form method=\"get\" action=\"/ym.php\"><input "
                                               "type=\"hidden\" name=\"pid\" value=\"" +
                                               std::to_string(file->id) +
                                               "\" /><input type=\"text\" name=\"srmm\" /><input "
                                               "type=\"submit\" value=\"OK\" /></form>"));
            return;
        }
        std::string link = file->link_only() ? gbk_out(file->outside) : file->link;
        std::string body = "<h3>" + name + "</h3>\r\n" + GBK("大小：") +
                           size_text(file->size, file->link_only()) + "<br />\r\n" + GBK("日期：") +
                           file->created + "<br />\r\n" + GBK("下载量：") +
                           std::to_string(file->downloads) +
                           "<br />\r\n<span style=\"display:none;\">bsmzdyd" + link + "</span>\r\n";
        send_gbk(res, gbk_page(name, body));
    });
}

void HttpService::install_login(const Route& route) {
    // Login: nine fields joined by "x"; at most three bytes on failure.
    route("/csx.php", [this](const httplib::Request& req, httplib::Response& res) {
        Fields f = fields_of(req);
        std::string name = f.body.text("zh"), password = f.body.text("mm");
        auto account = utf8_in(name) ? store_.account_by_name(name) : std::nullopt;
        std::string key = account ? "login:" + std::to_string(account->id) : std::string();
        // While slowed down the answer is the plain failure, checked or not.
        if (!may_try(key, req.remote_addr)) {
            res.set_content(kFail, kGbkHtml);
            return;
        }
        bool ok = account && !password.empty() && store_.check_password(account->id, password);
        if (!name.empty() || !password.empty()) tried(key, req.remote_addr, ok);
        if (!ok) {
            res.set_content(kFail, kGbkHtml);
            return;
        }
        std::string session = store_.login(account->id, req.remote_addr);
        std::string signature =
            account->signature.empty() ? GBK("暂无设置。") : gbk_out(account->signature);
        std::string answer = std::to_string(account->id) + "x" + session + "x" + signature + "x" +
                             (account->vip ? "1" : "0") + "x" + account->created + "x" +
                             kAvatarPath + "x" +
                             std::to_string(store_.count_account_files(account->id)) + "x0x0";
        send_gbk(res, answer);
    });

    route("/sc/index1.php", [this](const httplib::Request& req, httplib::Response& res) {
        std::string key = fields_of(req).query.text("zh");
        if (store_.session_account(key))
            send_gbk(res, session_live_page(key));
        else
            send_gbk(res, session_ended_page());
    });
    route("/sxwj.php", [this](const httplib::Request& req, httplib::Response& res) {
        bool live = store_.session_account(fields_of(req).query.text("zh")).has_value();
        send_gbk(res, live ? gbk_page("Qorvel", GBK("文件已刷新。")) : session_ended_page());
    });

    // Stand-in for the outside sign-in. Every showing of the page gets a new
    // token (cookie) and form key (hidden field) from here; the confirmation
    // must bring both, so a token planted in the browser beforehand is
    // replaced, and one planted afterwards pairs with no page.
    route("/QQ/example/oauth/index.php", [this](const httplib::Request& req,
                                                httplib::Response& res) {
        std::string message;
        if (req.method == "POST") {
            FormFields body(req.body);
            std::string token = cookie_value(req, kHandoverCookie);
            std::string form_key = body.text(kHandoverFormKey);
            std::string name = body.text("zh"), password = body.text("mm");
            if (handovers_.page_open(token, form_key, steady_now_ms())) {
                std::string gbk_password =
                    utf8_in(password) ? utf8_to_gbk(password) : std::string();
                auto account = utf8_in(name) ? store_.account_by_name(name) : std::nullopt;
                std::string key = account ? "login:" + std::to_string(account->id) : std::string();
                bool ok = false;
                if (may_try(key, req.remote_addr)) {
                    ok = account && !gbk_password.empty() &&
                         store_.check_password(account->id, gbk_password);
                    tried(key, req.remote_addr, ok);
                }
                if (ok && handovers_.confirm(token, form_key, account->id, gbk_password,
                                             steady_now_ms())) {
                    res.set_content(
                        utf8_page("Qorvel 授权", "<p id=\"result\">授权成功，请返回客户端。</p>"),
                        kUtf8Html);
                    return;
                }
                message = "<p id=\"result\">帐号或密码错误。</p>";
            } else {
                message = "<p id=\"result\">页面已过期，请重新授权。</p>";
            }
        }
        auto page = handovers_.open_page(steady_now_ms());
        res.set_header("Set-Cookie",
                       std::string(kHandoverCookie) + "=" + page.token + "; Path=/; HttpOnly");
        res.set_header("Cache-Control", "no-store");
        res.set_content(
            utf8_page("Qorvel 授权登录",
                      "<h3>授权登录 Qorvel</h3>" + message +
                          "<form method=\"post\" action=\"/QQ/example/oauth/index.php\">"
                          "<input type=\"hidden\" name=\"" +
                          kHandoverFormKey + "\" value=\"" + page.form_key +
                          "\" />"
                          "帐号：<input type=\"text\" name=\"zh\" id=\"zh\" /><br />"
                          "密码：<input type=\"password\" name=\"mm\" id=\"mm\" /><br />"
                          "<input type=\"submit\" id=\"confirm\" value=\"授权并登录\" /></form>"),
            kUtf8Html);
    });
    // The confirmed hand-over of this browser's page, once.
    route("/qdlxx.php", [this](const httplib::Request& req, httplib::Response& res) {
        auto handover = handovers_.take(cookie_value(req, kHandoverCookie), steady_now_ms());
        auto account = handover ? store_.account_by_id(handover->first) : std::nullopt;
        if (!account) {
            send_gbk(res, "");
            return;
        }
        std::string key = store_.login(account->id, req.remote_addr);
        send_gbk(res, key + "|" + gbk_out(account->name) + "|" + std::to_string(account->id) + "|" +
                          handover->second);
    });
}

void HttpService::install_account(const Route& route) {
    // Account pages, in UTF-8.
    route("/get/cs1.php", [this](const httplib::Request& req, httplib::Response& res) {
        auto id =
            account_or_refuse(fields_of(req).query.text("pid"), res,
                              utf8_page("帐号信息", "<p>登录已失效，请重新登录。</p>"), kUtf8Html);
        auto account = id ? store_.account_by_id(*id) : std::nullopt;
        if (!account) return;
        std::string body = "<div>帐号：" + account->name + "<br />\r\n<span>VIP会员：</span>" +
                           (account->vip ? "√" : "×") + "<br />\r\n文件数：" +
                           std::to_string(store_.count_account_files(account->id)) +
                           "<br />\r\n注册日期：" + account->created + "<br /></div>";
        res.set_content(utf8_page("帐号信息", body), kUtf8Html);
    });
    route("/get/sz.php", [this](const httplib::Request& req, httplib::Response& res) {
        auto id =
            account_or_refuse(fields_of(req).query.text("pid"), res,
                              utf8_page("设置", "<p>登录已失效，请重新登录。</p>"), kUtf8Html);
        auto account = id ? store_.account_by_id(*id) : std::nullopt;
        if (!account) return;
        res.set_content(utf8_page("设置",
                                  "<form>访问密码：<input type=\"text\" name=\"fwmm\" "
                                  "id=\"fwmm\" value=\"" +
                                      account->access_password + "\" /></form>"),
                        kUtf8Html);
    });

    // Registration: "3" done, "5" account taken, "6" e-mail taken.
    route("/zc.php", [this](const httplib::Request& req, httplib::Response& res) {
        FormFields b(req.body);
        std::string name = text_trim(b.text("zh1")), password = b.text("mm1"),
                    confirm = b.text("cfmm1"), email = text_trim(b.text("zcyx"));
        if (!valid_name(name, 64) || name.find('|') != std::string::npos ||
            !valid_password(password) || password != confirm || !valid_email(email)) {
            send_gbk(res, kFail);
            return;
        }
        switch (store_.register_account(name, password, email)) {
        case RegisterResult::ok: send_gbk(res, "3"); return;
        case RegisterResult::name_taken: send_gbk(res, "5"); return;
        case RegisterResult::email_taken: send_gbk(res, "6"); return;
        }
    });
    // Recovery by question: "1" incomplete, "2" unequal, "3" no match, "5" done.
    route("/post/zh.php", [this](const httplib::Request& req, httplib::Response& res) {
        FormFields b(req.body);
        std::string name = text_trim(b.text("zh2")), password = b.text("mm2"),
                    again = b.text("czmm3"), question = b.text("wt2"), answer = b.text("dn2");
        if (name.empty() || password.empty() || again.empty() || question.empty() ||
            answer.empty()) {
            send_gbk(res, "1");
            return;
        }
        if (password != again) {
            send_gbk(res, "2");
            return;
        }
        auto gbk_password = utf8_in(password) ? std::optional(utf8_to_gbk(password)) : std::nullopt;
        if (!gbk_password || !valid_password(*gbk_password)) {
            send_gbk(res, "1");
            return;
        }
        auto account = utf8_in(name) ? store_.account_by_name(name) : std::nullopt;
        std::string key = account ? "recover:" + std::to_string(account->id) : std::string();
        if (!may_try(key, req.remote_addr)) {
            send_gbk(res, "3");
            return;
        }
        bool ok = account && !account->question.empty() && account->question == question &&
                  account->answer == answer;
        tried(key, req.remote_addr, ok);
        if (!ok) {
            send_gbk(res, "3");
            return;
        }
        store_.set_password(account->id, *gbk_password);
        send_gbk(res, "5");
    });
    // Recovery by e-mail: "1" incomplete, "2" sent, "3" no match, "5" too soon.
    route("/post/yxzh.php", [this](const httplib::Request& req, httplib::Response& res) {
        FormFields b(req.body);
        std::string name = text_trim(b.text("zh1")), email = text_trim(b.text("yx1"));
        if (name.empty() || email.empty()) {
            send_gbk(res, "1");
            return;
        }
        // Each answer tells whether a name and an address belong together, so
        // misses count like wrong passwords.
        auto account = utf8_in(name) ? store_.account_by_name(name) : std::nullopt;
        std::string key = account ? "mail:" + std::to_string(account->id) : std::string();
        if (!may_try(key, req.remote_addr)) {
            send_gbk(res, "3");
            return;
        }
        bool match = account && text_lower(account->email) == text_lower(email);
        tried(key, req.remote_addr, match);
        if (!match) {
            send_gbk(res, "3");
            return;
        }
        if (!store_.note_mail_request(account->id, static_cast<int64_t>(std::time(nullptr)),
                                      kMailWindow)) {
            send_gbk(res, "5");
            return;
        }
        send_gbk(res, "2");
    });
}

void HttpService::install_changes(const Route& route) {
    // Folder and file changes; "1" is success, "0" failure.
    route("/post/scml.php", [this](const httplib::Request& req, httplib::Response& res) {
        Fields f = fields_of(req);
        auto account = account_or_refuse(f.query.text("zh"), res, kFail);
        if (!account) return;
        auto folder = parse_id(f.query.text("pid"));
        auto confirm = f.body.get("vipjhm");
        if (!account || !folder || (confirm && parse_id(*confirm) != folder)) {
            send_gbk(res, kFail);
            return;
        }
        switch (store_.delete_folder(*account, *folder)) {
        case FolderDelete::ok: send_gbk(res, kOk); return;
        case FolderDelete::has_children: send_gbk(res, "2"); return;
        case FolderDelete::not_found: send_gbk(res, kFail); return;
        }
    });
    // Create folder: success is an answer longer than two bytes.
    route("/post/cjml.php", [this](const httplib::Request& req, httplib::Response& res) {
        Fields f = fields_of(req);
        auto account = account_or_refuse(f.query.text("zh"), res, kFail);
        if (!account) return;
        std::string name = text_trim(f.body.text("fwmm"));
        auto parent = parse_id(f.body.text("ejml"));
        std::optional<int> id;
        if (account && parent && *parent >= 0 && valid_name(name, 200))
            id = store_.create_folder(*account, *parent, name);
        send_gbk(res, id ? "ok " + std::to_string(*id) : std::string(kFail));
    });
    route("/post/sz5pc.php", [this](const httplib::Request& req, httplib::Response& res) {
        Fields f = fields_of(req);
        auto account = account_or_refuse(f.query.text("pid"), res, kFail);
        if (!account) return;
        auto folder = parse_id(f.query.text("mlid"));
        auto name = gbk_in(text_trim(f.body.text("btn2")));
        bool ok = account && folder && *folder > 0 && name && valid_name(*name, 200) &&
                  store_.rename_folder(*account, *folder, *name);
        send_gbk(res, ok ? kOk : kFail);
    });
    route("/post/sz6pc.php", [this](const httplib::Request& req, httplib::Response& res) {
        Fields f = fields_of(req);
        auto account = account_or_refuse(f.query.text("pid"), res, kFail);
        if (!account) return;
        auto file = parse_id(f.query.text("mlid"));
        auto name = gbk_in(text_trim(f.body.text("btn2")));
        bool ok = account && file && name && valid_name(*name, 200) &&
                  store_.rename_file(*account, *file, *name);
        send_gbk(res, ok ? kOk : kFail);
    });
    route("/post/cjwjpc.php", [this](const httplib::Request& req, httplib::Response& res) {
        Fields f = fields_of(req);
        auto account = account_or_refuse(f.query.text("zh"), res, kFail);
        if (!account) return;
        auto folder = parse_id(f.query.text("mlpid"));
        auto name = gbk_in(text_trim(f.body.text("wjm")));
        auto link = gbk_in(text_trim(f.body.text("wldz")));
        size_t scheme = link ? link->find("://") : std::string::npos;
        bool link_ok = link && scheme != std::string::npos && scheme > 0 &&
                       link->size() > scheme + 3 && link->size() <= 1000 &&
                       link->find_first_of("<>\" ") == std::string::npos && !has_control(*link);
        std::optional<int> id;
        if (account && folder && *folder >= 0 && name && valid_name(*name, 200) && link_ok)
            id = store_.add_link_file(*account, *folder, *name, *link);
        send_gbk(res, id ? kOk : kFail);
    });
    route("/get/plzc.php", [this](const httplib::Request& req, httplib::Response& res) {
        FormFields q(query_of(req.target));
        auto account = account_or_refuse(q.text("zh"), res, kFail);
        if (!account) return;
        auto ids = parse_id_list(q.text("pid"), kMaxIds);
        bool ok = account && ids && !ids->empty() && store_.delete_files(*account, *ids);
        send_gbk(res, ok ? kOk : kFail);
    });
    route("/get/ydxz.php", [this](const httplib::Request& req, httplib::Response& res) {
        FormFields q(query_of(req.target));
        auto account = account_or_refuse(q.text("zh"), res, kFail);
        if (!account) return;
        auto ids = parse_id_list(q.text("pid"), kMaxIds);
        auto target = parse_id(q.text("ml"));
        bool ok = account && ids && !ids->empty() && target && *target >= 0 &&
                  store_.move_files(*account, *ids, *target);
        send_gbk(res, ok ? kOk : kFail);
    });
}

void HttpService::install_registration(const Route& route) {
    // Upload registration: the marker and the id between "xxxx" and "x".
    auto registered = [](int id) {
        return "INSERT INTO `wenjian` (`id`) VALUES xxxx" + std::to_string(id) + "x";
    };
    route("/jsmc.php", [this, registered](const httplib::Request& req, httplib::Response& res) {
        Fields f = fields_of(req);
        auto account = account_or_refuse(f.query.text("bsm"), res, kFail);
        if (!account) return;
        auto folder = parse_id(f.query.text("mlid"));
        std::string md5 = text_lower(f.query.text("md5"));
        auto name = gbk_in(f.body.text("wjdl"));
        std::optional<int> id;
        if (account && folder && *folder >= 0 && name && valid_name(*name, 200) &&
            is_hex_token(md5, 32))
            id = store_.claim_file(*account, *folder, *name, md5);
        send_gbk(res, id ? registered(*id) : std::string(kFail));
    });
    route("/tjwj.php", [this, registered](const httplib::Request& req, httplib::Response& res) {
        Fields f = fields_of(req);
        auto account = account_or_refuse(f.query.text("bsm"), res, kFail);
        if (!account) return;
        auto folder = parse_id(f.query.text("mlid"));
        std::string sent_name = f.body.text("wjdl");
        auto name = gbk_in(sent_name);
        if (!folder || *folder < 0 || !name || !valid_name(*name, 200) ||
            !store_.folder_exists(*account, *folder)) {
            send_gbk(res, kFail);
            return;
        }
        // Only an upload from this address, still within its time, is taken.
        std::string remote = sent_name + ".qrvllswj";
        // Holding the name keeps an upload from writing it while it moves.
        if (!incoming_.begin(req.remote_addr, remote)) {
            send_gbk(res, kFail);
            return;
        }
        std::optional<int> id;
        try {
            if (auto path = incoming_.waiting(req.remote_addr, remote))
                id = store_.add_uploaded_file(*account, *folder, *name, *path,
                                              incoming_.digest_of(req.remote_addr, remote));
        } catch (...) {
            incoming_.end(req.remote_addr, remote);
            throw;
        }
        incoming_.forget_digest(req.remote_addr, remote);
        incoming_.end(req.remote_addr, remote);
        send_gbk(res, id ? registered(*id) : std::string(kFail));
    });
}

void HttpService::install_direct(httplib::Server& server) {
    auto handler = [this](const httplib::Request& req, httplib::Response& res) {
        FormFields q(query_of(req.target));
        auto id = parse_id(q.text("pid"));
        auto file = id ? store_.file(*id) : std::nullopt;
        auto owner = file ? store_.account_by_id(file->account) : std::nullopt;
        if (!file || !owner) {
            res.status = 404;
            res.set_content("No such file\n", "text/plain");
            return;
        }
        std::string password = gbk_out(owner->access_password);
        std::string given = q.text("szmm");
        if (!access_granted(owner->id, req.remote_addr, password, given)) {
            res.status = 403;
            res.set_content("Wrong access password\n", "text/plain");
            return;
        }
        if (file->link_only()) {
            if (file->outside.rfind("http://", 0) == 0 || file->outside.rfind("https://", 0) == 0)
                res.set_redirect(file->outside);
            else {
                res.status = 404;
                res.set_content("No stored content\n", "text/plain");
            }
            return;
        }
        int file_id = file->id;
        serve_file(req, res, store_.content_path(*file).value_or("").string(), file->size,
                   file->md5, false, 0, stopping_,
                   [this, file_id] { store_.count_download(file_id); });
    };
    server.Get("/yunxz1.php", handler);
}

void HttpService::install_files(httplib::Server& server, bool throttle) {
    server.Get(R"(/up/(.+))",
               [this, throttle](const httplib::Request& req, httplib::Response& res) {
                   auto file = store_.file_by_link(req.matches[1].str());
                   if (!file || file->link_only()) {
                       res.status = 404;
                       res.set_content("No such file\n", "text/plain");
                       return;
                   }
                   int file_id = file->id;
                   serve_file(req, res, store_.content_path(*file).value_or("").string(),
                              file->size, file->md5, throttle, settings_.throttle_bytes_per_s,
                              stopping_, [this, file_id] { store_.count_download(file_id); });
               });
}

}  // namespace qorvel::service
