// Renders the running client against the reference service into PNG files:
// the tree two levels deep, a page of files, and "文件操作" in move mode.
//   storage_screenshots OUT_DIR   (run by scripts/screenshots.sh)
#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/client_windows.h"
#include "e2e/storage_road.h"
#include "ui/qt/qt_backend.h"
#include "ui/qt/window_view.h"

using namespace qorvel;

namespace {

struct Step {
    const char* what;
    std::function<bool()> ready;
    std::function<void()> act;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: storage_screenshots OUT_DIR\n");
        return 2;
    }
    std::string out = argv[1];
    QApplication app(argc, argv);
    test::ServiceInstanceOptions o;
    o.host = "127.0.0.45";
    test::ServiceInstance service(o);
    if (!service.start()) return 1;

    ui::qt::QtBackend backend;
    ui::ScriptedPrompts prompts;
    ui::Program program(backend, prompts);
    ui::qt::install_web_pump(program);
    test::ShellRecorder shell;
    test::TempDir home("qorvel-shots-home");
    std::filesystem::create_directories(home.path() / "Documents");
    std::filesystem::create_directories(home.path() / "Desktop");
    Client client(program, shell, test::hosts_of(service),
                  ClientFolders{home.path() / "Documents", home.path() / "Desktop"});
    client.tray_available = [] { return false; };
    client.journal_folder = home.path() / ".local/share/qorvel/queues";

    auto view = [&](const char* id) -> ui::qt::WindowView* {
        auto w = program.find(id);
        return w && w->alive() ? backend.view(*w) : nullptr;
    };
    auto main_widget = [&](const char* name) {
        auto* v = view(windows::kMainWindow);
        return v ? v->widget(name) : nullptr;
    };
    auto tree = [&] { return qobject_cast<QTreeWidget*>(main_widget("树型框1")); };
    auto files = [&] { return qobject_cast<QTreeWidget*>(main_widget("超级列表框1")); };
    auto loaded = [&] { return tree() && tree()->isEnabled() && !client.browser().busy(); };
    auto pick = [&](const char* utf8) {
        auto found =
            tree()->findItems(QString::fromUtf8(utf8), Qt::MatchExactly | Qt::MatchRecursive);
        if (!found.isEmpty()) tree()->setCurrentItem(found.front());
    };
    auto shoot = [&](const char* id, const std::string& name) {
        QApplication::processEvents();
        view(id)->grab().save(QString::fromStdString(out + "/" + name));
        std::printf("wrote %s/%s\n", out.c_str(), name.c_str());
    };
    int stage = 0;

    std::vector<Step> steps = {
        {"login", [&] { return view(windows::kLoginWindow) != nullptr; },
         [&] {
             auto l = program.find(windows::kLoginWindow);
             (*l)["编辑框1"].set_text("demo");
             (*l)["编辑框2"].set_text("demo123");
             program.raise(*l, "按钮1", ui::Event::clicked);
         }},
        {"main", [&] { return main_widget("选择夹1") && client.timestamped_log_enabled.load(); },
         [&] { qobject_cast<QTabWidget*>(main_widget("选择夹1"))->setCurrentIndex(1); }},
        {"root", [&] { return loaded() && tree()->topLevelItem(0)->childCount() == 3; },
         [&] {
             pick("照片");
             ++stage;
         }},
        {"photos",
         [&] {
             return stage == 1 && loaded() && tree()->topLevelItem(0)->child(1)->childCount() == 1;
         },
         [&] {
             pick("2023年旅行");
             ++stage;
         }},
        {"trip", [&] { return stage == 2 && loaded() && files()->topLevelItemCount() == 1; },
         [&] {
             shoot(windows::kMainWindow, "browser-tree.png");
             pick("分页测试");
             ++stage;
         }},
        {"paging", [&] { return stage == 3 && loaded() && files()->topLevelItemCount() == 20; },
         [&] {
             shoot(windows::kMainWindow, "browser-files.png");
             auto& list = (*client.main_window())["超级列表框1"];
             list.set_selection({0, 1, 2}, 2);
             program.choose(*client.main_window(), "菜单", "移动选中文件");
             ++stage;
         }},
        {"move window",
         [&] { return stage == 4 && view(windows::kFileOperationWindow) != nullptr; },
         [&] {
             QTimer::singleShot(300, [&] {
                 shoot(windows::kMainWindow, "browser-move-main.png");
                 shoot(windows::kFileOperationWindow, "browser-move.png");
                 ++stage;
             });
         }},
    };
    size_t next = 0;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (next < steps.size() && steps[next].ready()) steps[next++].act();
    });
    driver.start(30);
    program.post([&client] { start_client(client); });
    QElapsedTimer clock;
    clock.start();
    while ((next < steps.size() || stage < 5) && clock.elapsed() < 60000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    driver.stop();
    int code = stage == 5 ? 0 : 1;
    if (code) std::fprintf(stderr, "stuck at %s\n", next < steps.size() ? steps[next].what : "end");
    program.shutdown();
    return code;
}
