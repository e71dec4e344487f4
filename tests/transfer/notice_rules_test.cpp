#include <gtest/gtest.h>

#include "net/charset.h"
#include "transfer/notice_rules.h"

namespace qorvel::transfer {
namespace {

TEST(RunNotices, ARunIsToldOnceAtItsEndAndOnceAtItsFirstFailure) {
    RunReports r;
    int told = 0;
    for (int i = 0; i < 1000; ++i) {
        if (i == 10 || i == 500) {
            told += r.failed(QueueKind::download, "x.bin", GBK("下载失败")).has_value();
        } else {
            r.done(QueueKind::download, "/home/u/down/");
        }
    }
    EXPECT_EQ(told, 1);
    auto end = r.run_ended(QueueKind::download);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->body, GBK("已完成 998 个下载，2 个失败"));
    EXPECT_EQ(end->folder, "/home/u/down/");
    EXPECT_EQ(end->retry_failed, QueueKind::download) << "its failures can be retried from it";
    // The next run starts afresh: its first failure is told again.
    EXPECT_TRUE(r.failed(QueueKind::download, "y.bin", GBK("下载失败")));
    // The other queue keeps its own count.
    r.done(QueueKind::upload);
    auto up = r.run_ended(QueueKind::upload);
    ASSERT_TRUE(up);
    EXPECT_EQ(up->body, GBK("已完成 1 个上传"));
    EXPECT_TRUE(up->folder.empty()) << "an upload's folder is no place to open";
    EXPECT_FALSE(up->retry_failed) << "nothing failed, nothing to retry";
    EXPECT_FALSE(r.run_ended(QueueKind::upload)) << "a run that moved nothing says nothing";
}

TEST(RunNotices, TheTrayLineCountsFinishedRowsAndTheRunningOnesPart) {
    EXPECT_EQ(run_percent(0, 1, 45, 100), 45);
    EXPECT_EQ(run_percent(1, 1, 0, 100), 50);
    EXPECT_EQ(run_percent(0, 1, 500, 100), 100) << "a host sending more never passes 100";
    EXPECT_EQ(run_percent(0, 1, 10, -1), 0) << "length not known yet";
    EXPECT_EQ(run_percent(0, 0, 0, 0), 0);
    EXPECT_EQ(tray_progress_text(45, 12), GBK("下载 45%，上传 12%"));
    EXPECT_EQ(tray_progress_text(-1, 12), GBK("上传 12%"));
    EXPECT_EQ(tray_progress_text(-1, -1), "");
}

}  // namespace
}  // namespace qorvel::transfer
