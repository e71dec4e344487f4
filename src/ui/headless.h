// The engine without a display, for tests of windows and whole roads: an
// event queue pumped by hand or by a window thread of its own, a clock that
// only moves when told (timers tick on advance()), menus that record what was
// popped up, and Prompts that answer from a script.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/prompts.h"
#include "ui/program.h"

namespace qorvel::ui {

class HeadlessBackend : public Backend {
  public:
    // The constructing thread is the window thread until set_ui_thread().
    // on_error receives every failure of a handler or worker (tests make it a
    // test failure); without one it is printed. Either way errors() keeps it.
    explicit HeadlessBackend(std::function<void(const std::string&)> on_error = {});

    void set_ui_thread(std::thread::id id);
    std::thread::id ui_thread() const override;
    void post(std::function<void()> task) override;
    void run_until(const std::function<bool()>& done) override;
    void wake() override;
    void pump() override;
    int start_timer(int interval_ms, std::function<void()> tick) override;
    void stop_timer(int id) override;
    void realize(Program& program, const std::shared_ptr<Window>& window) override;
    void unrealize(Window& window) override;
    void popup_menu(Program& program, const std::shared_ptr<Window>& window, const Menu& menu,
                    const std::string& anchor) override;
    void report_error(const std::string& what) override;
    std::vector<std::string> errors() const;

    // Runs queued tasks until the queue is empty (window thread). Returns how many ran.
    int pump_all(int limit = 10000);
    // Moves the clock (any thread) and queues the ticks that fall due, in time order.
    void advance(std::chrono::milliseconds step);
    long long now_ms() const;
    int queued() const;
    int running_timers() const;

    struct Popup {
        std::string window;              // window id
        std::string menu;                // menu name
        std::vector<std::string> items;  // item keys as shown (separators and hidden left out)
        std::string anchor;  // the control whose current row it opened at, "" the cursor
        int row = -1;        // that row
    };
    std::vector<Popup> popups() const;
    // Ids of windows whose view exists, in creation order.
    std::vector<std::string> realized() const;

  private:
    struct Timer {
        int interval = 0;
        long long next_due = 0;
        std::function<void()> tick;
    };

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
    std::thread::id ui_thread_;
    long long now_ = 0;
    std::map<int, Timer> timers_;
    int next_timer_ = 1;
    std::vector<Popup> popups_;
    std::vector<std::string> realized_;
    unsigned wakes_ = 0;
    std::function<void(const std::string&)> on_error_;
    std::vector<std::string> errors_;
};

// Prompts that answer from a script and record every question.
class ScriptedPrompts : public Prompts {
  public:
    struct Asked {
        std::string text;  // GBK
        MessageButtons buttons;
    };
    // Answers are used in order; without one, OK boxes give kAnswerOk and
    // Yes/No boxes give kAnswerNo.
    void push_answer(int answer);
    void push_folder(std::string gbk_path);
    void push_files(std::vector<std::string> gbk_paths);
    // Called (on the window thread) for every message box when set; its
    // result is the answer. Lets a test look at the program mid-question.
    void set_responder(std::function<int(const std::string&, MessageButtons)> responder);

    std::vector<Asked> asked() const;
    int asked_count() const;

    int message_box(const std::string& text, MessageButtons buttons) override;
    std::string choose_folder(const std::string& title) override;
    std::vector<std::string> choose_files(const std::string& title, const std::string& filter,
                                          const std::string& initial_folder) override;
    // The folders the file chooser was opened in, in order.
    std::vector<std::string> file_chooser_folders() const {
        std::lock_guard lock(mutex_);
        return files_folders_;
    }

  private:
    mutable std::mutex mutex_;
    std::deque<int> answers_;
    std::deque<std::string> folders_;
    std::deque<std::vector<std::string>> files_;
    std::vector<std::string> files_folders_;
    std::vector<Asked> asked_;
    std::function<int(const std::string&, MessageButtons)> responder_;
};

// A window thread for road tests: it runs Program::run() while the test
// thread drives the windows through call() and waits with wait_until().
class HeadlessRunner {
  public:
    HeadlessRunner(HeadlessBackend& backend, Program& program);
    ~HeadlessRunner();  // ends the program (exit code -1 when still running) and joins
    HeadlessRunner(const HeadlessRunner&) = delete;
    HeadlessRunner& operator=(const HeadlessRunner&) = delete;

    // Runs fn on the window thread and waits for it.
    template <class F>
    auto call(F&& fn) {
        return program_.run_on_ui_and_wait(std::forward<F>(fn));
    }
    // Polls pred (on the test thread) every few milliseconds; false on time-out.
    bool wait_until(const std::function<bool()>& pred,
                    std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // True once the window thread has left run().
    bool finished() const;
    // Waits for the window thread to leave run(); false on time-out.
    bool wait_finished(std::chrono::milliseconds timeout = std::chrono::seconds(5));

  private:
    HeadlessBackend& backend_;
    Program& program_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool started_ = false;
    bool finished_ = false;
    std::thread thread_;
};

}  // namespace qorvel::ui
