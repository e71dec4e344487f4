// Records what a transfer task reports, for the engine tests.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "net/charset.h"
#include "transfer/engine/task_param.h"

namespace qorvel::test {

class EngineRecorder {
  public:
    // Answers for events 2 and 18; 0 when not set.
    std::function<int(int code)> answer;
    // Runs on the engine thread when event 4 arrives.
    std::function<void()> on_end;

    void attach(engine::TaskParam& p) {
        p.message_callback = [this](const std::string& text, int level) {
            std::lock_guard lock(mutex_);
            messages_.emplace_back(text, level);
        };
        p.event_callback = [this](int code, engine::TaskId, std::int64_t value, std::int64_t,
                                  engine::TaskId) {
            {
                std::lock_guard lock(mutex_);
                events_.emplace_back(code, value);
            }
            if (code == engine::kEventEnded && on_end) on_end();
            return answer ? answer(code) : 0;
        };
    }

    int count(int code) const {
        std::lock_guard lock(mutex_);
        int n = 0;
        for (const auto& e : events_) n += e.first == code;
        return n;
    }

    std::vector<std::pair<int, std::int64_t>> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }

    // Whether a message (GBK) was reported, at the level when given.
    bool said(const std::string& text, int level = -1) const {
        std::lock_guard lock(mutex_);
        for (const auto& m : messages_)
            if (m.first == text && (level < 0 || m.second == level)) return true;
        return false;
    }

    bool said_containing(const std::string& part) const {
        std::lock_guard lock(mutex_);
        for (const auto& m : messages_)
            if (m.first.find(part) != std::string::npos) return true;
        return false;
    }

    // Everything reported, readable in a failing test's output.
    std::string log() const {
        std::lock_guard lock(mutex_);
        std::string s;
        for (const auto& m : messages_)
            s += std::to_string(m.second) + " " + gbk_to_utf8(m.first) + "\n";
        for (const auto& e : events_)
            s += "event " + std::to_string(e.first) + " " + std::to_string(e.second) + "\n";
        return s;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, int>> messages_;
    std::vector<std::pair<int, std::int64_t>> events_;
};

}  // namespace qorvel::test
