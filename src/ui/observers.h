// Observers of a control or a window: called after the subject's lock is
// released, on the thread that made the change; safe to add and remove from
// any thread, also from inside a call.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace qorvel::ui {

template <class Subject>
class ObserverList {
  public:
    using Observer = std::function<void(Subject&, unsigned changes)>;

    int add(Observer observer) {
        std::lock_guard lock(mutex_);
        int token = next_token_++;
        observers_[token] = std::move(observer);
        return token;
    }
    void remove(int token) {
        std::lock_guard lock(mutex_);
        observers_.erase(token);
    }
    void notify(Subject& subject, unsigned changes) {
        std::vector<Observer> copy;
        {
            std::lock_guard lock(mutex_);
            for (auto& entry : observers_) copy.push_back(entry.second);
        }
        for (auto& observer : copy) observer(subject, changes);
    }

  private:
    std::mutex mutex_;
    std::map<int, Observer> observers_;
    int next_token_ = 1;
};

}  // namespace qorvel::ui

// Runs a change under the subject's mutex_ and notifies its observers
// afterwards when the body set changed_. For the model implementations only.
#define QV_CHANGE(bits, body)             \
    do {                                  \
        bool changed_ = false;            \
        {                                 \
            std::lock_guard lock(mutex_); \
            body                          \
        }                                 \
        if (changed_) notify(bits);       \
    } while (0)
