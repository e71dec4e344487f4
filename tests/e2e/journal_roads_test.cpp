// The account's transfer lists across log-outs, log-ins and runs of the
// program, against the reference service (file host 2 throttled, so a test
// can stop a download half way).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "e2e/road.h"
#include "net/text.h"
#include "net/web.h"
#include "support/engine_peers.h"
#include "support/process.h"
#include "transfer/engine/engine.h"
#include "transfer/journal.h"
#include "transfer/journal_link.h"

namespace qorvel {
namespace {

using namespace std::chrono_literals;
using test::hosts_of;
using test::Road;
using ui::Event;
namespace fs = std::filesystem;

class JournalRoads : public test::SharedServiceSuite<JournalRoads> {
  public:
    static test::ServiceInstanceOptions service_options() {
        test::ServiceInstanceOptions o;
        o.host = test::process_loopback_address();
        o.ftp_port = 1678;
        o.throttle = true;  // 1000 KB/s per connection on file host 2
        return o;
    }

  protected:
    // A fresh program over the shared data folder and save folder, logged in.
    std::unique_ptr<Road> run_program(const std::string& account, const std::string& password) {
        auto r = std::make_unique<Road>(hosts_of(*service_));
        r->client_.journal_folder = data_.path() / "queues";
        EXPECT_TRUE(r->start());
        log_in(*r, account, password);
        return r;
    }
    void log_in(Road& r, const std::string& account, const std::string& password) {
        EXPECT_TRUE(r.wait([&] { return r.login() != nullptr; }));
        r.client_.timestamped_log_enabled = false;
        r.log_in(account, password, false);
        EXPECT_TRUE(
            r.wait([&] { return r.logged_in() && r.client_.timestamped_log_enabled.load(); }, 20s));
    }
    void log_out(Road& r) {
        r.call([&] { r.program_.choose(r.main(), "托盘", "注销"); });
    }
    // The guest's sample (1.5 MB): its row in the file list and what the service serves.
    int show_sample(Road& r) {
        r.call([&] {
            r.main()["编辑框49"].set_text(save_.path().string() + "/");
            r.main()["选择夹1"].set_current(1);
            r.program_.raise(r.main(), "选择夹1", Event::page_changed);
        });
        EXPECT_TRUE(r.wait([&] {
            return r.client_.browser().first_load_done() && !r.client_.browser().busy() &&
                   r.main()["超级列表框1"].row_count() > 0;
        }));
        return r.call([&] {
            const auto rows = r.main()["超级列表框1"].rows();
            for (std::size_t i = 0; i < rows.size(); ++i)
                if (rows[i].cells.at(0) == GBK("样例数据.bin")) {
                    sample_id_ = rows[i].value;
                    return static_cast<int>(i);
                }
            return -1;
        });
    }
    void download(Road& r, int row) {
        r.call([&] {
            r.main()["超级列表框1"].set_selection({row}, row);
            r.program_.raise(r.main(), "按钮38", Event::clicked);
        });
    }
    std::string served_sample() const {
        auto h = hosts_of(*service_);
        std::string page =
            web_get(h.web_url("/ym.php?pid=" + std::to_string(sample_id_) + "&srmm=0"));
        return web_get("http://" + h.files2 + "/up/" + text_between(page, "bsmzdyd", "<"));
    }
    static std::int64_t received(Road& r) {
        std::int64_t n = -1;
        r.client_.transfers().downloads.with_running(
            [&](const auto& t) { n = t.object->bytes_received(); });
        return n;
    }
    static bool moved_past(Road& r, std::int64_t bytes) {
        return r.wait([&] { return received(r) >= bytes; }, 20s);
    }
    static int rows_of(Road& r, const char* list) {
        return r.call([&] { return r.main()[list].row_count(); });
    }
    static std::string journal_record(Road& r) {
        auto j = r.client_.transfers().journal();
        if (!j) return {};
        auto rows = j->load(transfer::JournalList::downloads);
        return rows.empty() ? std::string() : rows[0].record;
    }

    test::TempDir data_{"qorvel-xdg-data"};
    test::TempDir save_{"qorvel-save"};
    long long sample_id_ = 0;
};

// A download stopped half way by 注销 is kept for its account only: another
// account sees none of the first one's rows, and the first one's next login
// gets them back and finishes the file from where it stopped.
TEST_F(JournalRoads, ALogOutPutsTheListsAwayAndTheAccountsNextLoginResumesItsDownload) {
    auto r = run_program("guest", "guest123");
    int sample = show_sample(*r);
    ASSERT_GE(sample, 0);
    r->call([&] { r->main()["组合框6"].set_current(1); });
    download(*r, sample);
    ASSERT_TRUE(moved_past(*r, 300 << 10));
    log_out(*r);
    EXPECT_EQ(rows_of(*r, "超级列表框2"), 0);
    EXPECT_FALSE(r->client_.transfers().downloads.running());

    log_in(*r, "demo", "demo123");
    EXPECT_EQ(rows_of(*r, "超级列表框2"), 0) << "another account's rows";
    EXPECT_EQ(rows_of(*r, "超级列表框3"), 0);
    log_out(*r);

    // The guest again, in a new run of the program.
    r.reset();
    r = run_program("guest", "guest123");
    EXPECT_EQ(r->call([&] { return r->main()["编辑框49"].text(); }), save_.path().string() + "/");
    EXPECT_EQ(r->call([&] { return r->main()["组合框6"].current(); }), 1);
    std::int64_t first_seen = -1;
    ASSERT_TRUE(r->wait([&] {
        // Zero until the engine has the task: the record's bytes count from its start.
        first_seen = received(*r);
        return first_seen > 0 || !r->client_.transfers().downloads.run_active();
    }));
    EXPECT_GE(first_seen, 300 << 10) << "went on from the saved bytes, not from 0";
    ASSERT_TRUE(r->wait([&] { return !r->client_.transfers().downloads.run_active(); }, 30s));
    ASSERT_EQ(rows_of(*r, "超级列表框3"), 1);
    EXPECT_EQ(rows_of(*r, "超级列表框2"), 0);
    std::string path = r->call([&] { return r->main()["超级列表框3"].cell(0, 1); });
    EXPECT_TRUE(test::read_file(text_to_path(path)) == served_sample());
    EXPECT_FALSE(fs::exists(text_to_path(path + ".part")));

    // The done row comes back with the next run too.
    r.reset();
    r = run_program("guest", "guest123");
    EXPECT_EQ(rows_of(*r, "超级列表框3"), 1);
    EXPECT_EQ(r->call([&] { return r->main()["选择夹2"].page_title(1); }), GBK("已完成(1)"));
}

// The demo account's files need its access password, which the browser reads
// only with a folder: a download its login starts again gets its link all the same.
TEST_F(JournalRoads, APutAwayDownloadOfAPasswordProtectedAccountGoesOnAtItsNextLogin) {
    auto r = run_program("demo", "demo123");
    r->client_.transfers().download_rate_limit = 1 << 20;  // still running at the log-out
    show_sample(*r);
    int big = r->call([&] {
        const auto rows = r->main()["超级列表框1"].rows();
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (rows[i].cells.at(0) == GBK("大文件.bin")) return static_cast<int>(i);
        return -1;
    });
    ASSERT_GE(big, 0);
    download(*r, big);
    ASSERT_TRUE(moved_past(*r, 300 << 10));
    log_out(*r);
    r.reset();

    r = run_program("demo", "demo123");
    ASSERT_TRUE(r->wait([&] { return !r->client_.transfers().downloads.run_active(); }, 30s));
    EXPECT_EQ(rows_of(*r, "超级列表框3"), 1)
        << r->call([&] { return r->main()["日志编辑框"].text(); });
    EXPECT_EQ(rows_of(*r, "超级列表框2"), 0);
}

// The program killed after a checkpoint: its journal and partial file as they
// were then. The next run resumes that partial file from the checkpoint; a
// partial file of the same kind that no row of ours names stays as it was.
TEST_F(JournalRoads, AfterAKillTheCheckpointedPartialFileResumesAndAForeignOneStays) {
    auto r = run_program("guest", "guest123");
    int sample = show_sample(*r);
    ASSERT_GE(sample, 0);
    download(*r, sample);
    ASSERT_TRUE(moved_past(*r, 200 << 10));
    r->call([&] { r->program_.raise(r->main(), "时钟5", Event::tick); });
    ASSERT_TRUE(r->wait([&] { return !journal_record(*r).empty(); }));
    // What a kill -9 leaves: the journal's files and the partial file as they are now.
    test::TempDir kept{"qorvel-killed"};
    fs::path queues = data_.path() / "queues";
    fs::path part = save_.path() / (text_to_path(GBK("样例数据.bin")).string() + ".part");
    ASSERT_TRUE(fs::exists(part));
    for (const auto& e : fs::directory_iterator(queues))
        fs::copy_file(e.path(), kept.path() / e.path().filename());
    fs::copy_file(part, kept.path() / "part");
    r.reset();
    fs::remove_all(queues);
    fs::create_directories(queues);
    fs::permissions(queues, fs::perms::owner_all);
    for (const auto& e : fs::directory_iterator(kept.path()))
        if (e.path().filename() != "part") fs::copy_file(e.path(), queues / e.path().filename());
    fs::copy_file(kept.path() / "part", part, fs::copy_options::overwrite_existing);
    // Someone's own "name.part" of another file the queue will fetch.
    fs::path foreign = save_.path() / (text_to_path(GBK("样例数据.bin")).string() + ".1.part");
    std::ofstream(foreign) << "mine";

    r = run_program("guest", "guest123");
    std::int64_t first_seen = -1;
    ASSERT_TRUE(r->wait([&] {
        // Zero until the engine has the task: the record's bytes count from its start.
        first_seen = received(*r);
        return first_seen > 0 || !r->client_.transfers().downloads.run_active();
    }));
    EXPECT_GE(first_seen, 100 << 10) << "went on from the checkpoint";
    ASSERT_TRUE(r->wait([&] { return !r->client_.transfers().downloads.run_active(); }, 30s));
    ASSERT_EQ(rows_of(*r, "超级列表框3"), 1);
    std::string path = r->call([&] { return r->main()["超级列表框3"].cell(0, 1); });
    EXPECT_TRUE(test::read_file(text_to_path(path)) == served_sample());
    EXPECT_EQ(test::read_file(foreign), "mine");
    EXPECT_FALSE(fs::exists(part));
}

// Rows come back as they were left: a failed one with its reason in its cell
// and tooltip, a paused one paused, done rows newest first; nothing starts.
TEST_F(JournalRoads, RestoredRowsShowTheirStatesAndNothingStartsThatWasNotRunning) {
    {
        auto j =
            transfer::Journal::open(transfer::Journal::path_for(data_.path() / "queues", "demo"));
        ASSERT_TRUE(j);
        transfer::JournalChange c;
        auto row = [](transfer::JournalList list, long long id, transfer::JournalState state,
                      const std::string& name, const std::string& why) {
            transfer::JournalRow r;
            r.list = list;
            r.id = id;
            r.state = state;
            r.name = name;
            r.size_text = "3KB";
            r.file_id = "12";
            r.failure = why;
            return r;
        };
        c.put = {
            row(transfer::JournalList::downloads, 4, transfer::JournalState::failed, "a.bin",
                GBK("无法取得文件的下载地址")),
            row(transfer::JournalList::downloads, 6, transfer::JournalState::paused, "b.bin", ""),
            row(transfer::JournalList::uploads, 2, transfer::JournalState::failed, "/home/u/c.txt",
                GBK("文件无法读取，上传失败！")),
            row(transfer::JournalList::uploads, 3, transfer::JournalState::paused, "/home/u/d.txt",
                "")};
        c.done = {transfer::done_row(transfer::JournalList::downloads_done, {"old", "/s/old"}),
                  transfer::done_row(transfer::JournalList::downloads_done, {"new", "/s/new"})};
        ASSERT_TRUE(j->apply(c));
    }
    auto r = run_program("demo", "demo123");
    r->call([&] {
        ui::Window& w = r->main();
        ui::Control& q = w["超级列表框2"];
        ASSERT_EQ(q.row_count(), 2);
        EXPECT_EQ(q.row_value(0), 4);
        EXPECT_EQ(q.cell(0, 2), GBK("失败"));
        EXPECT_EQ(q.cell(0, 4), GBK("无法取得文件的下载地址"));
        EXPECT_EQ(q.row_tooltip(0), GBK("下载失败：无法取得文件的下载地址"));
        EXPECT_EQ(q.cell(1, 0), "b.bin");
        EXPECT_EQ(q.cell(1, 2), GBK("已暂停"));
        ui::Control& up = w["超级列表框6"];
        ASSERT_EQ(up.row_count(), 2);
        EXPECT_EQ(up.cell(0, 3), GBK("失败：文件无法读取，上传失败！"));
        EXPECT_EQ(up.row_tooltip(0), GBK("上传失败：文件无法读取，上传失败！"));
        EXPECT_EQ(up.cell(1, 3), GBK("已暂停"));
        ASSERT_EQ(w["超级列表框3"].row_count(), 2);
        EXPECT_EQ(w["超级列表框3"].cell(0, 0), "new");
        EXPECT_EQ(w["选择夹2"].page_title(0), GBK("下载中(2)"));
        EXPECT_EQ(w["选择夹3"].page_title(0), GBK("客户端上传(2)"));
    });
    EXPECT_FALSE(r->client_.transfers().downloads.run_active());
    EXPECT_FALSE(r->client_.transfers().uploads.run_active());
    // A row queued now takes an id after the kept ones.
    EXPECT_GT(r->client_.transfers().downloads.add(transfer::DownloadEntry{"n", "1KB", "1", "", 0}),
              6);
}

// An upload stopped by 注销 goes on in the next run after the bytes the FTP
// server kept, under the same remote name, and the file is registered once.
TEST_F(JournalRoads, AnUploadPutAwayGoesOnInTheNextRunAndIsRegisteredOnce) {
    const std::string content = test::random_bytes(640 << 10, 21);
    fs::path local = save_.path() / "resumed-upload.bin";
    std::ofstream(local, std::ios::binary) << content;
    auto r = run_program("guest", "guest123");
    r->client_.transfers().upload_params.rate_limit = 64 << 10;
    r->call([&] {
        ui::EventArgs a;
        a.files = {local.string()};
        r->program_.raise(r->main(), "拖放对象1", Event::files_dropped, a);
    });
    auto sent = [&] {
        std::int64_t n = -1;
        r->client_.transfers().uploads.with_running(
            [&](const auto& t) { n = t.object->bytes_sent(); });
        return n;
    };
    ASSERT_TRUE(r->wait([&] { return sent() >= (128 << 10); }, 20s));
    r->call([&] { r->program_.raise(r->main(), "上传速度时钟", Event::tick); });
    log_out(*r);
    EXPECT_EQ(rows_of(*r, "超级列表框6"), 0);
    r.reset();

    engine::FtpUpload::sent_since_last_query();  // counts from here
    r = run_program("guest", "guest123");
    ASSERT_TRUE(r->wait([&] { return !r->client_.transfers().uploads.run_active(); }, 30s));
    std::int64_t again = engine::FtpUpload::sent_since_last_query();
    EXPECT_GT(again, 0);
    EXPECT_LT(again, static_cast<std::int64_t>(content.size())) << "went on, not from 0";
    ASSERT_EQ(rows_of(*r, "超级列表框4"), 1)
        << r->call([&] { return r->main()["日志编辑框"].text(); });
    EXPECT_EQ(rows_of(*r, "超级列表框6"), 0);
    long long id = std::stoll(r->call([&] { return r->main()["超级列表框4"].cell(0, 2); }));
    // Registered once: one file of that name in the folder, with the whole content.
    show_sample(*r);
    int named = r->call([&] {
        int n = 0;
        for (const auto& row : r->main()["超级列表框1"].rows())
            n += row.cells.at(0) == "resumed-upload.bin";
        return n;
    });
    EXPECT_EQ(named, 1);
    auto h = hosts_of(*service_);
    std::string page = web_get(h.web_url("/ym.php?pid=" + std::to_string(id) + "&srmm=0"));
    EXPECT_TRUE(web_get("http://" + h.files2 + "/up/" + text_between(page, "bsmzdyd", "<")) ==
                content);
}

}  // namespace
}  // namespace qorvel
