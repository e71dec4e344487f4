// What the desktop offers over its message bus beyond Shell: notices in the
// desktop's notification area and a lock that holds off sleep. The program
// works without either; texts are UTF-8, the bus's own encoding.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace qorvel {

struct DesktopNotice {
    std::string summary;
    std::string body;
    // (key, label) pairs, offered only where the notification service shows actions.
    std::vector<std::pair<std::string, std::string>> actions;
};

class Notifier {
  public:
    using Delivered = std::function<void(bool delivered)>;
    using ActionChosen = std::function<void(const std::string& key)>;
    virtual ~Notifier() = default;
    // Never blocks the caller. delivered(false) when no notification service
    // took the notice (none there, an error, no answer in time); action(key)
    // when the user picks one of the notice's actions. Both may run on
    // another thread.
    virtual void notify(DesktopNotice notice, Delivered delivered, ActionChosen action) = 0;
};

class SleepInhibitor {
  public:
    virtual ~SleepInhibitor() = default;
    // Takes (true) or lets go of (false) the lock against sleep; repeating
    // the current state does nothing. Never blocks the caller.
    virtual void set_held(bool held) = 0;
};

}  // namespace qorvel
