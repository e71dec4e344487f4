// What servers send, read by the pure parsers: the cases a loopback peer
// cannot easily show one at a time.
#include <string>

#include <gtest/gtest.h>

#include "transfer/engine/ftp_reply.h"
#include "transfer/engine/http_answer.h"

namespace qorvel::engine {
namespace {

TEST(AnswerParsers, ContentRangeMustDescribeARealRange) {
    std::int64_t start = -1, total = -1;
    EXPECT_TRUE(parse_content_range("bytes 100-299/300", start, total));
    EXPECT_EQ(start, 100);
    EXPECT_EQ(total, 300);
    // End past the total, end before start, unknown total, overflowing digits.
    for (const char* bad : {"bytes 100-300/300", "bytes 200-100/300", "bytes 0-9/*", "bytes */300",
                            "bytes 0-9/99999999999999999999", "bytes -1-9/10"})
        EXPECT_FALSE(parse_content_range(bad, start, total)) << bad;
}

TEST(AnswerParsers, ContentLengthGivenTwiceMustAgree) {
    HttpHead h;
    EXPECT_FALSE(
        parse_http_head("HTTP/1.1 200 OK\r\nContent-Length: 10\r\nContent-Length: 20\r\n", h));
    EXPECT_FALSE(parse_http_head("HTTP/1.1 200 OK\r\nContent-Length: 10, 20\r\n", h));
    EXPECT_FALSE(
        parse_http_head("HTTP/1.1 200 OK\r\nContent-Length: 10\r\nContent-Length: x\r\n", h));
    for (const char* same : {"Content-Length: 10\r\ncontent-length:10", "Content-Length: 10, 10",
                             "Content-Length: 10\r\nContent-Length: 010"}) {
        HttpHead ok;
        ASSERT_TRUE(parse_http_head(std::string("HTTP/1.1 200 OK\r\n") + same + "\r\n", ok))
            << same;
        EXPECT_EQ(ok.length, 10) << same;
    }
    HttpHead v;
    ASSERT_TRUE(parse_http_head(
        "HTTP/1.1 200 OK\r\nETag: \"v1\"\r\nLast-Modified: Tue, 01 Jul 2025 10:00:00 GMT\r\n", v));
    EXPECT_EQ(v.etag, "\"v1\"");
    EXPECT_EQ(v.last_modified, "Tue, 01 Jul 2025 10:00:00 GMT");
}

TEST(AnswerParsers, TheMd5AmongInstanceDigests) {
    // MD5 of "hello": 5d41402abc4b2a76b9719d911017c592.
    const std::string hello("\x5d\x41\x40\x2a\xbc\x4b\x2a\x76\xb9\x71\x9d\x91\x10\x17\xc5\x92", 16);
    for (const char* value : {"md5=XUFAKrxLKna5cZ2REBfFkg==", "MD5=XUFAKrxLKna5cZ2REBfFkg",
                              "sha=qvTGHdzF6KLavt4PO0gs2a6pQ00=, Md5 = XUFAKrxLKna5cZ2REBfFkg==",
                              "md5=not base64!, md5=XUFAKrxLKna5cZ2REBfFkg=="})
        EXPECT_EQ(digest_md5(value), hello) << value;
    // Another algorithm, a value that is no MD5, nothing readable.
    for (const char* value : {"sha=qvTGHdzF6KLavt4PO0gs2a6pQ00=", "md5=aGVsbG8=", "md5",
                              "md5=", "md5x=XUFAKrxLKna5cZ2REBfFkg==", ""})
        EXPECT_EQ(digest_md5(value), "") << value;

    HttpHead h;
    ASSERT_TRUE(
        parse_http_head("HTTP/1.1 206 Partial\r\ndigest: md5=XUFAKrxLKna5cZ2REBfFkg==\r\n", h));
    EXPECT_EQ(h.md5, hello);
    HttpHead none;
    ASSERT_TRUE(
        parse_http_head("HTTP/1.1 200 OK\r\nDigest: sha=qvTGHdzF6KLavt4PO0gs2a6pQ00=\r\n", none));
    EXPECT_EQ(none.md5, "");
    // Two lines naming different MD5s: no file can match.
    HttpHead two;
    ASSERT_TRUE(
        parse_http_head("HTTP/1.1 200 OK\r\nDigest: md5=XUFAKrxLKna5cZ2REBfFkg==\r\n"
                        "Digest: md5=eVFFPMBhGvmDcm0cTN2oVQ==\r\n",
                        two));
    EXPECT_FALSE(two.md5.empty());
    EXPECT_NE(two.md5, hello);
}

TEST(AnswerParsers, ChunkedBodiesAcrossAnyCut) {
    const std::string body = "5;name=x\r\nhello\r\n1A\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n";
    for (std::size_t cut = 0; cut <= body.size(); ++cut) {
        ChunkedDecoder d;
        std::string out;
        auto sink = [&](const char* p, std::size_t n) {
            out.append(p, n);
            return true;
        };
        d.feed(body.data(), cut, sink);
        d.feed(body.data() + cut, body.size() - cut, sink);
        EXPECT_EQ(out, "helloabcdefghijklmnopqrstuvwxyz") << cut;
        EXPECT_EQ(d.state(), ChunkedDecoder::State::done) << cut;
    }
    // A negative size, sixteen hex digits, or data not followed by a line end.
    for (const std::string bad : {"-10\r\n", "ffffffffffffffff\r\n", "3\r\nabcX\r\n", "\r\n"}) {
        ChunkedDecoder d;
        d.feed(bad.data(), bad.size(), [](const char*, std::size_t) { return true; });
        EXPECT_EQ(d.state(), ChunkedDecoder::State::error) << bad;
    }
}

TEST(AnswerParsers, FtpRepliesOfSeveralLinesAndPassivePorts) {
    FtpReplyLines lines;
    std::string buffer = "150-start\r\n226 a line that only looks final\r\n150 end\n220 next";
    std::string line;
    std::vector<int> codes;
    while (take_line(buffer, line)) codes.push_back(lines.add(line));
    EXPECT_EQ(codes, (std::vector<int>{0, 0, 150}));
    EXPECT_EQ(buffer, "220 next") << "an unfinished line waits for its end";

    EXPECT_EQ(parse_pasv_port("227 Entering Passive Mode (10,0,0,9,78,52)"), 78 * 256 + 52);
    EXPECT_EQ(parse_pasv_port("227 (127,0,0,1,256,1)"), 0);
    EXPECT_EQ(parse_pasv_port("227 (127,0,0,1,-1,80)"), 0);
    EXPECT_EQ(parse_pasv_port("227 no address"), 0);
}

TEST(AnswerParsers, HashRepliesMatchOnlyTheWholeFileInMd5) {
    const std::string md5 = "0123456789abcdef0123456789abcdef";
    using H = HashCheck;
    EXPECT_EQ(judge_hash_reply(213, "213 MD5 0-100 " + md5 + " a b.bin", 100, md5), H::matched);
    EXPECT_EQ(judge_hash_reply(213, "213 md5 0-99 0123456789ABCDEF0123456789ABCDEF x", 100, md5),
              H::matched)
        << "an inclusive end and upper-case digits";
    EXPECT_EQ(judge_hash_reply(213, "213 MD5 0-0 " + md5 + " empty", 0, md5), H::matched);
    // Another digest, algorithm, part of the file or nothing readable: not the file sent.
    EXPECT_EQ(judge_hash_reply(213, "213 MD5 0-100 " + std::string(32, 'f') + " x", 100, md5),
              H::mismatched);
    EXPECT_EQ(judge_hash_reply(213, "213 SHA-256 0-100 " + md5 + " x", 100, md5), H::mismatched);
    EXPECT_EQ(judge_hash_reply(213, "213 MD5 10-100 " + md5 + " x", 100, md5), H::mismatched);
    EXPECT_EQ(judge_hash_reply(213, "213 MD5 0-50 " + md5 + " x", 100, md5), H::mismatched);
    EXPECT_EQ(judge_hash_reply(213, "213 MD5 0-99999999999999999999999 " + md5, 100, md5),
              H::mismatched);
    EXPECT_EQ(judge_hash_reply(213, "213 MD5 0- " + md5, 100, md5), H::mismatched);
    EXPECT_EQ(judge_hash_reply(213, "213", 100, md5), H::mismatched);
    EXPECT_EQ(judge_hash_reply(213, "21", 100, md5), H::mismatched) << "shorter than its code";
    EXPECT_EQ(judge_hash_reply(550, "550 No such file", 100, md5), H::mismatched);
    EXPECT_EQ(judge_hash_reply(213, "213 MD5 0-100 " + md5, 100, ""), H::mismatched);
    // A server without the command or without MD5, or one that says "ok" to anything.
    for (int refused : {0, 200, 500, 501, 502, 504})
        EXPECT_EQ(judge_hash_reply(refused, "", 100, md5), H::unchecked) << refused;
}

}  // namespace
}  // namespace qorvel::engine
