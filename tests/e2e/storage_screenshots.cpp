// Renders the running client against the reference service into PNG files:
// the transfer lists a login restored from the account's journal, the tree two
// levels deep, a page of files, and "文件操作" in move mode.
//   storage_screenshots OUT_DIR   (run by scripts/screenshots.sh)
#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/client_windows.h"
#include "e2e/storage_road.h"
#include "ui/qt/qt_backend.h"
#include "ui/qt/window_view.h"

using namespace qorvel;

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct Step {
    const char* what;
    std::function<bool()> ready;
    std::function<void()> act;
};

// Slow enough that a transfer is still running when the session is put away.
constexpr int kSlowDownload = 256 << 10;
constexpr int kSlowUpload = 64 << 10;

bool fail(const char* what) {
    std::fprintf(stderr, "journal session stuck at %s\n", what);
    return false;
}

// A first session of the account in the same home, on the headless program:
// downloads and uploads that finish, fail, pause, wait and run, then 注销
// puts them away into the account's journal.
bool prepare_journal(const test::ServiceInstance& service, const fs::path& home) {
    test::Road r(test::hosts_of(service), test::RoadHome(home), [](const std::string& what) {
        std::fprintf(stderr, "reported: %s\n", what.c_str());
    });
    r.client_.transfers().download_rate_limit = kSlowDownload;
    if (!r.start()) return fail("start");
    r.client_.timestamped_log_enabled = false;
    r.log_in("demo", "demo123", false);
    if (!r.wait([&] { return r.logged_in() && r.client_.timestamped_log_enabled.load(); }, 20s))
        return fail("login");
    fs::path saves = home / "Downloads";
    fs::create_directories(saves);
    fs::path not_a_folder = home / "not-a-folder";
    std::ofstream(not_a_folder) << "a plain file";
    auto& w = r.main();
    r.call([&] {
        w["编辑框49"].set_text(not_a_folder.string() + "/");
        w["选择夹1"].set_current(1);
        r.program_.raise(w, "选择夹1", ui::Event::page_changed);
    });
    if (!r.wait([&] {
            return r.client_.browser().first_load_done() && !r.client_.browser().busy() &&
                   w["超级列表框1"].row_count() > 0;
        }))
        return fail("root folder");
    auto row_of = [&](const char* utf8) {
        return r.call([&] {
            const auto rows = w["超级列表框1"].rows();
            for (std::size_t i = 0; i < rows.size(); ++i)
                if (rows[i].cells.at(0) == detail::literal_to_gbk(utf8)) return static_cast<int>(i);
            return -1;
        });
    };
    auto download = [&](const char* utf8) {
        int row = row_of(utf8);
        r.call([&] {
            w["超级列表框1"].set_selection({row}, row);
            r.program_.raise(w, "按钮38", ui::Event::clicked);
        });
        return row >= 0;
    };
    auto queued = [&](const char* list) { return r.call([&] { return w[list].row_count(); }); };
    if (!download("使用说明.txt") ||
        !r.wait([&] { return r.call([&] { return w["超级列表框2"].cell(0, 2); }) == GBK("失败"); }))
        return fail("failed download");
    r.call([&] {
        w["编辑框49"].set_text(saves.string() + "/");
        w["组合框6"].set_current(1);
    });
    if (!download("使用说明.txt") || !r.wait([&] { return queued("超级列表框3") == 1; }))
        return fail("finished download");
    // One runs slowly; behind it one waits and one is paused.
    if (!download("大文件.bin") || !download("空文件.txt") || !download("使用说明.txt"))
        return fail("queued downloads");
    r.call([&] {
        w["超级列表框2"].set_selection({3}, 3);
        r.program_.choose(w, "开始菜单", "暂停任务");
    });

    auto file = [&](const char* name, const std::string& bytes) {
        fs::path p = home / "Documents" / name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p.string();
    };
    auto drop = [&](std::vector<std::string> files) {
        r.call([&] {
            ui::EventArgs a;
            a.files = std::move(files);
            r.program_.raise(w, "拖放对象1", ui::Event::files_dropped, a);
        });
    };
    drop({file("notes.txt", "kept notes\r\n")});
    if (!r.wait([&] { return queued("超级列表框4") == 1; }, 20s)) return fail("finished upload");
    r.client_.transfers().upload_params.rate_limit = kSlowUpload;
    drop({file("archive.bin", std::string(2 << 20, 'q')), file("draft.txt", "draft\r\n"),
          file("later.txt", "later\r\n")});
    if (!r.wait([&] { return queued("超级列表框6") == 3; })) return fail("queued uploads");
    r.call([&] {
        w["超级列表框6"].set_selection({2}, 2);
        r.program_.choose(w, "上传菜单", "暂停任务");
    });
    r.call([&] { r.program_.choose(w, "托盘", "注销"); });
    return r.wait([&] { return r.login() != nullptr; }) || fail("log out");
}

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
    o.ftp_port = 1678;  // the client's uploads need it
    test::ServiceInstance service(o);
    if (!service.start()) return 1;
    test::TempDir home("qorvel-shots-home");
    if (!prepare_journal(service, home.path())) return 1;

    ui::qt::QtBackend backend;
    ui::ScriptedPrompts prompts;
    ui::Program program(backend, prompts);
    ui::qt::install_web_pump(program);
    test::ShellRecorder shell;
    Client client(program, shell, test::hosts_of(service),
                  ClientFolders{home.path() / "Documents", home.path() / "Desktop"});
    client.tray_available = [] { return false; };
    client.journal_folder = home.path() / ".local/share/qorvel/queues";
    // The restored running rows go on slowly enough to be seen running.
    client.transfers().download_rate_limit = kSlowDownload;
    client.transfers().upload_params.rate_limit = kSlowUpload;

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
        {"main with restored lists",
         [&] {
             return main_widget("选择夹1") && client.timestamped_log_enabled.load() &&
                    (*client.main_window())["超级列表框2"].row_count() == 4 &&
                    (*client.main_window())["超级列表框6"].row_count() == 3;
         },
         [&] {
             auto* pages = qobject_cast<QTabWidget*>(main_widget("选择夹1"));
             pages->setCurrentIndex(2);
             qobject_cast<QTabWidget*>(main_widget("选择夹2"))->setCurrentIndex(0);
             shoot(windows::kMainWindow, "journal-downloads.png");
             pages->setCurrentIndex(0);
             qobject_cast<QTabWidget*>(main_widget("选择夹3"))->setCurrentIndex(0);
             shoot(windows::kMainWindow, "journal-uploads.png");
             pages->setCurrentIndex(1);
         }},
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
