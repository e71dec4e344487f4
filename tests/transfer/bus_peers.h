// Stand-ins on a private D-Bus: a message bus daemon of the test's own and
// small services that own the desktop's names and record what they are asked.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"

struct sd_bus;
struct sd_bus_message;

namespace qorvel::test {

// dbus-daemon on a socket in its own folder, ended by its PID.
class BusDaemon {
  public:
    explicit BusDaemon(const std::filesystem::path& folder);
    bool ready() const { return ready_; }
    const std::string& address() const { return address_; }

  private:
    std::string address_;
    ChildProcess daemon_;
    bool ready_ = false;
};

// A service on one bus that owns a name and answers method calls on one path
// from its own thread.
class BusService {
  public:
    BusService(const std::string& address, const std::string& name, const std::string& path);
    virtual ~BusService();
    bool ready() const { return ready_; }
    // Runs fn on the service's thread (sd-bus connections are single-threaded).
    void post(std::function<void(sd_bus*)> fn);
    // Drops the connection, so the name has no owner any more.
    void stop();
    // A method call on the path (the service's thread).
    int handle(sd_bus_message* m) { return on_call(m); }

  protected:
    // A method call; returns what sd-bus handlers return (1: handled).
    virtual int on_call(sd_bus_message* m) = 0;
    std::mutex mutex_;

  private:
    sd_bus* bus_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::vector<std::function<void(sd_bus*)>> jobs_;
    bool ready_ = false;
};

// org.freedesktop.Notifications: records every notice, answers or stays silent.
class NotificationsStandIn : public BusService {
  public:
    struct Notice {
        std::uint32_t id = 0;
        std::string summary, body;
        std::vector<std::string> actions;  // key, label, key, label...
    };
    NotificationsStandIn(const std::string& address, bool answers = true);
    ~NotificationsStandIn() override;
    std::vector<Notice> notices();
    int capability_questions();
    // Emits ActionInvoked for a notice, as a user's click does.
    void invoke(std::uint32_t id, const std::string& key);

  protected:
    int on_call(sd_bus_message* m) override;

  private:
    bool answers_;
    std::vector<Notice> notices_;
    int caps_ = 0;
    std::vector<sd_bus_message*> unanswered_;
};

// org.freedesktop.login1: Inhibit hands out one end of a pipe and keeps the
// other, so the test sees when the caller lets go of its lock.
class Login1StandIn : public BusService {
  public:
    explicit Login1StandIn(const std::string& address);
    ~Login1StandIn() override;
    // Locks asked for, and how many the caller still holds.
    int asked();
    int held();
    std::vector<std::string> last_request();  // what, who, why, mode

  protected:
    int on_call(sd_bus_message* m) override;

  private:
    std::vector<int> kept_;  // our ends of the pipes
    std::vector<std::string> last_;
};

// Polls pred until it holds or timeout passes.
bool eventually(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

}  // namespace qorvel::test
