#include "bus_peers.h"

#include <fcntl.h>
#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdlib>

namespace qorvel::test {

namespace {
int dispatch(sd_bus_message* m, void* self, sd_bus_error*) {
    return static_cast<BusService*>(self)->handle(m);
}
}  // namespace

bool eventually(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (pred()) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

BusDaemon::BusDaemon(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    auto socket = folder / "bus";
    address_ = "unix:path=" + socket.string();
    // No service folders: a name nobody owns stays unowned instead of being
    // started from whatever the machine has installed.
    auto config = folder / "bus.conf";
    write_file(
        config,
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>session</type><listen>" +
            address_ +
            "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
            "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
            "<allow own=\"*\"/></policy></busconfig>\n");
    daemon_ =
        ChildProcess({"dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + config.string()},
                     (folder / "daemon.log").string());
    ready_ = eventually([&] { return std::filesystem::exists(socket); }, std::chrono::seconds(5));
}

BusService::BusService(const std::string& address, const std::string& name,
                       const std::string& path) {
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0) return;
    bool ok = sd_bus_set_address(bus, address.c_str()) >= 0 && sd_bus_set_bus_client(bus, 1) >= 0 &&
              sd_bus_start(bus) >= 0 && sd_bus_request_name(bus, name.c_str(), 0) >= 0 &&
              sd_bus_add_object(bus, nullptr, path.c_str(), &dispatch, this) >= 0;
    if (!ok) {
        sd_bus_flush_close_unref(bus);
        return;
    }
    bus_ = bus;
    ready_ = true;
    thread_ = std::thread([this] {
        while (!stopping_) {
            std::vector<std::function<void(sd_bus*)>> jobs;
            {
                std::lock_guard lock(mutex_);
                jobs.swap(jobs_);
            }
            for (auto& job : jobs) job(bus_);
            for (int i = 0; i < 1000 && sd_bus_process(bus_, nullptr) > 0; ++i) {
            }
            sd_bus_wait(bus_, 20'000);
        }
    });
}

BusService::~BusService() {
    stop();
}

void BusService::stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    if (bus_) bus_ = sd_bus_flush_close_unref(bus_);
}

void BusService::post(std::function<void(sd_bus*)> fn) {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(fn));
}

NotificationsStandIn::NotificationsStandIn(const std::string& address, bool answers)
    : BusService(address, "org.freedesktop.Notifications", "/org/freedesktop/Notifications"),
      answers_(answers) {}

NotificationsStandIn::~NotificationsStandIn() {
    stop();
    for (sd_bus_message* m : unanswered_) sd_bus_message_unref(m);
}

int NotificationsStandIn::on_call(sd_bus_message* m) {
    const char* iface = "org.freedesktop.Notifications";
    if (sd_bus_message_is_method_call(m, iface, "GetCapabilities")) {
        {
            std::lock_guard lock(mutex_);
            ++caps_;
        }
        sd_bus_message* reply = nullptr;
        char actions[] = "actions", body[] = "body";
        char* caps[] = {actions, body, nullptr};
        sd_bus_message_new_method_return(m, &reply);
        sd_bus_message_append_strv(reply, caps);
        sd_bus_send(nullptr, reply, nullptr);
        sd_bus_message_unref(reply);
        return 1;
    }
    if (!sd_bus_message_is_method_call(m, iface, "Notify")) return 0;
    const char *app = nullptr, *icon = nullptr, *summary = nullptr, *body = nullptr;
    std::uint32_t replaces = 0;
    char** actions = nullptr;
    sd_bus_message_read(m, "susss", &app, &replaces, &icon, &summary, &body);
    sd_bus_message_read_strv(m, &actions);
    Notice n;
    n.summary = summary ? summary : "";
    n.body = body ? body : "";
    for (char** a = actions; a && *a; ++a) {
        n.actions.push_back(*a);
        std::free(*a);
    }
    std::free(actions);
    std::lock_guard lock(mutex_);
    n.id = static_cast<std::uint32_t>(notices_.size() + 1);
    notices_.push_back(n);
    if (!answers_) {
        unanswered_.push_back(sd_bus_message_ref(m));
        return 1;
    }
    sd_bus_reply_method_return(m, "u", n.id);
    return 1;
}

std::vector<NotificationsStandIn::Notice> NotificationsStandIn::notices() {
    std::lock_guard lock(mutex_);
    return notices_;
}

int NotificationsStandIn::capability_questions() {
    std::lock_guard lock(mutex_);
    return caps_;
}

void NotificationsStandIn::invoke(std::uint32_t id, const std::string& key) {
    post([id, key](sd_bus* bus) {
        sd_bus_emit_signal(bus, "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                           "ActionInvoked", "us", id, key.c_str());
    });
}

Login1StandIn::Login1StandIn(const std::string& address)
    : BusService(address, "org.freedesktop.login1", "/org/freedesktop/login1") {}

Login1StandIn::~Login1StandIn() {
    stop();
    for (int fd : kept_) ::close(fd);
}

int Login1StandIn::on_call(sd_bus_message* m) {
    if (!sd_bus_message_is_method_call(m, "org.freedesktop.login1.Manager", "Inhibit")) return 0;
    const char *what = nullptr, *who = nullptr, *why = nullptr, *mode = nullptr;
    if (sd_bus_message_read(m, "ssss", &what, &who, &why, &mode) < 0) return 0;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) < 0) return 0;
    {
        std::lock_guard lock(mutex_);
        last_ = {what, who, why, mode};
        kept_.push_back(fds[0]);
    }
    sd_bus_reply_method_return(m, "h", fds[1]);  // the message carries a copy
    ::close(fds[1]);
    return 1;
}

int Login1StandIn::asked() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(kept_.size());
}

int Login1StandIn::held() {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (int fd : kept_) {
        pollfd p{fd, POLLIN, 0};
        // Every copy of the other end closed: the lock is gone.
        if (::poll(&p, 1, 0) == 0) ++n;
    }
    return n;
}

std::vector<std::string> Login1StandIn::last_request() {
    std::lock_guard lock(mutex_);
    return last_;
}

}  // namespace qorvel::test
