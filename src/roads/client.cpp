#include "roads/client.h"

#include "net/web.h"

namespace qorvel {

Client::Client(ui::Program& program, Shell& shell, ServiceHosts hosts, ClientFolders folders)
    : program_(program),
      prompts_(program),
      shell_(shell),
      hosts_(std::move(hosts)),
      folders_(std::move(folders)),
      config_(folders_.documents) {
    connection_check = [this] { return check_internet_connection(hosts_.connection_probe()); };
}

std::shared_ptr<ui::Window> Client::make_window(const std::string& id) {
    return factory_ ? factory_(id) : nullptr;
}

std::shared_ptr<ui::Window> Client::main_window() const {
    std::lock_guard g(mutex_);
    return main_;
}

void Client::set_main_window(std::shared_ptr<ui::Window> w) {
    std::lock_guard g(mutex_);
    main_ = std::move(w);
}

std::shared_ptr<ui::Window> Client::login_window() const {
    std::lock_guard g(mutex_);
    return login_;
}

void Client::set_login_window(std::shared_ptr<ui::Window> w) {
    std::lock_guard g(mutex_);
    login_ = std::move(w);
}

std::shared_ptr<ui::Window> Client::web_login_window() const {
    std::lock_guard g(mutex_);
    return web_login_;
}

void Client::set_web_login_window(std::shared_ptr<ui::Window> w) {
    std::lock_guard g(mutex_);
    web_login_ = std::move(w);
}

std::string Client::take_time_stamp() {
    LocalClock clock;
    {
        std::lock_guard g(mutex_);
        clock = clock_;
    }
    std::string stamp = time_of_day_text(clock);
    std::lock_guard g(mutex_);
    stamp_ = stamp;
    return stamp;
}

std::string Client::time_stamp() const {
    std::lock_guard g(mutex_);
    return stamp_;
}

void Client::set_clock(LocalClock clock) {
    std::lock_guard g(mutex_);
    clock_ = std::move(clock);
}

}  // namespace qorvel
