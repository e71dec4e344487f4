// The program object of the window engine: opens and closes windows, delivers
// events on the window thread, runs modal loops, timers, pop-up menus and
// message boxes, and owns the worker threads. The toolkit (Qt, or the headless
// loop of tests) sits behind the Backend interface.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "platform/prompts.h"
#include "ui/window.h"

namespace qorvel::ui {

class Program;

// What the engine needs from a toolkit. Every call except post(), wake() and
// ui_thread() happens on the window thread.
class Backend {
  public:
    virtual ~Backend() = default;
    // Queues a task for the window thread; tasks run one at a time, in order.
    virtual void post(std::function<void()> task) = 0;
    virtual std::thread::id ui_thread() const = 0;
    bool on_ui_thread() const { return std::this_thread::get_id() == ui_thread(); }
    // Handles events until done() holds; used for the outer loop and for
    // every nested (modal) loop. done() is re-checked after wake().
    virtual void run_until(const std::function<bool()>& done) = 0;
    virtual void wake() = 0;
    // Handles what is pending right now and returns (a window thread that
    // waits on the network keeps the windows alive through this).
    virtual void pump() = 0;
    virtual int start_timer(int interval_ms, std::function<void()> tick) = 0;
    virtual void stop_timer(int id) = 0;
    // Builds the window's view before its created event; the view then
    // follows the window's properties (visible, position state...). A view
    // shares ownership of its window, so nothing queued for the view can
    // reach a window that is gone.
    virtual void realize(Program& program, const std::shared_ptr<Window>& window) = 0;
    // Detaches the view at once (no event reaches the window through it any
    // more); the toolkit may free it later.
    virtual void unrealize(Window& window) = 0;
    // Shows the menu at the mouse cursor, or under the current row of the
    // anchor control when one is named (a menu opened from the keyboard); a
    // choice ends in Program::choose().
    virtual void popup_menu(Program& program, const std::shared_ptr<Window>& window,
                            const Menu& menu, const std::string& anchor) = 0;
    // A handler, worker or window-thread call failed with an exception (any
    // thread). The program goes on; a test backend makes it a test failure.
    virtual void report_error(const std::string& what);
};

class Program {
  public:
    Program(Backend& backend, Prompts& prompts);
    ~Program();  // shutdown()
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    Backend& backend() { return backend_; }
    Prompts& prompts() { return prompts_; }
    bool on_ui_thread() const { return backend_.on_ui_thread(); }

    // --- windows (any thread; forwarded to the window thread) ---
    // Makes the window live: builds its view, raises created; it is shown
    // only when its visible property is (or later becomes) true.
    void create(const std::shared_ptr<Window>& window);
    // create() and show. Modal: returns when the window is destroyed (or the
    // program ends), events keep flowing meanwhile; a worker that opens a
    // modal window waits the same way. Non-modal: returns at once.
    void open(const std::shared_ptr<Window>& window, bool modal);
    // Destroys the window: destroyed event, view removed, modal wait ended.
    // From a worker it is posted (the worker does not wait).
    void close(Window& window);
    // A close request (title-bar button, Escape): may_close, then close().
    // Window thread; returns whether the window closed.
    bool request_close(Window& window);
    // The live window with this id, or null.
    std::shared_ptr<Window> find(const std::string& id) const;

    // --- events ---
    // Runs the handler now (window thread). Unknown handlers do nothing.
    void raise(Window& window, const std::string& source, Event event, EventArgs& args);
    void raise(Window& window, const std::string& source, Event event) {
        EventArgs args;
        raise(window, source, event, args);
    }
    // Queues the event for the window thread (any thread).
    void post_event(Window& window, const std::string& source, Event event, EventArgs args = {});
    // A command key pressed while the control ("" none) has the focus: queues
    // key_pressed for the control's handler of that key, or else the window's.
    // False when neither handles it, so the toolkit does what it does by default.
    bool press_key(Window& window, const std::string& control, Key key,
                   unsigned modifiers = kNoModifiers);
    // Queues any task for the window thread.
    void post(std::function<void()> task) { backend_.post(std::move(task)); }
    // Runs fn on the window thread and waits for its result. On the window
    // thread it runs at once. When the program is ending and fn has not
    // started, it is dropped and the fallback is returned.
    template <class F>
    auto run_on_ui_and_wait(F&& fn) -> std::invoke_result_t<F&> {
        using R = std::invoke_result_t<F&>;
        if constexpr (std::is_void_v<R>) {
            call_on_ui([&] { fn(); });
        } else {
            return run_on_ui_and_wait(std::forward<F>(fn), R{});
        }
    }
    template <class F, class R>
    R run_on_ui_and_wait(F&& fn, R fallback) {
        std::optional<R> result;
        if (!call_on_ui([&] { result.emplace(fn()); }) || !result) return fallback;
        return std::move(*result);
    }
    // Handles pending events now (window thread); for requests that block it.
    void pump_events();

    // --- menus ---
    // Pops the window's menu up at the cursor, or at the anchor control's
    // current row (window thread; posted otherwise).
    void popup_menu(Window& window, const std::string& menu, const std::string& anchor = {});
    // A menu item was chosen: its chosen event is queued.
    void choose(Window& window, const std::string& menu, const std::string& item_key);

    // --- questions (any thread; asked on the window thread) ---
    // Caption "信息："; kAnswerOk, kAnswerYes or kAnswerNo.
    int message_box(const std::string& gbk_text, MessageButtons buttons = MessageButtons::ok);
    std::string choose_folder(const std::string& gbk_title);
    std::vector<std::string> choose_files(const std::string& gbk_title, const std::string& filter,
                                          const std::string& initial_folder = {});

    // --- workers ---
    // Runs fn on a new thread; the caller continues at once. shutdown() waits for it.
    void start_worker(std::function<void()> fn);
    // True once shutdown has begun: long workers should end.
    bool stopping() const { return stopping_.load(); }
    // Sleeps; returns false (early) when the program is stopping.
    bool sleep_for(std::chrono::milliseconds duration);
    int running_workers() const;
    // Hands a failure that nobody else can report to the backend (any thread).
    void report_error(const std::string& what) { backend_.report_error(what); }

    // --- end ---
    // Ends the program with the code: every loop returns, run() gives the code.
    // Handlers that call it should return right after.
    void exit(int code);
    bool exiting() const { return exiting_.load(); }
    int exit_code() const { return exit_code_.load(); }
    // The outer loop (window thread): returns the exit code.
    int run();
    // Stops workers (waits for them) and drops every window without events.
    void shutdown();

  private:
    struct Record;
    struct CallState;
    bool call_on_ui(const std::function<void()>& fn);
    // The live window's owner, read under the lock: other threads keep the
    // window alive through it instead of holding a record the window thread
    // may drop.
    std::shared_ptr<Window> owner_of(const Window* window) const;
    Record* record_on_ui(const Window* window) const;  // window thread only
    void retime(Window* window, Control* timer);
    void drop_record(Window* window);

    Backend& backend_;
    Prompts& prompts_;
    std::vector<std::unique_ptr<Record>> records_;  // window thread only
    mutable std::mutex records_mutex_;              // guards the vector for find()

    std::atomic<bool> stopping_{false};
    std::atomic<bool> exiting_{false};
    std::atomic<int> exit_code_{0};
    std::mutex stop_mutex_;
    std::condition_variable stop_cv_;

    struct Worker {
        std::thread thread;
        std::atomic<bool> done{false};
    };
    mutable std::mutex workers_mutex_;
    std::vector<std::unique_ptr<Worker>> workers_;
};

}  // namespace qorvel::ui
