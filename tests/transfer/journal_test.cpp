#include <gtest/gtest.h>

#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "support/process.h"
#include "transfer/journal.h"
#include "transfer/journal_link.h"

namespace qorvel::transfer {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string pragma(const fs::path& file, const char* sql) {
    sqlite3* db = nullptr;
    std::string out;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return out;
}

JournalRow queued(JournalList list, long long id, JournalState state, const std::string& name) {
    JournalRow r;
    r.list = list;
    r.id = id;
    r.state = state;
    r.name = name;
    r.size_text = "12KB";
    r.file_id = "77";
    r.folder = "/save/\xc4\xbf\xc2\xbc/";  // GBK bytes, not UTF-8
    r.folder_id = 5;
    r.local_path = "/save/" + name;
    r.policy = 1;
    if (state == JournalState::failed) r.failure = "\xca\xa7\xb0\xdc 404";
    return r;
}

class JournalTest : public ::testing::Test {
  protected:
    fs::path file() const { return Journal::path_for(dir_.path() / "queues", "guest"); }
    test::TempDir dir_{"qorvel-journal"};
};

TEST_F(JournalTest, RowsOfEveryStateSettingsAndProgressComeBackInTheirOrder) {
    std::vector<JournalRow> downloads = {
        queued(JournalList::downloads, 3, JournalState::waiting, "a"),
        queued(JournalList::downloads, 4, JournalState::running, "b"),
        queued(JournalList::downloads, 7, JournalState::failed, "c"),
        queued(JournalList::downloads, 9, JournalState::paused, "d"),
    };
    std::vector<JournalRow> uploads = {queued(JournalList::uploads, 1, JournalState::running, "u")};
    {
        auto j = Journal::open(file());
        ASSERT_TRUE(j);
        JournalChange add;
        // Out of order on purpose: loading sorts by id.
        add.put = {downloads[2], downloads[0], downloads[3], downloads[1], uploads[0]};
        ASSERT_TRUE(j->apply(add));
        ASSERT_TRUE(j->set_record(JournalList::downloads, 4, "QRVLRESUME1\nrecord"));
        ASSERT_TRUE(j->set_offset(JournalList::uploads, 1, 65536, "u.qrvllswj"));
        JournalChange done;
        done.done = {done_row(JournalList::downloads_done, {"old", "/save/old"}),
                     done_row(JournalList::uploads_done, {"/home/u", "1.5MB", "991", "remark"}),
                     done_row(JournalList::downloads_done, {"new", "/save/new"})};
        ASSERT_TRUE(j->apply(done));
        ASSERT_TRUE(j->set_setting("save_folder", "/save/\xc4\xbf/"));
        // A later change of the running row keeps its progress.
        auto again = downloads[1];
        again.size_text = "13KB";
        ASSERT_TRUE(j->apply(JournalChange{{again}, {}, {}}));
        downloads[1] = again;
    }
    auto j = Journal::open(file());
    ASSERT_TRUE(j);
    auto rows = j->load(JournalList::downloads);
    downloads[1].record = "QRVLRESUME1\nrecord";
    EXPECT_EQ(rows, downloads);
    auto up = j->load(JournalList::uploads);
    ASSERT_EQ(up.size(), 1u);
    EXPECT_EQ(up[0].offset, 65536);
    EXPECT_EQ(up[0].remote, "u.qrvllswj");
    auto done = j->load(JournalList::downloads_done);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].name, "old");
    EXPECT_EQ(done[1].local_path, "/save/new");
    auto up_done = j->load(JournalList::uploads_done);
    ASSERT_EQ(up_done.size(), 1u);
    EXPECT_EQ(up_done[0].file_id, "991");
    EXPECT_EQ(up_done[0].remark, "remark");
    EXPECT_EQ(j->setting("save_folder"), "/save/\xc4\xbf/");
    EXPECT_EQ(j->setting("same_name"), std::nullopt);
    EXPECT_EQ(j->last_id(JournalList::downloads), 9);

    // A failed row's partial file is gone: its record goes with it.
    auto failed = downloads[1];
    failed.state = JournalState::failed;
    failed.failure = "stopped";
    ASSERT_TRUE(j->apply(JournalChange{{failed}, {{JournalList::downloads, 9}}, {}}));
    rows = j->load(JournalList::downloads);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].record, "");
    // Nothing differs: nothing is written.
    long long before = j->commits();
    j->set_setting("save_folder", "/save/\xc4\xbf/");
    j->set_offset(JournalList::uploads, 1, 65536, "u.qrvllswj");
    EXPECT_EQ(j->commits(), before);
}

// Each change of a queue is one transaction, written before the caller goes
// on to show it; a later login gets the queues back with ids that go on.
TEST_F(JournalTest, EachQueueChangeIsOneTransactionAndTheQueuesComeBack) {
    std::shared_ptr<Journal> j = Journal::open(file());
    ASSERT_TRUE(j);
    {
        Transfers t;
        attach_journal(t, j);
        std::vector<DownloadEntry> many;
        for (int i = 0; i < 1000; ++i)
            many.push_back(DownloadEntry{"f" + std::to_string(i), "1KB", "7", "/s/", 0});
        long long before = j->commits();
        auto ids = t.downloads.add_all(many);
        EXPECT_EQ(j->commits(), before + 1) << "a thousand rows, one transaction";
        EXPECT_EQ(j->load(JournalList::downloads).size(), 1000u);

        ASSERT_TRUE(t.downloads.begin_run());
        auto first = t.downloads.next();
        ASSERT_TRUE(first.task);
        before = j->commits();
        ASSERT_TRUE(t.downloads.complete(first.task->id, {"f0", "/s/f0"}));
        EXPECT_EQ(j->commits(), before + 1) << "leaving the queue and the done row together";
        auto second = t.downloads.next();
        ASSERT_TRUE(second.task);
        ASSERT_TRUE(t.downloads.fail(second.task->id, "404"));
        ASSERT_EQ(t.downloads.remove(ids[2]), RemoveResult::removed);
        t.downloads.next();  // ids[3] runs
        t.uploads.add(UploadEntry{"/home/a", "f", 3, "1KB"});

        before = j->commits();
        t.downloads.clear();
        EXPECT_EQ(j->commits(), before + 1);
        detach_journal(t);
        t.downloads.add(DownloadEntry{"not kept", "1KB", "7", "", 0});
    }
    Transfers t;
    auto lists = restore_queues(t, *j);
    ASSERT_EQ(lists.downloads.size(), 1u) << "the running row stays through a clear";
    EXPECT_EQ(lists.downloads[0].name, "f3");
    EXPECT_TRUE(lists.download_was_running);
    ASSERT_EQ(lists.downloads_done.size(), 1u);
    EXPECT_EQ(lists.downloads_done[0].local_path, "/s/f0");
    ASSERT_EQ(lists.uploads.size(), 1u);
    EXPECT_FALSE(lists.upload_was_running);
    // The running row waits to be started again; new ids never reuse a kept one.
    ASSERT_EQ(t.downloads.size(), 1u);
    EXPECT_EQ(t.downloads.tasks()[0].state, RowState::waiting);
    EXPECT_GT(t.downloads.add(DownloadEntry{"next", "1KB", "7", "", 0}), lists.downloads[0].id);
}

// A writer killed in the middle of a large transaction: the file reopens
// clean and holds exactly what had been committed.
TEST_F(JournalTest, AWriterKilledInsideATransactionLeavesTheLastCommittedState) {
    const fs::path path = file();
    ASSERT_TRUE(Journal::open(path));
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(report[0]);
        auto j = Journal::open(path);
        if (!j) ::_exit(2);
        long long id = 0;
        // Bounded: the parent kills it long before the last batch.
        for (int batch = 0; batch < 200; ++batch) {
            JournalChange c;
            for (int i = 0; i < 20000; ++i)
                c.put.push_back(queued(JournalList::downloads, ++id, JournalState::waiting,
                                       std::string(200, 'n')));
            if (!j->apply(c)) ::_exit(3);
            char one = 1;
            if (::write(report[1], &one, 1) != 1) ::_exit(4);
        }
        ::_exit(0);
    }
    ::close(report[1]);
    // Two commits, then a kill while the next ones are being written.
    char got = 0;
    int committed = 0;
    for (; committed < 2 && ::read(report[0], &got, 1) == 1; ++committed) {
    }
    std::this_thread::sleep_for(30ms);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    while (::read(report[0], &got, 1) == 1) ++committed;
    ::close(report[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended on its own: " << status;
    ASSERT_GE(committed, 2);

    auto j = Journal::open(path);
    ASSERT_TRUE(j);
    EXPECT_EQ(pragma(path, "PRAGMA integrity_check"), "ok");
    auto rows = j->load(JournalList::downloads);
    // Whole batches only: the one reported last, or one more whose report the kill cut off.
    EXPECT_TRUE(rows.size() == std::size_t(committed) * 20000 ||
                rows.size() == std::size_t(committed + 1) * 20000)
        << rows.size() << " rows after " << committed << " reported commits";
    EXPECT_EQ(pragma(path, "PRAGMA journal_mode"), "wal");
}

TEST_F(JournalTest, TheFileIsPrivateNamedByADigestAndNeverALink) {
    auto path = file();
    ASSERT_TRUE(Journal::open(path));
    struct stat st {};
    ASSERT_EQ(::lstat(path.parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // No account name reaches outside the folder or into the file name.
    auto odd = Journal::path_for("/data/queues", "../../etc/passwd");
    EXPECT_EQ(odd.parent_path(), fs::path("/data/queues"));
    EXPECT_EQ(odd.filename().string().size(), 64u + 7u);
    EXPECT_NE(Journal::path_for("/d", "Guest"), Journal::path_for("/d", "guest"));

    // A link planted at another account's place is refused, its target untouched.
    auto victim = dir_.path() / "victim";
    test::write_file(victim, "precious");
    auto planted = Journal::path_for(dir_.path() / "queues", "other");
    fs::create_symlink(victim, planted);
    std::string why;
    EXPECT_FALSE(Journal::open(planted, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(test::read_file(victim), "precious");

    // The folder comes from the environment, as any other run finds it.
    const char* old_data = std::getenv("XDG_DATA_HOME");
    std::string kept = old_data ? old_data : "";
    ::setenv("XDG_DATA_HOME", "/tmp/xdg-data", 1);
    EXPECT_EQ(Journal::default_folder(), fs::path("/tmp/xdg-data/qorvel/queues"));
    ::unsetenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (home) {
        EXPECT_EQ(Journal::default_folder(), fs::path(home) / ".local/share/qorvel/queues");
    }
    if (old_data) ::setenv("XDG_DATA_HOME", kept.c_str(), 1);
}

TEST(CheckpointGate, AtMostOnceASecondPerTaskAndOnlyWhenBytesMoved) {
    CheckpointGate gate;
    auto t0 = CheckpointGate::Clock::now();
    EXPECT_FALSE(gate.due(1, 0, t0)) << "nothing moved yet";
    EXPECT_TRUE(gate.due(1, 100, t0));
    EXPECT_FALSE(gate.due(1, 200, t0 + 500ms));
    EXPECT_TRUE(gate.due(1, 300, t0 + 1000ms));
    EXPECT_FALSE(gate.due(1, 300, t0 + 5000ms)) << "a stalled transfer writes nothing";
    EXPECT_TRUE(gate.due(2, 50, t0 + 5100ms)) << "the next task starts afresh";
}

}  // namespace
}  // namespace qorvel::transfer
