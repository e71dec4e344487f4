// Bad, random, truncated and concurrent input: the service keeps answering
// and no data changes that the request had no right to touch.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <set>
#include <thread>

#include "client_view.h"
#include "net/charset.h"
#include "net/form.h"
#include "net/text.h"
#include "net/web.h"
#include "raw_peer.h"

namespace qorvel::test {
namespace {

struct Snapshot {
    std::vector<std::pair<int, std::string>> folders;
    std::vector<std::pair<int, std::string>> files;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot(const ClientView& view, const Login& login) {
    Snapshot s;
    std::vector<int> todo = {0};
    while (!todo.empty()) {
        int folder = todo.back();
        todo.pop_back();
        for (const auto& f : view.folders(login, folder)) {
            s.folders.emplace_back(f.id, f.name);
            todo.push_back(f.id);
        }
        for (const auto& r : view.files(login, folder, 0, true).rows)
            s.files.emplace_back(r.id, r.name + "|" + r.size);
    }
    return s;
}

class ServiceFaults : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(service_.start()) << read_file(service_.log_file()); }
    ServiceInstance service_;
};

TEST_F(ServiceFaults, RandomAndTruncatedRequestsChangeNothing) {
    ClientView view(service_);
    Login demo = view.login("demo", "demo123");
    Login guest = view.login("guest", "guest123");
    ASSERT_TRUE(demo.ok() && guest.ok());
    Snapshot before = snapshot(view, demo);
    ASSERT_FALSE(before.files.empty());

    // A slow client holding a half-sent request the whole time.
    int slow = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(service_.web_port()));
    inet_pton(AF_INET, service_.host().c_str(), &a.sin_addr);
    ASSERT_EQ(::connect(slow, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::send(slow, "POST /csx.php HTTP/1.1\r\nContent-Length: 100\r\n\r\nzh=de", 52, MSG_NOSIGNAL);

    const std::vector<std::string> paths = {
        "/csx.php",         "/sc/index1.php", "/qdlxx.php",      "/get/cs1.php",
        "/get/sz.php",      "/zc.php",        "/post/zh.php",    "/post/yxzh.php",
        "/mljg/mljg.php",   "/mljg/wjdq.php", "/wdwj.php",       "/ym.php",
        "/post/scml.php",   "/post/cjml.php", "/post/sz5pc.php", "/post/sz6pc.php",
        "/post/cjwjpc.php", "/get/plzc.php",  "/get/ydxz.php",   "/jsmc.php",
        "/tjwj.php"};
    const std::vector<std::string> names = {
        "zh",   "pid",  "mlid", "mlpid", "ml",     "yms", "bsm", "md5", "mm",   "btn2",
        "fwmm", "ejml", "wjdl", "wldz",  "vipjhm", "zh1", "mm1", "zh2", "srmm", "dqlx"};
    std::vector<int> demo_ids;
    for (const auto& f : before.folders) demo_ids.push_back(f.first);
    for (const auto& f : before.files) demo_ids.push_back(f.first);
    std::mt19937 rng(20240501);
    auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    auto random_value = [&]() -> std::string {
        switch (pick(7)) {
        case 0: return std::to_string(demo_ids[pick(demo_ids.size())]);
        case 1: return guest.key;
        case 2:
            return std::to_string(demo_ids[pick(demo_ids.size())]) + "," +
                   std::to_string(demo_ids[pick(demo_ids.size())]) + ",";
        case 3: return "%ff%fe%zz%";
        case 4: return std::string(pick(5000), 'A');
        case 5: return "-99999999999999";
        default: {
            std::string s;
            for (size_t i = pick(40); i > 0; --i) s += static_cast<char>(1 + pick(255));
            return s;
        }
        }
    };

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int sent = 0, whole = 0, answered = 0;
    for (int i = 0; i < 300 && std::chrono::steady_clock::now() < deadline; ++i, ++sent) {
        std::string query, body;
        for (size_t k = pick(5); k > 0; --k)
            query += names[pick(names.size())] + "=" + random_value() + "&";
        for (size_t k = pick(5); k > 0; --k)
            body += names[pick(names.size())] + "=" + random_value() + "&";
        std::string path = paths[pick(paths.size())];
        std::string request = (pick(2) ? "POST " : "GET ") + path + "?" + query +
                              " HTTP/1.1\r\nHost: x\r\nContent-Type: "
                              "application/x-www-form-urlencoded\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        switch (i % 3) {
        case 0: break;                                            // whole
        case 1: request.resize(pick(request.size() + 1)); break;  // truncated
        default:
            for (size_t k = 0; k < 8 && !request.empty(); ++k)
                request[pick(request.size())] = static_cast<char>(rng());
        }
        // A half-closed connection gets no answer from the library, only a close.
        std::string answer =
            raw_exchange(service_.host(), service_.web_port(), request, i % 3 != 0);
        if (i % 3 == 0) {
            ++whole;
            if (answer.rfind("HTTP/1.1 ", 0) == 0) ++answered;
        }
    }
    EXPECT_GE(sent, 100);
    EXPECT_EQ(answered, whole);  // every well-formed request got an answer
    ::close(slow);

    EXPECT_EQ(text_split(view.get("/ge.txt"), "|").size(), 2u);
    EXPECT_EQ(snapshot(view, demo), before);
    EXPECT_TRUE(view.login("demo", "demo123").ok());
}

TEST_F(ServiceFaults, FtpKeepsUploadsInsideAndSurvivesGarbage) {
    FtpControl ftp(service_.host(), service_.ftp_port());
    EXPECT_EQ(ftp.reply().substr(0, 3), "220");
    EXPECT_EQ(ftp.command("STOR early").substr(0, 3), "530");
    EXPECT_EQ(ftp.command("USER anonymous").substr(0, 3), "331");
    EXPECT_EQ(ftp.command("PASS guest@example.com").substr(0, 3), "230");
    for (const char* bad : {"STOR ../escape", "STOR /a/b", "STOR ..", "STOR "})
        EXPECT_EQ(ftp.command(bad).substr(0, 3), "553") << bad;
    EXPECT_EQ(ftp.command("PORT 10,1,2,3,0,80").substr(0, 3), "500");  // not the client's address
    EXPECT_EQ(ftp.command("PORT 1,2,3").substr(0, 3), "501");
    EXPECT_EQ(ftp.command("REST abc").substr(0, 3), "501");
    EXPECT_EQ(ftp.command("SIZE missing.qrvllswj").substr(0, 3), "550");
    EXPECT_EQ(ftp.command("TYPE A").substr(0, 3), "200");
    EXPECT_EQ(ftp.command("TYPE Q").substr(0, 3), "504");
    std::mt19937 rng(7);
    for (int i = 0; i < 50; ++i) {
        std::string line;
        for (int k = static_cast<int>(rng() % 60); k > 0; --k) {
            char c = static_cast<char>(rng());
            if (c != '\r' && c != '\n') line += c;
        }
        EXPECT_FALSE(ftp.command(line).empty());
    }
    EXPECT_EQ(ftp.command("NOOP").substr(0, 3), "200");
    // An endless line ends the connection, not the server.
    EXPECT_EQ(ftp.command(std::string(10000, 'N')).substr(0, 3), "500");
    FtpControl again(service_.host(), service_.ftp_port());
    EXPECT_EQ(again.reply().substr(0, 3), "220");
    EXPECT_EQ(again.command("QUIT").substr(0, 3), "221");
    std::error_code ec;
    EXPECT_FALSE(std::filesystem::exists(service_.data_dir() / "escape", ec));
    EXPECT_FALSE(std::filesystem::exists(service_.data_dir() / "data" / "escape", ec));
}

TEST_F(ServiceFaults, ConcurrentChangesAllLand) {
    ClientView view(service_);
    Login demo = view.login("demo", "demo123");
    ASSERT_TRUE(demo.ok());
    size_t before = view.folders(demo, 0).size();
    std::atomic<int> created{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                std::string name = "c" + std::to_string(t) + "-" + std::to_string(i);
                std::string answer = view.post("/post/cjml.php?zh=" + demo.key,
                                               Form().add("fwmm", name).add("ejml", 0).str());
                if (answer.size() > 2) ++created;
                view.files(demo, 0, 0);
                view.session_check(demo.key);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(created.load(), 80);
    auto after = view.folders(demo, 0);
    EXPECT_EQ(after.size(), before + 80);
    std::set<int> ids;
    for (const auto& f : after) ids.insert(f.id);
    EXPECT_EQ(ids.size(), after.size());
}

}  // namespace
}  // namespace qorvel::test
