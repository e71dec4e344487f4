// A client with its real Qt windows, offscreen and in-process, against a
// reference service of its own, and the steps that log it in through the
// login window's widgets.
#pragma once

#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/client_windows.h"
#include "e2e/storage_road.h"
#include "ui/qt/qt_backend.h"
#include "ui/qt/qt_main.h"
#include "ui/qt/window_view.h"

namespace qorvel::test {

class Journey {
  public:
    explicit Journey(const ServiceInstanceOptions& o) : service_(o) {
        ui::qt::install_web_pump(program);
        std::filesystem::create_directories(home.path() / "Documents");
        std::filesystem::create_directories(home.path() / "Desktop");
    }
    ~Journey() {
        program.shutdown();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Starts the service and makes the client on it; false when the service would not start.
    bool start() {
        if (!service_.start()) return false;
        client_ = std::make_unique<Client>(
            program, shell, hosts_of(service_),
            ClientFolders{home.path() / "Documents", home.path() / "Desktop"});
        client_->journal_folder = home.path() / ".local/share/qorvel/queues";
        return true;
    }
    Client& client() { return *client_; }

    // The widget named so in the open window of that id, or null.
    QWidget* widget(const char* window_id, const char* name) {
        auto w = program.find(window_id);
        if (!w || !w->alive()) return nullptr;
        auto* view = backend.view(*w);
        return view ? view->widget(name) : nullptr;
    }
    QWidget* main_widget(const char* name) { return widget(windows::kMainWindow, name); }
    QTabWidget* tabs() { return qobject_cast<QTabWidget*>(main_widget("选择夹1")); }

    // Types the account and password into the login window and presses its button, then,
    // once the main window is up, opens the browser page.
    std::vector<JourneyStep> log_in(const char* account, const char* password) {
        return {
            {"login window shown",
             [this] { return widget(windows::kLoginWindow, "编辑框1") != nullptr; },
             [this, account, password] {
                 QTest::keyClicks(widget(windows::kLoginWindow, "编辑框1"), account);
                 QTest::keyClicks(widget(windows::kLoginWindow, "编辑框2"), password);
                 QTest::mouseClick(widget(windows::kLoginWindow, "按钮1"), Qt::LeftButton);
             }},
            {"main window after login",
             [this] {
                 return tabs() && tabs()->isVisible() && client_->timestamped_log_enabled.load();
             },
             [this] { tabs()->setCurrentIndex(1); }},
        };
    }

    // Starts the client as main() does and runs the steps; what it was waiting for when the
    // time ran out, or "".
    std::string run(std::vector<JourneyStep>& steps) {
        return run_journey(steps, [this] { program.post([this] { start_client(*client_); }); });
    }

  private:
    ServiceInstance service_;

  public:
    ui::qt::QtBackend backend;
    ui::ScriptedPrompts prompts;
    ui::Program program{backend, prompts};
    ShellRecorder shell;
    TempDir home{"qorvel-journey-home"};

  private:
    std::unique_ptr<Client> client_;
};

}  // namespace qorvel::test
