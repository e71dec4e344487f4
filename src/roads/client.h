// The program's state in one object: configuration, session values, flags,
// the window engine and the desktop. Operations take a Client& instead of
// reaching for globals, so tests build as many clients as they need.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "account/config_files.h"
#include "account/session.h"
#include "net/text.h"
#include "platform/desktop_bus.h"
#include "platform/prompts.h"
#include "platform/service_hosts.h"
#include "platform/shell.h"
#include "storage/browser.h"
#include "transfer/notice_rules.h"
#include "transfer/transfers.h"
#include "ui/engine.h"
#include "ui/windows/catalogue.h"

namespace qorvel {

// Message boxes and choosers through the window engine, safe from any thread.
class ProgramPrompts : public Prompts {
  public:
    explicit ProgramPrompts(ui::Program& program) : program_(program) {}
    int message_box(const std::string& text, MessageButtons buttons) override {
        return program_.message_box(text, buttons);
    }
    std::string choose_folder(const std::string& title) override {
        return program_.choose_folder(title);
    }
    std::vector<std::string> choose_files(const std::string& title, const std::string& filter,
                                          const std::string& initial_folder) override {
        return program_.choose_files(title, filter, initial_folder);
    }

  private:
    ui::Program& program_;
};

struct ClientFolders {
    std::filesystem::path documents;
    std::filesystem::path desktop;
};

class Client {
  public:
    using WindowFactory = std::function<std::shared_ptr<ui::Window>(const std::string& id)>;

    Client(ui::Program& program, Shell& shell, ServiceHosts hosts, ClientFolders folders);

    ui::Program& program() { return program_; }
    Prompts& prompts() { return prompts_; }
    Shell& shell() { return shell_; }
    const ServiceHosts& hosts() const { return hosts_; }
    const ConfigFiles& config() const { return config_; }
    const ClientFolders& folders() const { return folders_; }
    SessionStore& session() { return session_; }
    StorageBrowser& browser() { return browser_; }
    // The download and upload queues with their engine objects.
    transfer::Transfers& transfers() { return transfers_; }

    // Windows: the factory builds a catalogue window with its handlers wired.
    void set_window_factory(WindowFactory factory) { factory_ = std::move(factory); }
    std::shared_ptr<ui::Window> make_window(const std::string& id);
    std::shared_ptr<ui::Window> main_window() const;
    void set_main_window(std::shared_ptr<ui::Window> w);
    // The login window that is open now (null when none).
    std::shared_ptr<ui::Window> login_window() const;
    void set_login_window(std::shared_ptr<ui::Window> w);
    std::shared_ptr<ui::Window> web_login_window() const;
    void set_web_login_window(std::shared_ptr<ui::Window> w);

    // The log time stamp: taken fresh, kept program-wide (last writer wins).
    std::string take_time_stamp();
    std::string time_stamp() const;
    void set_clock(LocalClock clock);

    // Whether the service answers at all; replaceable for tests of the failure.
    std::function<bool()> connection_check;
    // Whether the desktop shows tray icons; without one, "to the tray" minimises.
    std::function<bool()> tray_available = [] { return true; };
    // The download queue's part of the close question: true when the program may end.
    std::function<bool()> confirm_exit_downloads = [] { return true; };
    // Loads of the storage browser that start from here (tree reset, first tree load).
    std::function<void()> reset_tree;
    std::function<void()> first_tree_load;
    // A whole-folder list has been shown: the download queue takes every row.
    std::function<void()> folder_listed_for_download;
    // The account's transfer lists come back after a login and are put away
    // (running transfers stopped and saved) before another account comes.
    std::function<void()> account_opened;
    std::function<void()> account_closing;
    // Where the accounts' journals live; empty: the user's data folder.
    std::filesystem::path journal_folder;
    // The desktop's bus, null where there is none: notices about transfer runs
    // and the lock against sleep while they go. Set before the program runs.
    Notifier* notifier = nullptr;
    SleepInhibitor* sleep_inhibitor = nullptr;
    // What each queue's run has done, for its notice.
    transfer::RunReports run_reports;

    std::atomic<int> is_vip{0};
    std::atomic<bool> timestamped_log_enabled{false};

  private:
    ui::Program& program_;
    ProgramPrompts prompts_;
    Shell& shell_;
    ServiceHosts hosts_;
    ClientFolders folders_;
    ConfigFiles config_;
    SessionStore session_;
    StorageBrowser browser_;
    WindowFactory factory_;

    mutable std::mutex mutex_;
    std::shared_ptr<ui::Window> main_, login_, web_login_;
    LocalClock clock_;
    std::string stamp_;
    // Last, so its engine objects stop before anything their callbacks use goes.
    transfer::Transfers transfers_;
};

}  // namespace qorvel
