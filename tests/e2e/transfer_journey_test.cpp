// One journey through the real Qt widgets, offscreen and in-process, against
// the reference service: log in, select a file and download it, add a local
// file and upload it, each through the widgets a person uses.
#include <QTreeWidget>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/journey.h"

namespace qorvel {
namespace {

TEST(TransferJourney, DownloadASelectedFileAndUploadALocalOneThroughTheWidgets) {
    test::ServiceInstanceOptions o;
    // Uploads go to port 1678, so this process takes an address of its own.
    o.host = test::process_loopback_address();
    o.ftp_port = 1678;
    test::Journey j(o);
    ASSERT_TRUE(j.start());
    Client& client = j.client();
    ui::ScriptedPrompts& prompts = j.prompts;
    std::filesystem::path save = j.home.path() / "Downloads";
    std::filesystem::create_directories(save);
    std::filesystem::path local = j.home.path() / "journey.txt";
    std::ofstream(local, std::ios::binary) << "journey " << ::getpid() << " " << ::time(nullptr);

    auto main_widget = [&](const char* name) { return j.main_widget(name); };
    auto list = [&](const char* name) { return qobject_cast<QTreeWidget*>(main_widget(name)); };
    auto tabs = [&] { return j.tabs(); };

    std::vector<test::JourneyStep> steps = j.log_in("demo", "demo123");
    std::vector<test::JourneyStep> transfer = {
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

    steps.insert(steps.end(), transfer.begin(), transfer.end());
    std::string stuck = j.run(steps);
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
}

}  // namespace
}  // namespace qorvel

QORVEL_QT_TEST_MAIN
