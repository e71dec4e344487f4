// Roads through the storage browser: the real catalogue windows on the
// headless engine, the reference service behind a recording forwarder.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "e2e/storage_road.h"
#include "net/text.h"
#include "roads/storage/roads.h"
#include "storage/answers.h"

namespace qorvel {
namespace {

using namespace std::chrono_literals;
using test::StorageRoad;
using ui::Event;

class StorageRoads : public test::SharedServiceSuite<StorageRoads> {
  public:
    static test::ServiceInstanceOptions service_options() {
        test::ServiceInstanceOptions o;
        o.host = "127.0.0.42";
        return o;
    }

  protected:
    // A fresh service per test would cost seconds; changes use names of their own.
    std::unique_ptr<StorageRoad> logged_in(const char* account = "demo",
                                           const char* password = "demo123") {
        auto r = std::make_unique<StorageRoad>(*service_, test::hosts_of(*service_));
        EXPECT_TRUE(r->start_and_log_in(account, password));
        return r;
    }
};

TEST_F(StorageRoads, FirstVisitLoadsTheRootOnceAndTheTreeWalksDownAndBack) {
    auto r = logged_in();
    // After login the tree holds only its root, and nothing was asked for.
    r->call([&] {
        auto items = r->tree().tree_items();
        ASSERT_EQ(items.size(), 1u);
        EXPECT_EQ(items[0].text, GBK("默认文件夹"));
        EXPECT_EQ(items[0].value, 0);
        EXPECT_EQ(r->tree().current(), items[0].id);
    });
    EXPECT_TRUE(r->sent("/mljg/").empty());

    ASSERT_TRUE(r->visit_browser_page());
    auto folders = r->sent("/mljg/mljg.php");
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0], "/mljg/mljg.php?pid=" + r->pid() + "&ml=0&yms=0&khdzs=1&fwmm=");
    int root = r->item("默认文件夹");
    EXPECT_EQ(r->child_names(root), (std::vector<std::string>{"我的文档", "照片", "分页测试"}));
    EXPECT_TRUE(r->tree().expanded(root));
    EXPECT_EQ(r->file_names(), (std::vector<std::string>{"外部链接.zip", "空文件.txt", "大文件.bin",
                                                         "使用说明.txt"}));
    auto big = r->files().rows()[r->row_of("大文件.bin")];
    EXPECT_EQ(big.cells.size(), 4u);
    EXPECT_FALSE(big.cells[1].empty());
    EXPECT_NE(text_find(big.cells[2], "-"), -1);  // a date
    EXPECT_EQ(big.cells[3], "0");
    EXPECT_GT(big.value, 0);
    EXPECT_EQ(r->main()["标签60"].caption(), GBK("本页文件数：4个"));
    EXPECT_EQ(r->main()["标签57"].caption(), GBK("目录文件获取完毕。"));
    EXPECT_EQ(r->client_.browser().access_password(), "8888");
    EXPECT_TRUE(r->main()["选择夹1"].enabled());
    EXPECT_EQ(r->sent("/mljg/wjdq.php"),
              (std::vector<std::string>{"/mljg/wjdq.php?pid=" + r->pid() + "&ml=0"}));
    EXPECT_NE(text_find(r->main()["编辑框48"].text(), GBK("： 获取指定目录文件完毕！")), -1);

    // A second visit loads nothing.
    r->call([&] {
        r->main()["选择夹1"].set_current(0);
        r->program_.raise(r->main(), "选择夹1", Event::page_changed);
        r->main()["选择夹1"].set_current(1);
        r->program_.raise(r->main(), "选择夹1", Event::page_changed);
    });
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(r->sent("/mljg/mljg.php").size(), 1u);

    // Three levels down; the access password now goes along.
    ASSERT_TRUE(r->select_folder("照片"));
    ASSERT_TRUE(r->select_folder("2023年旅行"));
    EXPECT_EQ(r->file_names(), (std::vector<std::string>{"长城.jpg"}));
    ASSERT_TRUE(r->select_folder("北京"));
    EXPECT_EQ(r->child_names(r->item("北京")), (std::vector<std::string>{"胡同"}));
    EXPECT_EQ(r->file_names(), (std::vector<std::string>{"故宫.jpg"}));
    auto last = r->sent("/mljg/mljg.php").back();
    EXPECT_NE(last.find("&fwmm=8888"), std::string::npos) << last;
    // Back up: an expanded folder is not asked for again, only its files.
    size_t before = r->sent("/mljg/mljg.php").size();
    ASSERT_TRUE(r->select_folder("照片"));
    EXPECT_EQ(r->sent("/mljg/mljg.php").size(), before);
    EXPECT_EQ(r->child_names(r->item("照片")), (std::vector<std::string>{"2023年旅行"}));
    EXPECT_TRUE(r->file_names().empty());
    EXPECT_EQ(r->main()["标签60"].caption(), GBK("本页文件数：0个"));
    // With 选择框4 ticked the loaded folder becomes the upload target.
    r->call([&] { r->main()["选择框4"].set_checked(true); });
    ASSERT_TRUE(r->select_folder("我的文档"));
    EXPECT_EQ(r->main()["标签48"].caption(), GBK("上传至：我的文档"));
    EXPECT_EQ(r->client_.browser().folder_id(), r->tree().tree_item_value(r->item("我的文档")));
}

TEST_F(StorageRoads, PagesOfAFolderAndTheBusyRefusal) {
    auto r = logged_in();
    ASSERT_TRUE(r->visit_browser_page());
    ASSERT_TRUE(r->select_folder("分页测试"));
    ui::Control& combo = r->main()["组合框1"];
    r->call([&] {
        ASSERT_EQ(combo.item_count(), 3);
        EXPECT_EQ(combo.item_text(0), "0");
        EXPECT_EQ(combo.item_text(2), "2");
        EXPECT_EQ(combo.current(), 0);
    });
    EXPECT_EQ(r->files().row_count(), 20);
    EXPECT_EQ(r->file_names().front(), "文件45.txt");

    ASSERT_TRUE(r->load([&] {
        combo.set_current(2);
        r->program_.raise(r->main(), "组合框1", Event::item_selected);
    }));
    long long folder = r->tree().tree_item_value(r->item("分页测试"));
    EXPECT_EQ(r->sent("/mljg/wjdq.php").back(),
              "/mljg/wjdq.php?pid=" + r->pid() + "&ml=" + std::to_string(folder) + "&yms=2");
    EXPECT_EQ(r->file_names(), (std::vector<std::string>{"文件05.txt", "文件04.txt", "文件03.txt",
                                                         "文件02.txt", "文件01.txt"}));
    // The selector keeps its pages and the picked one, and is usable again.
    EXPECT_EQ(combo.item_count(), 3);
    EXPECT_EQ(combo.current(), 2);
    EXPECT_TRUE(combo.enabled());
    EXPECT_EQ(r->main()["标签60"].caption(), GBK("本页文件数：5个"));

    // Two picks at once: the second is refused, the first completes.
    size_t lists = r->sent("/mljg/wjdq.php").size();
    ASSERT_TRUE(r->load([&] {
        r->hold(true);  // the first load stays under way
        combo.set_current(1);
        r->program_.raise(r->main(), "组合框1", Event::item_selected);
        combo.set_current(0);
        r->program_.raise(r->main(), "组合框1", Event::item_selected);
        r->hold(false);
    }));
    EXPECT_EQ(r->asked_count("上一次的任务还没有完成，请稍后再提交。"), 1);
    EXPECT_EQ(r->sent("/mljg/wjdq.php").size(), lists + 1);
    EXPECT_EQ(r->sent("/mljg/wjdq.php").back().substr(r->sent("/mljg/wjdq.php").back().size() - 6),
              "&yms=1");
    EXPECT_EQ(r->files().row_count(), 20);
    EXPECT_EQ(r->file_names().front(), "文件25.txt");
    // A folder load started while a page loads is refused the same way.
    ASSERT_TRUE(r->load([&] {
        r->hold(true);
        combo.set_current(0);
        r->program_.raise(r->main(), "组合框1", Event::item_selected);
        r->tree().set_current(r->item("照片"));
        r->program_.raise(r->main(), "树型框1", Event::current_item_changed);
        r->hold(false);
    }));
    EXPECT_EQ(r->asked_count("上一次的任务还没有完成，请稍后再提交。"), 2);
    EXPECT_EQ(r->file_names().front(), "文件45.txt");

    // While a page loads the tree is not usable either.
    ASSERT_TRUE(r->load([&] {
        r->tree().set_current(r->item("分页测试"));
        combo.set_current(1);
        r->program_.raise(r->main(), "组合框1", Event::item_selected);
        EXPECT_FALSE(r->tree().enabled());
    }));
    // A whole-folder load lists all 45 at once, with "&dqlx=1" on exactly that load.
    ASSERT_TRUE(r->load([&] { storage::start_whole_folder_load(r->client_); }));
    EXPECT_EQ(r->files().row_count(), 45);
    std::string whole = r->sent("/mljg/wjdq.php").back();
    EXPECT_EQ(whole.substr(whole.size() - 7), "&dqlx=1");
    EXPECT_FALSE(r->client_.browser().folder_download_pending());
    ASSERT_TRUE(r->select_folder("照片"));
    EXPECT_EQ(r->sent("/mljg/wjdq.php").back().find("dqlx"), std::string::npos);
}

TEST_F(StorageRoads, TwoLoadsStartedTogetherFromTwoThreadsRunOnce) {
    auto r = logged_in();
    ASSERT_TRUE(r->visit_browser_page());
    for (int round = 0; round < 5; ++round) {
        size_t lists = r->sent("/mljg/wjdq.php").size();
        int refusals = r->asked_count("上一次的任务还没有完成，请稍后再提交。");
        std::atomic<int> ready{0};
        std::atomic<int> started{0};
        auto start = [&] {
            ++ready;
            while (ready.load() < 2) std::this_thread::yield();
            if (storage::start_folder_load(r->client_)) ++started;
        };
        // Started off the window thread, which must stay free for the busy
        // message; the forwarder keeps the winner's load running meanwhile.
        r->call([&] { r->main()["标签57"].set_caption(""); });
        r->hold(true);
        std::thread a(start), b(start);
        a.join();
        b.join();
        r->hold(false);
        ASSERT_TRUE(r->wait_loaded());
        EXPECT_EQ(started.load(), 1);
        EXPECT_EQ(r->asked_count("上一次的任务还没有完成，请稍后再提交。"), refusals + 1);
        EXPECT_EQ(r->sent("/mljg/wjdq.php").size(), lists + 1);
    }
}

TEST_F(StorageRoads, FolderChangesKeepNamesWholeAndProtectWhatTheyMust) {
    auto r = logged_in();
    ASSERT_TRUE(r->visit_browser_page());
    const std::string odd = "R&D a+b 100% x=y #1";

    // Create under the root through "创建文件夹".
    auto w = r->open_from_menu("目录", "创建文件夹", windows::kCreateFolderWindow);
    ASSERT_TRUE(w);
    r->call([&] {
        EXPECT_EQ((*w)["编辑框4"].text(), GBK("默认文件夹"));
        (*w)["编辑框2"].set_text(utf8_to_gbk(odd));
        r->program_.raise(*w, "按钮1", Event::clicked);
    });
    ASSERT_TRUE(r->wait([&] { return r->asked("创建成功！") && r->item(odd) != 0; }));
    ASSERT_TRUE(r->wait(
        [&] { return !r->window(windows::kCreateFolderWindow) && !r->client_.browser().busy(); }));
    auto create = r->sent_requests("/post/cjml.php");
    ASSERT_EQ(create.size(), 1u);
    EXPECT_EQ(create[0].target(), "/post/cjml.php?zh=" + r->key());
    EXPECT_EQ(create[0].body, "fwmm=R%26D%20a%2Bb%20100%25%20x%3Dy%20%231&ejml=0");

    // An empty name is refused by the service and the window stays for another try.
    w = r->open_from_menu("目录", "创建文件夹", windows::kCreateFolderWindow);
    ASSERT_TRUE(w);
    r->call([&] { r->program_.raise(*w, "按钮1", Event::clicked); });
    ASSERT_TRUE(r->wait([&] { return r->asked("创建失败！") && (*w)["按钮1"].enabled(); }));
    EXPECT_TRUE(r->window(windows::kCreateFolderWindow));
    r->call([&] { r->program_.close(*w); });

    // Rename it; the service stores exactly what was typed.
    int item = r->item(odd);
    ASSERT_TRUE(r->select_folder(odd));
    const std::string renamed = "新 名&字=#2+";
    w = r->open_from_menu("目录", "重命名", windows::kFolderNewNameWindow);
    ASSERT_TRUE(w);
    r->call([&] {
        EXPECT_EQ((*w)["编辑框1"].text(), utf8_to_gbk(odd));
        (*w)["编辑框1"].set_text(utf8_to_gbk(renamed));
        r->program_.raise(*w, "按钮1", Event::clicked);
    });
    ASSERT_TRUE(
        r->wait([&] { return r->asked("重置成功") && !r->window(windows::kFolderNewNameWindow); }));
    EXPECT_EQ(r->tree().tree_item_text(item), utf8_to_gbk(renamed));
    // Reloading the root from the service shows the same name.
    ASSERT_TRUE(r->load([&] {
        int root = r->item("默认文件夹");
        r->tree().expand(root, false);
        r->tree().set_current(root);
        r->program_.raise(r->main(), "树型框1", Event::current_item_changed);
    }));
    ASSERT_NE(r->item(renamed), 0);
    item = r->item(renamed);

    // The default folder is protected without a request; a folder with
    // sub-folders is refused by the service.
    size_t deletes = r->sent("/post/scml.php").size();
    r->prompts_.push_answer(kAnswerYes);
    r->call([&] { r->program_.choose(r->main(), "目录", "删除文件夹"); });
    ASSERT_TRUE(r->wait([&] { return r->asked("无法删除默认目录！"); }));
    EXPECT_EQ(r->sent("/post/scml.php").size(), deletes);

    ASSERT_TRUE(r->select_folder("照片"));
    r->prompts_.push_answer(kAnswerYes);
    r->call([&] { r->program_.choose(r->main(), "目录", "删除文件夹"); });
    ASSERT_TRUE(
        r->wait([&] { return r->asked("该目录存在子目录，无法删除！") && r->tree().enabled(); }));
    EXPECT_NE(r->item("照片"), 0);

    // Answering No sends nothing; Yes deletes and the item leaves the tree.
    r->call([&] {
        r->tree().set_current(item);
        r->program_.choose(r->main(), "目录", "删除文件夹");
    });
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(r->sent("/post/scml.php").size(), deletes + 1);
    r->prompts_.push_answer(kAnswerYes);
    r->call([&] { r->program_.choose(r->main(), "目录", "删除文件夹"); });
    ASSERT_TRUE(r->wait([&] { return r->asked("删除成功！") && r->tree().enabled(); }));
    EXPECT_EQ(r->item(renamed), 0);
    auto del = r->sent_requests("/post/scml.php").back();
    long long id = r->tree().tree_item_value(item);  // gone: 0
    EXPECT_EQ(id, 0);
    EXPECT_EQ(del.target().rfind("/post/scml.php?pid=", 0), 0u);
    EXPECT_EQ(del.body.rfind("vipjhm=", 0), 0u);
}

TEST_F(StorageRoads, FileChangesOnSelectedRowsAndLinkFiles) {
    auto r = logged_in();
    ASSERT_TRUE(r->visit_browser_page());
    // A folder of our own with two link files in it.
    auto w = r->open_from_menu("目录", "创建文件夹", windows::kCreateFolderWindow);
    ASSERT_TRUE(w);
    r->call([&] {
        (*w)["编辑框2"].set_text(utf8_to_gbk("文件操作测试"));
        r->program_.raise(*w, "按钮1", Event::clicked);
    });
    ASSERT_TRUE(
        r->wait([&] { return r->item("文件操作测试") != 0 && !r->client_.browser().busy(); }));
    ASSERT_TRUE(r->select_folder("文件操作测试"));
    long long folder = r->tree().tree_item_value(r->item("文件操作测试"));
    for (const char* name : {"甲 & 乙.zip", "丙#1.zip"}) {
        w = r->open_from_menu("菜单", "创建外链", windows::kCreateLinkFileWindow);
        ASSERT_TRUE(w);
        r->call([&] {
            EXPECT_EQ((*w)["编辑框2"].text(), "http://");
            (*w)["编辑框1"].set_text(utf8_to_gbk(name));
            (*w)["编辑框2"].set_text("http://example.com/a?b=1&c=2");
            r->program_.raise(*w, "按钮1", Event::clicked);
        });
        ASSERT_TRUE(r->wait([&] { return r->row_of(name) >= 0 && !r->client_.browser().busy(); }))
            << name;
    }
    auto link = r->sent_requests("/post/cjwjpc.php").front();
    EXPECT_EQ(link.target(),
              "/post/cjwjpc.php?mlpid=" + std::to_string(folder) + "&zh=" + r->key());
    EXPECT_EQ(link.body,
              utf8_to_gbk("wjm=甲%20%26%20乙.zip&wldz=http://example.com/a?b%3D1%26c%3D2"));
    EXPECT_EQ(r->asked_count("创建成功"), 2);

    // Rename the first; the row keeps its id and shows the new name.
    int row = r->row_of("甲 & 乙.zip");
    long long id = r->files().row_value(row);
    r->call([&] { r->files().select_row(row); });
    w = r->open_from_menu("菜单", "修改文件名", windows::kRenameFileWindow);
    ASSERT_TRUE(w);
    r->prompts_.push_answer(kAnswerYes);
    r->call([&] {
        EXPECT_EQ((*w)["编辑框1"].text(), utf8_to_gbk("甲 & 乙.zip"));
        (*w)["编辑框1"].set_text(utf8_to_gbk("R&D 100%.zip"));
        r->program_.raise(*w, "按钮1", Event::clicked);
    });
    ASSERT_TRUE(
        r->wait([&] { return r->asked("重置成功") && !r->window(windows::kRenameFileWindow); }));
    EXPECT_EQ(r->files().cell(r->files().find_row(id), 0), "R&D 100%.zip");
    EXPECT_EQ(r->sent_requests("/post/sz6pc.php").back().body, "btn2=R%26D%20100%25.zip");

    // Move both selected rows to "我的文档": the target folder is shown after.
    r->call([&] { r->files().set_selection({0, 1}, 1); });
    w = r->open_from_menu("菜单", "移动选中文件", windows::kFileOperationWindow);
    ASSERT_TRUE(w);
    int target_index = -1;
    r->call([&] {
        EXPECT_FALSE((*w)["按钮2"].enabled());
        EXPECT_TRUE((*w)["按钮1"].enabled());
        ui::Control& combo = (*w)["组合框1"];
        EXPECT_EQ(combo.item_text(0), GBK("默认文件夹"));
        EXPECT_EQ(combo.current(), 0);
        for (int i = 0; i < combo.item_count(); ++i)
            if (combo.item_text(i) == GBK("我的文档")) target_index = i;
        combo.set_current(target_index);
    });
    ASSERT_GE(target_index, 0);
    ASSERT_TRUE(r->load([&] { r->program_.raise(*w, "按钮1", Event::clicked); }));
    ASSERT_TRUE(r->wait([&] { return !r->window(windows::kFileOperationWindow); }));
    EXPECT_EQ(r->tree().current(), r->item("我的文档"));
    auto names = r->file_names();
    EXPECT_NE(std::find(names.begin(), names.end(), "R&D 100%.zip"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "丙#1.zip"), names.end());
    auto move = r->sent("/get/ydxz.php").back();
    EXPECT_NE(move.find("&ml=" + std::to_string(r->tree().tree_item_value(r->item("我的文档")))),
              std::string::npos);

    // Delete them again from "我的文档", both selected.
    r->call([&] {
        r->files().set_selection({r->row_of("R&D 100%.zip"), r->row_of("丙#1.zip")}, -1);
    });
    w = r->open_from_menu("菜单", "删除选中文件", windows::kFileOperationWindow);
    ASSERT_TRUE(w);
    r->call([&] {
        EXPECT_TRUE((*w)["按钮2"].enabled());
        EXPECT_FALSE((*w)["按钮1"].enabled());
        EXPECT_FALSE((*w)["组合框1"].enabled());
    });
    ASSERT_TRUE(r->load([&] { r->program_.raise(*w, "按钮2", Event::clicked); }));
    EXPECT_EQ(r->file_names(), (std::vector<std::string>{"会议记录.txt", "报告.doc"}));
    EXPECT_NE(r->sent("/get/plzc.php").back().find("&zh=" + r->key()), std::string::npos);

    // None selected: the id list is empty and nothing changes.
    r->call([&] { r->files().clear_selection(); });
    w = r->open_from_menu("菜单", "删除选中文件", windows::kFileOperationWindow);
    ASSERT_TRUE(w);
    ASSERT_TRUE(r->load([&] { r->program_.raise(*w, "按钮2", Event::clicked); }));
    EXPECT_EQ(r->sent("/get/plzc.php").back().rfind("/get/plzc.php?pid=&ml=", 0), 0u);
    EXPECT_EQ(r->files().row_count(), 2);
}

// Each key does what its menu item does, against the service: Enter submits the
// small windows (never while their button is disabled), F2 renames, Del asks
// before deleting, F5 reads the folder again.
TEST_F(StorageRoads, KeysDoWhatTheirMenuItemsDo) {
    auto r = logged_in();
    ASSERT_TRUE(r->visit_browser_page());
    using ui::Key;
    auto by_key = [&](const char* control, Key key, const char* id) {
        r->call([&] { EXPECT_TRUE(r->program_.press_key(r->main(), control, key)); });
        std::shared_ptr<ui::Window> w;
        r->wait([&] { return (w = r->window(id)) != nullptr; });
        return w;
    };
    auto enter = [&](ui::Window& w, const char* edit) {
        r->call([&] { EXPECT_TRUE(r->program_.press_key(w, edit, Key::enter)); });
    };

    auto w = r->open_from_menu("目录", "创建文件夹", windows::kCreateFolderWindow);
    ASSERT_TRUE(w);
    r->call([&] { (*w)["编辑框2"].set_text(utf8_to_gbk("按键文件夹")); });
    enter(*w, "编辑框2");
    ASSERT_TRUE(r->wait([&] {
        return r->item("按键文件夹") != 0 && !r->window(windows::kCreateFolderWindow) &&
               !r->client_.browser().busy();
    }));
    ASSERT_TRUE(r->select_folder("按键文件夹"));
    int item = r->item("按键文件夹");

    w = by_key("树型框1", Key::f2, windows::kFolderNewNameWindow);
    ASSERT_TRUE(w);
    r->call([&] {
        EXPECT_EQ((*w)["编辑框1"].text(), utf8_to_gbk("按键文件夹"));
        (*w)["编辑框1"].set_text(utf8_to_gbk("按键改名"));
        (*w)["按钮1"].set_enabled(false);  // as while a request runs
    });
    enter(*w, "编辑框1");
    r->call([&] {});  // the key's event has run
    EXPECT_TRUE(r->sent("/post/sz5pc.php").empty());
    r->call([&] { (*w)["按钮1"].set_enabled(true); });
    enter(*w, "编辑框1");
    ASSERT_TRUE(
        r->wait([&] { return r->asked("重置成功") && !r->window(windows::kFolderNewNameWindow); }));
    EXPECT_EQ(r->tree().tree_item_text(item), utf8_to_gbk("按键改名"));
    EXPECT_EQ(r->sent("/post/sz5pc.php").size(), 1u);
    ASSERT_TRUE(r->wait_loaded());

    w = r->open_from_menu("目录", "创建外链文件", windows::kCreateLinkFileWindow);
    ASSERT_TRUE(w);
    r->call([&] {
        (*w)["编辑框1"].set_text(utf8_to_gbk("按键.zip"));
        (*w)["编辑框2"].set_text("http://example.com/k.zip");
    });
    enter(*w, "编辑框2");
    ASSERT_TRUE(
        r->wait([&] { return r->row_of("按键.zip") >= 0 && !r->client_.browser().busy(); }));

    r->call([&] { r->files().set_selection({r->row_of("按键.zip")}, r->row_of("按键.zip")); });
    w = by_key("超级列表框1", Key::f2, windows::kRenameFileWindow);
    ASSERT_TRUE(w);
    r->prompts_.push_answer(kAnswerYes);
    r->call([&] { (*w)["编辑框1"].set_text(utf8_to_gbk("按键2.zip")); });
    enter(*w, "编辑框1");
    ASSERT_TRUE(r->wait([&] { return !r->window(windows::kRenameFileWindow); }));
    ASSERT_TRUE(r->wait([&] { return r->row_of("按键2.zip") >= 0; }));

    // F5 reads the folder and its list again.
    size_t lists = r->sent("/mljg/").size();
    ASSERT_TRUE(r->load([&] { r->program_.press_key(r->main(), "超级列表框1", Key::f5); }));
    EXPECT_GT(r->sent("/mljg/").size(), lists);
    EXPECT_EQ(r->tree().current(), item);
    EXPECT_EQ(r->file_names(), std::vector<std::string>{"按键2.zip"});

    r->call([&] { r->files().set_selection({0}, 0); });
    w = by_key("超级列表框1", Key::del, windows::kFileOperationWindow);
    ASSERT_TRUE(w);
    r->call([&] { EXPECT_TRUE((*w)["按钮2"].enabled()) << "the delete mode, with its question"; });
    ASSERT_TRUE(r->load([&] { r->program_.raise(*w, "按钮2", Event::clicked); }));
    EXPECT_TRUE(r->file_names().empty());
}

TEST_F(StorageRoads, AddressesGoToTheShellOnlyWithSomethingSelected) {
    auto r = logged_in();
    ui::Control& uploaded = r->main()["超级列表框4"];
    // Before any list has loaded the direct address carries "szmm=0".
    r->call([&] {
        int row = uploaded.insert_row(-1, "/tmp/my files/a b.txt");
        uploaded.set_cell(row, 2, "77");
        uploaded.select_row(row);
        r->program_.choose(r->main(), "上传完成菜单", "复制该文件直链");
        r->program_.choose(r->main(), "上传完成菜单", "打开网页文件链接");
        r->program_.choose(r->main(), "上传完成菜单", "复制网页分享链接");
        r->program_.choose(r->main(), "上传完成菜单", "打开该文件");
        r->program_.choose(r->main(), "上传完成菜单", "打开文件夹");
    });
    ASSERT_TRUE(r->wait([&] { return r->shell_.actions().size() == 5; }));
    auto a = r->shell_.actions();
    const auto& h = r->client_.hosts();
    EXPECT_EQ(a[0].kind, "clipboard");
    EXPECT_EQ(a[0].a, h.direct_url("/yunxz1.php?pid=77&szmm=0"));
    EXPECT_EQ(r->client_.browser().access_password(), "") << "the link's \"0\" is not kept";
    EXPECT_TRUE(
        r->asked("复制成功！注意：使用网赚模式，或更改网盘密码，将导致直链失效，该功能只能在个人存"
                 "储模式下使用。"));
    EXPECT_EQ(a[1].kind, "open_url");
    EXPECT_EQ(a[1].a, h.web_url("/ym.php?pid=77"));
    EXPECT_EQ(a[2].a, h.web_url("/ym.php?pid=77"));
    EXPECT_EQ(a[3].kind, "open_file");
    EXPECT_EQ(a[3].a, "/tmp/my files/a b.txt");
    EXPECT_EQ(a[4].kind, "show");
    EXPECT_EQ(a[4].a, "/tmp/my files/a b.txt");

    // The folder request sends no password either, until a list reads it.
    ASSERT_TRUE(r->visit_browser_page());
    EXPECT_EQ(r->sent("/mljg/mljg.php").front().find("&fwmm=0"), std::string::npos);
    EXPECT_EQ(r->client_.browser().access_password(), "8888");

    // Nothing selected: the list and finished-download items do nothing.
    size_t before = r->shell_.actions().size();
    r->call([&] {
        r->files().clear_selection();
        r->files().set_current(-1);
        r->program_.raise(r->main(), "超级列表框1", Event::double_click);
        r->program_.choose(r->main(), "菜单", "打开选中文件(网页)");
        r->program_.choose(r->main(), "菜单", "获取文件分享链接");
        r->program_.choose(r->main(), "完成菜单", "打开文件");
        r->program_.choose(r->main(), "完成菜单", "访问文件夹");
    });
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(r->shell_.actions().size(), before);

    // The file row, the default folder's page and a finished download.
    r->call([&] {
        r->files().select_row(1);
        r->program_.raise(r->main(), "超级列表框1", Event::double_click);
        r->program_.choose(r->main(), "菜单", "获取文件分享链接");
        r->program_.choose(r->main(), "目录", "打开文件夹(网页)");
        r->program_.choose(r->main(), "目录", "获取文件夹分享链接");
        ui::Control& done = r->main()["超级列表框3"];
        done.select_row(done.insert_row(-1, "x.bin"));
        done.set_cell(0, 1, utf8_to_gbk("/home/u/下载/x y.bin"));
        r->program_.choose(r->main(), "完成菜单", "打开文件");
        r->program_.choose(r->main(), "完成菜单", "访问文件夹");
    });
    ASSERT_TRUE(r->wait([&] { return r->shell_.actions().size() == before + 6; }));
    a = r->shell_.actions();
    std::string file = h.web_url("/ym.php?pid=" + std::to_string(r->files().row_value(1)));
    EXPECT_EQ(a[before].a, file);
    EXPECT_EQ(a[before + 1].kind, "clipboard");
    EXPECT_EQ(a[before + 1].a, file);
    std::string root = h.web_url("/wdwj.php?pid=" + r->pid() + "&ml=0");
    EXPECT_EQ(a[before + 2].kind, "open_url");
    EXPECT_EQ(a[before + 2].a, root);
    EXPECT_EQ(a[before + 3].a, root);
    EXPECT_EQ(a[before + 4].kind, "open_file");
    EXPECT_EQ(a[before + 4].a, utf8_to_gbk("/home/u/下载/x y.bin"));
    EXPECT_EQ(a[before + 5].kind, "show");
    EXPECT_GE(r->asked_count("复制成功！"), 2);

    // 按钮32 makes the tree's folder the upload target and shows the upload page.
    r->call([&] { r->program_.raise(r->main(), "按钮32", Event::clicked); });
    EXPECT_EQ(r->main()["标签48"].caption(), GBK("上传至：默认文件夹"));
    EXPECT_EQ(r->main()["选择夹1"].current(), 0);
}

TEST_F(StorageRoads, ASecondAccountNeverSeesTheFirstOnesFiles) {
    auto r = logged_in();
    ASSERT_TRUE(r->visit_browser_page());
    ASSERT_EQ(r->files().row_count(), 4);
    r->call([&] { r->program_.choose(r->main(), "托盘", "注销"); });
    ASSERT_TRUE(r->wait([&] { return r->login() != nullptr; }));
    r->client_.timestamped_log_enabled = false;
    r->call([&] {
        auto w = r->login();
        (*w)["编辑框1"].set_text("guest");
        (*w)["编辑框2"].set_text("guest123");
        r->program_.raise(*w, "按钮1", Event::clicked);
    });
    ASSERT_TRUE(
        r->wait([&] { return r->client_.timestamped_log_enabled.load() && r->main().visible(); }));
    r->call([&] {
        EXPECT_EQ(r->files().row_count(), 0);
        EXPECT_EQ(r->tree().tree_items().size(), 1u);
    });
    // The next visit loads the new account's root.
    ASSERT_TRUE(r->visit_browser_page());
    EXPECT_EQ(r->child_names(r->item("默认文件夹")), (std::vector<std::string>{"资料"}));
    EXPECT_EQ(r->file_names(), (std::vector<std::string>{"样例数据.bin"}));
}

TEST_F(StorageRoads, AServiceThatCannotBeReachedIsNoVerdict) {
    auto r = logged_in();
    ASSERT_TRUE(r->visit_browser_page());
    ASSERT_TRUE(r->select_folder("我的文档"));
    r->cut(true);
    // Deleting a folder says the service could not be reached, not that it has sub-folders.
    r->prompts_.push_answer(kAnswerYes);
    r->call([&] { r->program_.choose(r->main(), "目录", "删除文件夹"); });
    ASSERT_TRUE(r->wait(
        [&] { return r->asked("无法连接服务器，请检查网络后重试。") && r->tree().enabled(); }));
    EXPECT_FALSE(r->asked("该目录存在子目录，无法删除！"));
    EXPECT_NE(r->item("我的文档"), 0);

    // A folder load that fails keeps the tree as it was and says why.
    int photos = r->item("照片");
    ASSERT_TRUE(r->select_folder("照片"));
    EXPECT_EQ(r->main()["标签57"].caption(),
              utf8_to_gbk("无法连接服务器，目录未能读取，请稍后重试。"));
    EXPECT_FALSE(r->tree().expanded(photos));
    EXPECT_TRUE(r->tree().enabled());
    EXPECT_TRUE(r->main()["选择夹1"].enabled());
    EXPECT_EQ(r->client_.browser().access_password(), "8888");

    // A page that cannot be fetched is not shown as an empty folder.
    r->cut(false);
    ASSERT_TRUE(r->select_folder("分页测试"));
    r->cut(true);
    ASSERT_TRUE(r->load([&] {
        r->main()["组合框1"].set_current(1);
        r->program_.raise(r->main(), "组合框1", Event::item_selected);
    }));
    EXPECT_EQ(r->main()["标签57"].caption(),
              utf8_to_gbk("无法连接服务器，文件列表未能读取，请稍后重试。"));
    EXPECT_EQ(r->main()["标签60"].caption(), GBK("本页文件数：20个"));
    EXPECT_EQ(r->files().row_count(), 20);
    EXPECT_EQ(r->main()["组合框1"].item_count(), 3);
    EXPECT_TRUE(r->main()["组合框1"].enabled());

    // Creating a folder: the window stays, its button comes back, no false "创建失败！".
    auto w = r->open_from_menu("目录", "创建文件夹", windows::kCreateFolderWindow);
    ASSERT_TRUE(w);
    r->call([&] {
        (*w)["编辑框2"].set_text("x");
        r->program_.raise(*w, "按钮1", Event::clicked);
    });
    ASSERT_TRUE(r->wait([&] {
        return r->asked_count("无法连接服务器，请检查网络后重试。") == 2 && (*w)["按钮1"].enabled();
    }));
    EXPECT_FALSE(r->asked("创建失败！"));
    EXPECT_TRUE(r->window(windows::kCreateFolderWindow));
}

TEST_F(StorageRoads, AZeroByteInAnAnswerHidesNoFolderRowOrPageCount) {
    auto r = logged_in();
    ASSERT_TRUE(r->visit_browser_page());
    // From here every folder, file page and settings answer starts with a zero byte.
    r->edit_answers([](const test::RecordedRequest& q, std::string answer) {
        if (q.target().rfind("/mljg/", 0) != 0 && q.target().rfind("/get/sz.php", 0) != 0)
            return answer;
        return test::with_body(answer, [](std::string body) { return '\0' + body; });
    });
    r->client_.browser().set_access_password("");
    ASSERT_TRUE(r->select_folder("分页测试"));
    EXPECT_EQ(r->main()["组合框1"].item_count(), 3);
    EXPECT_EQ(r->client_.browser().access_password(), "8888");
    ASSERT_EQ(r->files().row_count(), 20);
    EXPECT_EQ(r->file_names().front(), "文件45.txt");
    ASSERT_TRUE(r->select_folder("照片"));
    EXPECT_EQ(r->child_names(r->item("照片")), (std::vector<std::string>{"2023年旅行"}));
}

TEST_F(StorageRoads, AWholeFolderListThatGotNoAnswerLeavesTheNextPageLoadOrdinary) {
    auto r = logged_in();
    ASSERT_TRUE(r->visit_browser_page());
    ASSERT_TRUE(r->select_folder("分页测试"));
    r->cut(true);
    ASSERT_TRUE(r->load([&] { EXPECT_TRUE(storage::start_whole_folder_load(r->client_)); }));
    r->cut(false);
    EXPECT_EQ(r->main()["标签57"].caption(),
              utf8_to_gbk("无法连接服务器，目录未能读取，请稍后重试。"));
    EXPECT_FALSE(r->client_.browser().folder_download_pending());
    ASSERT_TRUE(r->load([&] {
        r->main()["组合框1"].set_current(1);
        r->program_.raise(r->main(), "组合框1", Event::item_selected);
    }));
    EXPECT_EQ(r->sent("/mljg/wjdq.php").back().find("dqlx"), std::string::npos);
    EXPECT_EQ(r->files().row_count(), 20);
    EXPECT_EQ(r->client_.transfers().downloads.size(), 0u) << "no row was queued for download";
}

// The three answers of a folder load come back together; one that does not
// come leaves the load where it stood, as when they were asked in turn.
TEST_F(StorageRoads, AFolderLoadThatLosesTheServiceHalfwayShowsWhatItShowed) {
    auto r = logged_in();
    ASSERT_TRUE(r->visit_browser_page());
    ASSERT_TRUE(r->select_folder("分页测试"));
    ASSERT_EQ(r->files().row_count(), 20);
    auto gone = [](const std::string& path) {
        return [path](const test::RecordedRequest& q, std::string answer) {
            return q.target().rfind(path, 0) == 0 ? std::string() : answer;
        };
    };
    auto list_unchanged = [&] {
        EXPECT_EQ(r->files().row_count(), 20);
        EXPECT_EQ(r->file_names().front(), "文件45.txt");
        EXPECT_EQ(r->main()["组合框1"].item_count(), 3);
        EXPECT_EQ(r->client_.browser().access_password(), "");
        EXPECT_TRUE(r->tree().enabled());
        EXPECT_TRUE(r->main()["超级列表框1"].enabled());
    };
    r->client_.browser().set_access_password("");

    // Sub-folders answered, the page not: the tree shows the new level, the
    // list what it showed, and the settings page's password is not taken.
    r->edit_answers(gone("/mljg/wjdq.php"));
    int photos = r->item("照片");
    ASSERT_TRUE(r->select_folder("照片"));
    EXPECT_EQ(r->main()["标签57"].caption(),
              utf8_to_gbk("无法连接服务器，文件列表未能读取，请稍后重试。"));
    EXPECT_EQ(r->child_names(photos), (std::vector<std::string>{"2023年旅行"}));
    EXPECT_TRUE(r->tree().expanded(photos));
    list_unchanged();

    // Sub-folders unanswered: the page and settings that did come change nothing.
    r->edit_answers(gone("/mljg/mljg.php"));
    std::string address = r->main()["编辑框3"].text();
    int documents = r->item("我的文档");
    ASSERT_TRUE(r->select_folder("我的文档"));
    EXPECT_EQ(r->main()["标签57"].caption(),
              utf8_to_gbk("无法连接服务器，目录未能读取，请稍后重试。"));
    EXPECT_FALSE(r->tree().expanded(documents));
    EXPECT_TRUE(r->tree().tree_children(documents).empty());
    EXPECT_EQ(r->main()["编辑框3"].text(), address);
    list_unchanged();

    // With the service back the same folder loads whole.
    r->edit_answers(nullptr);
    ASSERT_TRUE(r->select_folder("分页测试"));
    EXPECT_EQ(r->main()["标签57"].caption(), utf8_to_gbk("目录文件获取完毕。"));
    EXPECT_EQ(r->client_.browser().access_password(), "8888");
}

}  // namespace
}  // namespace qorvel
