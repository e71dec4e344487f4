#include "platform/sd_desktop_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <list>
#include <mutex>
#include <set>
#include <thread>

namespace qorvel {

namespace {

constexpr const char* kNotifyName = "org.freedesktop.Notifications";
constexpr const char* kNotifyPath = "/org/freedesktop/Notifications";
constexpr const char* kLoginName = "org.freedesktop.login1";
constexpr const char* kLoginPath = "/org/freedesktop/login1";
constexpr const char* kLoginManager = "org.freedesktop.login1.Manager";
// Notices whose actions we still follow; older ones are forgotten.
constexpr std::size_t kShownKept = 32;

std::uint64_t now_usec() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000u +
           static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
}

std::string error_name(sd_bus_message* m) {
    const sd_bus_error* e = sd_bus_message_get_error(m);
    return e && e->name ? e->name : "unknown error";
}

}  // namespace

struct SdDesktopBus::State {
    Options opt;
    std::thread thread;
    int wake_fd = -1;
    std::mutex mutex;
    std::deque<std::function<void()>> jobs;  // guarded by mutex
    bool ending = false;                     // guarded by mutex

    // Everything below belongs to the bus thread.
    struct Call {
        State* state = nullptr;
        std::function<void(sd_bus_message*)> on_reply;
        std::list<Call>::iterator self;
    };
    std::list<Call> calls;
    struct Pending {
        DesktopNotice notice;
        Delivered delivered;
        ActionChosen action;
    };
    struct Shown {
        std::uint32_t id = 0;
        std::string sender;
        std::vector<std::string> keys;
        ActionChosen action;
    };
    sd_bus* session = nullptr;
    sd_bus* system = nullptr;
    bool caps_known = false;
    bool caps_asking = false;
    bool actions_supported = false;
    std::deque<Pending> waiting_caps;
    std::deque<Shown> shown;
    bool want_held = false;
    bool inhibit_pending = false;
    int lock_fd = -1;
    std::set<std::string> said;

    void say_once(const std::string& what) {
        if (!said.insert(what).second) return;
        if (opt.log)
            opt.log(what);
        else
            std::fprintf(stderr, "qorvel: %s\n", what.c_str());
    }

    void post(std::function<void()> job) {
        {
            std::lock_guard lock(mutex);
            jobs.push_back(std::move(job));
        }
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wake_fd, &one, sizeof one);
    }

    static int on_reply(sd_bus_message* m, void* userdata, sd_bus_error*) {
        auto* call = static_cast<Call*>(userdata);
        auto fn = std::move(call->on_reply);
        call->state->calls.erase(call->self);
        if (fn) fn(m);
        return 0;
    }

    // Sends a method call; on_reply gets the answer or an error (a time-out too).
    // False when the call could not be sent at all.
    bool call_async(sd_bus* bus, const char* dest, const char* path, const char* iface,
                    const char* member, const std::function<int(sd_bus_message*)>& fill,
                    std::function<void(sd_bus_message*)> on_reply, std::uint64_t timeout_usec) {
        sd_bus_message* m = nullptr;
        int r = sd_bus_message_new_method_call(bus, &m, dest, path, iface, member);
        if (r >= 0 && fill) r = fill(m);
        if (r < 0) {
            sd_bus_message_unref(m);
            return false;
        }
        calls.push_back(Call{this, std::move(on_reply), {}});
        calls.back().self = std::prev(calls.end());
        r = sd_bus_call_async(bus, nullptr, m, &State::on_reply, &calls.back(), timeout_usec);
        sd_bus_message_unref(m);
        if (r < 0) {
            calls.pop_back();
            return false;
        }
        return true;
    }

    // --- notices ---
    bool open_session() {
        if (session) return true;
        if (sd_bus_open_user(&session) < 0) {
            session = nullptr;
            say_once("no session bus: notices go to the tray");
            return false;
        }
        // The user's choice among a notice's actions comes as a signal.
        sd_bus_match_signal_async(session, nullptr, nullptr, kNotifyPath, kNotifyName, nullptr,
                                  &State::on_signal, nullptr, this);
        return true;
    }

    static int on_signal(sd_bus_message* m, void* userdata, sd_bus_error*) {
        auto* s = static_cast<State*>(userdata);
        const char* sender = sd_bus_message_get_sender(m);
        std::uint32_t id = 0;
        if (!sender) return 0;
        if (sd_bus_message_is_signal(m, kNotifyName, "ActionInvoked")) {
            const char* key = nullptr;
            if (sd_bus_message_read(m, "us", &id, &key) < 0 || !key) return 0;
            for (const Shown& n : s->shown) {
                if (n.id != id || n.sender != sender) continue;
                // Only a key we offered is acted on, whoever sent the signal.
                for (const std::string& k : n.keys) {
                    if (k == key) {
                        ActionChosen action = n.action;
                        if (action) action(k);
                        return 0;
                    }
                }
            }
        } else if (sd_bus_message_is_signal(m, kNotifyName, "NotificationClosed")) {
            if (sd_bus_message_read(m, "u", &id) < 0) return 0;
            for (auto it = s->shown.begin(); it != s->shown.end(); ++it) {
                if (it->id == id && it->sender == sender) {
                    s->shown.erase(it);
                    break;
                }
            }
        }
        return 0;
    }

    std::uint64_t notify_usec() const {
        return static_cast<std::uint64_t>(opt.notify_timeout.count()) * 1000u;
    }

    void notify(Pending p) {
        if (!open_session()) {
            if (p.delivered) p.delivered(false);
            return;
        }
        if (caps_known) return send(std::move(p));
        waiting_caps.push_back(std::move(p));
        if (caps_asking) return;
        caps_asking = true;
        bool sent = call_async(
            session, kNotifyName, kNotifyPath, kNotifyName, "GetCapabilities", {},
            [this](sd_bus_message* reply) {
                caps_asking = false;
                char** caps = nullptr;
                // Asked once: an error (no service yet) leaves it to the next notice.
                if (!sd_bus_message_is_method_error(reply, nullptr) &&
                    sd_bus_message_read_strv(reply, &caps) >= 0) {
                    caps_known = true;
                    for (char** c = caps; c && *c; ++c)
                        if (std::string(*c) == "actions") actions_supported = true;
                }
                for (char** c = caps; c && *c; ++c) std::free(*c);
                std::free(caps);
                auto waiting = std::move(waiting_caps);
                waiting_caps.clear();
                for (Pending& w : waiting) send(std::move(w));
            },
            notify_usec());
        if (!sent) {
            caps_asking = false;
            auto waiting = std::move(waiting_caps);
            waiting_caps.clear();
            for (Pending& w : waiting)
                if (w.delivered) w.delivered(false);
        }
    }

    void send(Pending p) {
        std::vector<std::string> keys;
        if (actions_supported && p.action)
            for (const auto& a : p.notice.actions) keys.push_back(a.first);
        // The reply's handler takes p along, so the call's text is read from a copy.
        const DesktopNotice n = p.notice;
        auto fill = [&](sd_bus_message* m) {
            int r = sd_bus_message_append(m, "susss", opt.app_name.c_str(), 0u, "",
                                          n.summary.c_str(), n.body.c_str());
            if (r >= 0) r = sd_bus_message_open_container(m, 'a', "s");
            for (std::size_t i = 0; r >= 0 && !keys.empty() && i < n.actions.size(); ++i)
                r = sd_bus_message_append(m, "ss", n.actions[i].first.c_str(),
                                          n.actions[i].second.c_str());
            if (r >= 0) r = sd_bus_message_close_container(m);
            if (r >= 0) r = sd_bus_message_open_container(m, 'a', "{sv}");
            if (r >= 0) r = sd_bus_message_close_container(m);
            if (r >= 0) r = sd_bus_message_append(m, "i", -1);
            return r;
        };
        Delivered delivered = p.delivered;
        bool sent = call_async(
            session, kNotifyName, kNotifyPath, kNotifyName, "Notify", fill,
            [this, p = std::move(p), keys](sd_bus_message* reply) mutable {
                std::uint32_t id = 0;
                if (sd_bus_message_is_method_error(reply, nullptr) ||
                    sd_bus_message_read(reply, "u", &id) < 0) {
                    if (p.delivered) p.delivered(false);
                    return;
                }
                const char* sender = sd_bus_message_get_sender(reply);
                if (!keys.empty() && sender) {
                    shown.push_back(Shown{id, sender, keys, std::move(p.action)});
                    if (shown.size() > kShownKept) shown.pop_front();
                }
                if (p.delivered) p.delivered(true);
            },
            notify_usec());
        if (!sent && delivered) delivered(false);
    }

    // --- the sleep lock ---
    void apply_hold() {
        if (!want_held) {
            if (lock_fd >= 0) ::close(lock_fd);  // closing it ends logind's lock
            lock_fd = -1;
            return;
        }
        if (lock_fd >= 0 || inhibit_pending) return;
        if (!system && sd_bus_open_system(&system) < 0) {
            system = nullptr;
            say_once("no system bus: sleep is not held off during transfers");
            return;
        }
        auto fill = [this](sd_bus_message* m) {
            return sd_bus_message_append(m, "ssss", "sleep", opt.app_name.c_str(),
                                         opt.inhibit_reason.c_str(), "block");
        };
        inhibit_pending = call_async(
            system, kLoginName, kLoginPath, kLoginManager, "Inhibit", fill,
            [this](sd_bus_message* reply) {
                inhibit_pending = false;
                int fd = -1;
                if (sd_bus_message_is_method_error(reply, nullptr)) {
                    say_once("logind refused the sleep lock (" + error_name(reply) + ")");
                    return;
                }
                if (sd_bus_message_read(reply, "h", &fd) < 0 || fd < 0) {
                    say_once("logind's answer held no lock");
                    return;
                }
                // The message owns its descriptor; a copy outlives it.
                if (want_held) lock_fd = fcntl(fd, F_DUPFD_CLOEXEC, 3);
                apply_hold();
            },
            5'000'000);
        if (!inhibit_pending) say_once("the sleep lock could not be asked for");
    }

    // --- the thread ---
    static void drive(sd_bus*& bus) {
        if (!bus) return;
        int r = 0;
        for (int i = 0; i < 10000 && (r = sd_bus_process(bus, nullptr)) > 0; ++i) {
        }
        // A bus that went away is opened again when next needed.
        if (r < 0) bus = sd_bus_flush_close_unref(bus);
    }

    void run() {
        for (;;) {
            std::deque<std::function<void()>> now;
            bool end = false;
            {
                std::lock_guard lock(mutex);
                now.swap(jobs);
                end = ending;
            }
            for (auto& job : now) job();
            if (end && now.empty()) break;
            drive(session);
            drive(system);

            pollfd fds[3];
            int n = 0;
            fds[n++] = {wake_fd, POLLIN, 0};
            int timeout_ms = 1000;
            for (sd_bus* b : {session, system}) {
                if (!b) continue;
                int fd = sd_bus_get_fd(b);
                int events = sd_bus_get_events(b);
                if (fd >= 0 && events >= 0) fds[n++] = {fd, static_cast<short>(events), 0};
                std::uint64_t until = 0;
                if (sd_bus_get_timeout(b, &until) >= 0 && until != UINT64_MAX) {
                    std::uint64_t now_us = now_usec();
                    int ms = until <= now_us ? 0 : static_cast<int>((until - now_us + 999) / 1000);
                    if (ms < timeout_ms) timeout_ms = ms;
                }
            }
            ::poll(fds, static_cast<nfds_t>(n), timeout_ms);
            if (fds[0].revents & POLLIN) {
                std::uint64_t count = 0;
                [[maybe_unused]] ssize_t r = ::read(wake_fd, &count, sizeof count);
            }
        }
        want_held = false;
        apply_hold();
        if (session) session = sd_bus_flush_close_unref(session);
        if (system) system = sd_bus_flush_close_unref(system);
    }
};

SdDesktopBus::SdDesktopBus() : SdDesktopBus(Options{}) {}

SdDesktopBus::SdDesktopBus(Options options) : state_(std::make_unique<State>()) {
    state_->opt = std::move(options);
    state_->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    state_->thread = std::thread([s = state_.get()] { s->run(); });
}

SdDesktopBus::~SdDesktopBus() {
    {
        std::lock_guard lock(state_->mutex);
        state_->ending = true;
    }
    state_->post([] {});
    state_->thread.join();
    ::close(state_->wake_fd);
}

void SdDesktopBus::notify(DesktopNotice notice, Delivered delivered, ActionChosen action) {
    state_->post([s = state_.get(), p = State::Pending{std::move(notice), std::move(delivered),
                                                       std::move(action)}]() mutable {
        s->notify(std::move(p));
    });
}

void SdDesktopBus::set_held(bool held) {
    state_->post([s = state_.get(), held] {
        s->want_held = held;
        s->apply_hold();
    });
}

}  // namespace qorvel
