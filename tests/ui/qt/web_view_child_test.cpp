// The web view control's browser child: what it reports is read as hostile,
// a cookie the page sets reaches the request routines' store, and closing
// the control ends the child and its helper processes by their PIDs.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "net/web.h"
#include "qt_main.h"
#include "support/process.h"
#include "support/service_instance.h"
#include "ui/qt/web_view_loader.h"
#include "ui/qt/web_view_process.h"
#include "ui/qt/web_view_protocol.h"

namespace qorvel::ui::qt {
namespace {

using test::spin_until;
using Kind = WebViewLine::Kind;

TEST(WebViewLines, CookiesCrossUnchangedAndMalformedLinesReadAsUnknown) {
    WebCookie c;
    c.domain = "127.0.0.1";
    c.path = "/QQ dir/";
    c.name = "qorvel_qq";
    c.value = "a b%c\xe4\xb8\xad=";
    c.expires = 1893456000;
    c.secure = true;
    c.include_subdomains = true;
    std::string line = web_view_cookie_line(c);
    EXPECT_EQ(line.find_first_of("\t\r\n"), std::string::npos);
    WebViewLine read = read_web_view_line(line);
    ASSERT_EQ(read.kind, Kind::cookie);
    EXPECT_EQ(read.cookie.domain, c.domain);
    EXPECT_EQ(read.cookie.path, c.path);
    EXPECT_EQ(read.cookie.name, c.name);
    EXPECT_EQ(read.cookie.value, c.value);
    EXPECT_EQ(read.cookie.expires, c.expires);
    EXPECT_TRUE(read.cookie.secure);
    EXPECT_TRUE(read.cookie.include_subdomains);

    EXPECT_EQ(read_web_view_line("window 4194314").window, 4194314u);
    EXPECT_EQ(read_web_view_line(web_view_url_line("http://h/a%20b?x=1;y")).url,
              "http://h/a%20b?x=1;y");
    // The program sends urls encoded; a raw space or control byte is no url.
    EXPECT_EQ(read_web_view_line(web_view_url_line("http://h/a b")).kind, Kind::unknown);

    // Each would change the store's tab-separated line or the Cookie header.
    for (const char* hostile : {"cookie h / n a%09b 0 0 0",  // tab in the value
                                "cookie h / n a%0Ab 0 0 0",  // newline in the value
                                "cookie h / n a;b=c 0 0 0",  // a second cookie in the header
                                "cookie h / n=x v 0 0 0",    // "=" in the name
                                "cookie h / %20 v 0 0 0",    // blank name
                                "cookie Set-Cookie:%20x / n v 0 0 0",  // a store command as domain
                                "cookie .h / n v 0 0 0",               // a dot the flag adds
                                "cookie h%2Fx / n v 0 0 0",            // no host name
                                "cookie h x n v 0 0 0",                // path without "/"
                                "cookie h / n v -1 0 0",               // negative expiry
                                "cookie h / n v 1e9 0 0",              // no number
                                "cookie h / n v 0 2 0",                // no flag
                                "cookie h / n v 0 0 0 extra",          // a field too many
                                "cookie h / n v%4 0 0 0",              // broken escape
                                "cookie h / n v%zz 0 0 0",             // broken escape
                                "window 0",
                                "window 4294967296",
                                "window 12x",
                                "window -1",
                                "window",
                                "url",
                                "show now",
                                "exec /bin/sh",
                                "",
                                " cookie h / n v 0 0 0"}) {
        EXPECT_EQ(read_web_view_line(hostile).kind, Kind::unknown) << hostile;
    }
    EXPECT_EQ(read_web_view_line("cookie h / n v 0 0 0").kind, Kind::cookie);
    EXPECT_EQ(
        read_web_view_line("cookie h / n " + std::string(kMaxWebViewLine, 'v') + " 0 0 0").kind,
        Kind::unknown);
}

TEST(WebViewLines, TheReaderJoinsPiecesAndDropsAnOverlongLineWhole) {
    WebViewLineReader reader;
    EXPECT_TRUE(reader.feed("wind").empty());
    EXPECT_EQ(reader.feed("ow 7\nshow\npart"), (std::vector<std::string>{"window 7", "show"}));
    std::string longer(kMaxWebViewLine, 'x');
    // The rest of an overlong line must not read as a line of its own.
    EXPECT_TRUE(reader.feed(longer).empty());
    EXPECT_TRUE(reader.feed("window 9").empty());
    EXPECT_EQ(reader.feed("\nshow\n"), std::vector<std::string>{"show"});
    std::string exact(kMaxWebViewLine, 'y');
    EXPECT_EQ(reader.feed(exact + "\n"), std::vector<std::string>{exact});
}

// Gone or a zombie of someone else's: the process no longer runs.
bool ended(qint64 pid) {
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return true;
    QByteArray text = stat.readAll();
    int close = text.lastIndexOf(')');
    return close < 0 || text.mid(close + 2, 1) == "Z";
}

// The child's own children (the browser's helper processes).
std::set<qint64> children_of(qint64 pid) {
    std::set<qint64> kids;
    for (const QString& task :
         QDir(QString("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(QString("/proc/%1/task/%2/children").arg(pid).arg(task));
        if (!f.open(QIODevice::ReadOnly)) continue;
        for (const QString& k : QString::fromLatin1(f.readAll()).split(' ', Qt::SkipEmptyParts))
            kids.insert(k.toLongLong());
    }
    return kids;
}

bool has_cookie(const std::string& name, const std::string& value = {}) {
    for (const WebCookie& c : WebSession::process().cookies())
        if (c.name == name && (value.empty() || c.value == value)) return true;
    return false;
}

class WebViewChild : public ::testing::Test {
  protected:
    void SetUp() override { WebSession::process().clear_cookies(); }
    void TearDown() override {
        WebSession::process().clear_cookies();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    test::TempDir dir_{"qorvel-web-view"};

    // A stand-in child: a script under our temporary folder.
    QString fake_child(const std::string& body) {
        auto path = dir_.path() / "fake-child";
        test::write_file(path, "#!/bin/sh\n" + body);
        ::chmod(path.c_str(), 0700);
        return QString::fromStdString(path.string());
    }
};

TEST_F(WebViewChild, ACookieThePageSetsReachesTheStoreAndClosingEndsTheBrowserProcesses) {
    test::ServiceInstance service;
    ASSERT_TRUE(service.start());
    std::set<qint64> before = children_of(::getpid());  // the service
    QWidget* view = create_web_view(nullptr);
    view->setProperty("url",
                      QUrl(QString::fromStdString(service.web() + "/QQ/example/oauth/index.php")));
    // The sign-in page's hand-over cookie is HttpOnly: only the browser's store sees it.
    ASSERT_TRUE(spin_until([] { return has_cookie("qorvel_qq"); }, 30000))
        << "the page's cookie never reached the request routines";
    std::set<qint64> ours, helpers;
    for (qint64 pid : children_of(::getpid()))
        if (!before.count(pid)) ours.insert(pid);
    ASSERT_FALSE(ours.empty());
    for (qint64 pid : ours)
        for (qint64 h : children_of(pid)) helpers.insert(h);

    QElapsedTimer closing;
    closing.start();
    delete view;
    // Reaped by us, so each PID is free again rather than a zombie; and ended
    // by itself, before the program would kill it after 2 s.
    EXPECT_TRUE(spin_until(
        [&] {
            for (qint64 pid : ours)
                if (::kill(static_cast<pid_t>(pid), 0) == 0) return false;
            return true;
        },
        1500))
        << "a browser process outlived the window";
    EXPECT_TRUE(spin_until(
        [&] {
            for (qint64 h : helpers)
                if (!ended(h)) return false;
            return true;
        },
        10000))
        << "a browser helper outlived the window";
}

TEST_F(WebViewChild, OnlyWellFormedReportsCountAndAChildDeafToItsPipeIsKilled) {
    // Floods unknown and hostile lines, offers one good cookie and one
    // window, and never reads its stdin, so closing its pipe does not end it.
    QString program = fake_child(
        "printf 'window 0\\ncookie h / n a%%09b 0 0 0\\n'\n"
        "head -c 100000 /dev/zero | tr '\\0' x; printf 'cookie h / overlong v 0 0 0\\n'\n"
        "printf 'cookie 127.0.0.1 / good v%%20w 0 0 0\\nwindow 77\\nwindow 78\\n'\n"
        "yes 'cookie h / many v 0 0 0' | head -n 1200\n"
        "exec sleep 30\n");
    auto* process = new WebViewProcess();
    std::vector<WebCookie> taken;
    std::vector<std::uint64_t> windows;
    bool failed = false;
    process->on_cookie = [&](const WebCookie& c) { taken.push_back(c); };
    process->on_window = [&](std::uint64_t id) { windows.push_back(id); };
    process->on_failed = [&] { failed = true; };
    process->start(program, {});
    ASSERT_TRUE(spin_until([&] { return !windows.empty(); }, 10000));
    ASSERT_GE(taken.size(), 1u);
    EXPECT_EQ(taken[0].name, "good");
    EXPECT_EQ(taken[0].value, "v w");
    EXPECT_EQ(windows, std::vector<std::uint64_t>{77});
    // A flood of cookies stops counting at the bound.
    ASSERT_TRUE(spin_until([&] { return taken.size() >= WebViewProcess::kMaxCookies; }, 10000));
    spin_until([] { return false; }, 300);
    EXPECT_EQ(taken.size(), static_cast<size_t>(WebViewProcess::kMaxCookies));
    qint64 pid = process->pid();
    QPointer<WebViewProcess> watch(process);
    QElapsedTimer closing;
    closing.start();
    process->close();
    ASSERT_TRUE(spin_until([&] { return watch.isNull(); }, WebViewProcess::kCloseGraceMs + 2000));
    EXPECT_GE(closing.elapsed(), WebViewProcess::kCloseGraceMs - 100);
    EXPECT_NE(::kill(static_cast<pid_t>(pid), 0), 0);  // killed and reaped
    EXPECT_FALSE(failed);
}

TEST_F(WebViewChild, CookiesGoToTheChildAndWhatItEchoesComesBack) {
    // cat stands in for the browser: it sends back the store it was given
    // and ends when its pipe closes, as the child does.
    WebCookie c;
    c.domain = "127.0.0.1";
    c.name = "sid";
    c.value = "x y";
    auto* process = new WebViewProcess();
    std::vector<WebCookie> back;
    process->on_cookie = [&](const WebCookie& got) { back.push_back(got); };
    process->start("/bin/cat", {c});
    process->load("http://127.0.0.1/");
    ASSERT_TRUE(spin_until([&] { return !back.empty(); }, 10000));
    EXPECT_EQ(back[0].value, "x y");
    QPointer<WebViewProcess> watch(process);
    QElapsedTimer closing;
    closing.start();
    process->close();
    ASSERT_TRUE(spin_until([&] { return watch.isNull(); }, WebViewProcess::kCloseGraceMs));
    EXPECT_LT(closing.elapsed(), WebViewProcess::kCloseGraceMs);
}

TEST_F(WebViewChild, AMissingOrFailingProgramShowsTheNotice) {
    WebViewHostWidget none(QString(), nullptr);
    EXPECT_TRUE(none.showing_notice());
    WebViewHostWidget missing(QString::fromStdString((dir_.path() / "no-such").string()), nullptr);
    EXPECT_TRUE(spin_until([&] { return missing.showing_notice(); }));
    WebViewHostWidget quits(fake_child("exit 3\n"), nullptr);
    EXPECT_TRUE(spin_until([&] { return quits.showing_notice(); }));
    EXPECT_EQ(quits.child_pid(), 0);
}

}  // namespace
}  // namespace qorvel::ui::qt

QORVEL_QT_TEST_MAIN
