// GETs sent together: each answer in its place, every failure its own, and
// the connections kept for the next call.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "net/text.h"
#include "net/web.h"
#include "support/process.h"
#include "support/recording_server.h"

namespace qorvel {
namespace {

using test::RecordedRequest;
using test::RecordingServer;
using Clock = std::chrono::steady_clock;

bool has_line(const RecordedRequest& r, const std::string& line) {
    for (const auto& l : text_split(r.head, "\r\n"))
        if (l == line) return true;
    return false;
}

// Waits (bounded) until the server has seen n requests.
bool seen(const RecordingServer& server, size_t n) {
    for (int i = 0; i < 400 && server.requests().size() < n; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return server.requests().size() >= n;
}

TEST(WebTogether, AnswersInTheOrderAskedOnConnectionsKeptForTheNextCall) {
    RecordingServer* self = nullptr;
    RecordingServer server(
        [&](const RecordedRequest& r) {
            // The first answer waits until all three were asked: sent one
            // after another, the others would never come.
            if (r.target() == "/first") seen(*self, 3);
            return RecordingServer::kept_answer(200, "page " + r.target().substr(1));
        },
        "127.0.0.21", true);
    self = &server;
    std::string base = "http://" + server.address();
    WebSession session;
    WebCookie cookie;
    cookie.domain = "127.0.0.21";
    cookie.name = "PHPSESSID";
    cookie.value = "kept";
    session.set_cookie(cookie);
    int pumped = 0;
    session.set_ui_pump([&] { ++pumped; }, std::this_thread::get_id());

    auto start = Clock::now();
    auto replies = session.get_together({base + "/first", base + "/second", base + "/third#x"});
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0].body, "page first");
    EXPECT_EQ(replies[1].body, "page second");
    EXPECT_EQ(replies[2].body, "page third");
    for (const WebReply& r : replies) EXPECT_TRUE(r.answered);
    EXPECT_GT(pumped, 0);
    EXPECT_EQ(server.connections(), 3);
    // The bytes of a plain GET, and the one header that keeps the connection.
    for (const RecordedRequest& r : server.requests()) {
        EXPECT_EQ(r.head.substr(0, r.head.find("\r\n")), "GET " + r.target() + " HTTP/1.0");
        EXPECT_TRUE(has_line(r, "Accept: */*"));
        EXPECT_TRUE(has_line(r, "Connection: Keep-Alive"));
        EXPECT_TRUE(has_line(r, "Cookie: PHPSESSID=kept"));
        EXPECT_TRUE(has_line(r, "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)"));
    }

    // Later calls, from two threads at once too, ride the same connections
    // as far as they are free; none runs the window thread's pump.
    replies = session.get_together({base + "/a", base + "/b"});
    EXPECT_EQ(replies[1].body, "page b");
    EXPECT_EQ(server.connections(), 3);
    pumped = 0;
    std::vector<WebReply> left, right;
    std::thread one([&] { left = session.get_together({base + "/l1", base + "/l2"}); });
    std::thread two([&] { right = session.get_together({base + "/r1"}); });
    one.join();
    two.join();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[1].body, "page l2");
    ASSERT_EQ(right.size(), 1u);
    EXPECT_EQ(right[0].body, "page r1");
    EXPECT_EQ(pumped, 0);
    EXPECT_LE(server.connections(), 6);
    EXPECT_TRUE(session.get_together({}).empty());
}

TEST(WebTogether, EachFailureStaysWithItsOwnRequest) {
    RecordingServer server(
        [](const RecordedRequest& r) {
            if (r.target() == "/gone") return std::string();  // closes without an answer
            if (r.target() == "/broken") return RecordingServer::kept_answer(500, "oops");
            if (r.target() == "/missing") return RecordingServer::kept_answer(404, "not here");
            return RecordingServer::kept_answer(200, "fine");
        },
        "127.0.0.22", true);
    std::string base = "http://" + server.address();
    std::string dead = "http://127.0.0.1:" + std::to_string(test::free_port()) + "/x";
    WebSession session;
    auto replies = session.get_together({base + "/gone", base + "/ok", dead, base + "/broken",
                                         base + "/bad\r\nX-Evil: 1", "ftp://" + server.address(),
                                         base + "/missing"});
    ASSERT_EQ(replies.size(), 7u);
    EXPECT_FALSE(replies[0].answered);
    EXPECT_EQ(replies[0].body, "");
    EXPECT_TRUE(replies[1].answered);
    EXPECT_EQ(replies[1].body, "fine");
    EXPECT_FALSE(replies[2].answered);
    EXPECT_FALSE(replies[3].answered);
    EXPECT_EQ(replies[3].body, "oops");
    EXPECT_FALSE(replies[4].answered);
    EXPECT_FALSE(replies[5].answered);
    EXPECT_TRUE(replies[6].answered);  // an error page below 500 is a verdict
    EXPECT_EQ(replies[6].body, "not here");
    // Nothing with a control byte, nothing of another scheme went out.
    EXPECT_EQ(server.requests().size(), 4u);
    for (const RecordedRequest& r : server.requests())
        EXPECT_EQ(r.head.find("X-Evil"), std::string::npos);
}

TEST(WebTogether, RedirectsAreFollowedPerRequestWithinTheBound) {
    RecordingServer other(
        [](const RecordedRequest&) { return RecordingServer::answer(200, "far"); }, "127.0.0.24");
    RecordingServer server(
        [&](const RecordedRequest& r) {
            if (r.target() == "/old")
                return RecordingServer::kept_answer(302, "", "Location: /new\r\n");
            if (r.target() == "/loop")
                return RecordingServer::kept_answer(302, "", "Location: /loop\r\n");
            if (r.target() == "/away")
                return RecordingServer::kept_answer(
                    301, "", "Location: http://" + other.address() + "/p?q\r\n");
            return RecordingServer::kept_answer(200, "at " + r.target());
        },
        "127.0.0.23", true);
    std::string base = "http://" + server.address();
    WebSession session;
    auto replies =
        session.get_together({base + "/loop", base + "/old", base + "/plain", base + "/away"});
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[0].body, "");
    EXPECT_FALSE(replies[0].answered);
    EXPECT_EQ(replies[1].body, "at /new");
    EXPECT_TRUE(replies[1].answered);
    EXPECT_EQ(replies[2].body, "at /plain");
    EXPECT_EQ(replies[3].body, "far");
    int loops = 0;
    for (const RecordedRequest& r : server.requests()) loops += r.target() == "/loop";
    EXPECT_EQ(loops, 11);  // the first ask and ten redirects
    ASSERT_EQ(other.requests().size(), 1u);
    EXPECT_EQ(other.requests()[0].target(), "/p?q");
}

TEST(WebTogether, ASilentHostEndsAtItsTimeOutWhileTheOthersAnswer) {
    RecordingServer server(
        [](const RecordedRequest& r) {
            if (r.target() == "/silent")
                std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            return RecordingServer::kept_answer(200, "quick");
        },
        "127.0.0.25", true);
    std::string base = "http://" + server.address();
    WebSession session;
    WebTimeouts t;
    t.total_ms = 400;
    session.set_timeouts(t);
    auto start = Clock::now();
    auto replies = session.get_together({base + "/silent", base + "/a", base + "/b"});
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1400));
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_FALSE(replies[0].answered);
    EXPECT_EQ(replies[0].body, "");
    EXPECT_TRUE(replies[1].answered);
    EXPECT_EQ(replies[2].body, "quick");
}

TEST(WebTogether, EachReplyIsHandedOverOnceItAndThoseBeforeItAreInAndTheRestCanBeDropped) {
    std::atomic<bool> release{false};
    RecordingServer server(
        [&](const RecordedRequest& r) {
            if (r.target() == "/late") std::this_thread::sleep_for(std::chrono::milliseconds(300));
            // Silent until the test ends, far past any wait of the test.
            for (int i = 0; r.target() == "/hang" && !release && i < 200; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return RecordingServer::kept_answer(200, r.target());
        },
        "127.0.0.26", true);
    std::string base = "http://" + server.address();
    WebSession session;
    std::vector<std::pair<size_t, Clock::duration>> handed;
    auto start = Clock::now();
    session.get_in_order({base + "/early", base + "/late", base + "/hang", base + "/never"},
                         [&](size_t i, WebReply& reply) {
                             handed.emplace_back(i, Clock::now() - start);
                             EXPECT_TRUE(reply.answered);
                             return reply.body != "/late";
                         });
    auto took = Clock::now() - start;
    release = true;
    ASSERT_EQ(handed.size(), 2u);
    EXPECT_EQ(handed[0].first, 0u);
    EXPECT_LT(handed[0].second, std::chrono::milliseconds(250));  // not held for /late
    EXPECT_EQ(handed[1].first, 1u);
    EXPECT_GE(handed[1].second, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::milliseconds(2000));  // /hang was dropped, not waited for
}

}  // namespace
}  // namespace qorvel
