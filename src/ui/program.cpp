#include "ui/program.h"

#include <algorithm>
#include <cstdio>
#include <exception>

namespace qorvel::ui {

void Backend::report_error(const std::string& what) {
    std::fprintf(stderr, "qorvel: %s\n", what.c_str());
}

namespace {
std::string what_of(std::exception_ptr e) {
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& x) {
        return x.what();
    } catch (...) {
        return "unknown exception";
    }
}
}  // namespace

// What the program keeps about a live window (window thread only).
struct Program::Record {
    std::shared_ptr<Window> window;
    int window_token = 0;
    struct Timer {
        Control* control = nullptr;
        int token = 0;
        int backend_id = 0;
    };
    std::vector<Timer> timers;
};

struct Program::CallState {
    std::mutex mutex;
    std::condition_variable cv;
    bool started = false;
    bool done = false;
    bool abandoned = false;
};

Program::Program(Backend& backend, Prompts& prompts) : backend_(backend), prompts_(prompts) {}

Program::~Program() {
    shutdown();
}

std::shared_ptr<Window> Program::owner_of(const Window* window) const {
    std::lock_guard lock(records_mutex_);
    for (auto& r : records_)
        if (r->window.get() == window) return r->window;
    return nullptr;
}

Program::Record* Program::record_on_ui(const Window* window) const {
    std::lock_guard lock(records_mutex_);
    for (auto& r : records_)
        if (r->window.get() == window) return r.get();
    return nullptr;
}

std::shared_ptr<Window> Program::find(const std::string& id) const {
    std::lock_guard lock(records_mutex_);
    for (auto& r : records_)
        if (r->window->id() == id && r->window->alive()) return r->window;
    return nullptr;
}

void Program::create(const std::shared_ptr<Window>& window) {
    if (!on_ui_thread()) {
        run_on_ui_and_wait([&] { create(window); });
        return;
    }
    if (window->alive() || exiting()) return;
    auto record = std::make_unique<Record>();
    record->window = window;
    Window* w = window.get();
    // A window that becomes invisible raises hidden; each call is one flip.
    record->window_token = window->observe([this, w](Window& win, unsigned changes) {
        if ((changes & kWindowVisible) && !win.visible() && win.alive())
            post_event(*w, "", Event::hidden);
    });
    for (Control* c : window->controls()) {
        if (c->kind() != Kind::timer) continue;
        Record::Timer t;
        t.control = c;
        t.token = c->observe([this, w, c](Control&, unsigned changes) {
            if (changes & kInterval) post([this, w, c] { retime(w, c); });
        });
        record->timers.push_back(t);
    }
    {
        std::lock_guard lock(records_mutex_);
        records_.push_back(std::move(record));
    }
    window->set_alive(true);
    backend_.realize(*this, window);
    for (Control* c : window->controls())
        if (c->kind() == Kind::timer) retime(w, c);
    raise(*window, "", Event::created);
}

void Program::open(const std::shared_ptr<Window>& window, bool modal) {
    if (!on_ui_thread()) {
        // A worker opening a modal window waits for it like a handler would.
        run_on_ui_and_wait([&] { open(window, modal); });
        return;
    }
    window->set_modal(modal);
    create(window);
    if (!window->alive()) return;  // closed by its own created event
    window->set_visible(true);
    if (modal) {
        backend_.run_until([&] { return !window->alive() || exiting() || stopping(); });
    }
}

void Program::retime(Window* window, Control* timer) {
    Record* r = record_on_ui(window);
    if (!r) return;
    for (auto& t : r->timers) {
        if (t.control != timer) continue;
        if (t.backend_id) backend_.stop_timer(t.backend_id);
        t.backend_id = 0;
        int ms = timer->interval();
        if (ms > 0 && window->alive()) {
            t.backend_id = backend_.start_timer(ms, [this, window, timer] {
                // A tick queued before the interval went to 0 is dropped.
                if (timer->interval() > 0 && window->alive())
                    raise(*window, timer->name(), Event::tick);
            });
        }
    }
}

void Program::drop_record(Window* window) {
    std::unique_ptr<Record> gone;
    {
        std::lock_guard lock(records_mutex_);
        auto it = std::find_if(records_.begin(), records_.end(),
                               [&](auto& r) { return r->window.get() == window; });
        if (it == records_.end()) return;
        gone = std::move(*it);
        records_.erase(it);
    }
    window->unobserve(gone->window_token);
    for (auto& t : gone->timers) {
        t.control->unobserve(t.token);
        if (t.backend_id) backend_.stop_timer(t.backend_id);
    }
    backend_.unrealize(*window);
}

void Program::close(Window& window) {
    if (!on_ui_thread()) {
        // Keep the window alive until the posted close has run.
        std::shared_ptr<Window> keep = owner_of(&window);
        if (keep) post([this, keep] { close(*keep); });
        return;
    }
    if (!window.alive()) return;
    std::shared_ptr<Window> keep = owner_of(&window);  // handlers may drop the last owner
    raise(window, "", Event::destroyed);
    window.set_alive(false);
    drop_record(&window);
    window.set_visible(false);
    backend_.wake();
}

bool Program::request_close(Window& window) {
    if (!window.alive()) return false;
    EventArgs args;
    args.allow = true;
    raise(window, "", Event::may_close, args);
    if (!args.allow || !window.alive()) return false;
    close(window);
    return true;
}

void Program::raise(Window& window, const std::string& source, Event event, EventArgs& args) {
    if (!window.alive() && event != Event::destroyed) return;
    Handler handler = window.handler(source, event);
    if (!handler) return;
    args.window = &window;
    args.source = source;
    args.event = event;
    try {
        handler(args);
    } catch (...) {
        report_error("handler " + window.id() + "/" + source + "/" + event_name(event) +
                     " failed: " + what_of(std::current_exception()));
    }
}

void Program::post_event(Window& window, const std::string& source, Event event, EventArgs args) {
    std::shared_ptr<Window> keep = owner_of(&window);
    if (!keep) return;
    post([this, keep, source, event, args = std::move(args)]() mutable {
        raise(*keep, source, event, args);
    });
}

bool Program::press_key(Window& window, const std::string& control, Key key, unsigned modifiers) {
    // A disabled control has no focus to take a key with.
    if (!control.empty() && window.has(control) && !window[control].enabled()) return false;
    std::string source = key_source(control, key, modifiers);
    if (!control.empty() && !window.has_handler(source, Event::key_pressed))
        source = key_source("", key, modifiers);
    if (!window.has_handler(source, Event::key_pressed)) return false;
    EventArgs args;
    args.key = key;
    args.modifiers = modifiers;
    post_event(window, source, Event::key_pressed, std::move(args));
    return true;
}

void Program::pump_events() {
    if (on_ui_thread()) backend_.pump();
}

void Program::popup_menu(Window& window, const std::string& menu, const std::string& anchor) {
    std::shared_ptr<Window> keep = owner_of(&window);
    if (!keep) return;
    if (!on_ui_thread()) {
        post([this, keep, menu, anchor] {
            if (keep->alive()) popup_menu(*keep, menu, anchor);
        });
        return;
    }
    if (const Menu* m = keep->menu(menu)) backend_.popup_menu(*this, keep, *m, anchor);
}

void Program::choose(Window& window, const std::string& menu, const std::string& item_key) {
    post_event(window, menu + "/" + item_key, Event::chosen);
}

int Program::message_box(const std::string& gbk_text, MessageButtons buttons) {
    int fallback = buttons == MessageButtons::ok ? kAnswerOk : kAnswerNo;
    return run_on_ui_and_wait([&] { return prompts_.message_box(gbk_text, buttons); }, fallback);
}

std::string Program::choose_folder(const std::string& gbk_title) {
    return run_on_ui_and_wait([&] { return prompts_.choose_folder(gbk_title); });
}

std::vector<std::string> Program::choose_files(const std::string& gbk_title,
                                               const std::string& filter,
                                               const std::string& initial_folder) {
    return run_on_ui_and_wait(
        [&] { return prompts_.choose_files(gbk_title, filter, initial_folder); });
}

bool Program::call_on_ui(const std::function<void()>& fn) {
    if (on_ui_thread()) {
        fn();
        return true;
    }
    auto state = std::make_shared<CallState>();
    backend_.post([this, state, &fn] {
        {
            std::lock_guard lock(state->mutex);
            if (state->abandoned) return;  // the caller has gone; fn is dangling
            state->started = true;
        }
        try {
            fn();
        } catch (...) {
            report_error("window-thread call failed: " + what_of(std::current_exception()));
        }
        {
            std::lock_guard lock(state->mutex);
            state->done = true;
        }
        state->cv.notify_all();
    });
    std::unique_lock lock(state->mutex);
    for (;;) {
        if (state->done) return true;
        if (!state->started && (stopping() || exiting())) {
            state->abandoned = true;
            return false;
        }
        // Bounded waits so a program that starts ending is noticed.
        state->cv.wait_for(lock, std::chrono::milliseconds(20));
    }
}

void Program::start_worker(std::function<void()> fn) {
    std::lock_guard lock(workers_mutex_);
    if (stopping()) return;
    // Finished threads are joined here so the list does not grow without end.
    for (auto it = workers_.begin(); it != workers_.end();) {
        if ((*it)->done.load()) {
            (*it)->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
    auto worker = std::make_unique<Worker>();
    Worker* w = worker.get();
    w->thread = std::thread([this, fn = std::move(fn), w] {
        try {
            fn();
        } catch (...) {
            report_error("worker failed: " + what_of(std::current_exception()));
        }
        w->done.store(true);
    });
    workers_.push_back(std::move(worker));
}

int Program::running_workers() const {
    std::lock_guard lock(workers_mutex_);
    return static_cast<int>(
        std::count_if(workers_.begin(), workers_.end(), [](auto& w) { return !w->done.load(); }));
}

bool Program::sleep_for(std::chrono::milliseconds duration) {
    std::unique_lock lock(stop_mutex_);
    return !stop_cv_.wait_for(lock, duration, [&] { return stopping(); });
}

void Program::exit(int code) {
    bool expected = false;
    if (exiting_.compare_exchange_strong(expected, true)) exit_code_.store(code);
    backend_.wake();
}

int Program::run() {
    backend_.run_until([&] { return exiting() || stopping(); });
    return exit_code();
}

void Program::shutdown() {
    {
        std::lock_guard lock(stop_mutex_);
        stopping_.store(true);
    }
    stop_cv_.notify_all();
    backend_.wake();
    std::vector<std::unique_ptr<Worker>> workers;
    {
        std::lock_guard lock(workers_mutex_);
        workers.swap(workers_);
    }
    for (auto& w : workers)
        if (w->thread.joinable()) {
            if (w->thread.get_id() == std::this_thread::get_id())
                w->thread.detach();
            else
                w->thread.join();
        }
    std::vector<Window*> windows;
    {
        std::lock_guard lock(records_mutex_);
        for (auto& r : records_) windows.push_back(r->window.get());
    }
    for (Window* w : windows) {
        w->set_alive(false);
        drop_record(w);
    }
}

}  // namespace qorvel::ui
