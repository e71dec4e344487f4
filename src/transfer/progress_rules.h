// What a running transfer says about its pace: the speed per second, the time
// left, and a speed smoothed over the last few ticks so neither jumps.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "transfer/engine/engine.h"

namespace qorvel::transfer {

// "512B/s", "12.5KB/s", "226KB/s", "1.5MB/s", "2.0GB/s": one decimal under 100.
std::string speed_per_second_text(double bytes_per_s);

// GBK: "剩余 5秒", "剩余 1分05秒", "剩余 2小时3分"; "剩余时间未知" without a speed
// or while the size is unknown (remaining < 0).
std::string time_left_text(std::int64_t remaining_bytes, double bytes_per_s);

// The bytes of the last few ticks over their time. A new transfer starts a
// new average; ticks come from workers, so every call takes the lock.
class SpeedAverage {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kTicks = 5;
    // bytes counted by transfer id since its previous tick; the first tick of
    // a transfer counts as one timer interval (a second).
    void add(std::uint64_t id, std::int64_t bytes, Clock::time_point now);
    double per_second() const;

  private:
    struct Tick {
        std::int64_t bytes;
        double seconds;
    };
    mutable std::mutex mutex_;
    bool started_ = false;
    std::uint64_t id_ = 0;
    Clock::time_point last_{};
    std::deque<Tick> ticks_;
};

// The tooltip of a running row and the upload's status line, GBK:
// "速度 1.5MB/s，剩余 1分05秒".
std::string pace_text(std::int64_t remaining_bytes, double bytes_per_s);

// Whether a running row's progress is due for the journal: bytes moved since
// the last one and a second gone. Per task; a new task starts afresh.
class CheckpointGate {
  public:
    using Clock = std::chrono::steady_clock;
    bool due(long long id, std::int64_t bytes, Clock::time_point now);

  private:
    std::mutex mutex_;  // ticks run on workers
    long long id_ = 0;
    std::int64_t bytes_ = -1;
    Clock::time_point at_{};
};
// What a running row's speed cell and tooltip say (GBK): the speed and the
// pace while bytes move; while the engine waits to reconnect, the cell says
// "重新连接中（第3次）" and the tooltip the error that ended the last attempt,
// so a row that stands still does not look like a row that moves slowly.
struct RowPace {
    std::string cell;
    std::string tooltip;
};
RowPace running_row_texts(const engine::RetryState& retry, std::string speed_cell,
                          std::string pace);

}  // namespace qorvel::transfer
