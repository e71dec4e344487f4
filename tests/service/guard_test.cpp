// The pure parts of the service's defences: the request reader's limits and
// de-chunking, the failure counter and the web-login hand-overs.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include <filesystem>

#include "ftp_server.h"
#include "guard.h"
#include "handover.h"
#include "request_reader.h"
#include "support/process.h"

namespace qorvel::service {
namespace {

using State = RequestReader::State;

RequestLimits small_limits() {
    RequestLimits l;
    l.max_head_bytes = 2048;
    l.max_head_lines = 10;
    l.max_body_bytes = 1000;
    return l;
}

// Feeds the bytes one at a time, as the slowest client would send them.
State feed_bytewise(RequestReader& r, const std::string& bytes, std::string& rest) {
    State s = State::reading;
    for (char c : bytes) {
        rest += c;
        s = r.take(rest);
        if (s != State::reading) break;
    }
    return s;
}

TEST(RequestReader, HeadsOverTheirLimitsAreRefusedBeforeTheyEnd) {
    {  // many short lines: refused on the eleventh header, the head never ending
        RequestReader r(small_limits());
        std::string in = "GET / HTTP/1.1\r\n";
        for (int i = 0; i < 11; ++i) in += "X-" + std::to_string(i) + ": a\r\n";
        EXPECT_EQ(r.take(in), State::failed);
        EXPECT_EQ(r.error_status(), 431);
    }
    {  // few long lines
        RequestReader r(small_limits());
        std::string in = "GET / HTTP/1.1\r\nX-A: " + std::string(1500, 'a') +
                         "\r\nX-B: " + std::string(1500, 'b');
        EXPECT_EQ(r.take(in), State::failed);
        EXPECT_EQ(r.error_status(), 431);
    }
    {  // a declared body over the limit: refused as soon as the head is in
        RequestReader r(small_limits());
        std::string in = "POST /x HTTP/1.1\r\nContent-Length: 1001\r\n\r\n";
        EXPECT_EQ(r.take(in), State::failed);
        EXPECT_EQ(r.error_status(), 413);
    }
    for (const char* bad :
         {"POST /x HTTP/1.1\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n",
          "POST /x HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\n",
          "GET / HTTP/1.1\r\nX-A: 1\r\n folded\r\n\r\n", "GET /\r\n\r\n"}) {
        RequestReader r(small_limits());
        std::string in = bad;
        EXPECT_EQ(r.take(in), State::failed) << bad;
        EXPECT_EQ(r.error_status(), 400) << bad;
    }
    RequestReader gzip(small_limits());
    std::string in = "POST /x HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n";
    EXPECT_EQ(gzip.take(in), State::failed);
    EXPECT_EQ(gzip.error_status(), 501);
}

TEST(RequestReader, ChunkedBodiesComeOutPlainAndHeldToTheLimit) {
    const std::string chunked =
        "POST /csx.php HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n"
        "Expect: 100-continue\r\n\r\n"
        "5;ext=1\r\nzh=de\r\n8\r\nmo&mm=de\r\n5\r\nmo123\r\n0\r\nX-Trailer: t\r\n\r\n";
    const std::string next = "GET /ge.txt HTTP/1.1\r\n\r\n";
    for (bool bytewise : {false, true}) {
        RequestReader r(small_limits());
        std::string rest;
        State s;
        if (bytewise) {
            s = feed_bytewise(r, chunked, rest);
            rest += next;
        } else {
            rest = chunked + next;
            s = r.take(rest);
        }
        ASSERT_EQ(s, State::complete);
        EXPECT_EQ(
            r.request(),
            "POST /csx.php HTTP/1.1\r\nHost: x\r\nContent-Length: 18\r\n\r\nzh=demo&mm=demo123");
        EXPECT_EQ(rest, next);  // the pipelined request waits for its turn
    }
    {  // the client waits for the go-ahead before it sends a body
        RequestReader r(small_limits());
        std::string in = chunked.substr(0, chunked.find("\r\n\r\n") + 4);
        EXPECT_EQ(r.take(in), State::reading);
        EXPECT_TRUE(r.wants_continue());
    }
    {  // a chunk that would pass the limit is refused before its data arrives
        RequestReader r(small_limits());
        std::string in = "POST /x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n200\r\n" +
                         std::string(0x200, 'a') + "\r\n300\r\n";
        EXPECT_EQ(r.take(in), State::failed);
        EXPECT_EQ(r.error_status(), 413);
    }
    {  // endless trailers count against the head's size
        RequestReader r(small_limits());
        std::string in = "POST /x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n";
        for (int i = 0; i < 200; ++i) in += "X-T: " + std::to_string(i) + "\r\n";
        EXPECT_EQ(r.take(in), State::failed);
        EXPECT_EQ(r.error_status(), 431);
    }
    {  // HTTP/1.0 closes unless asked to keep alive; a plain body passes whole
        RequestReader r(small_limits());
        std::string in = "POST /x HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc";
        ASSERT_EQ(r.take(in), State::complete);
        EXPECT_TRUE(r.close_after());
        EXPECT_EQ(r.request(), "POST /x HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc");
    }
}

TEST(FailureLimiter, RepeatedFailuresWaitLongerUntilForgotten) {
    GuardSettings g;
    g.failures_free = 3;
    g.failure_window_s = 100;
    g.max_delay_s = 5;
    FailureLimiter limiter(g);
    int64_t t = 1'000'000;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(limiter.wait_ms("a", t), 0);
        limiter.failed("a", t);
    }
    EXPECT_EQ(limiter.wait_ms("a", t), 1000);
    EXPECT_EQ(limiter.wait_ms("b", t), 0);  // another account or address is not touched
    limiter.failed("a", t + 1000);
    EXPECT_EQ(limiter.wait_ms("a", t + 1000), 2000);
    for (int i = 0; i < 10; ++i) limiter.failed("a", t + 2000);
    EXPECT_EQ(limiter.wait_ms("a", t + 2000), 5000);  // capped
    EXPECT_EQ(limiter.wait_ms("a", t + 7000), 0);
    EXPECT_EQ(limiter.wait_ms("a", t + 2000 + 100'001), 0);  // forgotten after the window
    limiter.failed("a", t + 200'000);
    EXPECT_EQ(limiter.wait_ms("a", t + 200'000), 0);  // counting starts again
    limiter.succeeded("a");
    EXPECT_EQ(limiter.wait_ms("a", t + 200'000), 0);
}

TEST(Handovers, OnlyTheIssuedPairConfirmsAndTheHandOverIsGivenOnce) {
    Handovers h(600, 60);
    int64_t t = 5'000'000;
    auto victim = h.open_page(t);
    auto attacker = h.open_page(t);
    EXPECT_NE(victim.token, attacker.token);
    // A token planted in the victim's browser does not pair with the victim's page.
    EXPECT_FALSE(h.confirm(attacker.token, victim.form_key, 1, "pw", t));
    EXPECT_FALSE(h.confirm("0123456789abcdef0123456789abcdef", victim.form_key, 1, "pw", t));
    EXPECT_FALSE(h.take(attacker.token, t));
    ASSERT_TRUE(h.confirm(victim.token, victim.form_key, 7, "密码pw", t));
    EXPECT_FALSE(h.confirm(victim.token, victim.form_key, 8, "other", t));  // once
    EXPECT_FALSE(h.take(attacker.token, t));
    auto got = h.take(victim.token, t + 1000);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->first, 7);
    EXPECT_EQ(got->second, "密码pw");
    EXPECT_FALSE(h.take(victim.token, t + 1000));

    // Confirmed but not collected within a minute: gone.
    auto late = h.open_page(t);
    ASSERT_TRUE(h.confirm(late.token, late.form_key, 7, "pw", t));
    EXPECT_FALSE(h.take(late.token, t + 60'001));
    // A page left open too long cannot be confirmed.
    auto stale = h.open_page(t);
    EXPECT_FALSE(h.confirm(stale.token, stale.form_key, 7, "pw", t + 600'001));
}

TEST(Handovers, PagesAskedForInALoopStayBounded) {
    Handovers h(600, 60, 50);
    auto first = h.open_page(1000);
    for (int i = 0; i < 200; ++i) h.open_page(1000 + i);
    EXPECT_LE(h.size(), 50u);
    EXPECT_FALSE(h.page_open(first.token, first.form_key, 2000));  // the oldest went first
}

TEST(Incoming, UploadsAreKeptPerAddressAndSweptAfterTheirTime) {
    test::TempDir dir("qorvel-incoming");
    Incoming in(dir.path(), 60);
    auto mine = in.path_for("127.0.0.5", "a.bin.qrvllswj");
    EXPECT_NE(mine, in.path_for("127.0.0.6", "a.bin.qrvllswj"));
    test::write_file(mine, "bytes");
    EXPECT_TRUE(in.waiting("127.0.0.5", "a.bin.qrvllswj"));
    EXPECT_FALSE(in.waiting("127.0.0.6", "a.bin.qrvllswj"));

    auto old = in.path_for("127.0.0.5", "old.bin.qrvllswj");
    test::write_file(old, "old");
    std::filesystem::last_write_time(
        old, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(5));
    EXPECT_FALSE(in.waiting("127.0.0.5", "old.bin.qrvllswj"));
    ASSERT_TRUE(in.begin("127.0.0.5", "old.bin.qrvllswj"));
    EXPECT_EQ(in.sweep(), 0);  // not while it is being written
    in.end("127.0.0.5", "old.bin.qrvllswj");
    EXPECT_EQ(in.sweep(), 1);
    EXPECT_FALSE(std::filesystem::exists(old));
    EXPECT_TRUE(std::filesystem::exists(mine));
}

TEST(Incoming, ADigestTakenOnArrivalHoldsOnlyForTheFileAsItWasWritten) {
    test::TempDir dir("qorvel-incoming");
    Incoming in(dir.path(), 60);
    auto path = in.path_for("127.0.0.5", "d.bin.qrvllswj");
    auto note = [&] {
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        in.note_digest("127.0.0.5", "d.bin.qrvllswj", BlobInfo{md5_hex("12345"), 5}, st);
    };
    test::write_file(path, "12345");
    note();
    ASSERT_TRUE(in.digest_of("127.0.0.5", "d.bin.qrvllswj"));
    EXPECT_EQ(in.digest_of("127.0.0.5", "d.bin.qrvllswj")->md5, md5_hex("12345"));
    EXPECT_FALSE(in.digest_of("127.0.0.6", "d.bin.qrvllswj")) << "another address's upload";

    std::ofstream(path, std::ios::app) << "6";
    EXPECT_FALSE(in.digest_of("127.0.0.5", "d.bin.qrvllswj")) << "grown since";

    test::write_file(path, "12345");
    note();
    // Replaced by another file of the same size: another inode.
    auto other = dir.path() / "other";
    test::write_file(other, "abcde");
    std::filesystem::rename(other, path);
    EXPECT_FALSE(in.digest_of("127.0.0.5", "d.bin.qrvllswj")) << "replaced since";

    note();
    in.forget_digest("127.0.0.5", "d.bin.qrvllswj");
    EXPECT_FALSE(in.digest_of("127.0.0.5", "d.bin.qrvllswj"));
}

TEST(Incoming, WaitingBytesOfOneAddressAreCountedAcrossNamesUntilTheyGo) {
    test::TempDir dir("qorvel-incoming");
    Incoming in(dir.path(), 60, 100);
    EXPECT_TRUE(in.reserve("127.0.0.5", "a", 60));
    EXPECT_FALSE(in.reserve("127.0.0.5", "b", 41));
    EXPECT_TRUE(in.reserve("127.0.0.5", "b", 40));
    EXPECT_FALSE(in.reserve("127.0.0.5", "c", 0, true)) << "no byte of room left";
    EXPECT_TRUE(in.reserve("127.0.0.6", "a", 100)) << "another address";
    EXPECT_TRUE(in.reserve("127.0.0.5", "a", 50)) << "an upload may shrink";
    // Ended uploads count at the size they were left with: "a" was never written.
    ASSERT_TRUE(in.begin("127.0.0.5", "a"));
    in.end("127.0.0.5", "a");
    EXPECT_TRUE(in.reserve("127.0.0.5", "c", 60));
    // A swept upload counts no more.
    auto old = in.path_for("127.0.0.6", "a");
    test::write_file(old, std::string(100, 'x'));
    std::filesystem::last_write_time(
        old, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(5));
    EXPECT_FALSE(in.reserve("127.0.0.6", "b", 1));
    EXPECT_EQ(in.sweep(), 1);
    EXPECT_TRUE(in.reserve("127.0.0.6", "b", 100));
}

}  // namespace
}  // namespace qorvel::service
