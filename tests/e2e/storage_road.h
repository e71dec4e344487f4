// One logged-in client on the headless engine whose web host is a recording
// forwarder in front of the reference service, so a road test sees every
// request the storage browser sends and the service's real answers.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/client_windows.h"
#include "e2e/road.h"  // hosts_of
#include "net/charset.h"
#include "support/doubles.h"
#include "support/forwarding.h"
#include "support/process.h"
#include "support/recording_server.h"
#include "support/service_instance.h"
#include "ui/headless.h"

namespace qorvel::test {

using namespace std::chrono_literals;

class StorageRoad {
  public:
    StorageRoad(const ServiceInstance& service, ServiceHosts hosts)
        : cut_(std::make_shared<std::atomic<bool>>(false)),
          hold_(std::make_shared<std::atomic<bool>>(false)),
          edits_(std::make_shared<Edits>()),
          proxy_(forward_to(hosts.web, cut_, hold_,
                            [edits = edits_](const RecordedRequest& q, std::string answer) {
                                std::lock_guard g(edits->mutex);
                                return edits->edit ? edits->edit(q, std::move(answer)) : answer;
                            }),
                 service.host()),
          program_(backend_, prompts_),
          client_(program_, shell_, with_web(hosts, proxy_.address()),
                  ClientFolders{home_.path() / "Documents", home_.path() / "Desktop"}) {
        std::filesystem::create_directories(home_.path() / "Documents");
        std::filesystem::create_directories(home_.path() / "Desktop");
        // The journals of this home, never the user's running these tests.
        client_.journal_folder = home_.path() / ".local/share/qorvel/queues";
    }
    ~StorageRoad() {
        runner_.reset();
        program_.shutdown();
    }

    bool wait(const std::function<bool()>& pred, std::chrono::milliseconds t = 15s) {
        return runner_->wait_until(pred, t);
    }
    template <class F>
    auto call(F&& f) {
        return runner_->call(std::forward<F>(f));
    }

    // Starts as main() does and logs in; true once the set-up has finished.
    bool start_and_log_in(const std::string& account, const std::string& password) {
        runner_ = std::make_unique<ui::HeadlessRunner>(backend_, program_);
        program_.post([this] { start_client(client_); });
        if (!wait([this] { return login() != nullptr; })) return false;
        call([&] {
            auto w = login();
            (*w)["编辑框1"].set_text(account);
            (*w)["编辑框2"].set_text(password);
            program_.raise(*w, "按钮1", ui::Event::clicked);
        });
        return wait([this] { return client_.timestamped_log_enabled.load() && main().visible(); });
    }
    std::shared_ptr<ui::Window> login() const {
        auto w = program_.find(windows::kLoginWindow);
        return w && w->alive() ? w : nullptr;
    }
    ui::Window& main() const { return *client_.main_window(); }
    ui::Control& tree() const { return main()["树型框1"]; }
    ui::Control& files() const { return main()["超级列表框1"]; }

    // Does what starts a load and waits until it has ended (status line and
    // the tree usable again).
    bool load(const std::function<void()>& start) {
        call([&] {
            main()["标签57"].set_caption("");
            start();
        });
        return wait_loaded();
    }
    // Waits until the load under way has ended.
    bool wait_loaded() {
        return wait([this] {
            std::string s = main()["标签57"].caption();
            return !s.empty() && s != utf8_to_gbk("正在读取目录，请稍后^……") &&
                   s != utf8_to_gbk("目录读取完毕，正在读取文件，请稍后^……") &&
                   !client_.browser().busy() && tree().enabled();
        });
    }
    bool visit_browser_page() {
        return load([this] {
            main()["选择夹1"].set_current(1);
            program_.raise(main(), "选择夹1", ui::Event::page_changed);
        });
    }
    // The tree item with this folder name (UTF-8), 0 when none.
    int item(const std::string& utf8) const {
        for (const auto& i : tree().tree_items())
            if (i.text == utf8_to_gbk(utf8)) return i.id;
        return 0;
    }
    bool select_folder(const std::string& utf8) {
        int id = item(utf8);
        if (id == 0) return false;
        return load([this, id] {
            tree().set_current(id);
            program_.raise(main(), "树型框1", ui::Event::current_item_changed);
        });
    }
    std::vector<std::string> child_names(int id) const {
        std::vector<std::string> out;
        for (int child : tree().tree_children(id))
            out.push_back(gbk_to_utf8(tree().tree_item_text(child)));
        return out;
    }
    std::vector<std::string> file_names() const {
        std::vector<std::string> out;
        for (const auto& r : files().rows()) out.push_back(gbk_to_utf8(r.cells.at(0)));
        return out;
    }
    int row_of(const std::string& utf8) const {
        auto rows = files().rows();
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].cells.at(0) == utf8_to_gbk(utf8)) return static_cast<int>(i);
        return -1;
    }
    // Request targets that begin with path, in order.
    std::vector<std::string> sent(const std::string& path) const {
        std::vector<std::string> out;
        for (const auto& r : proxy_.requests())
            if (r.target().rfind(path, 0) == 0) out.push_back(r.target());
        return out;
    }
    std::vector<RecordedRequest> sent_requests(const std::string& path) const {
        std::vector<RecordedRequest> out;
        for (const auto& r : proxy_.requests())
            if (r.target().rfind(path, 0) == 0) out.push_back(r);
        return out;
    }
    bool asked(const std::string& utf8) const {
        for (const auto& a : prompts_.asked())
            if (a.text == utf8_to_gbk(utf8)) return true;
        return false;
    }
    int asked_count(const std::string& utf8) const {
        int n = 0;
        for (const auto& a : prompts_.asked())
            if (a.text == utf8_to_gbk(utf8)) ++n;
        return n;
    }
    std::shared_ptr<ui::Window> window(const char* id) const {
        auto w = program_.find(id);
        return w && w->alive() ? w : nullptr;
    }
    // Chooses a menu item of the main window and waits for its window to open.
    std::shared_ptr<ui::Window> open_from_menu(const char* menu, const char* item, const char* id) {
        call([&] { program_.choose(main(), menu, item); });
        std::shared_ptr<ui::Window> w;
        wait([&] { return (w = window(id)) != nullptr; });
        return w;
    }
    std::string pid() { return client_.session().login_pid(); }
    std::string key() { return client_.session().account_key(); }
    void cut(bool on) { cut_->store(on); }
    // While on, requests wait at the forwarder: a load under way stays under way.
    void hold(bool on) { hold_->store(on); }
    // Changes the service's answers on their way to the client.
    void edit_answers(AnswerEdit edit) {
        std::lock_guard g(edits_->mutex);
        edits_->edit = std::move(edit);
    }

    static ServiceHosts with_web(ServiceHosts h, const std::string& web) {
        h.web = web;
        return h;
    }

    TempDir home_{"qorvel-storage-home"};
    std::shared_ptr<std::atomic<bool>> cut_;
    std::shared_ptr<std::atomic<bool>> hold_;
    struct Edits {
        std::mutex mutex;
        AnswerEdit edit;
    };
    std::shared_ptr<Edits> edits_;
    RecordingServer proxy_;
    ui::HeadlessBackend backend_{test::fail_test};
    ui::ScriptedPrompts prompts_;
    ui::Program program_;
    ShellRecorder shell_;
    Client client_;
    std::unique_ptr<ui::HeadlessRunner> runner_;
};

}  // namespace qorvel::test
