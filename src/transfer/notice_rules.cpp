#include "transfer/notice_rules.h"

#include <algorithm>

#include "net/charset.h"

namespace qorvel::transfer {

namespace {

std::string noun(QueueKind kind) {
    return kind == QueueKind::download ? GBK("下载") : GBK("上传");
}

}  // namespace

std::optional<NoticeText> run_end_notice(QueueKind kind, const RunTally& tally) {
    if (tally.done <= 0 && tally.failed <= 0) return std::nullopt;
    NoticeText n;
    n.summary = noun(kind) + (tally.failed > 0 ? GBK("结束") : GBK("完成"));
    n.body = GBK("已完成 ") + std::to_string(std::max(tally.done, 0)) + GBK(" 个") + noun(kind);
    if (tally.failed > 0) {
        n.body += GBK("，") + std::to_string(tally.failed) + GBK(" 个失败");
        n.retry_failed = kind;
    }
    if (kind == QueueKind::download && tally.done > 0) n.folder = tally.folder;
    return n;
}

std::optional<NoticeText> failure_notice(QueueKind kind, const RunTally& tally,
                                         const std::string& name, const std::string& why) {
    if (tally.failure_told) return std::nullopt;
    NoticeText n;
    n.summary = noun(kind) + GBK("失败");
    n.body = name.empty() ? why : name + GBK("：") + why;
    return n;
}

void RunReports::done(QueueKind kind, const std::string& folder) {
    std::lock_guard lock(mutex_);
    RunTally& t = of(kind);
    ++t.done;
    if (!folder.empty()) t.folder = folder;
}

std::optional<NoticeText> RunReports::failed(QueueKind kind, const std::string& name,
                                             const std::string& why) {
    std::lock_guard lock(mutex_);
    RunTally& t = of(kind);
    ++t.failed;
    auto n = failure_notice(kind, t, name, why);
    if (n) t.failure_told = true;
    return n;
}

std::optional<NoticeText> RunReports::run_ended(QueueKind kind) {
    std::lock_guard lock(mutex_);
    RunTally& t = of(kind);
    auto n = run_end_notice(kind, t);
    t = RunTally{};
    return n;
}

RunTally RunReports::tally(QueueKind kind) const {
    std::lock_guard lock(mutex_);
    return kind == QueueKind::download ? download_ : upload_;
}

int run_percent(int finished, int remaining, std::int64_t current_done,
                std::int64_t current_total) {
    finished = std::max(finished, 0);
    remaining = std::max(remaining, 0);
    if (finished + remaining == 0) return 0;
    double part = 0.0;
    if (current_total > 0 && current_done > 0)
        part =
            std::min(1.0, static_cast<double>(current_done) / static_cast<double>(current_total));
    double share = (finished + part) / static_cast<double>(finished + remaining);
    return std::clamp(static_cast<int>(share * 100.0), 0, 100);
}

std::string tray_progress_text(int download_percent, int upload_percent) {
    std::string text;
    if (download_percent >= 0) text = GBK("下载 ") + std::to_string(download_percent) + "%";
    if (upload_percent >= 0) {
        if (!text.empty()) text += GBK("，");
        text += GBK("上传 ") + std::to_string(upload_percent) + "%";
    }
    return text;
}

}  // namespace qorvel::transfer
