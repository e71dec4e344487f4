#include "transfer/progress_rules.h"

#include <cmath>
#include <cstdio>
#include <iterator>
#include <utility>

#include "net/charset.h"

namespace qorvel::transfer {

std::string speed_per_second_text(double bytes_per_s) {
    if (!(bytes_per_s > 0)) bytes_per_s = 0;
    if (bytes_per_s < 1024) return std::to_string(std::llround(bytes_per_s)) + "B/s";
    static const char* const units[] = {"KB/s", "MB/s", "GB/s"};
    double value = bytes_per_s / 1024;
    std::size_t unit = 0;
    // 1023.96 KB/s would print as "1024KB/s": such a value moves up a unit.
    while (unit + 1 < std::size(units) && value >= 1023.95) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    if (value < 99.95)
        std::snprintf(text, sizeof text, "%.1f%s", value, units[unit]);
    else
        std::snprintf(text, sizeof text, "%.0f%s", value, units[unit]);
    return text;
}

std::string time_left_text(std::int64_t remaining_bytes, double bytes_per_s) {
    if (remaining_bytes < 0 || !(bytes_per_s > 0)) return GBK("剩余时间未知");
    double seconds = std::ceil(static_cast<double>(remaining_bytes) / bytes_per_s);
    // Beyond a hundred days the figure says nothing more.
    if (seconds > 100.0 * 24 * 3600) return GBK("剩余时间未知");
    auto left = static_cast<std::int64_t>(seconds);
    std::int64_t hours = left / 3600, minutes = left % 3600 / 60, secs = left % 60;
    if (hours > 0)
        return GBK("剩余 ") + std::to_string(hours) + GBK("小时") + std::to_string(minutes) +
               GBK("分");
    if (minutes > 0) {
        char two[4];
        std::snprintf(two, sizeof two, "%02d", static_cast<int>(secs));
        return GBK("剩余 ") + std::to_string(minutes) + GBK("分") + two + GBK("秒");
    }
    return GBK("剩余 ") + std::to_string(secs) + GBK("秒");
}

void SpeedAverage::add(std::uint64_t id, std::int64_t bytes, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    double seconds = 1.0;
    if (!started_ || id != id_) {
        started_ = true;
        id_ = id;
        ticks_.clear();
    } else {
        seconds = std::chrono::duration<double>(now - last_).count();
    }
    last_ = now;
    if (bytes < 0) bytes = 0;
    // Two ticks at once (a late worker) count their bytes with the next one.
    if (!(seconds > 0.05)) {
        if (!ticks_.empty()) ticks_.back().bytes += bytes;
        return;
    }
    ticks_.push_back({bytes, seconds});
    while (ticks_.size() > kTicks) ticks_.pop_front();
}

double SpeedAverage::per_second() const {
    std::lock_guard lock(mutex_);
    std::int64_t bytes = 0;
    double seconds = 0;
    for (const auto& t : ticks_) {
        bytes += t.bytes;
        seconds += t.seconds;
    }
    return seconds > 0 ? static_cast<double>(bytes) / seconds : 0;
}

std::string pace_text(std::int64_t remaining_bytes, double bytes_per_s) {
    return GBK("速度 ") + speed_per_second_text(bytes_per_s) + GBK("，") +
           time_left_text(remaining_bytes, bytes_per_s);
}

bool CheckpointGate::due(long long id, std::int64_t bytes, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (id != id_) {
        id_ = id;
        bytes_ = -1;
        at_ = {};
    }
    if (bytes <= 0 || bytes == bytes_ || (bytes_ >= 0 && now - at_ < std::chrono::seconds(1)))
        return false;
    bytes_ = bytes;
    at_ = now;
    return true;
}

RowPace running_row_texts(const engine::RetryState& retry, std::string speed_cell,
                          std::string pace) {
    if (retry.attempt <= 0) return {std::move(speed_cell), std::move(pace)};
    std::string cell = GBK("重新连接中（第") + std::to_string(retry.attempt) + GBK("次）");
    std::string tooltip = cell;
    if (!retry.reason.empty()) tooltip += GBK("，上次的错误：") + retry.reason;
    return {std::move(cell), std::move(tooltip)};
}

}  // namespace qorvel::transfer
