// One journey through the real Qt widgets, offscreen and in-process, against
// the reference service: log in, open the browser page, pick a folder in the
// tree, pick page 2, create a folder through its window. Catches faults
// between the models and the widgets that the headless roads cannot see.
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QTreeWidget>

#include <vector>

#include "e2e/journey.h"

namespace qorvel {
namespace {

QTreeWidgetItem* find_item(QTreeWidget* tree, const QString& text) {
    auto found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.front();
}

TEST(StorageJourney, LogInBrowsePageTwoAndCreateAFolderThroughTheWidgets) {
    test::ServiceInstanceOptions o;
    o.host = "127.0.0.43";
    test::Journey j(o);
    ASSERT_TRUE(j.start());
    Client& client = j.client();
    ui::Program& program = j.program;

    auto widget = [&](const char* window_id, const char* name) {
        return j.widget(window_id, name);
    };
    auto main_widget = [&](const char* name) { return j.main_widget(name); };
    auto tree = [&] { return qobject_cast<QTreeWidget*>(main_widget("树型框1")); };
    auto files = [&] { return qobject_cast<QTreeWidget*>(main_widget("超级列表框1")); };
    auto combo = [&] { return qobject_cast<QComboBox*>(main_widget("组合框1")); };
    auto asked = [&](const char* utf8) {
        for (const auto& a : j.prompts.asked())
            if (a.text == utf8_to_gbk(utf8)) return true;
        return false;
    };

    std::vector<test::JourneyStep> steps = j.log_in("demo", "demo123");
    std::vector<test::JourneyStep> browse = {
        {"root folder and its files shown",
         [&] {
             return tree()->topLevelItemCount() == 1 &&
                    tree()->topLevelItem(0)->childCount() == 3 &&
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

    steps.insert(steps.end(), browse.begin(), browse.end());
    EXPECT_EQ(j.run(steps), "") << "stuck at that step";
}

}  // namespace
}  // namespace qorvel

QORVEL_QT_TEST_MAIN
