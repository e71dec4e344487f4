// One journey through the real Qt widgets, offscreen and in-process, against
// the reference service: log in, open the browser page, pick a folder in the
// tree, pick page 2, create a folder through its window. Catches faults
// between the models and the widgets that the headless roads cannot see.
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

#include <functional>
#include <string>
#include <vector>

#include "app/client_windows.h"
#include "e2e/storage_road.h"
#include "ui/qt/qt_backend.h"
#include "ui/qt/qt_main.h"
#include "ui/qt/window_view.h"

namespace qorvel {
namespace {

QTreeWidgetItem* find_item(QTreeWidget* tree, const QString& text) {
    auto found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.front();
}

TEST(StorageJourney, LogInBrowsePageTwoAndCreateAFolderThroughTheWidgets) {
    test::ServiceInstanceOptions o;
    o.host = "127.0.0.43";
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
    Client client(program, shell, test::hosts_of(service),
                  ClientFolders{home.path() / "Documents", home.path() / "Desktop"});

    auto widget = [&](const char* window_id, const char* name) -> QWidget* {
        auto w = program.find(window_id);
        if (!w || !w->alive()) return nullptr;
        auto* view = backend.view(*w);
        return view ? view->widget(name) : nullptr;
    };
    auto main_widget = [&](const char* name) { return widget(windows::kMainWindow, name); };
    auto tree = [&] { return qobject_cast<QTreeWidget*>(main_widget("树型框1")); };
    auto files = [&] { return qobject_cast<QTreeWidget*>(main_widget("超级列表框1")); };
    auto combo = [&] { return qobject_cast<QComboBox*>(main_widget("组合框1")); };
    auto asked = [&](const char* utf8) {
        for (const auto& a : prompts.asked())
            if (a.text == utf8_to_gbk(utf8)) return true;
        return false;
    };

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
         [&] {
             auto* tabs = main_widget("选择夹1");
             return tabs && tabs->isVisible() && client.timestamped_log_enabled.load() && tree() &&
                    tree()->topLevelItemCount() == 1;
         },
         [&] { qobject_cast<QTabWidget*>(main_widget("选择夹1"))->setCurrentIndex(1); }},
        {"root folder and its files shown",
         [&] {
             return tree()->topLevelItem(0)->childCount() == 3 &&
                    files()->topLevelItemCount() == 4 && tree()->isEnabled();
         },
         [&] {
             QTreeWidgetItem* item = find_item(tree(), QString::fromUtf8("分页测试"));
             ASSERT_TRUE(item);
             tree()->setCurrentItem(item);
         }},
        {"first page of the paging folder",
         [&] {
             return files()->topLevelItemCount() == 20 && combo()->count() == 3 &&
                    tree()->isEnabled();
         },
         [&] {
             EXPECT_EQ(files()->topLevelItem(0)->text(0), QString::fromUtf8("文件45.txt"));
             combo()->setFocus();
             QTest::keyClick(combo(), Qt::Key_End);  // the user picks the last page, "2"
         }},
        {"page 2 shown",
         [&] {
             return files()->topLevelItemCount() == 5 && combo()->isEnabled() &&
                    !client.browser().busy();
         },
         [&] {
             EXPECT_EQ(files()->topLevelItem(0)->text(0), QString::fromUtf8("文件05.txt"));
             EXPECT_EQ(combo()->currentText(), "2");
             EXPECT_EQ(files()->topLevelItem(0)->text(1).isEmpty(), false);
             program.choose(*client.main_window(), "目录", "创建文件夹");
         }},
        {"create-folder window open",
         [&] { return widget(windows::kCreateFolderWindow, "编辑框2") != nullptr; },
         [&] {
             auto* parent =
                 qobject_cast<QLineEdit*>(widget(windows::kCreateFolderWindow, "编辑框4"));
             EXPECT_EQ(parent->text(), QString::fromUtf8("分页测试"));
             // Chinese arrives through the input method, as typed on a desktop.
             QWidget* name = widget(windows::kCreateFolderWindow, "编辑框2");
             name->setFocus();
             QInputMethodEvent typed;
             typed.setCommitString(QString::fromUtf8("旅程 R&D"));
             QApplication::sendEvent(name, &typed);
             QTest::mouseClick(widget(windows::kCreateFolderWindow, "按钮1"), Qt::LeftButton);
         }},
        {"new folder in the tree",
         [&] {
             return asked("创建成功！") && tree()->isEnabled() &&
                    find_item(tree(), QString::fromUtf8("旅程 R&D")) != nullptr &&
                    widget(windows::kCreateFolderWindow, "编辑框2") == nullptr;
         },
         [&] {
             QTreeWidgetItem* item = find_item(tree(), QString::fromUtf8("旅程 R&D"));
             EXPECT_EQ(item->parent()->text(0), QString::fromUtf8("分页测试"));
             EXPECT_TRUE(item->parent()->isExpanded());
         }},
    };

    std::string stuck =
        test::run_journey(steps, [&] { program.post([&client] { start_client(client); }); });
    EXPECT_EQ(stuck, "") << "stuck at that step";
    program.shutdown();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace
}  // namespace qorvel

QORVEL_QT_TEST_MAIN
