// The queues on the desktop's bus: notices through a notification service of
// our own on a private session bus, the sleep lock through a logind stand-in
// on a second private bus that stands in as the system bus.
#include <gtest/gtest.h>

#include <cstdlib>

#include "bus_peers.h"
#include "net/charset.h"
#include "platform/ini_file.h"
#include "platform/sd_desktop_bus.h"
#include "roads/client.h"
#include "roads/transfer/desktop_road.h"
#include "support/doubles.h"
#include "support/process.h"
#include "ui/headless.h"

namespace qorvel {
namespace {

using namespace std::chrono_literals;
using test::eventually;
using transfer::QueueKind;

class DesktopBusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_.path() / "Documents");
        session_ = std::make_unique<test::BusDaemon>(dir_.path() / "session");
        system_ = std::make_unique<test::BusDaemon>(dir_.path() / "system");
        ASSERT_TRUE(session_->ready() && system_->ready());
        setenv("DBUS_SESSION_BUS_ADDRESS", session_->address().c_str(), 1);
        setenv("DBUS_SYSTEM_BUS_ADDRESS", system_->address().c_str(), 1);
        client_ = std::make_unique<Client>(
            program_, shell_, ServiceHosts{},
            ClientFolders{dir_.path() / "Documents", dir_.path() / "Desktop"});
        main_ = std::make_shared<ui::Window>("main", GBK("Qorvel"), 400, 300);
        client_->set_main_window(main_);
        runner_ = std::make_unique<ui::HeadlessRunner>(backend_, program_);
    }
    void TearDown() override {
        runner_.reset();
        program_.shutdown();  // the watch lets go of the lock on its way out
        bus_.reset();
        client_.reset();
    }
    void make_bus(std::chrono::milliseconds notify_timeout) {
        SdDesktopBus::Options o;
        o.notify_timeout = notify_timeout;
        o.log = [this](const std::string& line) {
            std::lock_guard lock(log_mutex_);
            log_.push_back(line);
        };
        bus_ = std::make_unique<SdDesktopBus>(o);
        client_->notifier = bus_.get();
        client_->sleep_inhibitor = bus_.get();
    }
    std::vector<std::string> logged() {
        std::lock_guard lock(log_mutex_);
        return log_;
    }
    int folders_opened(const std::string& folder) {
        int n = 0;
        for (const auto& a : shell_.actions()) n += a.kind == "open_file" && a.a == folder;
        return n;
    }

    test::TempDir dir_{"qorvel-bus"};
    std::unique_ptr<test::BusDaemon> session_, system_;
    ui::HeadlessBackend backend_{test::fail_test};
    ui::ScriptedPrompts prompts_;
    ui::Program program_{backend_, prompts_};
    test::ShellRecorder shell_;
    std::unique_ptr<Client> client_;
    std::shared_ptr<ui::Window> main_;
    std::unique_ptr<ui::HeadlessRunner> runner_;
    std::mutex log_mutex_;
    std::vector<std::string> log_;
    std::unique_ptr<SdDesktopBus> bus_;
};

TEST_F(DesktopBusTest, AThousandFilesGiveTwoNoticesAndOnlyOurActionOpensTheFolder) {
    test::NotificationsStandIn notes(session_->address());
    ASSERT_TRUE(notes.ready());
    make_bus(3s);
    const std::string folder = (dir_.path() / "down").string() + "/";
    auto& downloads = client_->transfers().downloads;
    ASSERT_TRUE(downloads.begin_run());
    for (int i = 0; i < 998; ++i)
        note_transfer_done(*client_, QueueKind::download, folder + std::to_string(i) + ".bin");
    note_transfer_failed(*client_, QueueKind::download, "a.bin", GBK("无法取得文件的下载地址"));
    note_transfer_failed(*client_, QueueKind::download, "b.bin", GBK("下载失败"));
    downloads.halt();
    note_run_ended(*client_, QueueKind::download);
    // The close question halts the run and stops its task: that is no failure to tell.
    note_transfer_failed(*client_, QueueKind::download, "c.bin", GBK("已停止"));

    ASSERT_TRUE(eventually([&] { return notes.notices().size() >= 2; }, 5s));
    std::this_thread::sleep_for(200ms);
    auto seen = notes.notices();
    ASSERT_EQ(seen.size(), 2u) << "one for the first failure, one for the run";
    EXPECT_NE(seen[0].body.find("a.bin"), std::string::npos);
    EXPECT_EQ(seen[1].body, "已完成 998 个下载，2 个失败");
    EXPECT_EQ(seen[1].actions, (std::vector<std::string>{"open-folder", "打开文件夹",
                                                         "retry-failed", "重试失败的任务"}));
    EXPECT_EQ(notes.capability_questions(), 1);
    EXPECT_EQ(main_->tray_message().serial, 0) << "delivered notices never reach the tray";

    // A key we never offered does nothing; ours opens the run's folder once.
    notes.invoke(seen[1].id, "../../bin/sh");
    notes.invoke(seen[1].id, "open-folder");
    EXPECT_TRUE(eventually([&] { return folders_opened(folder) == 1; }, 2s));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(shell_.actions().size(), 1u);

    // The profile turns notices off: no notice and no tray message.
    ASSERT_TRUE(ini_write(client_->config().skin_file(), "desktop", "notifications", "0"));
    note_transfer_done(*client_, QueueKind::download, folder + "x.bin");
    note_run_ended(*client_, QueueKind::download);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(notes.notices().size(), 2u);
    EXPECT_EQ(main_->tray_message().serial, 0);
}

// The end of a run with failures offers to retry them: every failed row of
// that queue waits again in one change, and its cells lose the failure.
TEST_F(DesktopBusTest, TheRunEndNoticeRetriesEveryFailedRowOfItsQueue) {
    test::NotificationsStandIn notes(session_->address());
    ASSERT_TRUE(notes.ready());
    make_bus(3s);
    ui::Control& list = main_->add("超级列表框2", ui::Kind::list_view);
    main_->add("按钮28", ui::Kind::button);
    auto& downloads = client_->transfers().downloads;
    auto& uploads = client_->transfers().uploads;
    std::mutex changes_mutex;
    std::vector<transfer::DownloadQueue::Change> changes;
    downloads.set_listener([&](const transfer::DownloadQueue::Change& c) {
        std::lock_guard lock(changes_mutex);
        changes.push_back(c);
    });
    std::vector<transfer::TaskId> ids;
    for (const char* name : {"a.bin", "b.bin", "c.bin"}) {
        ids.push_back(downloads.add(transfer::DownloadEntry{name, "1KB", "7", ""}));
        int row = list.insert_row(-1, name, ids.back());
        list.set_cell(row, 2, GBK("失败"));
        list.set_cell(row, 4, GBK("下载失败"));
    }
    const auto up = uploads.add(transfer::UploadEntry{"/tmp/u.bin", "f", 1, "1KB"});
    ASSERT_TRUE(uploads.begin_run());
    ASSERT_EQ(uploads.next().task->id, up);
    ASSERT_TRUE(uploads.fail(up, GBK("上传失败")));
    uploads.halt();
    ASSERT_TRUE(downloads.begin_run());
    for (auto id : {ids[0], ids[1]}) {
        ASSERT_EQ(downloads.next().task->id, id);
        ASSERT_TRUE(downloads.fail(id, GBK("下载失败")));
        note_transfer_failed(*client_, QueueKind::download, "x.bin", GBK("下载失败"));
    }
    ASSERT_EQ(downloads.next().task->id, ids[2]);
    ASSERT_TRUE(downloads.complete(ids[2]));
    note_transfer_done(*client_, QueueKind::download, "/d/c.bin");
    ASSERT_TRUE(downloads.next().run_ended);
    note_run_ended(*client_, QueueKind::download);
    ASSERT_TRUE(eventually([&] { return notes.notices().size() >= 2; }, 5s));
    auto seen = notes.notices();
    EXPECT_TRUE(seen[0].actions.empty()) << "the first failure's notice offers nothing";
    EXPECT_EQ(seen[1].actions, (std::vector<std::string>{"open-folder", "打开文件夹",
                                                         "retry-failed", "重试失败的任务"}));

    // Another run begun meanwhile takes them along, so nothing here needs a service.
    ASSERT_TRUE(downloads.begin_run());
    {
        std::lock_guard lock(changes_mutex);
        changes.clear();
    }
    notes.invoke(seen[0].id, "retry-failed");
    notes.invoke(seen[1].id, "retry-failed");
    ASSERT_TRUE(eventually(
        [&] {
            auto a = downloads.find(ids[0]), b = downloads.find(ids[1]);
            return a && b && a->state == transfer::RowState::waiting &&
                   b->state == transfer::RowState::waiting;
        },
        2s));
    std::this_thread::sleep_for(100ms);
    {
        std::lock_guard lock(changes_mutex);
        ASSERT_EQ(changes.size(), 1u) << "one change, once";
        EXPECT_EQ(changes[0].put.size(), 2u);
    }
    runner_->call([&] {
        for (auto id : {ids[0], ids[1]}) {
            int row = list.find_row(id);
            EXPECT_EQ(list.cell(row, 2), "");
            EXPECT_EQ(list.cell(row, 4), "");
        }
    });
    EXPECT_EQ(uploads.find(up)->state, transfer::RowState::failed) << "the other queue's stay";
    downloads.halt();
}

TEST_F(DesktopBusTest, ASilentServiceKeepsTheWindowThreadFreeAndNoServiceFallsToTheTray) {
    test::NotificationsStandIn silent(session_->address(), /*answers=*/false);
    ASSERT_TRUE(silent.ready());
    make_bus(400ms);
    client_->run_reports.done(QueueKind::upload);
    runner_->call([&] { note_run_ended(*client_, QueueKind::upload); });
    auto posted = std::chrono::steady_clock::now();
    std::atomic<long long> waited_ms{-1};
    program_.post([&] {
        waited_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - posted)
                        .count();
    });
    ASSERT_TRUE(eventually([&] { return waited_ms >= 0; }, 2s));
    EXPECT_LT(waited_ms.load(), 50);
    EXPECT_TRUE(eventually([&] { return silent.notices().size() == 1; }, 2s));
    // No answer in time: the tray icon says it instead.
    ASSERT_TRUE(eventually([&] { return main_->tray_message().serial == 1; }, 3s));
    EXPECT_EQ(main_->tray_message().text, GBK("已完成 1 个上传"));

    // Nobody owns the name any more: the bus refuses at once, the tray says it.
    silent.stop();
    client_->run_reports.done(QueueKind::upload);
    note_run_ended(*client_, QueueKind::upload);
    EXPECT_TRUE(eventually([&] { return main_->tray_message().serial == 2; }, 300ms));
}

TEST_F(DesktopBusTest, TheSleepLockIsHeldOnlyWhileARunGoes) {
    test::Login1StandIn login1(system_->address());
    ASSERT_TRUE(login1.ready());
    make_bus(1s);
    auto& t = client_->transfers();
    t.downloads.add(transfer::DownloadEntry{"a.bin", "1KB", "7", ""});
    start_desktop_watch(*client_);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(login1.asked(), 0) << "no run, no lock";
    EXPECT_EQ(main_->tray_tooltip(), GBK("Qorvel"));

    ASSERT_TRUE(t.downloads.begin_run());
    ASSERT_TRUE(eventually([&] { return login1.held() == 1; }, 2s));
    EXPECT_EQ(login1.last_request(),
              (std::vector<std::string>{"sleep", "Qorvel", "transfers are running", "block"}));
    EXPECT_TRUE(eventually([&] { return main_->tray_tooltip() == GBK("下载 0%"); }, 1s));

    // Uploads take over as downloads end: the one lock stays.
    ASSERT_TRUE(t.uploads.begin_run());
    t.downloads.halt();
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(login1.held(), 1);
    EXPECT_EQ(login1.asked(), 1);

    t.uploads.halt();
    EXPECT_TRUE(eventually([&] { return login1.held() == 0; }, 1s)) << "let go within a second";
    EXPECT_TRUE(eventually([&] { return main_->tray_tooltip() == GBK("Qorvel"); }, 1s));

    ASSERT_TRUE(t.downloads.begin_run());
    EXPECT_TRUE(eventually([&] { return login1.held() == 1 && login1.asked() == 2; }, 2s));
    t.downloads.halt();
    EXPECT_TRUE(eventually([&] { return login1.held() == 0; }, 1s));
}

TEST_F(DesktopBusTest, WithoutASystemBusTransfersGoOnAndItIsSaidOnce) {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + (dir_.path() / "none").string()).c_str(), 1);
    make_bus(1s);
    auto& downloads = client_->transfers().downloads;
    start_desktop_watch(*client_);
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(downloads.begin_run());
        std::this_thread::sleep_for(300ms);  // the watch looks every 250 ms
        downloads.halt();
        std::this_thread::sleep_for(150ms);
    }
    auto lines = logged();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("system bus"), std::string::npos);
}

}  // namespace
}  // namespace qorvel
