// What the desktop is told about the queues: one notice per run (and one for
// its first failure), never one per file, and the tray icon's progress line.
// Texts are GBK; the caller converts them for the bus.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace qorvel::transfer {

enum class QueueKind { download, upload };

struct NoticeText {
    std::string summary;
    std::string body;
    std::string folder;  // where the run's last file went (downloads), else empty
    // The queue whose failed rows the notice offers to retry (a run that had failures).
    std::optional<QueueKind> retry_failed;
};

// What one run of a queue has done so far.
struct RunTally {
    int done = 0;
    int failed = 0;
    bool failure_told = false;  // the run's first failure had its own notice
    std::string folder;         // folder of the last finished download
};

// The notice at a run's end ("已完成 998 个下载，2 个失败"), offering to retry
// the failures; none for a run that finished nothing and failed nothing.
std::optional<NoticeText> run_end_notice(QueueKind kind, const RunTally& tally);
// The notice for a failure while the run goes on: the run's first failure
// only; later ones are counted in the end notice.
std::optional<NoticeText> failure_notice(QueueKind kind, const RunTally& tally,
                                         const std::string& name, const std::string& why);

// Both queues' tallies behind one lock: the roads report from their workers.
class RunReports {
  public:
    void done(QueueKind kind, const std::string& folder = {});
    // The notice to send now, if any.
    std::optional<NoticeText> failed(QueueKind kind, const std::string& name,
                                     const std::string& why);
    // The run's notice; the tally starts afresh for the next run.
    std::optional<NoticeText> run_ended(QueueKind kind);
    RunTally tally(QueueKind kind) const;

  private:
    RunTally& of(QueueKind kind) { return kind == QueueKind::download ? download_ : upload_; }
    mutable std::mutex mutex_;
    RunTally download_, upload_;
};

// Share of a run done: finished rows plus the running one's part, over the
// finished and the remaining (running and waiting) rows. 0..100.
int run_percent(int finished, int remaining, std::int64_t current_done, std::int64_t current_total);
// The tray icon's tooltip while transfers run ("下载 45%，上传 12%"); a queue
// without a run (negative) is left out; empty when neither runs.
std::string tray_progress_text(int download_percent, int upload_percent);

}  // namespace qorvel::transfer
