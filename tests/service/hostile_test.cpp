// The service against hostile clients on loopback: slow and oversized
// requests, bursts, idle FTP connections, other people's uploads, planted
// web-login cookies, password guessing, idle sessions and mixed ids. Each
// client plays from its own 127.x address where the service counts by
// address. Every loop is bounded in count and time.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "client_view.h"
#include "net/charset.h"
#include "net/form.h"
#include "net/text.h"
#include "net/web.h"
#include "raw_peer.h"

namespace qorvel::test {
namespace {

using namespace std::chrono_literals;

std::unique_ptr<ServiceInstance> started(std::vector<std::string> args) {
    ServiceInstanceOptions o;
    o.extra_args = std::move(args);
    auto s = std::make_unique<ServiceInstance>(o);
    EXPECT_TRUE(s->start()) << read_file(s->log_file());
    return s;
}

std::string status_line(const std::string& answer) {
    return answer.substr(0, answer.find("\r\n"));
}

TEST(HostileHttp, SlowSendersHoldNoWorkerGetCutOffAndDoNotDelayShutdown) {
    auto s = started({"--request-timeout", "2", "--http-workers", "4", "--http-per-address", "40"});
    ClientView view(*s);
    // Ten times as many half-sent requests as there are workers.
    std::vector<int> slow;
    for (int i = 0; i < 40; ++i) {
        int fd = connect_from(s->host(), s->web_port(), "127.0.0.21", 6);
        ASSERT_GE(fd, 0);
        ::send(fd, "GET /ge.txt HTTP/1.1\r\nX-Slow: ", 30, MSG_NOSIGNAL);
        slow.push_back(fd);
    }
    // One more from the same address is turned away at once, not queued.
    EXPECT_EQ(status_line(http_from("127.0.0.21", s->host(), s->web_port(), "GET", "/ge.txt")),
              "HTTP/1.1 503 Service Unavailable");
    // Everyone else is still answered, again and again.
    for (int i = 0; i < 20; ++i) EXPECT_EQ(text_split(view.get("/ge.txt"), "|").size(), 2u) << i;
    // The head did not arrive within its deadline: the server answers 408 and closes.
    EXPECT_EQ(status_line(read_all(slow[0])), "HTTP/1.1 408 Request Timeout");
    for (int fd : slow) ::close(fd);

    // Shutdown while requests are still being sent ends cleanly, not by SIGKILL.
    std::vector<int> sending;
    for (int i = 0; i < 10; ++i) {
        int fd = connect_from(s->host(), s->web_port(), "127.0.0.22");
        ASSERT_GE(fd, 0);
        const std::string head = "POST /csx.php HTTP/1.1\r\nContent-Length: 100\r\n\r\nzh=";
        ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
        sending.push_back(fd);
    }
    EXPECT_EQ(s->stop(), 0);
    for (int fd : sending) ::close(fd);
}

TEST(HostileHttp, ReadersThatNeverReadLeaveAShareOfWorkersToOthers) {
    ServiceInstanceOptions o;
    o.throttle = true;  // each download on file host 2 holds its worker for seconds
    o.extra_args = {"--http-workers", "4"};
    ServiceInstance s(o);
    ASSERT_TRUE(s.start()) << read_file(s.log_file());
    ClientView view(s);
    Login demo = view.login("demo", "demo123");
    ASSERT_TRUE(demo.ok());
    int big = -1;
    for (const auto& r : view.files(demo, 0, 0, true).rows)
        if (r.name == GBK("大文件.bin")) big = r.id;
    ASSERT_GT(big, 0);
    std::string link = view.storage_link(big, kDemoMemberAccessPassword);
    int port = std::stoi(s.files2().substr(s.files2().rfind(':') + 1));
    std::string get = "GET /up/" + link + " HTTP/1.1\r\nHost: x\r\n\r\n";
    std::vector<int> hogs;
    for (int i = 0; i < 4; ++i) {
        int fd = connect_from(s.host(), port, "127.0.0.71");
        ASSERT_GE(fd, 0);
        ::send(fd, get.data(), get.size(), MSG_NOSIGNAL);
        hogs.push_back(fd);
    }
    std::this_thread::sleep_for(300ms);
    int fd = connect_from(s.host(), port, "127.0.0.72", 10);
    ASSERT_GE(fd, 0);
    std::string ranged =
        "GET /up/" + link + " HTTP/1.1\r\nHost: x\r\nRange: bytes=0-9\r\nConnection: close\r\n\r\n";
    ::send(fd, ranged.data(), ranged.size(), MSG_NOSIGNAL);
    std::string answer = read_all(fd);
    ::close(fd);
    EXPECT_EQ(status_line(answer), "HTTP/1.1 206 Partial Content");
    EXPECT_EQ(body_of(answer).size(), 10u);
    for (int h : hogs) ::close(h);
}

TEST(HostileHttp, OversizedHeadsAndBodiesAreRefusedBeforeTheyAreHeld) {
    auto s = started({"--max-header-bytes", "8192", "--max-body", "65536"});
    auto ask = [&](const std::string& request) {
        return status_line(raw_exchange(s->host(), s->web_port(), request, false));
    };
    std::string many = "GET /ge.txt HTTP/1.1\r\nHost: x\r\n";
    for (int i = 0; i < 150; ++i) many += "X-" + std::to_string(i) + ": 1\r\n";
    EXPECT_EQ(ask(many + "\r\n"), "HTTP/1.1 431 Request Header Fields Too Large");
    std::string big = "GET /ge.txt HTTP/1.1\r\nHost: x\r\n";
    for (int i = 0; i < 20; ++i)
        big += "X-" + std::to_string(i) + ": " + std::string(600, 'v') + "\r\n";
    EXPECT_EQ(ask(big + "\r\n"), "HTTP/1.1 431 Request Header Fields Too Large");
    EXPECT_EQ(ask("POST /csx.php HTTP/1.1\r\nContent-Length: 70000\r\n\r\n"),
              "HTTP/1.1 413 Payload Too Large");

    // A chunked body, with and without a form type, is stopped at the limit:
    // the refusal arrives while the client still has most of 8 MiB to send.
    for (std::string type : {"", "Content-Type: application/x-www-form-urlencoded\r\n"}) {
        int fd = connect_from(s->host(), s->web_port(), "127.0.0.23", 3);
        ASSERT_GE(fd, 0);
        std::string head =
            "POST /csx.php HTTP/1.1\r\nHost: x\r\n" + type + "Transfer-Encoding: chunked\r\n\r\n";
        ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
        std::string chunk = "4000\r\n" + std::string(0x4000, 'z') + "\r\n";
        size_t sent = 0;
        std::string answer;
        for (int i = 0; i < 512 && answer.empty(); ++i) {
            if (::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0) break;
            sent += chunk.size();
            char buf[512];
            ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0) answer.assign(buf, static_cast<size_t>(n));
        }
        if (answer.empty()) answer = read_all(fd);
        ::close(fd);
        EXPECT_EQ(status_line(answer), "HTTP/1.1 413 Payload Too Large") << type;
        EXPECT_LT(sent, size_t(8) << 20) << type;
    }
    // Within the limit a chunked form is read like any other.
    std::string login =
        raw_exchange(s->host(), s->web_port(),
                     "POST /csx.php HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Type: "
                     "application/x-www-form-urlencoded\r\nTransfer-Encoding: chunked\r\n\r\n"
                     "8\r\nzh=demo&\r\na\r\nmm=demo123\r\n0\r\n\r\n",
                     false);
    EXPECT_EQ(text_split(body_of(login), "x").size(), 9u) << login;
}

TEST(HostileHttp, BurstOfConcurrentConnectionsIsAllAnswered) {
    auto s = started({});
    constexpr int kClients = 150;
    std::atomic<int> answered{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i)
        clients.emplace_back([&] {
            while (!go) std::this_thread::yield();
            std::string a =
                raw_exchange(s->host(), s->web_port(),
                             "GET /ge.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", false);
            if (a.rfind("HTTP/1.1 200", 0) == 0) ++answered;
        });
    go = true;
    for (auto& t : clients) t.join();
    EXPECT_EQ(answered.load(), kClients);
}

TEST(HostileFtp, IdleStrangersCannotLockOthersOut) {
    auto s = started({"--ftp-per-address", "4", "--ftp-login-timeout", "1"});
    std::vector<std::unique_ptr<FtpControl>> idle;
    for (int i = 0; i < 4; ++i) {
        idle.push_back(std::make_unique<FtpControl>(s->host(), s->ftp_port(), "127.0.0.31"));
        EXPECT_EQ(idle.back()->reply().substr(0, 3), "220");
    }
    FtpControl fifth(s->host(), s->ftp_port(), "127.0.0.31");
    EXPECT_EQ(fifth.reply().substr(0, 3), "421");
    FtpControl other(s->host(), s->ftp_port(), "127.0.0.32");
    EXPECT_EQ(other.reply().substr(0, 3), "220");
    EXPECT_EQ(other.command("USER anonymous").substr(0, 3), "331");
    EXPECT_EQ(other.command("PASS a@b.c").substr(0, 3), "230");
    // Connections that never log in are dropped within seconds.
    for (auto& c : idle) EXPECT_EQ(c->reply(), "421 Login time-out");
    idle.clear();
    std::string again;
    for (int i = 0; i < 20 && again.substr(0, 3) != "220"; ++i) {
        FtpControl next(s->host(), s->ftp_port(), "127.0.0.31");
        again = next.reply();
        if (again.substr(0, 3) != "220") std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(again.substr(0, 3), "220");
    // A logged-in user is not held to the login time.
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(other.command("NOOP").substr(0, 3), "200");
}

TEST(HostileFtp, WaitingUploadBelongsToItsAddress) {
    auto s = started({});
    ClientView view(*s);
    Login demo = view.login("demo", "demo123");
    Login guest = view.login("guest", "guest123");
    ASSERT_TRUE(demo.ok() && guest.ok());
    const std::string name = "report.txt";
    const std::string remote = name + ".qrvllswj";
    FtpControl up(s->host(), s->ftp_port(), "127.0.0.41");
    EXPECT_EQ(up.upload(remote, "demo's own bytes").substr(0, 3), "226");

    // Another address cannot see it, replace it or register it.
    FtpControl spy(s->host(), s->ftp_port(), "127.0.0.42");
    EXPECT_EQ(spy.upload(remote, "planted bytes").substr(0, 3), "226");
    EXPECT_EQ(spy.command("SIZE " + remote), "213 13");  // its own, not demo's 16
    FtpControl stranger(s->host(), s->ftp_port(), "127.0.0.43");
    stranger.reply();
    stranger.command("USER anonymous");
    stranger.command("PASS x@y.z");
    EXPECT_EQ(stranger.command("SIZE " + remote).substr(0, 3), "550");
    auto register_from = [&](const std::string& source, const Login& who) {
        return body_of(http_from(source, s->host(), s->web_port(), "POST",
                                 "/tjwj.php?bsm=" + who.key + "&mlid=0", "wjdl=" + name));
    };
    EXPECT_EQ(register_from("127.0.0.43", guest), "0");

    int id = ClientView::registered_id(register_from("127.0.0.41", demo));
    ASSERT_GT(id, 0);
    std::string link = view.storage_link(id, kDemoMemberAccessPassword);
    EXPECT_EQ(web_get(s->files3() + "/up/" + link), "demo's own bytes");
    EXPECT_EQ(register_from("127.0.0.41", demo), "0");  // taken once
}

// The web-login page as a browser sees it: its cookie and its form key.
struct SignInPage {
    std::string token, form_key;
};

SignInPage sign_in_page(const ServiceInstance& s, const std::string& cookie = {}) {
    std::string a =
        http_from("127.0.0.51", s.host(), s.web_port(), "GET", "/QQ/example/oauth/index.php", "",
                  cookie.empty() ? "" : "Cookie: qorvel_qq=" + cookie + "\r\n");
    return {text_between(a, "Set-Cookie: qorvel_qq=", ";"),
            text_between(a, "name=\"qqyz\" value=\"", "\"")};
}

std::string confirm(const ServiceInstance& s, const std::string& cookie, const std::string& key) {
    return body_of(http_from("127.0.0.51", s.host(), s.web_port(), "POST",
                             "/QQ/example/oauth/index.php", "qqyz=" + key + "&zh=demo&mm=demo123",
                             "Cookie: qorvel_qq=" + cookie + "\r\n"));
}

std::string collect(const ServiceInstance& s, const std::string& cookie) {
    return body_of(http_from("127.0.0.52", s.host(), s.web_port(), "GET", "/qdlxx.php", "",
                             "Cookie: qorvel_qq=" + cookie + "\r\n"));
}

TEST(HostileWebLogin, PlantedCookieCollectsNothing) {
    auto s = started({});
    // Planted before the victim opens the page: the page replaces it.
    SignInPage planted = sign_in_page(*s);
    ASSERT_EQ(planted.token.size(), 32u);
    SignInPage victim = sign_in_page(*s, planted.token);
    ASSERT_EQ(victim.token.size(), 32u);
    EXPECT_NE(victim.token, planted.token);
    EXPECT_NE(confirm(*s, victim.token, victim.form_key).find("授权成功"), std::string::npos);
    EXPECT_EQ(collect(*s, planted.token), "");
    // Any well-formed token of one's own choosing is no better.
    EXPECT_EQ(collect(*s, std::string(32, 'a')), "");

    // Planted after the page was shown: the confirmation pairs with no page.
    SignInPage second = sign_in_page(*s);
    SignInPage attacker = sign_in_page(*s);
    EXPECT_EQ(confirm(*s, attacker.token, second.form_key).find("授权成功"), std::string::npos);
    EXPECT_EQ(collect(*s, attacker.token), "");

    // The browser that confirmed collects once.
    auto pieces = text_split(text_replace_all(collect(*s, victim.token), "\r\n", ""), "|");
    ASSERT_EQ(pieces.size(), 4u);
    EXPECT_EQ(pieces[1], "demo");
    EXPECT_EQ(pieces[3], "demo123");
    EXPECT_EQ(collect(*s, victim.token), "");
    // Nothing of it is left in the data folder.
    std::string db = read_file(s->data_dir() / "data" / "qorvel.sqlite3") +
                     read_file(s->data_dir() / "data" / "qorvel.sqlite3-wal");
    EXPECT_EQ(db.find(victim.token), std::string::npos);
}

TEST(HostileGuessing, RepeatedFailuresAreSlowedPerAccountAndPerAddress) {
    auto s = started({"--failures-free", "3", "--max-delay", "60"});
    ClientView view(*s);
    Login demo = view.login("demo", "demo123");  // from 127.0.0.1, before any failure
    ASSERT_TRUE(demo.ok());
    auto login_from = [&](const std::string& source, const std::string& name,
                          const std::string& password) {
        return body_of(http_from(source, s->host(), s->web_port(), "POST", "/csx.php",
                                 "zh=" + name + "&mm=" + password));
    };
    for (int i = 0; i < 3; ++i) EXPECT_EQ(login_from("127.0.0.61", "demo", "wrong"), "0");
    // The right password no longer helps, from this address or another one.
    EXPECT_EQ(login_from("127.0.0.61", "demo", "demo123"), "0");
    EXPECT_EQ(login_from("127.0.0.62", "demo", "demo123"), "0");
    // Another account from a fresh address is not affected ...
    EXPECT_EQ(text_split(login_from("127.0.0.62", "guest", "guest123"), "x").size(), 9u);
    // ... but the guessing address is slowed for every account.
    EXPECT_EQ(login_from("127.0.0.61", "guest", "guest123"), "0");

    // FTP logins by account name are counted with the web login.
    FtpControl slowed(s->host(), s->ftp_port(), "127.0.0.66");
    EXPECT_EQ(slowed.reply().substr(0, 3), "220");
    slowed.command("USER demo");
    EXPECT_EQ(slowed.command("PASS demo123").substr(0, 3), "530");
    FtpControl guesser(s->host(), s->ftp_port(), "127.0.0.67");
    EXPECT_EQ(guesser.reply().substr(0, 3), "220");
    for (int i = 0; i < 3; ++i) {
        guesser.command("USER guest");
        EXPECT_EQ(guesser.command("PASS nope").substr(0, 3), "530");
    }
    EXPECT_EQ(login_from("127.0.0.68", "guest", "guest123"), "0");

    // The four-digit access password of a file page.
    int file = view.files(demo, 0, 0).rows.at(0).id;
    auto page_from = [&](const std::string& source, const std::string& password) {
        return body_of(http_from(source, s->host(), s->web_port(), "GET",
                                 "/ym.php?pid=" + std::to_string(file) + "&srmm=" + password));
    };
    EXPECT_NE(page_from("127.0.0.63", "8888").find("bsmzdyd"), std::string::npos);
    for (const char* guess : {"0001", "0002", "0003"})
        EXPECT_EQ(page_from("127.0.0.63", guess).find("bsmzdyd"), std::string::npos);
    EXPECT_EQ(page_from("127.0.0.63", "8888").find("bsmzdyd"), std::string::npos);

    // The recovery form's "no match" is counted like a wrong password.
    auto mail_from = [&](const std::string& source, const std::string& email) {
        return body_of(http_from(source, s->host(), s->web_port(), "POST", "/post/yxzh.php",
                                 "zh1=guest&yx1=" + email));
    };
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(mail_from("127.0.0.64", "x" + std::to_string(i) + "@e.com"), "3");
    EXPECT_EQ(mail_from("127.0.0.64", "guest@example.com"), "3");
    EXPECT_EQ(mail_from("127.0.0.65", "guest@example.com"), "3");  // the account is slowed too
}

TEST(HostileSessions, IdleSessionEndsAndUsedOneLives) {
    auto s = started({"--session-idle", "1"});
    ClientView view(*s);
    Login demo = view.login("demo", "demo123");
    ASSERT_TRUE(demo.ok());
    EXPECT_EQ(view.session_check(demo.key), demo.key);
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(view.session_check(demo.key), "CTYPE html PUBLIC ");
    EXPECT_EQ(
        view.post("/post/cjml.php?zh=" + demo.key, Form().add("fwmm", "x").add("ejml", 0).str()),
        "0");
}

TEST(HostileChanges, MixedOwnAndForeignIdsChangeNothing) {
    auto s = started({});
    ClientView view(*s);
    Login demo = view.login("demo", "demo123");
    Login guest = view.login("guest", "guest123");
    ASSERT_TRUE(demo.ok() && guest.ok());
    auto own = view.files(demo, 0, 0, true).rows;
    auto foreign = view.files(guest, 0, 0, true).rows;
    ASSERT_GE(own.size(), 2u);
    ASSERT_FALSE(foreign.empty());
    auto folders = view.folders(demo, 0);
    ASSERT_FALSE(folders.empty());
    std::string mixed = std::to_string(own[0].id) + "," + std::to_string(foreign[0].id) + ",";
    EXPECT_EQ(view.get("/get/plzc.php?zh=" + demo.key + "&pid=" + mixed), "0");
    EXPECT_EQ(view.get("/get/ydxz.php?zh=" + demo.key + "&pid=" + mixed +
                       "&ml=" + std::to_string(folders[0].id)),
              "0");
    EXPECT_EQ(view.files(demo, 0, 0, true).rows.size(), own.size());
    EXPECT_EQ(view.files(guest, 0, 0, true).rows.size(), foreign.size());
    // Own ids alone (one of them twice) still go through.
    std::string mine = std::to_string(own[0].id) + "," + std::to_string(own[1].id) + "," +
                       std::to_string(own[0].id) + ",";
    EXPECT_EQ(view.get("/get/ydxz.php?zh=" + demo.key + "&pid=" + mine +
                       "&ml=" + std::to_string(folders[0].id)),
              "1");
    EXPECT_EQ(view.files(demo, 0, 0, true).rows.size(), own.size() - 2);
}

}  // namespace
}  // namespace qorvel::test
