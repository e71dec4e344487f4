#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "net/charset.h"
#include "net/text.h"
#include "net/web.h"
#include "support/process.h"
#include "support/recording_server.h"

namespace qorvel {
namespace {

using test::RecordedRequest;
using test::RecordingServer;

std::string ok_body(const std::string& body) {
    return RecordingServer::answer(200, body);
}

// The request's header lines other than those libcurl adds on its own.
std::vector<std::string> header_lines(const RecordedRequest& r) {
    std::vector<std::string> lines = text_split(r.head, "\r\n");
    return lines;
}

bool has_line(const RecordedRequest& r, const std::string& line) {
    for (const auto& l : header_lines(r))
        if (l == line) return true;
    return false;
}

int count_prefix(const RecordedRequest& r, const std::string& prefix) {
    int n = 0;
    for (const auto& l : header_lines(r))
        if (text_find(l, prefix, 1, true) == 1) ++n;
    return n;
}

TEST(WebRequest, CompletesHeadersAndSendsTheFormAsWritten) {
    RecordingServer server([](const RecordedRequest&) { return ok_body("1"); });
    std::string url = "http://" + server.address() + "/post/cjml.php?zh=K1";
    std::string headers;
    std::string body = "mc=" + GBK("新建") + "&id=0";
    std::string answer = web_request(url, "POST", "", &headers, body);
    EXPECT_EQ(answer, "1");
    ASSERT_EQ(server.requests().size(), 1u);
    RecordedRequest r = server.requests()[0];
    EXPECT_EQ(header_lines(r)[0], "POST /post/cjml.php?zh=K1 HTTP/1.1");
    EXPECT_TRUE(has_line(r, "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)"));
    EXPECT_TRUE(has_line(r,
                         "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
                         "application/x-shockwave-flash, application/vnd.ms-excel, "
                         "application/vnd.ms-powerpoint, application/msword, */*"));
    EXPECT_TRUE(has_line(r, "Referer: " + url));
    EXPECT_TRUE(has_line(r, "Accept-Language: zh-cn"));
    EXPECT_TRUE(has_line(r, "Content-Type: application/x-www-form-urlencoded"));
    EXPECT_TRUE(has_line(r, "Content-Length: " + std::to_string(body.size())));
    EXPECT_EQ(count_prefix(r, "Content-Length:"), 1);
    EXPECT_EQ(count_prefix(r, "Accept:"), 1);
    EXPECT_EQ(r.body, body);
    // The caller's header text is completed in place.
    EXPECT_NE(text_find(headers, "Referer: " + url + "\r\n"), -1);
}

TEST(WebRequest, KeepsCallerHeadersAndVerbSpelling) {
    RecordingServer server([](const RecordedRequest&) { return ok_body("ok"); });
    std::string url = "http://" + server.address() + "/x";
    std::string headers = "accept: text/html\r\ncontent-type: text/plain\r\n";
    web_request(url, "post", "", &headers, "abc");
    // An empty POST body sends neither Content-Type nor Content-Length.
    web_request(url, "POST", "", nullptr, "");
    // An empty method is a GET.
    web_request(url);
    auto rs = server.requests();
    ASSERT_EQ(rs.size(), 3u);
    EXPECT_EQ(header_lines(rs[0])[0], "post /x HTTP/1.1");
    EXPECT_EQ(count_prefix(rs[0], "Accept:"), 1);
    EXPECT_TRUE(has_line(rs[0], "accept: text/html"));
    EXPECT_EQ(count_prefix(rs[0], "Content-Type:"), 1);
    EXPECT_EQ(rs[0].body, "abc");
    EXPECT_EQ(header_lines(rs[1])[0], "POST /x HTTP/1.1");
    EXPECT_EQ(count_prefix(rs[1], "Content-Type:"), 0);
    EXPECT_EQ(count_prefix(rs[1], "Content-Length:"), 0);
    EXPECT_EQ(header_lines(rs[2])[0], "GET /x HTTP/1.1");
}

TEST(WebRequest, UnknownVerbAndBadAddressFailAsZeroBytes) {
    RecordingServer server([](const RecordedRequest&) { return ok_body("x"); });
    std::string zeros(255, '\0');
    EXPECT_EQ(web_request("http://" + server.address() + "/x", "PUT"), zeros);
    EXPECT_EQ(web_request_text("http://" + server.address() + "/x", "DELETE"), "");
    EXPECT_EQ(web_request("http:///nohost", "POST", "", nullptr, "a=1"), zeros);
    EXPECT_TRUE(server.requests().empty());
}

TEST(WebRequest, ErrorStatusBodiesAreAnswers) {
    RecordingServer server(
        [](const RecordedRequest&) { return RecordingServer::answer(404, "not here"); });
    EXPECT_EQ(web_request_text("http://" + server.address() + "/x", "POST", "", nullptr, "a=1"),
              "not here");
    EXPECT_EQ(web_get("http://" + server.address() + "/x"), "not here");
}

TEST(WebRequest, ReturnsTheWholeAnswerHeaderBlock) {
    std::string pad(3000, 'p');
    RecordingServer server([&](const RecordedRequest&) {
        return RecordingServer::answer(200, "b", "X-Pad: " + pad + "\r\n");
    });
    std::string answer_headers;
    web_request("http://" + server.address() + "/x", "POST", "", nullptr, "a=1", &answer_headers);
    EXPECT_EQ(text_find(answer_headers, "HTTP/1.1 200"), 1);
    EXPECT_NE(text_find(answer_headers, "X-Pad: " + pad + "\r\n"), -1);
}

TEST(WebCookies, CapturedByEitherRoutineAndSentByBoth) {
    // Its own loopback address, so no other test's server sees these cookies.
    std::string pad(2000, 'h');  // a header block far over 1,024 bytes
    RecordingServer server(
        [&](const RecordedRequest& r) {
            if (r.target() == "/login")
                return RecordingServer::answer(200, "1",
                                               "X-Pad: " + pad +
                                                   "\r\nSet-Cookie: sid=abc; path=/\r\n"
                                                   "Set-Cookie: a=b=c; path=/\r\n");
            return ok_body("page");
        },
        "127.0.0.5");
    std::string base = "http://" + server.address();
    web_request(base + "/login", "POST", "", nullptr, "u=1");
    web_get(base + "/list");
    web_request(base + "/form", "POST", "", nullptr, "x=1");
    auto rs = server.requests();
    ASSERT_EQ(rs.size(), 3u);
    for (int i : {1, 2}) {
        std::string cookie_line;
        for (const auto& l : header_lines(rs[static_cast<size_t>(i)]))
            if (text_find(l, "Cookie: ", 1, true) == 1) cookie_line = l;
        EXPECT_NE(text_find(cookie_line, "sid=abc"), -1) << cookie_line;
        EXPECT_NE(text_find(cookie_line, "a=b=c"), -1) << cookie_line;
    }
    bool listed = false;
    for (const WebCookie& c : WebSession::process().cookies())
        if (c.domain == "127.0.0.5" && c.name == "a" && c.value == "b=c") listed = true;
    EXPECT_TRUE(listed);
}

TEST(WebCookies, InjectedCookieGoesWithTheNextRequest) {
    RecordingServer server([](const RecordedRequest&) { return ok_body("x"); }, "127.0.0.6");
    WebCookie c;
    c.domain = "127.0.0.6";
    c.name = "PHPSESSID";
    c.value = "web-view-session";
    WebSession::process().set_cookie(c);
    web_get("http://" + server.address() + "/qdlxx.php");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_TRUE(has_line(server.requests()[0], "Cookie: PHPSESSID=web-view-session"));
}

TEST(WebGet, PlainHttp10RequestWithBytesAsWritten) {
    RecordingServer server([](const RecordedRequest&) { return ok_body(GBK("目录")); });
    std::string path = "/mljg/mljg.php?pid=7&mc=" + GBK("文件") + "%26";
    std::string answer = web_get("http://" + server.address() + path + "#frag");
    EXPECT_EQ(answer, GBK("目录"));
    ASSERT_EQ(server.requests().size(), 1u);
    RecordedRequest r = server.requests()[0];
    EXPECT_EQ(header_lines(r)[0], "GET " + path + " HTTP/1.0");
    EXPECT_TRUE(has_line(r, "Accept: */*"));
    EXPECT_TRUE(has_line(r, "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)"));
}

TEST(WebGet, FollowsRedirectsWithinABound) {
    RecordingServer server([](const RecordedRequest& r) {
        if (r.target() == "/old") return RecordingServer::answer(302, "", "Location: /new\r\n");
        if (r.target() == "/loop") return RecordingServer::answer(302, "", "Location: /loop\r\n");
        return ok_body("new page");
    });
    EXPECT_EQ(web_get("http://" + server.address() + "/old"), "new page");
    EXPECT_EQ(web_get("http://" + server.address() + "/loop"), "");
    EXPECT_LE(server.requests().size(), 2u + 11u);
}

TEST(WebFailures, UnreachableAndSilentHostsEndInBoundedTime) {
    int dead_port = test::free_port();
    std::string dead = "http://127.0.0.1:" + std::to_string(dead_port) + "/x";
    EXPECT_EQ(web_request_text(dead, "POST", "", nullptr, "a=1"), "");
    EXPECT_EQ(web_get(dead), "");
    EXPECT_FALSE(check_internet_connection(dead));

    WebSession session;
    WebTimeouts t;
    t.total_ms = 400;
    session.set_timeouts(t);
    RecordingServer slow([](const RecordedRequest&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        return ok_body("late");
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(bytes_to_text(
                  session.request("http://" + slow.address() + "/x", "POST", "", nullptr, "a=1")),
              "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1400));
    EXPECT_TRUE(check_internet_connection("http://" + slow.address() + "/"));
}

TEST(WebResponsiveness, TheWindowThreadKeepsPumpingWhileARequestRuns) {
    WebSession session;
    RecordingServer slow([](const RecordedRequest&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return ok_body("done");
    });
    int pumped = 0;
    session.set_ui_pump([&] { ++pumped; }, std::this_thread::get_id());
    EXPECT_EQ(session.get("http://" + slow.address() + "/x"), "done");
    EXPECT_GT(pumped, 5);
    // Another thread is not the window thread: it never runs the pump.
    int before = pumped;
    std::thread([&] {
        session.request("http://" + slow.address() + "/y", "POST", "", nullptr, "a");
    }).join();
    EXPECT_EQ(pumped, before);
}

// Control bytes never reach the wire: not in the address, not in a header
// line, not in the redirect's target.
TEST(WebHardening, ControlBytesInAddressesAndHeadersAreRefused) {
    RecordingServer server([](const RecordedRequest&) { return ok_body("x"); });
    std::string base = "http://" + server.address();
    std::string zeros(255, '\0');
    for (const std::string& bad :
         {base + "/a\nDELE victim", base + "/a\r\nX-Evil: 1", base + "/a\tb", base + "/a\x7f",
          "http://127.0.0.1\n:" + std::to_string(server.port()) + "/"}) {
        EXPECT_EQ(web_request(bad, "POST", "", nullptr, "a=1"), zeros);
        EXPECT_EQ(web_get(bad), "");
    }
    std::string headers = "X-Note: one\ntwo\r\n";
    EXPECT_EQ(web_request(base + "/ok", "POST", "", &headers, "a=1"), zeros);
    EXPECT_TRUE(server.requests().empty());
    // A tab inside a caller's header line is ordinary.
    std::string tabbed = "X-Note: a\tb\r\n";
    EXPECT_EQ(web_request_text(base + "/ok", "POST", "", &tabbed, "a=1"), "x");
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST(WebHardening, BadPortsFailWithoutAConnection) {
    RecordingServer server([](const RecordedRequest&) { return ok_body("x"); });
    std::string zeros(255, '\0');
    // 0x50 was once read as 80, and 1e10 was undefined behaviour.
    for (const char* port : {"0x50", "1e10", "nan", "65536", "0"})
        EXPECT_EQ(
            web_request(std::string("http://127.0.0.1:") + port + "/x", "POST", "", nullptr, "a=1"),
            zeros)
            << port;
    EXPECT_TRUE(server.requests().empty());
}

// A redirect to another host gets neither the Referer (its query carries the
// session key) nor, on 307/308, the form body with the password.
TEST(WebHardening, RedirectsToAnotherHostCarryNoKeyAndNoForm) {
    RecordingServer other([](const RecordedRequest&) { return ok_body("elsewhere"); }, "127.0.0.8");
    RecordingServer home(
        [&](const RecordedRequest& r) {
            std::string to = "http://" + other.address();
            if (r.target().rfind("/found", 0) == 0)
                return RecordingServer::answer(302, "", "Location: " + to + "/p\r\n");
            if (r.target().rfind("/keep", 0) == 0)
                return RecordingServer::answer(307, "", "Location: " + to + "/p\r\n");
            if (r.target().rfind("/same", 0) == 0)
                return RecordingServer::answer(307, "", "Location: /landed\r\n");
            return ok_body("home " + r.body);
        },
        "127.0.0.7");
    std::string base = "http://" + home.address();
    EXPECT_EQ(web_request_text(base + "/found?zh=SECRETKEY", "POST", "", nullptr, "mm=pass"),
              "elsewhere");
    ASSERT_EQ(other.requests().size(), 1u);
    RecordedRequest moved = other.requests()[0];
    EXPECT_EQ(header_lines(moved)[0], "GET /p HTTP/1.1");
    EXPECT_EQ(moved.head.find("SECRETKEY"), std::string::npos) << moved.head;
    EXPECT_EQ(count_prefix(moved, "Referer:"), 0);
    EXPECT_TRUE(moved.body.empty());

    // 307 keeps method and body, so across hosts it is not followed at all.
    EXPECT_EQ(web_request_text(base + "/keep?zh=SECRETKEY", "POST", "", nullptr, "mm=pass"), "");
    EXPECT_EQ(other.requests().size(), 1u);

    // Within the same host a 307 resends the form, Referer and all.
    EXPECT_EQ(web_request_text(base + "/same?zh=K", "POST", "", nullptr, "mm=pass"),
              "home mm=pass");
    RecordedRequest landed = home.requests().back();
    EXPECT_EQ(header_lines(landed)[0], "POST /landed HTTP/1.1");
    EXPECT_EQ(count_prefix(landed, "Referer:"), 1);
}

// Both routines connect directly, whatever the environment names as a proxy.
TEST(WebHardening, ProxyVariablesOfTheEnvironmentAreIgnored) {
    RecordingServer proxy([](const RecordedRequest&) { return ok_body("via proxy"); }, "127.0.0.9");
    RecordingServer target([](const RecordedRequest&) { return ok_body("direct"); });
    std::string proxy_url = "http://" + proxy.address();
    const char* names[] = {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"};
    for (const char* n : names) setenv(n, proxy_url.c_str(), 1);
    std::string saved_no_proxy = getenv("no_proxy") ? getenv("no_proxy") : "";
    unsetenv("no_proxy");
    unsetenv("NO_PROXY");
    std::string url = "http://" + target.address() + "/x";
    std::string got = web_get(url);
    std::string posted = web_request_text(url, "POST", "", nullptr, "a=1");
    for (const char* n : names) unsetenv(n);
    if (!saved_no_proxy.empty()) setenv("no_proxy", saved_no_proxy.c_str(), 1);
    EXPECT_EQ(got, "direct");
    EXPECT_EQ(posted, "direct");
    EXPECT_TRUE(proxy.requests().empty());
    EXPECT_EQ(target.requests().size(), 2u);
}

}  // namespace
}  // namespace qorvel
