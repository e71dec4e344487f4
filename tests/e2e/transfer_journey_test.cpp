// One journey through the real Qt widgets, offscreen and in-process, against
// the reference service: log in, select a file and download it, add a local
// file and upload it, each through the widgets a person uses.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/client_windows.h"
#include "e2e/storage_road.h"
#include "transfer/digest.h"
#include "ui/qt/qt_backend.h"
#include "ui/qt/qt_main.h"
#include "ui/qt/window_view.h"

namespace qorvel {
namespace {

TEST(TransferJourney, DownloadASelectedFileAndUploadALocalOneThroughTheWidgets) {
    test::ServiceInstanceOptions o;
    // Uploads go to port 1678, so this process takes an address of its own.
    o.host = test::process_loopback_address();
    o.ftp_port = 1678;
    test::ServiceInstance service(o);
    ASSERT_TRUE(service.start());

    ui::qt::QtBackend backend;
    ui::ScriptedPrompts prompts;
    ui::Program program(backend, prompts);
    ui::qt::install_web_pump(program);
    test::ShellRecorder shell;
    test::TempDir home("qorvel-journey-home");
    std::filesystem::create_directories(home.path() / "Documents");
    std::filesystem::create_directories(home.path() / "Desktop");
    std::filesystem::path save = home.path() / "Downloads";
    std::filesystem::create_directories(save);
    std::filesystem::path local = home.path() / "journey.txt";
    std::ofstream(local, std::ios::binary) << "journey " << ::getpid() << " " << ::time(nullptr);
    Client client(program, shell, test::hosts_of(service),
                  ClientFolders{home.path() / "Documents", home.path() / "Desktop"});

    auto widget = [&](const char* window_id, const char* name) -> QWidget* {
        auto w = program.find(window_id);
        if (!w || !w->alive()) return nullptr;
        auto* view = backend.view(*w);
        return view ? view->widget(name) : nullptr;
    };
    auto main_widget = [&](const char* name) { return widget(windows::kMainWindow, name); };
    auto list = [&](const char* name) { return qobject_cast<QTreeWidget*>(main_widget(name)); };
    auto tabs = [&] { return qobject_cast<QTabWidget*>(main_widget("选择夹1")); };

    std::vector<test::JourneyStep> steps = {
        {"login window shown", [&] { return widget(windows::kLoginWindow, "编辑框1") != nullptr; },
         [&] {
             auto* account = qobject_cast<QLineEdit*>(widget(windows::kLoginWindow, "编辑框1"));
             auto* password = qobject_cast<QLineEdit*>(widget(windows::kLoginWindow, "编辑框2"));
             QTest::keyClicks(account, "demo");
             QTest::keyClicks(password, "demo123");
             QTest::mouseClick(widget(windows::kLoginWindow, "按钮1"), Qt::LeftButton);
         }},
        {"main window after login",
         [&] { return tabs() && tabs()->isVisible() && client.timestamped_log_enabled.load(); },
         [&] { tabs()->setCurrentIndex(1); }},
        {"root files shown",
         // The page's controls come back after the load, through queued view updates.
         [&] {
             return list("超级列表框1")->topLevelItemCount() == 4 && !client.browser().busy() &&
                    main_widget("按钮38")->isEnabled();
         },
         [&] {
             auto found = list("超级列表框1")
                              ->findItems(QString::fromUtf8("使用说明.txt"), Qt::MatchExactly);
             ASSERT_FALSE(found.isEmpty());
             list("超级列表框1")->setCurrentItem(found.front());
             prompts.push_folder(path_to_text(save));
             QTest::mouseClick(main_widget("按钮38"), Qt::LeftButton);
         }},
        {"download finished",
         [&] {
             return list("超级列表框3")->topLevelItemCount() == 1 &&
                    list("超级列表框2")->topLevelItemCount() == 0;
         },
         [&] {
             EXPECT_EQ(tabs()->currentIndex(), 2) << "the download page is shown";
             EXPECT_EQ(list("超级列表框3")->topLevelItem(0)->text(0),
                       QString::fromUtf8("使用说明.txt"));
             EXPECT_TRUE(std::filesystem::exists(save / "使用说明.txt"));
             tabs()->setCurrentIndex(0);
             prompts.push_files({path_to_text(local)});
             QTest::mouseClick(main_widget("选择文件"), Qt::LeftButton);
         }},
        {"upload row shown",
         [&] {
             return list("超级列表框6")->topLevelItemCount() == 1 &&
                    list("超级列表框6")->isVisible();
         },
         [&] {
             EXPECT_EQ(list("超级列表框6")->topLevelItem(0)->text(0),
                       QString::fromStdString(local.string()));
             QTest::mouseClick(main_widget("上传按钮"), Qt::LeftButton);
         }},
        {"upload registered",
         [&] {
             return list("超级列表框4")->topLevelItemCount() == 1 &&
                    list("超级列表框6")->topLevelItemCount() == 0 &&
                    main_widget("上传按钮")->isEnabled();
         },
         [&] {
             EXPECT_EQ(list("超级列表框4")->topLevelItem(0)->text(3),
                       QString::fromUtf8("常规上传"));
             EXPECT_EQ(list("超级列表框1")->topLevelItem(0)->text(0), QString("journey.txt"))
                 << "the new file on top of the file list";
         }},
    };

    std::string stuck =
        test::run_journey(steps, [&] { program.post([&client] { start_client(client); }); });
    // What the window showed when a step never came, for a failure that only shows under load.
    auto dump = [&] {
        std::string out;
        for (const char* name : {"超级列表框1", "超级列表框2", "超级列表框3", "超级列表框6"}) {
            auto* l = list(name);
            if (!l) continue;
            out += std::string("\n") + name + " (" + std::to_string(l->topLevelItemCount()) +
                   " rows, " + std::to_string(l->selectedItems().size()) + " selected):";
            for (int r = 0; r < l->topLevelItemCount() && r < 8; ++r) {
                out += "\n ";
                for (int c = 0; c < l->columnCount(); ++c)
                    out += " | " + l->topLevelItem(r)->text(c).toStdString();
            }
        }
        if (auto* t = tabs()) out += "\npage " + std::to_string(t->currentIndex());
        return out;
    };
    EXPECT_EQ(stuck, "") << "stuck at that step" << (stuck.empty() ? "" : dump());
    program.shutdown();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace
}  // namespace qorvel

QORVEL_QT_TEST_MAIN
