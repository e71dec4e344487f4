#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "transfer/queues.h"

namespace qorvel::transfer {
namespace {

DownloadEntry entry(const std::string& name) {
    return DownloadEntry{name, "1KB", "7", ""};
}

TEST(DownloadQueueScheduler, RunsTheTopWaitingRowOneAtATimeAndEndsTheRunWhenNothingWaits) {
    DownloadQueue q;
    TaskId a = q.add(entry("a")), b = q.add(entry("b"));
    EXPECT_FALSE(q.next().task) << "nothing runs before a run begins";
    ASSERT_TRUE(q.begin_run());
    EXPECT_FALSE(q.begin_run()) << "a second start joins the run in progress";

    auto first = q.next();
    ASSERT_TRUE(first.task);
    EXPECT_EQ(first.task->id, a);
    EXPECT_FALSE(q.next().task) << "a second task while the first runs";
    TaskId c = q.add(entry("c"));  // queued during the run: joins it, after b

    EXPECT_TRUE(q.complete(a));
    auto second = q.next();
    ASSERT_TRUE(second.task);
    EXPECT_EQ(second.task->id, b);
    EXPECT_TRUE(q.fail(b, "404"));
    auto third = q.next();
    ASSERT_TRUE(third.task);
    EXPECT_EQ(third.task->id, c) << "a failed row is not tried again";
    EXPECT_TRUE(q.complete(c));

    auto end = q.next();
    EXPECT_FALSE(end.task);
    EXPECT_TRUE(end.run_ended);
    EXPECT_FALSE(q.run_active());
    ASSERT_EQ(q.size(), 1u) << "the failed row stays, with its reason";
    EXPECT_EQ(q.tasks()[0].state, RowState::failed);
    EXPECT_EQ(q.tasks()[0].failure, "404");
    EXPECT_TRUE(q.begin_run()) << "a new run can begin";
}

TEST(DownloadQueueScheduler, TheRunningRowCannotBeDeletedAWaitingOneCanAndIdsAreNeverReused) {
    DownloadQueue q;
    TaskId a = q.add(entry("a")), b = q.add(entry("b"));
    q.begin_run();
    q.next();
    EXPECT_EQ(q.remove(a), RemoveResult::running);
    EXPECT_EQ(q.remove(b), RemoveResult::removed);
    EXPECT_EQ(q.remove(b), RemoveResult::unknown);
    EXPECT_FALSE(q.complete(b)) << "only the running task completes";
    EXPECT_FALSE(q.fail(b, "x"));
    TaskId c = q.add(entry("c"));
    EXPECT_GT(c, b);
    // Ending a task that is no longer known changes nothing.
    EXPECT_TRUE(q.complete(a));
    EXPECT_FALSE(q.complete(a));
    EXPECT_EQ(q.next().task->id, c);
}

TEST(DownloadQueueScheduler, HaltAndClearStartNothingMore) {
    UploadQueue q;
    TaskId a = q.add(UploadEntry{"/x/a", "f", 0, "1M"});
    q.add(UploadEntry{"/x/b", "f", 0, "1M"});
    q.begin_run();
    q.next();
    EXPECT_EQ(q.clear(), a) << "clear hands back the running task to stop";
    EXPECT_EQ(q.size(), 1u);
    q.halt();
    q.complete(a);
    q.add(UploadEntry{"/x/c", "f", 0, "1M"});
    auto step = q.next();
    EXPECT_FALSE(step.task) << "a halted queue starts nothing";
    EXPECT_FALSE(step.run_ended);
}

TEST(DownloadQueueScheduler, AClearedRunningTaskHoldsTheQueueUntilItsRunnerDropsIt) {
    UploadQueue q;
    TaskId a = q.add(UploadEntry{"/x/a", "f", 0, "1M"});
    q.add(UploadEntry{"/x/b", "f", 0, "1M"});
    q.begin_run();
    q.next();
    EXPECT_FALSE(q.drop_cancelled(a)) << "only a cancelled task is dropped";
    EXPECT_EQ(q.clear(true), a);
    TaskId c = q.add(UploadEntry{"/x/c", "f", 0, "1M"});
    EXPECT_FALSE(q.next().task) << "nothing starts beside the stopping task";
    EXPECT_TRUE(q.drop_cancelled(a));
    EXPECT_FALSE(q.find(a));
    auto step = q.next();
    ASSERT_TRUE(step.task);
    EXPECT_EQ(step.task->id, c);
    EXPECT_FALSE(q.drop_cancelled(c)) << "a task added after the clear is not cancelled";
}

TEST(DownloadQueueScheduler, ThreadsFinishingAndAddingNeverRunTwoTasksAtOnce) {
    DownloadQueue q;
    for (int i = 0; i < 200; ++i) q.add(entry("f" + std::to_string(i)));
    q.begin_run();
    std::atomic<int> running{0}, most{0}, done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int spins = 0; spins < 200000 && done.load() < 200; ++spins) {
                auto step = q.next();
                if (!step.task) continue;
                int now = ++running;
                int seen = most.load();
                while (now > seen && !most.compare_exchange_weak(seen, now)) {
                }
                --running;
                q.complete(step.task->id);
                ++done;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(done.load(), 200);
    EXPECT_EQ(most.load(), 1);
    EXPECT_EQ(q.size(), 0u);
}

// The runner ends a run on its thread while the window thread begins the next one
// for a row just added: the start button given back by the end must never land
// after the next run has taken it, however slow that window update is.
TEST(DownloadQueueScheduler, ARunsEndNeverGivesTheButtonBackAfterTheNextRunTookIt) {
    DownloadQueue q;
    std::atomic<bool> enabled{true}, ending{false};
    auto run_to_end = [&] {
        for (int i = 0; i < 10; ++i) {
            auto step = q.next([&] {
                ending = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                enabled = true;
            });
            if (!step.task) return;
            q.complete(step.task->id);
        }
    };
    for (int round = 0; round < 20; ++round) {
        ending = false;
        q.add(entry("r"));
        ASSERT_TRUE(q.begin_run([&] { enabled = false; }));
        std::thread runner(run_to_end);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!ending && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        q.add(entry("m"));
        bool began = q.begin_run([&] { enabled = false; });
        runner.join();
        EXPECT_TRUE(began) << "the first run had ended";
        EXPECT_FALSE(enabled.load()) << "round " << round << ": a run with its button given back";
        run_to_end();
        ASSERT_FALSE(q.run_active());
        ASSERT_EQ(q.size(), 0u);
        EXPECT_TRUE(enabled.load());
    }
}

// Paused rows are passed over; the running one is only marked until its
// stopper settles it with what continues it; retry and resume wait again.
TEST(DownloadQueueScheduler, PausedRowsArePassedOverAndComeBackWithTheirRecordWhenResumed) {
    DownloadQueue q;
    TaskId a = q.add(entry("a")), b = q.add(entry("b")), c = q.add(entry("c"));
    EXPECT_EQ(q.pause(b), PauseResult::paused);
    q.begin_run();
    ASSERT_EQ(q.next().task->id, a);
    EXPECT_EQ(q.pause(a), PauseResult::unchanged) << "no engine object to stop yet";
    ASSERT_TRUE(q.fresh_object(a, "/d/a"));
    EXPECT_EQ(q.pause(a), PauseResult::stop_running);
    EXPECT_EQ(q.pause(a), PauseResult::unchanged) << "asked once";
    EXPECT_FALSE(q.next().task) << "the stopping task still holds the queue";
    EXPECT_TRUE(q.stopped_on_purpose(a, "record of a", 0));
    EXPECT_EQ(q.find(a)->state, RowState::paused);

    auto step = q.next();
    ASSERT_TRUE(step.task);
    EXPECT_EQ(step.task->id, c) << "both paused rows are passed over";
    EXPECT_TRUE(q.fail(c, "404"));
    EXPECT_FALSE(q.has_work()) << "only a failed and two paused rows";
    auto end = q.next();
    EXPECT_TRUE(end.run_ended);
    EXPECT_FALSE(end.finished_one) << "a run that finished nothing";

    EXPECT_FALSE(q.resume(c)) << "a failed row is retried, not resumed";
    EXPECT_FALSE(q.retry(a)) << "a paused row is resumed, not retried";
    EXPECT_TRUE(q.retry(c));
    EXPECT_EQ(q.find(c)->failure, "");
    EXPECT_TRUE(q.resume(a));
    q.begin_run();
    step = q.next();
    ASSERT_TRUE(step.task);
    EXPECT_EQ(step.task->id, a);
    EXPECT_EQ(step.task->saved_record, "record of a");
    // A failure drops what would have continued it: its partial file is gone.
    EXPECT_TRUE(q.fail(a, "gone"));
    EXPECT_EQ(q.find(a)->saved_record, "");
    ASSERT_EQ(q.next().task->id, c);
    EXPECT_TRUE(q.complete(c));
    end = q.next();
    EXPECT_TRUE(end.run_ended);
    EXPECT_TRUE(end.finished_one);
    q.begin_run();
    EXPECT_FALSE(q.next().finished_one) << "counted per run";
}

// The run-end notice's retry: every failed row at once, in one change (one
// journal transaction); paused and waiting rows stay as they are.
TEST(DownloadQueueScheduler, AllFailedRowsWaitAgainInOneChange) {
    DownloadQueue q;
    std::vector<DownloadQueue::Change> changes;
    q.set_listener([&](const DownloadQueue::Change& c) { changes.push_back(c); });
    TaskId a = q.add(entry("a")), b = q.add(entry("b")), c = q.add(entry("c")),
           d = q.add(entry("d"));
    EXPECT_EQ(q.pause(c), PauseResult::paused);
    q.begin_run();
    for (TaskId id : {a, b}) {
        ASSERT_EQ(q.next().task->id, id);
        EXPECT_TRUE(q.fail(id, "404"));
    }
    ASSERT_EQ(q.next().task->id, d);
    changes.clear();

    EXPECT_EQ(q.retry_failed(), (std::vector<TaskId>{a, b}));
    ASSERT_EQ(changes.size(), 1u);
    ASSERT_EQ(changes[0].put.size(), 2u);
    for (const auto& t : changes[0].put) {
        EXPECT_EQ(t.state, RowState::waiting);
        EXPECT_EQ(t.failure, "");
    }
    EXPECT_EQ(q.find(c)->state, RowState::paused);
    EXPECT_EQ(q.find(d)->state, RowState::running) << "the running row goes on";
    EXPECT_TRUE(q.retry_failed().empty());
    EXPECT_EQ(changes.size(), 1u) << "nothing to retry is no change";
    // The run that goes on takes them along.
    EXPECT_TRUE(q.complete(d));
    EXPECT_EQ(q.next().task->id, a);
}

}  // namespace
}  // namespace qorvel::transfer
