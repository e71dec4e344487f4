#include <gtest/gtest.h>

#include "net/charset.h"
#include "net/form.h"
#include "net/url.h"

namespace qorvel {
namespace {

TEST(UrlSplit, HostPathAndPort) {
    std::string url = "http://WWW.Example.COM:81/a/b?c=1";
    EXPECT_EQ(url_host(url), "www.example.com");
    EXPECT_EQ(url_host(url, true), "www.example.com:81");
    EXPECT_EQ(url_port(url), 81);
    EXPECT_EQ(url_path(url), "/a/b?c=1");

    EXPECT_EQ(url_path("http://host.example"), "/");
    EXPECT_EQ(url_port("http://host.example"), 80);
    // Without the scheme the host starts at the first byte.
    EXPECT_EQ(url_host("Host:8080/x"), "host");
    EXPECT_EQ(url_port("Host:8080/x"), 8080);
    EXPECT_EQ(url_path("Host:8080/x"), "/x");
    // The path keeps Chinese bytes and everything after the first slash.
    std::string gbk_url = "http://127.0.0.1:18080/mljg/wjdq.php?mc=" + GBK("文件");
    EXPECT_EQ(url_path(gbk_url), "/mljg/wjdq.php?mc=" + GBK("文件"));
}

TEST(UrlSplit, PortIsDecimalFrom1To65535Only) {
    EXPECT_EQ(url_port("http://h:65535/x"), 65535);
    EXPECT_EQ(url_port("http://h:1"), 1);
    // Each of these was once read as a number: out of range, float, hex.
    for (const char* bad : {"h:1e10", "h:nan", "h:inf", "h:0x50", "h:65536", "h:99999999999", "h:0",
                            "h:", "h:-80", "h:+80", "h: 80", "h:80a"})
        EXPECT_EQ(url_port(bad), 0) << bad;
}

TEST(FormEscape, OnlyDelimitersBlanksAndControlsAreEscaped) {
    EXPECT_EQ(form_escape("R&D"), "R%26D");
    EXPECT_EQ(form_escape("a=b+c%d#e f"), "a%3Db%2Bc%25d%23e%20f");
    EXPECT_EQ(form_escape("x\r\ny\x7F"), "x%0D%0Ay%7F");
    // GBK and UTF-8 bytes go as they are, so ordinary input is byte for byte.
    EXPECT_EQ(form_escape(GBK("新建文件夹")), GBK("新建文件夹"));
    EXPECT_EQ(form_escape("目录"), "目录");
    EXPECT_EQ(form_escape("abc-_.~/?:;,"), "abc-_.~/?:;,");
}

TEST(FormBuild, PairsQueriesAndBodies) {
    Form f;
    f.add("zh", "key123").add("mc", "R&D").add("id", 42);
    EXPECT_EQ(f.str(), "zh=key123&mc=R%26D&id=42");
    EXPECT_EQ(with_query("/post/cjml.php", f), "/post/cjml.php?zh=key123&mc=R%26D&id=42");
    EXPECT_EQ(with_query("/ge.txt", Form{}), "/ge.txt");
    Form pw;
    pw.add("mm", "p&w=1");
    EXPECT_EQ(pw.str(), "mm=p%26w%3D1");
}

}  // namespace
}  // namespace qorvel
