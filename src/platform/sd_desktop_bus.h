// Notifier and SleepInhibitor over D-Bus with sd-bus: notices go to
// org.freedesktop.Notifications on the session bus, the sleep lock is
// logind's Inhibit on the system bus (DBUS_SYSTEM_BUS_ADDRESS when set). One
// thread of its own owns both connections, so no caller ever waits on a bus.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/desktop_bus.h"

namespace qorvel {

class SdDesktopBus : public Notifier, public SleepInhibitor {
  public:
    struct Options {
        std::string app_name = "Qorvel";
        std::string inhibit_reason = "transfers are running";
        // A notice without an answer by then counts as not delivered.
        std::chrono::milliseconds notify_timeout{3000};
        // Where each bus is missing or refuses; said once per kind.
        std::function<void(const std::string&)> log;
    };
    SdDesktopBus();
    explicit SdDesktopBus(Options options);
    ~SdDesktopBus() override;  // lets go of the lock and ends the thread
    SdDesktopBus(const SdDesktopBus&) = delete;
    SdDesktopBus& operator=(const SdDesktopBus&) = delete;

    void notify(DesktopNotice notice, Delivered delivered, ActionChosen action) override;
    void set_held(bool held) override;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace qorvel
