// One client on the headless engine against loopback servers, driven the way
// a person drives the desktop program, from an empty home folder.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/client_windows.h"
#include "net/charset.h"
#include "roads/account/roads.h"
#include "support/doubles.h"
#include "support/process.h"
#include "support/service_addresses.h"
#include "support/service_instance.h"
#include "ui/headless.h"

namespace qorvel::test {

// The home folder a client runs in: a fresh temporary one, or one given that
// outlives the client (a driver process started again over the same home).
class RoadHome {
  public:
    RoadHome() : temp_(std::make_unique<TempDir>("qorvel-road-home")) {}
    explicit RoadHome(std::filesystem::path kept) : kept_(std::move(kept)) {}
    const std::filesystem::path& path() const { return temp_ ? temp_->path() : kept_; }

  private:
    std::unique_ptr<TempDir> temp_;
    std::filesystem::path kept_;
};

// One client on the headless engine, with its own empty home folder. A fault
// the program reports fails the running test unless on_error says otherwise.
class Road {
  public:
    explicit Road(const ServiceHosts& hosts, RoadHome home = {},
                  std::function<void(const std::string&)> on_error = test::fail_test)
        : home_(std::move(home)),
          backend_(std::move(on_error)),
          program_(backend_, prompts_),
          client_(program_, shell_, hosts,
                  ClientFolders{home_.path() / "Documents", home_.path() / "Desktop"}) {
        std::filesystem::create_directories(home_.path() / "Documents");
        std::filesystem::create_directories(home_.path() / "Desktop");
        // The journals of this home, never the user's running these tests.
        client_.journal_folder = home_.path() / ".local/share/qorvel/queues";
    }
    ~Road() {
        runner_.reset();
        program_.shutdown();
    }

    // Starts the program the way main() does and waits for the login window.
    bool start() {
        runner_ = std::make_unique<ui::HeadlessRunner>(backend_, program_);
        program_.post([this] { start_client(client_); });
        return runner_->wait_until([this] { return login() != nullptr || program_.exiting(); },
                                   std::chrono::seconds(15));
    }
    std::shared_ptr<ui::Window> login() const {
        auto w = program_.find(windows::kLoginWindow);
        return w && w->alive() ? w : nullptr;
    }
    ui::Window& main() const { return *client_.main_window(); }
    // Types into the login window and clicks 登录.
    void log_in(const std::string& account, const std::string& password, bool remember) {
        runner_->call([&] {
            auto w = login();
            (*w)["编辑框1"].set_text(account);
            (*w)["编辑框2"].set_text(password);
            (*w)["选择框1"].set_checked(remember);
            program_.raise(*w, "按钮1", ui::Event::clicked);
        });
    }
    bool wait(const std::function<bool()>& pred,
              std::chrono::milliseconds t = std::chrono::seconds(15)) {
        return runner_->wait_until(pred, t);
    }
    template <class F>
    auto call(F&& f) {
        return runner_->call(std::forward<F>(f));
    }
    bool logged_in() const {
        return main().visible() && main()["标签43"].caption() != "" && login() == nullptr;
    }

    RoadHome home_;
    ui::HeadlessBackend backend_;
    ui::ScriptedPrompts prompts_;
    ui::Program program_;
    ShellRecorder shell_;
    Client client_;
    std::unique_ptr<ui::HeadlessRunner> runner_;
};

inline bool asked(const ui::ScriptedPrompts& p, const std::string& utf8) {
    for (const auto& a : p.asked())
        if (a.text == utf8_to_gbk(utf8)) return true;
    return false;
}

// A suite whose tests share one reference service, started once for the suite
// (a service per test would cost seconds). Suite::service_options() says how.
template <class Suite>
class SharedServiceSuite : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        service_ = new ServiceInstance(Suite::service_options());
        ready_ = service_->start();
    }
    static void TearDownTestSuite() {
        delete service_;
        service_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(ready_) << read_file(service_->log_file()); }

    // Suites that send wrong passwords on purpose share one address: those must not
    // add up to the service's guessing slow-down.
    static ServiceInstanceOptions guessing_free(ServiceInstanceOptions o) {
        o.extra_args.insert(o.extra_args.end(), {"--failures-free", "1000"});
        return o;
    }

    static inline ServiceInstance* service_ = nullptr;
    static inline bool ready_ = false;
};

}  // namespace qorvel::test
