#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <boost/regex.hpp>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "e2e/road.h"
#include "net/text.h"
#include "net/web.h"
#include "platform/desktop_shell.h"
#include "roads/transfer/shut_down.h"
#include "support/engine_peers.h"
#include "support/forwarding.h"
#include "support/recording_server.h"
#include "transfer/digest.h"
#include "transfer/engine/engine.h"
#include "transfer/upload_rules.h"

namespace qorvel {
namespace {

using namespace std::chrono_literals;
using test::hosts_of;
using test::Road;
using ui::Event;
namespace fs = std::filesystem;

std::string read_bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void write_bytes(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

struct Listed {
    long long id;
    std::string name, size;  // GBK
};

class TransferRoads : public test::SharedServiceSuite<TransferRoads> {
  public:
    static test::ServiceInstanceOptions service_options() {
        test::ServiceInstanceOptions o;
        // The client always sends to port 1678, so every test process (ctest runs them side
        // by side) takes an address of its own.
        o.host = test::process_loopback_address();
        o.ftp_port = 1678;
        return o;
    }

  protected:
    // Logs a fresh client in; its save folder is its own Downloads folder.
    std::unique_ptr<Road> signed_in(const std::string& account, const std::string& password,
                                    ServiceHosts hosts = hosts_of(*service_)) {
        auto r = std::make_unique<Road>(hosts);
        EXPECT_TRUE(r->start());
        r->log_in(account, password, false);
        // The after-login set-up ends by enabling the time-stamped log; it resets the tree.
        EXPECT_TRUE(r->wait(
            [&] { return r->logged_in() && r->client_.timestamped_log_enabled.load(); }, 20s));
        save_ = r->home_.path() / "Downloads";
        fs::create_directories(save_);
        r->call([&] { r->main()["编辑框49"].set_text(save_.string() + "/"); });
        return r;
    }

    // The rows of the file list as the browser shows them.
    static std::vector<Listed> listed(Road& r) {
        std::vector<Listed> out;
        r.call([&] {
            for (const auto& row : r.main()["超级列表框1"].rows())
                out.push_back({row.value, row.cells.at(0), row.cells.at(1)});
        });
        return out;
    }
    static bool browser_idle(Road& r) {
        return r.wait([&] {
            return r.client_.browser().first_load_done() && !r.client_.browser().busy() &&
                   r.main()["树型框1"].enabled() && r.main()["超级列表框1"].row_count() > 0;
        });
    }
    // The first visit to the browser page loads the default folder.
    std::vector<Listed> show_root(Road& r) {
        r.call([&] {
            r.main()["选择夹1"].set_current(1);
            r.program_.raise(r.main(), "选择夹1", Event::page_changed);
        });
        if (!browser_idle(r)) ADD_FAILURE() << "the browser never became idle" << lists_shown(r);
        return listed(r);
    }
    static int row_named(const std::vector<Listed>& rows, const std::string& utf8) {
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].name == utf8_to_gbk(utf8)) return static_cast<int>(i);
        return -1;
    }
    // What the service hands out for a file, fetched independently of the client.
    static std::string served(const std::string& file_id, const std::string& password, bool vip,
                              const test::ServiceInstance& from = *service_) {
        auto h = hosts_of(from);
        std::string page = web_get(h.web_url("/ym.php?pid=" + file_id + "&srmm=" + password));
        std::string link = text_between(page, "bsmzdyd", "<");
        return web_get("http://" + (vip ? h.files3 : h.files2) + "/up/" + link);
    }
    // Selects rows, answers the folder chooser with the default folder, clicks 下载.
    void download_rows(Road& r, const std::vector<int>& rows) {
        r.call([&] {
            r.main()["超级列表框1"].set_selection(rows, rows.empty() ? -1 : rows[0]);
            r.program_.raise(r.main(), "按钮38", Event::clicked);
        });
    }
    // The lists as shown, for a failure that only shows under load.
    static std::string lists_shown(Road& r) {
        std::string out;
        r.call([&] {
            for (const char* name : {"超级列表框1", "超级列表框2", "超级列表框3"}) {
                const auto rows = r.main()[name].rows();
                out += std::string("\n") + name + " (" + std::to_string(rows.size()) + " rows):";
                for (size_t i = 0; i < rows.size() && i < 8; ++i) {
                    out += "\n  " + std::to_string(rows[i].value);
                    for (const auto& cell : rows[i].cells) out += " | " + gbk_to_utf8(cell);
                }
            }
        });
        return out;
    }
    bool queue_idle(Road& r) {
        bool idle = r.wait(
            [&] {
                return r.client_.transfers().downloads.running() == std::nullopt &&
                       !r.client_.transfers().downloads.run_active();
            },
            30s);
        if (!idle) ADD_FAILURE() << "the download queue never became idle" << lists_shown(r);
        return idle;
    }

    fs::path save_;
};

TEST_F(TransferRoads,
       MemberQueueDownloadsByteExactFromHost3WithLinkFilesAndTheShutDownAfterTheLast) {
    auto h = hosts_of(*service_);
    h.files2 = "127.0.0.1:1";  // a member never asks file host 2
    auto r = signed_in("demo", "demo123", h);
    auto rows = show_root(*r);
    int readme = row_named(rows, "使用说明.txt"), big = row_named(rows, "大文件.bin"),
        empty = row_named(rows, "空文件.txt"), link = row_named(rows, "外部链接.zip");
    ASSERT_GE(readme, 0);
    ASSERT_GE(big, 0);
    ASSERT_GE(empty, 0);
    ASSERT_GE(link, 0);
    r->call([&] { r->main()["选择框3"].set_checked(true); });

    download_rows(*r, {big, link});
    // Queued while the run is in progress: joins it, no second run.
    download_rows(*r, {readme, empty});
    ASSERT_TRUE(queue_idle(*r));

    auto expect_file = [&](int row) {
        std::string got = read_bytes(save_ / text_to_path(rows[row].name));
        EXPECT_EQ(got, served(std::to_string(rows[row].id), "8888", true))
            << gbk_to_utf8(rows[row].name);
    };
    expect_file(big);
    expect_file(readme);
    expect_file(empty);
    EXPECT_FALSE(read_bytes(save_ / text_to_path(rows[readme].name)).empty());
    r->call([&] {
        ui::Window& w = r->main();
        EXPECT_EQ(w["超级列表框2"].row_count(), 0);
        ui::Control& done = w["超级列表框3"];
        ASSERT_EQ(done.row_count(), 4);
        // Rows are queued in list order and finish newest first.
        int last = std::max(readme, empty);
        EXPECT_EQ(done.cell(0, 0), rows[last].name);
        EXPECT_EQ(done.cell(0, 1), save_.string() + "/" + rows[last].name);
        EXPECT_EQ(w["选择夹2"].page_title(1), GBK("已完成(4)"));
        EXPECT_EQ(w["选择夹2"].page_title(0), GBK("下载中(0)"));
        EXPECT_TRUE(w["按钮28"].enabled());
    });
    // The shut-down waits for its countdown.
    auto countdown_open = [&] { return r->program_.find(windows::kShutDownWindow) != nullptr; };
    ASSERT_TRUE(r->wait(countdown_open));
    r->call([] {});  // its timer runs once the window thread has opened it
    r->backend_.advance(std::chrono::seconds(kShutDownSeconds));
    ASSERT_TRUE(r->wait([&] { return !countdown_open(); }));
    // The link-only entry became a link file, never a queued row.
    auto actions = r->shell_.actions();
    int shortcuts = 0, shutdowns = 0;
    for (const auto& a : actions) {
        if (a.kind == "shortcut") {
            ++shortcuts;
            EXPECT_EQ(a.a, save_.string() + "/" + rows[link].name + ".desktop");
            EXPECT_EQ(a.b, "http://www.example.com/qorvel/demo.zip");
        }
        if (a.kind == "shut_down") ++shutdowns;
    }
    EXPECT_EQ(shortcuts, 1);
    EXPECT_EQ(shutdowns, 1) << "once, after the last row";
}

TEST_F(TransferRoads, GuestDownloadsFromHost2AndFailuresNeitherLookFinishedNorStopTheQueue) {
    auto h = hosts_of(*service_);
    h.files3 = "127.0.0.1:1";  // a non-member never asks file host 3
    auto r = signed_in("guest", "guest123", h);
    auto rows = show_root(*r);
    int sample = row_named(rows, "样例数据.bin");
    ASSERT_GE(sample, 0);
    // Rows the service knows nothing of (no link in the answer) around a real one, while
    // the progress timer ticks far faster than its second: no tick may overwrite a failure.
    const int gone = 6;
    r->call([&] {
        ui::Control& files = r->main()["超级列表框1"];
        for (int i = 0; i < gone; ++i) {
            int row = files.insert_row(files.row_count(), "gone" + std::to_string(i) + ".bin",
                                       987654 + i);
            files.set_cell(row, 1, "1KB");
        }
    });
    std::vector<int> queued;
    for (int i = 0; i < gone; ++i) {
        queued.push_back(static_cast<int>(rows.size()) + i);
        if (i == gone / 2) queued.push_back(sample);
    }
    std::atomic<bool> ticking{true};
    std::thread ticker([&] {
        for (int i = 0; i < 20000 && ticking; ++i) {
            r->call([&] { r->program_.raise(r->main(), "时钟5", Event::tick); });
            std::this_thread::sleep_for(1ms);
        }
    });
    download_rows(*r, queued);
    bool idle = queue_idle(*r);
    ticking = false;
    ticker.join();
    ASSERT_TRUE(idle);
    EXPECT_EQ(read_bytes(save_ / text_to_path(rows[sample].name)),
              served(std::to_string(rows[sample].id), "0", false));
    EXPECT_FALSE(fs::exists(save_ / "gone0.bin"));
    r->call([&] {
        ui::Control& q = r->main()["超级列表框2"];
        ASSERT_EQ(q.row_count(), gone) << "the failed rows stay and say so";
        for (int i = 0; i < gone; ++i) {
            EXPECT_EQ(q.cell(i, 0), "gone" + std::to_string(i) + ".bin");
            EXPECT_EQ(q.cell(i, 2), GBK("失败"));
            EXPECT_EQ(q.cell(i, 4), GBK("无法取得文件的下载地址"));
        }
        EXPECT_EQ(r->main()["超级列表框3"].row_count(), 1);
        // Idle now: a failed row can be deleted.
        q.set_current(0);
        r->program_.raise(r->main(), "开始菜单/删除任务", Event::chosen);
        EXPECT_EQ(q.row_count(), gone - 1);
        // Del does the same.
        q.set_current(1);
        EXPECT_TRUE(r->program_.press_key(r->main(), "超级列表框2", ui::Key::del));
    });
    r->call([&] {
        ui::Control& q = r->main()["超级列表框2"];
        ASSERT_EQ(q.row_count(), gone - 2);
        EXPECT_EQ(q.cell(0, 0), "gone1.bin");
        EXPECT_EQ(q.cell(1, 0), "gone3.bin");
    });
    // No notification service here: the run's first failure and its end reach the tray, once each.
    EXPECT_TRUE(r->wait([&] { return r->main().tray_message().serial == 2; }, 2s));
    EXPECT_EQ(r->main().tray_message().text, GBK("已完成 1 个下载，6 个失败"));
}

TEST_F(TransferRoads, SameNamePoliciesAndAFailedDownloadLeavesTheOldFileIntact) {
    auto r = signed_in("guest", "guest123");
    auto rows = show_root(*r);
    int sample = row_named(rows, "样例数据.bin");
    ASSERT_GE(sample, 0);
    fs::path target = save_ / text_to_path(rows[sample].name);
    std::string fresh = served(std::to_string(rows[sample].id), "0", false);

    // 同名更改: the old file stays, the new one gets a number in front.
    write_bytes(target, "old");
    r->call([&] { r->main()["组合框6"].set_current(1); });
    download_rows(*r, {sample});
    ASSERT_TRUE(queue_idle(*r));
    EXPECT_EQ(read_bytes(target), "old");
    std::string renamed;
    r->call([&] { renamed = r->main()["超级列表框3"].cell(0, 1); });
    std::string prefix = renamed.substr(save_.string().size() + 1, 5);
    EXPECT_GE(std::stoi(prefix), 10000);
    EXPECT_LE(std::stoi(prefix), 50000);
    EXPECT_EQ(read_bytes(text_to_path(renamed)), fresh);

    // 同名覆盖 with a download that fails on the file host: the old file is untouched.
    std::string md5 = *transfer::file_md5_hex(text_to_path(renamed));
    fs::path blob = service_->data_dir() / "data" / "blobs" / md5.substr(0, 2) / md5;
    ASSERT_TRUE(fs::exists(blob));
    fs::path aside = blob.string() + ".aside";
    fs::rename(blob, aside);
    r->call([&] { r->main()["组合框6"].set_current(0); });
    download_rows(*r, {sample});
    ASSERT_TRUE(queue_idle(*r));
    fs::rename(aside, blob);
    EXPECT_EQ(read_bytes(target), "old");
    for (const auto& e : fs::directory_iterator(save_))
        EXPECT_EQ(e.path().filename().string().find(".qorvel-"), std::string::npos)
            << "nothing left behind: " << e.path();
    r->call([&] {
        ui::Control& q = r->main()["超级列表框2"];
        ASSERT_EQ(q.row_count(), 1);
        EXPECT_EQ(q.cell(0, 2), GBK("失败"));
        EXPECT_NE(q.cell(0, 4), "");
        q.set_current(0);
        r->program_.raise(r->main(), "开始菜单/删除任务", Event::chosen);
    });

    // 同名覆盖 that succeeds replaces the old file.
    download_rows(*r, {sample});
    ASSERT_TRUE(queue_idle(*r));
    EXPECT_EQ(read_bytes(target), fresh);

    // 同名更改 with a dangling link planted at the name: the name is taken, the link's
    // target is never created and the file gets a numbered name.
    fs::remove(target);
    fs::create_symlink(r->home_.path() / "planted", target);
    r->call([&] { r->main()["组合框6"].set_current(1); });
    download_rows(*r, {sample});
    ASSERT_TRUE(queue_idle(*r));
    EXPECT_FALSE(fs::exists(r->home_.path() / "planted"));
    EXPECT_TRUE(fs::is_symlink(target));
    r->call([&] { renamed = r->main()["超级列表框3"].cell(0, 1); });
    EXPECT_NE(text_to_path(renamed), target) << lists_shown(*r);
    EXPECT_EQ(read_bytes(text_to_path(renamed)), fresh);
}

TEST_F(TransferRoads, WholeFolderDownloadQueuesEveryFileOfTheFolder) {
    auto r = signed_in("demo", "demo123");
    show_root(*r);
    int item = 0;
    r->call([&] {
        for (const auto& i : r->main()["树型框1"].tree_items())
            if (i.text == GBK("分页测试")) item = i.id;
        ASSERT_NE(item, 0);
        r->main()["树型框1"].set_current(item);
        r->program_.raise(r->main(), "树型框1", Event::current_item_changed);
    });
    ASSERT_TRUE(browser_idle(*r));
    r->call([&] { r->program_.raise(r->main(), "按钮47", Event::clicked); });
    ASSERT_TRUE(r->wait([&] { return r->main()["超级列表框3"].row_count() == 45; }, 60s));
    ASSERT_TRUE(queue_idle(*r));
    auto rows = listed(*r);
    ASSERT_EQ(rows.size(), 45u) << "one list of the whole folder, not a page";
    int files = 0;
    for (const auto& e : fs::directory_iterator(save_)) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 45);
    for (size_t i : {size_t(0), size_t(44)})
        EXPECT_EQ(read_bytes(save_ / text_to_path(rows[i].name)),
                  served(std::to_string(rows[i].id), "8888", true));
    r->call([&] {
        EXPECT_EQ(r->main()["选择夹2"].page_title(1), GBK("已完成(45)"));
        EXPECT_EQ(r->main()["选择夹1"].current(), 2) << "the download page is shown";
    });
}

// Link-only entries become real link files (the desktop's own shell writes them) from a web
// host whose file pages hand out the storage links the test chooses.
TEST_F(TransferRoads, LinkFilesHoldOnlyWebAddressesAndNeverFollowAPlantedLink) {
    auto links = std::make_shared<std::pair<std::mutex, std::string>>();
    test::RecordingServer web(
        [links,
         forward = test::forward_to(hosts_of(*service_).web)](const test::RecordedRequest& q) {
            if (q.target().rfind("/ym.php", 0) != 0) return forward(q);
            std::lock_guard g(links->first);
            return test::RecordingServer::answer(
                200, "<span style=\"display:none;\">bsmzdyd" + links->second + "</span>");
        },
        service_->host());
    auto h = hosts_of(*service_);
    h.web = web.address();
    auto r = signed_in("demo", "demo123", h);
    DesktopShell desktop;
    r->shell_.write_shortcuts_with(&desktop);
    auto rows = show_root(*r);
    int link = row_named(rows, "外部链接.zip");
    ASSERT_GE(link, 0);
    std::string listed_name = gbk_to_utf8(rows[link].name);

    int done = 0;
    // Hands out one storage link and fetches the row; the finished list's new top row.
    auto fetch = [&](const std::string& storage_link) {
        {
            std::lock_guard g(links->first);
            links->second = storage_link;
        }
        download_rows(*r, {link});
        ++done;
        EXPECT_TRUE(r->wait([&] { return r->main()["超级列表框3"].row_count() == done; }));
        std::string where;
        r->call([&] { where = gbk_to_utf8(r->main()["超级列表框3"].cell(0, 1)); });
        return where;
    };
    auto desktop_files = [&] {
        std::vector<fs::path> out;
        for (const auto& e : fs::directory_iterator(save_))
            if (e.path().extension() == ".desktop") out.push_back(e.path());
        return out;
    };

    for (const char* hostile : {"http://x/doc\n[Desktop Entry]\nType=Application\n"
                                "Exec=sh -c 'touch /tmp/qorvel-pwned'\n",
                                "http://x/doc\r\nExec=id", "file:///bin/sh", "sh -c id",
                                "javascript:alert(1)", "http:///no-host"}) {
        EXPECT_EQ(fetch(hostile), "失败：链接地址不是网址") << hostile;
        EXPECT_TRUE(desktop_files().empty()) << hostile;
    }

    // A dangling link planted at the name points into an autostart folder.
    fs::path autostart = r->home_.path() / ".config" / "autostart";
    fs::create_directories(autostart);
    fs::create_symlink(autostart / "evil.desktop", save_ / (listed_name + ".desktop"));
    std::string made = fetch("HTTPS://www.example.com/qorvel/a b.zip");
    EXPECT_TRUE(fs::is_empty(autostart)) << "written through the planted link";
    EXPECT_TRUE(fs::is_symlink(save_ / (listed_name + ".desktop")));
    ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(made))) << made;
    EXPECT_NE(made, (save_ / (listed_name + ".desktop")).string());
    EXPECT_EQ(fs::path(made).parent_path(), save_);
    EXPECT_EQ(test::read_file(made),
              "[Desktop Entry]\nType=Link\nName=" + fs::path(made).stem().string() +
                  "\nURL=HTTPS://www.example.com/qorvel/a b.zip\n");
    EXPECT_EQ(desktop_files().size(), 2u) << "the planted link and the new file";
}

// Uploads: a retry wait of 50 ms and 3 attempts keep refused connections short.
class UploadRoads : public TransferRoads {
  protected:
    void SetUp() override {
        TransferRoads::SetUp();
        auto s = engine::engine_settings();
        s.retry_wait_ms = 50;
        s.max_attempts = 3;
        engine::set_engine_settings(s);
    }
    // A file of its own content, so the service holds no copy before the test.
    static std::string unique_content(size_t size) {
        static int n = 0;
        std::string s = "upload " + std::to_string(::getpid()) + " " + std::to_string(++n) + " " +
                        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
        s.resize(size, 'u');
        for (size_t i = 64; i < size; ++i) s[i] = static_cast<char>((i * 7919 + n) >> 3);
        return s;
    }
    void drop(Road& r, const std::vector<std::string>& paths) {
        r.call([&] {
            ui::EventArgs a;
            a.files = paths;
            r.program_.raise(r.main(), "拖放对象1", Event::files_dropped, a);
        });
    }
    bool upload_idle(Road& r) {
        return r.wait([&] { return !r.client_.transfers().uploads.run_active(); }, 30s);
    }
    // The service's web host behind a relay that records every request and
    // answers what script gives (an empty answer: forwarded to the service).
    std::unique_ptr<test::RecordingServer> relay(
        std::function<std::string(const test::RecordedRequest&)> script = {}) {
        auto forward = test::forward_to(hosts_of(*service_).web);
        return std::make_unique<test::RecordingServer>(
            [script, forward](const test::RecordedRequest& rq) {
                std::string answer = script ? script(rq) : std::string();
                return answer.empty() ? forward(rq) : answer;
            },
            service_->host());
    }
    static int requests_to(const test::RecordingServer& web, const std::string& path) {
        int n = 0;
        for (const auto& rq : web.requests()) n += rq.target().rfind(path, 0) == 0;
        return n;
    }
    // Sends slowly (64 KB a second), so a test can act while a file is on its way.
    static void send_slowly(Road& r) { r.client_.transfers().upload_params.rate_limit = 64 << 10; }
    static bool sending(Road& r) {
        return r.wait([&] {
            bool moving = false;
            r.client_.transfers().uploads.with_running(
                [&](const auto& t) { moving = t.object->bytes_sent() > 0; });
            return moving;
        });
    }
    static std::vector<std::string> column(Road& r, const char* list, int col) {
        std::vector<std::string> out;
        r.call([&] {
            ui::Control& l = r.main()[list];
            for (int i = 0; i < l.row_count(); ++i) out.push_back(l.cell(i, col));
        });
        return out;
    }
    static std::string log_text(Road& r) {
        return r.call([&] { return r.main()["日志编辑框"].text(); });
    }
};

TEST_F(UploadRoads, FtpUploadIsRegisteredAndListedThenTheSameContentGoesByDigestWithoutFtp) {
    auto r = signed_in("demo", "demo123");
    fs::path local = r->home_.path() / "notes.txt";
    std::string content = unique_content(300 * 1024);
    write_bytes(local, content);
    drop(*r, {local.string()});
    ASSERT_TRUE(upload_idle(*r));
    long long new_id = 0;
    r->call([&] {
        ui::Window& w = r->main();
        ui::Control& done = w["超级列表框4"];
        ASSERT_EQ(done.row_count(), 1) << gbk_to_utf8(w["标签49"].caption());
        EXPECT_EQ(done.cell(0, 0), local.string());
        EXPECT_EQ(done.cell(0, 1), "300KB");
        EXPECT_EQ(done.cell(0, 3), GBK("常规上传"));
        new_id = std::stoll(done.cell(0, 2));
        EXPECT_EQ(w["超级列表框1"].cell(0, 0), "notes.txt") << "the new file on top of the list";
        EXPECT_EQ(w["超级列表框1"].row_value(0), new_id);
        EXPECT_EQ(w["超级列表框6"].row_count(), 0);
        EXPECT_EQ(w["标签49"].caption(), GBK("状态：文件上传完成！"));
        EXPECT_EQ(w["选择夹3"].page_title(1), GBK("最近已完成(1)"));
        EXPECT_TRUE(w["上传按钮"].enabled());
    });
    EXPECT_EQ(served(std::to_string(new_id), "8888", true), content);
    // The server's digest of what it stored was checked before the registration.
    EXPECT_NE(log_text(*r).find(GBK("服务器已核对文件内容：") + local.string()), std::string::npos);

    // Another client whose FTP host does not answer: the digest alone must do.
    auto h = hosts_of(*service_);
    h.ftp_host = "127.0.10.62";  // nothing listens there
    auto again = signed_in("demo", "demo123", h);
    fs::path copy = again->home_.path() / "copy.txt", empty = again->home_.path() / "nothing.txt";
    write_bytes(copy, content);
    write_bytes(empty, "");
    again->call([&] { again->main()["选择框1"].set_checked(true); });
    drop(*again, {copy.string(), empty.string()});
    ASSERT_TRUE(upload_idle(*again));
    again->call([&] {
        ui::Window& w = again->main();
        ui::Control& done = w["超级列表框4"];
        ASSERT_EQ(done.row_count(), 2) << gbk_to_utf8(w["标签49"].caption());
        EXPECT_EQ(done.cell(0, 0), empty.string()) << "the empty file's digest is known";
        EXPECT_EQ(done.cell(0, 3), GBK("极速秒传"));
        EXPECT_EQ(done.cell(1, 0), copy.string());
        EXPECT_EQ(done.cell(1, 3), GBK("极速秒传"));
        EXPECT_EQ(w["标签49"].caption(), GBK("状态：上传完成！文件为极速秒传！"));
        EXPECT_EQ(w["日志编辑框"].text().find(GBK("开始上传文件")), std::string::npos);
    });
}

TEST_F(UploadRoads, AddingByDialogFolderAndDropFollowsTheLimitAndTheNameRules) {
    auto h = hosts_of(*service_);
    h.ftp_host = "127.0.10.62";  // nothing listens there
    auto r = signed_in("demo", "demo123", h);
    fs::path dir = r->home_.path() / "up";
    fs::create_directories(dir / "site.v2" / "deeper");
    auto sparse = [&](const std::string& name, std::int64_t size) {
        write_bytes(dir / name, "");
        fs::resize_file(dir / name, size);
        return (dir / name).string();
    };
    std::string at_limit = sparse("at_limit.iso", transfer::kUploadLimitBytes);
    std::string below = sparse("below.iso", transfer::kUploadLimitBytes - 1);
    write_bytes(dir / "site.v2" / "index.php", "<?php");
    write_bytes(dir / "site.v2" / "page.html", "<p>");
    write_bytes(dir / "Makefile", "all:");

    // The dialog: the limit applies, nothing starts.
    r->prompts_.push_files({at_limit, below});
    r->call([&] { r->program_.raise(r->main(), "选择文件", Event::clicked); });
    // A folder: every file directly inside, no filter.
    r->prompts_.push_folder((dir / "site.v2").string());
    r->call([&] { r->program_.raise(r->main(), "上传菜单/添加文件夹", Event::chosen); });
    std::vector<std::string> paths;
    r->call([&] {
        ui::Control& q = r->main()["超级列表框6"];
        for (int i = 0; i < q.row_count(); ++i) paths.push_back(q.cell(i, 0));
        EXPECT_EQ(q.cell(0, 3), transfer::upload_size_text(transfer::kUploadLimitBytes - 1));
        EXPECT_EQ(q.cell(0, 2), "0");
        EXPECT_TRUE(r->main()["上传按钮"].enabled()) << "adding by dialog does not start";
        // Idle: a waiting row can be deleted, then the whole queue is cleared.
        q.set_current(0);
        r->program_.raise(r->main(), "上传菜单/删除该上传任务", Event::chosen);
        EXPECT_EQ(q.row_count(), 2);
        // Del does the same.
        q.set_current(1);
        EXPECT_TRUE(r->program_.press_key(r->main(), "超级列表框6", ui::Key::del));
    });
    r->call([&] {
        ui::Control& q = r->main()["超级列表框6"];
        ASSERT_EQ(q.row_count(), 1);
        EXPECT_EQ(q.cell(0, 0), (dir / "site.v2" / "index.php").string());
        r->program_.raise(r->main(), "上传菜单/清空上传任务", Event::chosen);
        EXPECT_EQ(q.row_count(), 0);
    });
    EXPECT_EQ(paths, (std::vector<std::string>{below, (dir / "site.v2" / "index.php").string(),
                                               (dir / "site.v2" / "page.html").string()}));
    EXPECT_EQ(r->client_.transfers().uploads.size(), 0u);

    // A drop: a folder with a dot is a folder, a file without one a file; "php" is refused.
    drop(*r, {(dir / "site.v2").string(), (dir / "Makefile").string(),
              (dir / "site.v2" / "index.php").string(), at_limit});
    ASSERT_TRUE(upload_idle(*r));
    r->call([&] {
        ui::Control& q = r->main()["超级列表框6"];
        std::vector<std::string> got;
        for (int i = 0; i < q.row_count(); ++i) got.push_back(q.cell(i, 0));
        EXPECT_EQ(got, (std::vector<std::string>{(dir / "site.v2" / "index.php").string(),
                                                 (dir / "site.v2" / "page.html").string(),
                                                 (dir / "Makefile").string()}));
        // No FTP server answered: every row failed, none was registered.
        for (int i = 0; i < q.row_count(); ++i)
            EXPECT_EQ(q.cell(i, 3).rfind(GBK("失败："), 0), 0u) << i;
        EXPECT_EQ(r->main()["超级列表框4"].row_count(), 0);
    });
}

TEST_F(UploadRoads,
       AVanishedFileARefusedStartAndARefusedRegistrationFailTheirRowsAndTheQueueGoesOn) {
    auto r = signed_in("demo", "demo123");
    fs::path gone = r->home_.path() / "gone.txt", kept = r->home_.path() / "kept.txt",
             refused = r->home_.path() / "refused.txt";
    write_bytes(gone, "soon gone");
    write_bytes(kept, unique_content(10 * 1024));
    write_bytes(refused, unique_content(10 * 1024));
    // A name the engine refuses to put into an address: that row fails at its start.
    fs::path odd = r->home_.path() / "odd\x01name.txt";
    write_bytes(odd, "odd");
    r->prompts_.push_files({gone.string(), odd.string(), kept.string()});
    r->call([&] { r->program_.raise(r->main(), "选择文件", Event::clicked); });
    // The third row goes to a folder the account does not have.
    r->call([&] {
        ui::Control& tree = r->main()["树型框1"];
        int item = tree.add_tree_item(0, "missing", 99999);
        tree.set_current(item);
    });
    r->prompts_.push_files({refused.string()});
    r->call([&] { r->program_.raise(r->main(), "选择文件", Event::clicked); });
    fs::remove(gone);
    r->call([&] { r->program_.raise(r->main(), "上传按钮", Event::clicked); });
    ASSERT_TRUE(upload_idle(*r));
    r->call([&] {
        ui::Window& w = r->main();
        ui::Control& q = w["超级列表框6"];
        ASSERT_EQ(q.row_count(), 3);
        EXPECT_EQ(q.cell(0, 0), gone.string());
        EXPECT_EQ(q.cell(0, 3), GBK("失败：文件无法读取，上传失败！"));
        EXPECT_EQ(q.cell(1, 0), odd.string());
        EXPECT_EQ(q.cell(1, 3), GBK("失败：无法启动上传任务"));
        EXPECT_EQ(q.cell(2, 0), refused.string());
        EXPECT_EQ(q.cell(2, 3), GBK("失败：上传失败，文件被使用中！"));
        ui::Control& done = w["超级列表框4"];
        ASSERT_EQ(done.row_count(), 1);
        EXPECT_EQ(done.cell(0, 0), kept.string());
        EXPECT_EQ(done.cell(0, 3), GBK("常规上传"));
    });
    // The file chooser opens where the last upload came from.
    r->call([&] { r->program_.raise(r->main(), "选择文件", Event::clicked); });
    auto folders = r->prompts_.file_chooser_folders();
    ASSERT_EQ(folders.size(), 3u);
    EXPECT_EQ(folders[0], "");
    EXPECT_EQ(folders[2], r->home_.path().string() + "/");
}

// A link in a dropped or chosen folder could carry any of the user's files out
// under an innocent name; a link picked alone is the user's choice.
TEST_F(UploadRoads, FolderLinksAreSkippedAndSaidAndALinkPickedAloneSendsItsFileByItsRealPath) {
    auto r = signed_in("demo", "demo123");
    fs::path dir = r->home_.path() / "drop", secret = r->home_.path() / "id_rsa";
    fs::create_directories(dir);
    const std::string key = unique_content(20 * 1024), plain = unique_content(12 * 1024);
    write_bytes(secret, key);
    write_bytes(dir / "plain.txt", plain);
    fs::create_symlink(secret, dir / "notes.txt");
    fs::create_symlink(r->home_.path(), dir / "home");
    drop(*r, {dir.string()});
    ASSERT_TRUE(upload_idle(*r));
    EXPECT_EQ(column(*r, "超级列表框4", 0),
              (std::vector<std::string>{(dir / "plain.txt").string()}));
    EXPECT_EQ(column(*r, "超级列表框6", 0), std::vector<std::string>{});
    EXPECT_NE(log_text(*r).find(GBK("已跳过 2 个符号链接")), std::string::npos);
    // The same through the folder chooser, nothing started: the status says it.
    r->prompts_.push_folder(dir.string());
    r->call([&] { r->program_.raise(r->main(), "上传菜单/添加文件夹", Event::chosen); });
    r->call([&] {
        EXPECT_EQ(r->main()["标签49"].caption(), GBK("状态：已跳过 2 个符号链接"));
        EXPECT_EQ(r->main()["超级列表框6"].row_count(), 1);
        r->program_.raise(r->main(), "上传菜单/清空上传任务", Event::chosen);
    });

    // Picked alone, the link goes as the file it names, shown by its real path.
    const std::string real = fs::canonical(secret).string();
    r->prompts_.push_files({(dir / "notes.txt").string()});
    r->call([&] { r->program_.raise(r->main(), "选择文件", Event::clicked); });
    EXPECT_EQ(column(*r, "超级列表框6", 0), std::vector<std::string>{real});
    r->call([&] { r->program_.raise(r->main(), "上传按钮", Event::clicked); });
    ASSERT_TRUE(upload_idle(*r));
    long long new_id = 0;
    r->call([&] {
        ui::Control& done = r->main()["超级列表框4"];
        ASSERT_EQ(done.row_count(), 2) << gbk_to_utf8(r->main()["标签49"].caption());
        EXPECT_EQ(done.cell(0, 0), real);
        new_id = std::stoll(done.cell(0, 2));
        EXPECT_EQ(r->main()["超级列表框1"].cell(0, 0), "id_rsa");
    });
    EXPECT_TRUE(served(std::to_string(new_id), "8888", true) == key);
}

TEST_F(UploadRoads, AFileLeftOutForItsSizeOrItsNameIsSaid) {
    auto h = hosts_of(*service_);
    h.ftp_host = "127.0.10.62";  // nothing listens there
    auto r = signed_in("demo", "demo123", h);
    fs::path big = r->home_.path() / "big.iso", page = r->home_.path() / "index.php";
    write_bytes(big, "");
    fs::resize_file(big, transfer::kUploadLimitBytes);
    write_bytes(page, "<?php");
    r->prompts_.push_files({big.string()});
    r->call([&] { r->program_.raise(r->main(), "选择文件", Event::clicked); });
    r->call(
        [&] { EXPECT_EQ(r->main()["标签49"].caption(), GBK("状态：有1个文件超过1024M，未添加")); });
    drop(*r, {page.string(), big.string()});
    r->call([&] {
        EXPECT_EQ(r->main()["超级列表框6"].row_count(), 0);
        EXPECT_EQ(r->main()["标签49"].caption(),
                  GBK("状态：有1个文件超过1024M，未添加，有1个文件的类型不允许上传，未添加"));
    });
    std::string log = log_text(*r);
    EXPECT_NE(log.find(GBK("文件超过1024M，未添加：") + big.string()), std::string::npos);
    EXPECT_NE(log.find(GBK("文件类型不允许上传，未添加：") + page.string()), std::string::npos);
}

// The service holds neither version of a file rewritten or grown on its way.
TEST_F(UploadRoads, AFileChangedDuringTheSendFailsItsRowAndNothingIsRegistered) {
    auto web = relay();
    auto h = hosts_of(*service_);
    h.web = web->address();
    auto r = signed_in("demo", "demo123", h);
    send_slowly(*r);
    for (bool grow : {true, false}) {
        fs::path local = r->home_.path() / (grow ? "grown.bin" : "rewritten.bin");
        write_bytes(local, unique_content(128 * 1024));
        drop(*r, {local.string()});
        ASSERT_TRUE(sending(*r));
        {
            std::ofstream out(local, grow ? std::ios::binary | std::ios::app
                                          : std::ios::binary | std::ios::in | std::ios::out);
            out << std::string(4096, 'x');
        }
        ASSERT_TRUE(upload_idle(*r));
    }
    EXPECT_EQ(column(*r, "超级列表框6", 3),
              std::vector<std::string>(2, GBK("失败：上传失败：文件在上传中被改动")));
    EXPECT_EQ(column(*r, "超级列表框4", 0), std::vector<std::string>{});
    EXPECT_EQ(requests_to(*web, "/tjwj.php"), 0);
}

// A server that stored other bytes than were sent gives itself away by its
// digest: the row fails and the service gets no registration and no file.
TEST_F(UploadRoads, AnUploadStoredWithOtherBytesFailsItsRowAndNothingIsRegistered) {
    test::ServiceInstanceOptions o = service_options();
    // An address of this process's own, apart from the shared service's port 1678.
    std::string shared = o.host;
    o.host = "127." + std::to_string(64 + std::stoi(shared.substr(4, shared.find('.', 4) - 4))) +
             shared.substr(shared.find('.', 4));
    o.extra_args = {"--test-ftp-corrupt-stored"};
    test::ServiceInstance corrupting(o);
    ASSERT_TRUE(corrupting.start()) << test::read_file(corrupting.log_file());
    auto h = hosts_of(corrupting);
    auto r = signed_in("demo", "demo123", h);
    std::string list_address;
    r->call([&] {
        list_address =
            h.web_url("/mljg/wjdq.php?pid=" + r->client_.session().login_pid() + "&ml=0&dqlx=1");
    });
    auto files_listed = [&] {
        std::string page = web_get(list_address);
        int n = 0;
        for (auto at = page.find(GBK("文件名：")); at != std::string::npos && n < 1000;
             at = page.find(GBK("文件名："), at + 1))
            ++n;
        return std::make_pair(n, page.find("kept-wrong") != std::string::npos);
    };
    const auto listed_before = files_listed();
    ASSERT_GT(listed_before.first, 0) << "the demo files are listed";

    fs::path local = r->home_.path() / "kept-wrong.bin";
    write_bytes(local, unique_content(100 * 1024));
    drop(*r, {local.string()});
    ASSERT_TRUE(upload_idle(*r));
    EXPECT_EQ(column(*r, "超级列表框6", 3),
              std::vector<std::string>{GBK("失败：上传失败：服务器收到的内容与本地文件不符")});
    EXPECT_EQ(column(*r, "超级列表框4", 0), std::vector<std::string>{});
    EXPECT_EQ(log_text(*r).find(GBK("服务器已核对文件内容")), std::string::npos);
    EXPECT_EQ(files_listed(), listed_before);
}

// A server without HASH cannot check the content: the upload is listed as
// before, without the note that it was checked. A server with HASH whose check
// fails has not shown that it holds the file: the row fails, nothing registered.
TEST_F(UploadRoads, AnUploadIsListedAfterAServerWithoutHashButNotAfterAFailedCheck) {
    for (bool has_hash : {false, true}) {
        SCOPED_TRACE(has_hash ? "HASH fails" : "no HASH");
        test::ServiceInstanceOptions o = service_options();
        // An address of this process's own, apart from the shared service's port 1678.
        std::string shared = o.host;
        o.host = "127." +
                 std::to_string(128 + std::stoi(shared.substr(4, shared.find('.', 4) - 4))) +
                 shared.substr(shared.find('.', 4));
        o.extra_args = {has_hash ? "--test-ftp-hash-fails" : "--test-ftp-no-hash"};
        test::ServiceInstance service(o);
        ASSERT_TRUE(service.start()) << test::read_file(service.log_file());
        auto r = signed_in("demo", "demo123", hosts_of(service));
        fs::path local = r->home_.path() / "unchecked.bin";
        write_bytes(local, unique_content(64 * 1024));
        drop(*r, {local.string()});
        ASSERT_TRUE(upload_idle(*r));
        if (has_hash) {
            EXPECT_EQ(column(*r, "超级列表框6", 3),
                      std::vector<std::string>{GBK("失败：上传失败：服务器未能核对收到的内容")});
            EXPECT_EQ(column(*r, "超级列表框4", 0), std::vector<std::string>{});
        } else {
            EXPECT_EQ(column(*r, "超级列表框6", 0), std::vector<std::string>{});
            EXPECT_EQ(column(*r, "超级列表框4", 0), std::vector<std::string>{local.string()});
            EXPECT_EQ(column(*r, "超级列表框4", 3), std::vector<std::string>{GBK("常规上传")});
        }
        EXPECT_EQ(log_text(*r).find(GBK("服务器已核对文件内容")), std::string::npos);
    }
}

// A FIFO in place of a file fails at once; clearing during a send takes the
// running row away too, and its upload is never registered.
TEST_F(UploadRoads, AFifoFailsPromptlyAndClearingDuringASendLeavesNoRowAndRegistersNothing) {
    auto web = relay();
    auto h = hosts_of(*service_);
    h.web = web->address();
    auto r = signed_in("demo", "demo123", h);
    send_slowly(*r);
    fs::path swapped = r->home_.path() / "swapped.bin", slow = r->home_.path() / "slow.bin",
             next = r->home_.path() / "next.bin";
    write_bytes(swapped, "soon a pipe");
    write_bytes(slow, unique_content(256 * 1024));
    write_bytes(next, unique_content(1024));
    r->prompts_.push_files({swapped.string(), slow.string(), next.string()});
    r->call([&] { r->program_.raise(r->main(), "选择文件", Event::clicked); });
    fs::remove(swapped);
    ASSERT_EQ(::mkfifo(swapped.c_str(), 0600), 0);
    auto began = std::chrono::steady_clock::now();
    r->call([&] { r->program_.raise(r->main(), "上传按钮", Event::clicked); });
    ASSERT_TRUE(sending(*r));
    EXPECT_LT(std::chrono::steady_clock::now() - began, 5s);
    EXPECT_EQ(column(*r, "超级列表框6", 3).at(0), GBK("失败：文件无法读取，上传失败！"));
    r->call([&] { r->program_.raise(r->main(), "上传菜单/清空上传任务", Event::chosen); });
    EXPECT_EQ(column(*r, "超级列表框6", 0), std::vector<std::string>{});
    ASSERT_TRUE(upload_idle(*r));
    EXPECT_EQ(column(*r, "超级列表框6", 0), std::vector<std::string>{});
    EXPECT_EQ(r->client_.transfers().uploads.size(), 0u);
    EXPECT_EQ(column(*r, "超级列表框4", 0), std::vector<std::string>{});
    EXPECT_EQ(requests_to(*web, "/tjwj.php"), 0);
    r->call([&] {
        EXPECT_EQ(r->main()["选择夹3"].page_title(0), GBK("客户端上传(0)"));
        EXPECT_TRUE(r->main()["上传按钮"].enabled());
    });
}

// An error page that echoes the marker is no verdict, for instant upload and
// registration alike.
TEST_F(UploadRoads, AnErrorAnswerCarryingTheMarkerIsNeverASuccess) {
    auto web = relay([](const test::RecordedRequest& rq) {
        if (rq.target().rfind("/jsmc.php", 0) != 0 && rq.target().rfind("/tjwj.php", 0) != 0)
            return std::string();
        return test::RecordingServer::answer(500, "INSERT INTO `wenjian` xxxx77x");
    });
    auto h = hosts_of(*service_);
    h.web = web->address();
    auto r = signed_in("demo", "demo123", h);
    fs::path local = r->home_.path() / "echoed.txt";
    write_bytes(local, unique_content(2048));
    r->call([&] { r->main()["选择框1"].set_checked(true); });
    drop(*r, {local.string()});
    ASSERT_TRUE(upload_idle(*r));
    EXPECT_EQ(requests_to(*web, "/jsmc.php"), 1);
    EXPECT_EQ(requests_to(*web, "/tjwj.php"), 1);
    EXPECT_EQ(column(*r, "超级列表框6", 3),
              std::vector<std::string>{GBK("失败：上传失败，文件被使用中！")});
    EXPECT_EQ(column(*r, "超级列表框4", 0), std::vector<std::string>{});
}

// A file host that sends part of a file and holds the connection until told,
// then drops it; later connections get 404. Keeps a download in flight without
// a clock.
class HeldFileHost {
  public:
    static constexpr int kSent = 64 * 1024;
    HeldFileHost()
        : server_([this](int fd, int index) {
              test::read_until(fd, "\r\n\r\n");
              if (index > 0) {
                  std::string no = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
                  test::write_all(fd, no);
                  ::close(fd);
                  return;
              }
              std::string head =
                  "HTTP/1.1 200 OK\r\nContent-Length: 1048576\r\nAccept-Ranges: bytes\r\n\r\n";
              test::write_all(fd, head + std::string(kSent, 'h'));
              for (int i = 0; i < 3000 && !released_.load(); ++i) std::this_thread::sleep_for(10ms);
              ::close(fd);
          }) {}
    ~HeldFileHost() { release(); }
    void release() { released_ = true; }
    int connections() const { return server_.connections(); }
    std::string address() const { return "127.0.0.1:" + std::to_string(server_.port()); }

  private:
    std::atomic<bool> released_{false};
    test::ScriptedServer server_;
};

class HeldDownloads : public UploadRoads {
  protected:
    // A guest whose file host 2 is the held host, with the sample queued twice.
    std::unique_ptr<Road> in_flight(HeldFileHost& held, std::vector<Listed>& rows, int& sample) {
        auto h = hosts_of(*service_);
        h.files2 = held.address();
        auto r = signed_in("guest", "guest123", h);
        rows = show_root(*r);
        sample = row_named(rows, "样例数据.bin");
        EXPECT_GE(sample, 0);
        download_rows(*r, {sample});
        download_rows(*r, {sample});
        EXPECT_TRUE(r->wait([&] {
            bool moved = false;
            r->client_.transfers().downloads.with_running(
                [&](const auto& t) { moved = t.object->bytes_received() >= HeldFileHost::kSent; });
            return moved;
        }));
        return r;
    }
};

TEST_F(HeldDownloads, ProgressMovesTheRunningRowStaysAndAFileHostGoneFailsItAndTheQueueGoesOn) {
    HeldFileHost held;
    std::vector<Listed> rows;
    int sample = -1;
    auto r = in_flight(held, rows, sample);
    r->call([&] { r->program_.raise(r->main(), "时钟5", Event::tick); });
    // The tick's worker writes the cells one by one, the tooltip last.
    ASSERT_TRUE(r->wait([&] {
        ui::Control& q = r->main()["超级列表框2"];
        return q.cell(0, 2) == "6%" && !q.row_tooltip(0).empty();
    }));
    r->call([&] {
        ui::Control& q = r->main()["超级列表框2"];
        EXPECT_EQ(q.cell(0, 4), "64KB") << "the bytes of the last tick";
        // The first tick counts as a second: 960 KB left at 64 KB a second.
        EXPECT_EQ(gbk_to_utf8(q.row_tooltip(0)), "速度 64.0KB/s，剩余 15秒");
        EXPECT_EQ(q.cell(1, 2), "") << "only the top row shows progress";
        q.set_current(0);
        r->program_.raise(r->main(), "开始菜单/删除任务", Event::chosen);
        EXPECT_EQ(q.row_count(), 2);
        EXPECT_TRUE(test::asked(r->prompts_, "该任务正在执行中，暂时无法删除。"));
        q.set_current(1);
        r->program_.raise(r->main(), "开始菜单/删除任务", Event::chosen);
        EXPECT_EQ(q.row_count(), 1);
    });
    // Queued again during the run; then the host goes away mid-file.
    download_rows(*r, {sample});
    held.release();
    ASSERT_TRUE(queue_idle(*r));
    r->call([&] {
        ui::Control& q = r->main()["超级列表框2"];
        ASSERT_EQ(q.row_count(), 2);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(q.cell(i, 2), GBK("失败")) << i;
            EXPECT_NE(q.cell(i, 4), "") << i;
            EXPECT_EQ(q.row_tooltip(i), GBK("下载失败：") + q.cell(i, 4))
                << "no late tick overwrote the reason";
        }
        EXPECT_EQ(r->main()["超级列表框3"].row_count(), 0) << "nothing looks finished";
        EXPECT_TRUE(r->main()["按钮28"].enabled());
    });
    EXPECT_FALSE(fs::exists(save_ / text_to_path(rows[sample].name)));
}

// The exit keeps the partial file and its record on the task, so the
// download continues at the next start instead of being lost.
TEST_F(HeldDownloads, TheExitQuestionStopsTheRunningDownloadAndKeepsItsPartialFile) {
    HeldFileHost held;
    std::vector<Listed> rows;
    int sample = -1;
    auto r = in_flight(held, rows, sample);
    r->prompts_.push_answer(kAnswerNo);
    EXPECT_FALSE(r->call([&] { return r->client_.confirm_exit_downloads(); }));
    EXPECT_TRUE(r->client_.transfers().downloads.running());
    r->prompts_.push_answer(kAnswerYes);
    EXPECT_TRUE(r->call([&] { return r->client_.confirm_exit_downloads(); }));
    EXPECT_TRUE(test::asked(r->prompts_,
                            "发现有未完成的下载任务，是否退出，如果退出，将停止并删除该文件。"));
    ASSERT_TRUE(queue_idle(*r));
    std::vector<fs::path> left;
    for (const auto& e : fs::directory_iterator(save_)) left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<fs::path>{text_to_path(rows[sample].name + ".part")});
    auto tasks = r->client_.transfers().downloads.tasks();
    ASSERT_EQ(tasks.size(), 2u);
    EXPECT_EQ(tasks[0].state, transfer::RowState::waiting);
    EXPECT_NE(tasks[0].saved_record, "") << "what the next start continues from";
    EXPECT_EQ(tasks[1].saved_record, "");
    EXPECT_EQ(held.connections(), 1) << "the waiting row did not start after the stop";
}

// Sends the head and the first bytes of its content, the rest once released.
class PausedFileHost {
  public:
    static constexpr std::size_t kFirst = 64 * 1024;
    PausedFileHost()
        : content_(test::random_bytes(512 * 1024, 77)), server_([this](int fd, int) {
              test::read_until(fd, "\r\n\r\n");
              test::write_all(
                  fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(content_.size()) +
                          "\r\n\r\n" + content_.substr(0, kFirst));
              for (int i = 0; i < 3000 && !released_.load(); ++i) std::this_thread::sleep_for(10ms);
              test::write_all(fd, content_.substr(kFirst));
              ::close(fd);
          }) {}
    ~PausedFileHost() { release(); }
    void release() { released_ = true; }
    const std::string& content() const { return content_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(server_.port()); }

  private:
    std::string content_;
    std::atomic<bool> released_{false};
    test::ScriptedServer server_;
};

// A user's own "name.part" neither blocks the download nor is touched; a file
// that takes the name while downloading stays, and with "同名更改" the download
// ends under a numbered name.
TEST_F(HeldDownloads, ANameTakenWhileDownloadingEndsUnderAFreeNameAndAUsersPartialFileStays) {
    PausedFileHost host;
    auto h = hosts_of(*service_);
    h.files2 = host.address();
    auto r = signed_in("guest", "guest123", h);
    auto rows = show_root(*r);
    int sample = row_named(rows, "样例数据.bin");
    ASSERT_GE(sample, 0);
    fs::path target = save_ / text_to_path(rows[sample].name);
    fs::path users_part = target.string() + ".part";
    write_bytes(users_part, "mine");
    r->call([&] { r->main()["组合框6"].set_current(1); });
    download_rows(*r, {sample});
    ASSERT_TRUE(r->wait([&] {
        bool moved = false;
        r->client_.transfers().downloads.with_running([&](const auto& t) {
            moved = t.object->bytes_received() >= std::int64_t(PausedFileHost::kFirst);
        });
        return moved;
    })) << lists_shown(*r);
    write_bytes(target, "not ours");
    host.release();
    ASSERT_TRUE(queue_idle(*r));
    EXPECT_EQ(read_bytes(target), "not ours");
    EXPECT_EQ(read_bytes(users_part), "mine");
    std::string placed;
    r->call([&] {
        ASSERT_EQ(r->main()["超级列表框3"].row_count(), 1) << lists_shown(*r);
        placed = r->main()["超级列表框3"].cell(0, 1);
    });
    ASSERT_GT(placed.size(), save_.string().size() + 6);
    int prefix = std::stoi(placed.substr(save_.string().size() + 1, 5));
    EXPECT_GE(prefix, 10000);
    EXPECT_LE(prefix, 50000);
    EXPECT_TRUE(read_bytes(text_to_path(placed)) == host.content());
    int files = 0;
    for (const auto& e : fs::directory_iterator(save_)) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 3) << "the other file, the user's partial file and ours";
}

// "同名覆盖" over something a file cannot replace (a folder with files): the
// row fails and says so, and the finished hidden file does not stay behind.
TEST_F(TransferRoads, AReplacementThatCannotHappenLeavesNoHiddenFile) {
    auto r = signed_in("guest", "guest123");
    auto rows = show_root(*r);
    int sample = row_named(rows, "样例数据.bin");
    ASSERT_GE(sample, 0);
    fs::path target = save_ / text_to_path(rows[sample].name);
    fs::create_directories(target);
    write_bytes(target / "inside", "kept");
    r->call([&] { r->main()["组合框6"].set_current(0); });
    download_rows(*r, {sample});
    ASSERT_TRUE(queue_idle(*r));
    EXPECT_EQ(read_bytes(target / "inside"), "kept");
    for (const auto& e : fs::directory_iterator(save_))
        EXPECT_EQ(e.path(), target) << "left behind: " << e.path();
    r->call([&] {
        ui::Control& q = r->main()["超级列表框2"];
        ASSERT_EQ(q.row_count(), 1);
        EXPECT_EQ(q.cell(0, 2), GBK("失败"));
        EXPECT_EQ(q.cell(0, 4), GBK("无法替换同名文件"));
    });
}

// File host 3 behind a proxy that damages its answers: under either same-name
// rule, with an old file at the name or none, a download whose content does not
// match the host's digest never reaches "已完成" and leaves nothing but the old
// file; undamaged, the same download verifies and completes.
TEST_F(TransferRoads, ADownloadWhoseContentMissesTheDigestNeverLooksFinished) {
    auto fault = std::make_shared<std::atomic<test::Fault>>(test::Fault::none);
    test::RecordingServer host3(test::forward_with_fault(hosts_of(*service_).files3, fault),
                                service_->host());
    auto h = hosts_of(*service_);
    h.files3 = host3.address();
    auto r = signed_in("demo", "demo123", h);
    auto rows = show_root(*r);
    int readme = row_named(rows, "使用说明.txt");
    ASSERT_GE(readme, 0);
    fs::path target = save_ / text_to_path(rows[readme].name);
    std::string fresh = served(std::to_string(rows[readme].id), "8888", true);
    auto done_rows = [&] {
        int n = 0;
        r->call([&] { n = r->main()["超级列表框3"].row_count(); });
        return n;
    };
    auto only_old_file = [&](bool old) {
        int entries = 0;
        for (const auto& e : fs::directory_iterator(save_)) {
            EXPECT_EQ(e.path(), target) << "left behind: " << e.path();
            ++entries;
        }
        EXPECT_EQ(entries, old ? 1 : 0);
        if (old) {
            EXPECT_EQ(read_bytes(target), "old");
        }
    };
    for (auto f :
         {test::Fault::flip_byte, test::Fault::drop_last_byte, test::Fault::wrong_digest}) {
        for (int policy : {0, 1}) {
            for (bool old : {false, true}) {
                SCOPED_TRACE("fault " + std::to_string(static_cast<int>(f)) + ", policy " +
                             std::to_string(policy) + (old ? ", old file" : ", no old file"));
                fault->store(f);
                if (old) write_bytes(target, "old");
                r->call([&] { r->main()["组合框6"].set_current(policy); });
                download_rows(*r, {readme});
                ASSERT_TRUE(queue_idle(*r));
                EXPECT_EQ(done_rows(), 0) << lists_shown(*r);
                only_old_file(old);
                r->call([&] {
                    ui::Control& q = r->main()["超级列表框2"];
                    ASSERT_EQ(q.row_count(), 1);
                    EXPECT_EQ(q.cell(0, 2), GBK("失败"));
                    EXPECT_EQ(q.cell(0, 4), GBK("文件内容与服务器的校验值不符"));
                    q.set_current(0);
                    r->program_.raise(r->main(), "开始菜单/删除任务", Event::chosen);
                });
                fs::remove(target);
            }
        }
    }
    // Undamaged: "同名覆盖" over an old file, then "同名更改" beside it.
    fault->store(test::Fault::none);
    write_bytes(target, "old");
    r->call([&] { r->main()["组合框6"].set_current(0); });
    download_rows(*r, {readme});
    ASSERT_TRUE(queue_idle(*r));
    EXPECT_EQ(read_bytes(target), fresh);
    r->call([&] { r->main()["组合框6"].set_current(1); });
    download_rows(*r, {readme});
    ASSERT_TRUE(queue_idle(*r));
    EXPECT_EQ(done_rows(), 2) << lists_shown(*r);
    std::string renamed;
    r->call([&] { renamed = r->main()["超级列表框3"].cell(0, 1); });
    EXPECT_NE(text_to_path(renamed), target);
    EXPECT_EQ(read_bytes(text_to_path(renamed)), fresh);
}

// The service goes away mid-download and comes back: meanwhile the running row
// says it is reconnecting and, in its tooltip, why the last attempt failed;
// then it shows its speed again and the file completes byte-exact.
TEST_F(TransferRoads, ARowSaysItIsReconnectingWhileTheServiceIsGoneAndThenCompletes) {
    // A service of its own, slow enough to go away while the file is on its way.
    test::ServiceInstanceOptions o;
    o.throttle = true;
    o.extra_args = {"--throttle-rate", std::to_string(256 << 10)};
    test::ServiceInstance slow(o);
    ASSERT_TRUE(slow.start());
    const auto before = engine::engine_settings();
    auto s = before;
    s.retry_wait_ms = 200;
    engine::set_engine_settings(s);
    auto r = signed_in("guest", "guest123", hosts_of(slow));
    auto rows = show_root(*r);
    int sample = row_named(rows, "样例数据.bin");
    ASSERT_GE(sample, 0);
    std::string whole = served(std::to_string(rows[sample].id), "0", false, slow);
    download_rows(*r, {sample});
    ASSERT_TRUE(r->wait([&] {
        bool moved = false;
        r->client_.transfers().downloads.with_running(
            [&](const auto& t) { moved = t.object->bytes_received() >= (128 << 10); });
        return moved;
    }));
    ASSERT_EQ(slow.stop(), 0);
    auto row_says = [&](const std::string& cell, const std::string& tooltip) {
        return r->wait([&] {
            r->program_.raise(r->main(), "时钟5", Event::tick);
            ui::Control& q = r->main()["超级列表框2"];
            return q.row_count() == 1 &&
                   gbk_to_utf8(q.cell(0, 4)).find(cell) != std::string::npos &&
                   gbk_to_utf8(q.row_tooltip(0)).find(tooltip) != std::string::npos;
        });
    };
    // The first retry may carry the broken body's reason; later ones the refused connection.
    bool reconnecting = row_says("重新连接中（第", "，上次的错误：连接 [" + slow.host() + ":");
    EXPECT_TRUE(slow.restart()) << test::read_file(slow.log_file());
    ASSERT_TRUE(reconnecting) << lists_shown(*r);
    EXPECT_TRUE(row_says("KB", "速度 ")) << "the speed again" << lists_shown(*r);
    ASSERT_TRUE(queue_idle(*r));
    engine::set_engine_settings(before);
    EXPECT_TRUE(read_bytes(save_ / text_to_path(rows[sample].name)) == whole) << lists_shown(*r);
    r->call([&] { EXPECT_EQ(r->main()["超级列表框3"].row_count(), 1); });
}

// Tests may run as root, whom permissions do not stop: a "folder" that is a
// regular file cannot be written by anyone.
TEST_F(TransferRoads, ADownloadIntoAFolderThatCannotBeWrittenSaysWhichFileAndWhyInFull) {
    auto r = signed_in("guest", "guest123");
    auto rows = show_root(*r);
    int sample = row_named(rows, "样例数据.bin");
    ASSERT_GE(sample, 0);
    write_bytes(save_ / "plain.txt", "a file, not a folder");
    const std::string folder = save_.string() + "/plain.txt/sub/";
    r->call([&] { r->main()["编辑框49"].set_text(folder); });
    download_rows(*r, {sample});
    ASSERT_TRUE(queue_idle(*r));
    const std::string why = GBK("无法写入 ") + folder + rows[sample].name + GBK("：文件夹不存在");
    r->call([&] {
        ui::Control& q = r->main()["超级列表框2"];
        ASSERT_EQ(q.row_count(), 1);
        EXPECT_EQ(q.cell(0, 2), GBK("失败"));
        EXPECT_EQ(q.cell(0, 4), why);
        EXPECT_EQ(q.row_tooltip(0), GBK("下载失败：") + why);
        EXPECT_NE(r->main()["日志编辑框"].text().find(GBK("下载失败 ") + rows[sample].name +
                                                      GBK("：") + why),
                  std::string::npos)
            << gbk_to_utf8(r->main()["日志编辑框"].text());
    });
    EXPECT_EQ(read_bytes(save_ / "plain.txt"), "a file, not a folder");
}

TEST_F(UploadRoads, ARunningUploadShowsItsSpeedAndTimeLeftAndAFailureItsWholeReason) {
    auto r = signed_in("demo", "demo123");
    send_slowly(*r);
    fs::path slow = r->home_.path() / "slow.bin", gone = r->home_.path() / "gone.bin";
    write_bytes(slow, unique_content(2 << 20));
    write_bytes(gone, "soon removed");
    r->prompts_.push_files({gone.string(), slow.string()});
    r->call([&] { r->program_.raise(r->main(), "选择文件", Event::clicked); });
    fs::remove(gone);
    r->call([&] { r->program_.raise(r->main(), "上传按钮", Event::clicked); });
    ASSERT_TRUE(sending(*r));
    r->call([&] { r->program_.raise(r->main(), "上传速度时钟", Event::tick); });
    r->call([&] {
        ui::Window& w = r->main();
        ui::Control& q = w["超级列表框6"];
        ASSERT_EQ(q.row_count(), 2);
        EXPECT_EQ(q.row_tooltip(0), GBK("上传失败：文件无法读取，上传失败！"));
        EXPECT_NE(w["日志编辑框"].text().find(GBK("上传失败 ") + gone.string()), std::string::npos);
        // Seconds to go at 64 KB a second, never "unknown" while bytes move.
        const std::string tip = gbk_to_utf8(q.row_tooltip(1));
        EXPECT_TRUE(boost::regex_match(tip, boost::regex("速度 [0-9.]+[KM]?B/s，剩余 .*[0-9]+秒")))
            << tip;
        EXPECT_EQ(gbk_to_utf8(w["标签49"].caption()), "状态：" + tip);
    });
    r->call([&] { r->program_.raise(r->main(), "上传菜单/清空上传任务", Event::chosen); });
    ASSERT_TRUE(upload_idle(*r));
}

// Row menus over the selected row of a queue.
void choose_on_row(Road& r, const char* list, long long id, const std::string& item) {
    r.call([&] {
        ui::Control& q = r.main()[list];
        q.set_current(q.find_row(id));
        r.program_.raise(r.main(), item, Event::chosen);
    });
}
int shut_downs(Road& r) {
    int n = 0;
    for (const auto& a : r.shell_.actions()) n += a.kind == "shut_down";
    return n;
}

// The shut-down comes after its countdown: lets it run out.
void let_countdown_run(Road& r) {
    auto open = [&] { return r.program_.find(windows::kShutDownWindow) != nullptr; };
    ASSERT_TRUE(r.wait(open));
    r.call([] {});  // its timer runs once the window thread has opened it
    r.backend_.advance(std::chrono::seconds(kShutDownSeconds));
    ASSERT_TRUE(r.wait([&] { return !open(); }));
}

// A member's download through a recording file host 3, slowed so that it is
// paused mid-way: the partial file stays, and it continues from there.
TEST_F(TransferRoads, APausedDownloadContinuesFromItsPartialFileAndEndsByteExact) {
    auto h = hosts_of(*service_);
    test::RecordingServer files(test::forward_to(h.files3), service_->host());
    h.files3 = files.address();
    auto r = signed_in("demo", "demo123", h);
    auto rows = show_root(*r);
    int big = row_named(rows, "大文件.bin");
    ASSERT_GE(big, 0);
    const std::int64_t size = 4 * 1024 * 1024;
    r->call([&] { r->main()["选择框3"].set_checked(true); });
    r->client_.transfers().download_rate_limit = 512 << 10;
    download_rows(*r, {big});
    transfer::TaskId id = 0;
    ASSERT_TRUE(r->wait([&] {
        bool moved = false;
        r->client_.transfers().downloads.with_running([&](const auto& t) {
            id = t.id;
            moved = t.object->bytes_received() >= 1024 * 1024;
        });
        return moved;
    })) << lists_shown(*r);
    choose_on_row(*r, "超级列表框2", id, "开始菜单/暂停任务");
    ASSERT_TRUE(queue_idle(*r));
    auto paused = r->client_.transfers().downloads.find(id);
    ASSERT_TRUE(paused);
    EXPECT_EQ(paused->state, transfer::RowState::paused);
    EXPECT_FALSE(paused->saved_record.empty());
    EXPECT_EQ(r->call([&] { return r->main()["超级列表框2"].cell(0, 2); }), GBK("已暂停"));
    EXPECT_EQ(shut_downs(*r), 0) << "the run ended with nothing finished";
    EXPECT_FALSE(fs::exists(save_ / text_to_path(rows[big].name)));
    const size_t asked_before = files.requests().size();

    r->client_.transfers().download_rate_limit = 0;
    choose_on_row(*r, "超级列表框2", id, "开始菜单/继续任务");
    ASSERT_TRUE(r->wait([&] { return r->main()["超级列表框3"].row_count() == 1; }, 30s))
        << lists_shown(*r);
    ASSERT_TRUE(queue_idle(*r));
    EXPECT_TRUE(read_bytes(save_ / text_to_path(rows[big].name)) ==
                served(std::to_string(rows[big].id), "8888", true));
    // Every request after the pause asks for a range past what was kept.
    auto requests = files.requests();
    ASSERT_GT(requests.size(), asked_before);
    std::int64_t asked_again = 0;
    for (size_t i = asked_before; i < requests.size(); ++i) {
        static const boost::regex range(R"(\r\nRange: bytes=(\d+)-(\d*)\r\n)", boost::regex::icase);
        boost::smatch m;
        ASSERT_TRUE(boost::regex_search(requests[i].head, m, range)) << requests[i].head;
        std::int64_t from = std::stoll(m[1].str());
        std::int64_t to = m[2].length() ? std::stoll(m[2].str()) + 1 : size;
        EXPECT_GE(from, 1024 * 1024);
        asked_again += to - from;
    }
    EXPECT_LT(asked_again, size);
    let_countdown_run(*r);
    EXPECT_EQ(shut_downs(*r), 1);
    for (const auto& e : fs::directory_iterator(save_))
        EXPECT_EQ(e.path().filename(), text_to_path(rows[big].name)) << "no partial file left";
}

// A row fails (its folder cannot be made), "开始下载" then says why nothing
// starts, no shut-down follows either run of nothing, and a retry succeeds.
TEST_F(TransferRoads, AFailedRowIsRetriedAndARunOfNothingNeitherShutsDownNorStaysSilent) {
    auto r = signed_in("guest", "guest123");
    auto rows = show_root(*r);
    int sample = row_named(rows, "样例数据.bin");
    ASSERT_GE(sample, 0);
    write_bytes(save_ / "plain", "a file where the folder should be");
    const std::string folder = save_.string() + "/plain/sub/";
    r->call([&] {
        r->main()["编辑框49"].set_text(folder);
        r->main()["选择框3"].set_checked(true);
    });
    download_rows(*r, {sample});
    ASSERT_TRUE(queue_idle(*r));
    long long id = 0;
    r->call([&] {
        ui::Control& q = r->main()["超级列表框2"];
        ASSERT_EQ(q.row_count(), 1);
        EXPECT_EQ(q.cell(0, 2), GBK("失败"));
        id = q.row_value(0);
        r->program_.raise(r->main(), "按钮28", Event::clicked);
        EXPECT_TRUE(r->main()["按钮28"].enabled());
    });
    EXPECT_TRUE(test::asked(r->prompts_, "下载列表中只有失败或暂停的任务，请先重试或继续。"));
    EXPECT_FALSE(r->client_.transfers().downloads.run_active());
    EXPECT_EQ(shut_downs(*r), 0) << "nothing was moved";

    fs::remove(save_ / "plain");
    fs::create_directories(save_ / "plain" / "sub");
    choose_on_row(*r, "超级列表框2", id, "开始菜单/重试任务");
    ASSERT_TRUE(r->wait([&] { return r->main()["超级列表框3"].row_count() == 1; }, 30s))
        << lists_shown(*r);
    ASSERT_TRUE(queue_idle(*r));
    EXPECT_EQ(read_bytes(fs::path(folder) / text_to_path(rows[sample].name)),
              served(std::to_string(rows[sample].id), "", false));
    let_countdown_run(*r);
    EXPECT_EQ(shut_downs(*r), 1);
}

// The keys of the download list: Space pauses a waiting row and continues it,
// Ctrl+R retries a failed one; both join the run that goes on.
TEST_F(TransferRoads, SpacePausesAndContinuesAWaitingRowAndCtrlRRetriesAFailedOne) {
    auto r = signed_in("demo", "demo123");
    auto rows = show_root(*r);
    int readme = row_named(rows, "使用说明.txt"), big = row_named(rows, "大文件.bin"),
        empty = row_named(rows, "空文件.txt");
    ASSERT_GE(readme, 0);
    ASSERT_GE(big, 0);
    ASSERT_GE(empty, 0);
    write_bytes(save_ / "plain", "a file where the folder should be");
    const std::string folder = save_.string() + "/plain/sub/";
    r->call([&] { r->main()["编辑框49"].set_text(folder); });
    download_rows(*r, {readme});
    ASSERT_TRUE(queue_idle(*r));
    const long long failed = r->call([&] { return r->main()["超级列表框2"].row_value(0); });
    auto press = [&](long long id, ui::Key key, unsigned modifiers) {
        bool taken = r->call([&] {
            ui::Control& q = r->main()["超级列表框2"];
            q.set_current(q.find_row(id));
            return r->program_.press_key(r->main(), "超级列表框2", key, modifiers);
        });
        r->call([] {});  // the key's handler has run
        return taken;
    };
    auto state = [&](long long id) { return r->client_.transfers().downloads.find(id)->state; };
    auto status = [&](long long id) {
        return r->call([&] {
            ui::Control& q = r->main()["超级列表框2"];
            return q.cell(q.find_row(id), 2);
        });
    };
    EXPECT_TRUE(press(failed, ui::Key::space, ui::kNoModifiers));
    EXPECT_EQ(state(failed), transfer::RowState::failed) << "Space leaves a failed row alone";

    fs::remove(save_ / "plain");
    fs::create_directories(save_ / "plain" / "sub");
    r->client_.transfers().download_rate_limit = 512 << 10;
    download_rows(*r, {big});
    long long running = 0;
    ASSERT_TRUE(r->wait([&] {
        r->client_.transfers().downloads.with_running([&](const auto& t) { running = t.id; });
        return running != 0;
    })) << lists_shown(*r);
    r->client_.transfers().download_rate_limit = 0;
    download_rows(*r, {empty});  // joins the run and waits behind it
    long long waiting = 0;
    for (const auto& t : r->client_.transfers().downloads.tasks())
        if (t.state == transfer::RowState::waiting) waiting = t.id;
    ASSERT_NE(waiting, 0) << lists_shown(*r);

    EXPECT_TRUE(press(waiting, ui::Key::space, ui::kNoModifiers));
    EXPECT_EQ(state(waiting), transfer::RowState::paused);
    EXPECT_EQ(status(waiting), GBK("已暂停"));
    EXPECT_TRUE(press(waiting, ui::Key::space, ui::kNoModifiers));
    EXPECT_EQ(state(waiting), transfer::RowState::waiting);
    EXPECT_EQ(status(waiting), "");
    EXPECT_FALSE(press(failed, ui::Key::r, ui::kNoModifiers)) << "a plain R stays the list's";
    EXPECT_TRUE(press(failed, ui::Key::r, ui::kCtrl));
    EXPECT_EQ(status(failed), "");
    EXPECT_EQ(state(failed), transfer::RowState::waiting);
    EXPECT_EQ(state(running), transfer::RowState::running) << "the running row goes on";

    ASSERT_TRUE(r->wait([&] { return r->main()["超级列表框3"].row_count() == 3; }, 60s))
        << lists_shown(*r);
    ASSERT_TRUE(queue_idle(*r));
    EXPECT_EQ(read_bytes(fs::path(folder) / text_to_path(rows[readme].name)),
              served(std::to_string(rows[readme].id), "8888", true));
    EXPECT_TRUE(read_bytes(fs::path(folder) / text_to_path(rows[big].name)) ==
                served(std::to_string(rows[big].id), "8888", true));
}

// No access password typed: the storage link is asked with none, and none is
// kept for the folder requests after it.
TEST_F(UploadRoads, TheStorageLinkCarriesTheAccessPasswordAsReadAndNoneStaysNone) {
    auto web = relay();
    auto h = hosts_of(*service_);
    h.web = web->address();
    auto r = signed_in("guest", "guest123", h);
    auto rows = show_root(*r);
    int sample = row_named(rows, "样例数据.bin");
    ASSERT_GE(sample, 0);
    download_rows(*r, {sample});
    ASSERT_TRUE(queue_idle(*r));
    std::vector<std::string> links;
    for (const auto& rq : web->requests())
        if (rq.target().rfind("/ym.php", 0) == 0) links.push_back(rq.target());
    EXPECT_EQ(links, std::vector<std::string>{"/ym.php?pid=" + std::to_string(rows[sample].id) +
                                              "&srmm="});
    EXPECT_EQ(r->client_.browser().access_password(), "");
}

// Paused mid-send, the upload is not registered; resumed, it goes on and is
// registered once, with the bar and 标签46 agreeing at its end.
TEST_F(UploadRoads, APausedUploadIsNotRegisteredAndOnceResumedIsRegisteredExactlyOnce) {
    auto web = relay();
    auto h = hosts_of(*service_);
    h.web = web->address();
    auto r = signed_in("demo", "demo123", h);
    send_slowly(*r);
    fs::path local = r->home_.path() / "paused.bin";
    std::string content = unique_content(512 * 1024);
    write_bytes(local, content);
    drop(*r, {local.string()});
    ASSERT_TRUE(sending(*r));
    long long id = r->client_.transfers().uploads.running()->id;
    choose_on_row(*r, "超级列表框6", id, "上传菜单/暂停任务");
    ASSERT_TRUE(upload_idle(*r));
    EXPECT_EQ(column(*r, "超级列表框6", 3), std::vector<std::string>{GBK("已暂停")});
    EXPECT_EQ(r->client_.transfers().uploads.find(id)->state, transfer::RowState::paused);
    EXPECT_TRUE(r->client_.transfers().uploads.find(id)->saved_offset > 0);
    EXPECT_EQ(requests_to(*web, "/tjwj.php"), 0);
    r->call([&] { r->program_.raise(r->main(), "上传按钮", Event::clicked); });
    EXPECT_TRUE(test::asked(r->prompts_, "上传列表中只有失败或暂停的任务，请先重试或继续。"));

    r->client_.transfers().upload_params.rate_limit = 0;
    choose_on_row(*r, "超级列表框6", id, "上传菜单/继续任务");
    ASSERT_TRUE(r->wait([&] { return r->main()["超级列表框4"].row_count() == 1; }, 30s))
        << gbk_to_utf8(r->call([&] { return r->main()["标签49"].caption(); }));
    ASSERT_TRUE(upload_idle(*r));
    EXPECT_EQ(requests_to(*web, "/tjwj.php"), 1);
    long long new_id = std::stoll(column(*r, "超级列表框4", 2).at(0));
    EXPECT_TRUE(served(std::to_string(new_id), "8888", true) == content);
    EXPECT_NE(log_text(*r).find(GBK("服务器已核对文件内容：") + local.string()), std::string::npos);
    r->call([&] {
        EXPECT_EQ(r->main()["超级列表框6"].row_count(), 0);
        EXPECT_EQ(r->main()["进度条"].position(), 100);
        EXPECT_EQ(r->main()["标签46"].caption(), GBK("进度：100%"));
    });
}

// Quitting while only an upload runs asks first, from the tray too; a yes
// ends the upload without registering it, and the row waits.
TEST_F(UploadRoads, TheCloseQuestionAndTheTrayQuitCoverARunningUpload) {
    auto web = relay();
    auto h = hosts_of(*service_);
    h.web = web->address();
    auto r = signed_in("demo", "demo123", h);
    send_slowly(*r);
    fs::path local = r->home_.path() / "leaving.bin";
    write_bytes(local, unique_content(1 << 20));
    drop(*r, {local.string()});
    ASSERT_TRUE(sending(*r));
    r->prompts_.push_answer(kAnswerNo);
    r->call([&] { r->program_.raise(r->main(), "托盘/退出", Event::chosen); });
    const char* question = "发现有正在进行的上传任务，是否退出，如果退出，将停止该上传。";
    EXPECT_TRUE(test::asked(r->prompts_, question));
    EXPECT_FALSE(r->program_.exiting());
    EXPECT_TRUE(r->client_.transfers().uploads.run_active()) << "a no leaves it running";

    r->prompts_.push_answer(kAnswerYes);
    EXPECT_TRUE(r->call([&] { return r->client_.confirm_exit_downloads(); }));
    ASSERT_TRUE(upload_idle(*r));
    auto tasks = r->client_.transfers().uploads.tasks();
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].state, transfer::RowState::waiting);
    EXPECT_TRUE(tasks[0].saved_offset > 0);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(requests_to(*web, "/tjwj.php"), 0);
    EXPECT_EQ(r->call([&] { return r->main()["超级列表框4"].row_count(); }), 0);
}

}  // namespace
}  // namespace qorvel
