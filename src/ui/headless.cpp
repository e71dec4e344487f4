#include "ui/headless.h"

namespace qorvel::ui {

HeadlessBackend::HeadlessBackend(std::function<void(const std::string&)> on_error)
    : ui_thread_(std::this_thread::get_id()), on_error_(std::move(on_error)) {}

void HeadlessBackend::report_error(const std::string& what) {
    {
        std::lock_guard lock(mutex_);
        errors_.push_back(what);
    }
    if (on_error_)
        on_error_(what);
    else
        Backend::report_error(what);
}

std::vector<std::string> HeadlessBackend::errors() const {
    std::lock_guard lock(mutex_);
    return errors_;
}

void HeadlessBackend::set_ui_thread(std::thread::id id) {
    std::lock_guard lock(mutex_);
    ui_thread_ = id;
}

std::thread::id HeadlessBackend::ui_thread() const {
    std::lock_guard lock(mutex_);
    return ui_thread_;
}

void HeadlessBackend::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(task));
    }
    cv_.notify_all();
}

void HeadlessBackend::wake() {
    {
        std::lock_guard lock(mutex_);
        ++wakes_;
    }
    cv_.notify_all();
}

void HeadlessBackend::run_until(const std::function<bool()>& done) {
    while (!done()) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            unsigned seen = wakes_;
            // Bounded wait: done() may also turn true without a wake.
            cv_.wait_for(lock, std::chrono::milliseconds(20),
                         [&] { return !queue_.empty() || wakes_ != seen; });
            if (!queue_.empty()) {
                task = std::move(queue_.front());
                queue_.pop_front();
            }
        }
        if (task) task();
    }
}

void HeadlessBackend::pump() {
    pump_all();
}

int HeadlessBackend::pump_all(int limit) {
    int ran = 0;
    while (ran < limit) {
        std::function<void()> task;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) break;
            task = std::move(queue_.front());
            queue_.pop_front();
        }
        task();
        ++ran;
    }
    return ran;
}

int HeadlessBackend::start_timer(int interval_ms, std::function<void()> tick) {
    std::lock_guard lock(mutex_);
    int id = next_timer_++;
    timers_[id] = Timer{interval_ms, now_ + interval_ms, std::move(tick)};
    return id;
}

void HeadlessBackend::stop_timer(int id) {
    std::lock_guard lock(mutex_);
    timers_.erase(id);
}

void HeadlessBackend::advance(std::chrono::milliseconds step) {
    {
        std::lock_guard lock(mutex_);
        long long target = now_ + step.count();
        for (int guard = 0; guard < 100000; ++guard) {
            int due_id = 0;
            long long due = target + 1;
            for (auto& [id, t] : timers_)
                if (t.next_due <= target && t.next_due < due) {
                    due = t.next_due;
                    due_id = id;
                }
            if (!due_id) break;
            now_ = due;
            Timer& t = timers_[due_id];
            t.next_due += t.interval;
            // The tick runs only if the timer still exists when it comes up.
            queue_.push_back([this, due_id] {
                std::function<void()> tick;
                {
                    std::lock_guard inner(mutex_);
                    auto it = timers_.find(due_id);
                    if (it == timers_.end()) return;
                    tick = it->second.tick;
                }
                tick();
            });
        }
        now_ = target;
    }
    cv_.notify_all();
}

long long HeadlessBackend::now_ms() const {
    std::lock_guard lock(mutex_);
    return now_;
}

int HeadlessBackend::queued() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(queue_.size());
}

int HeadlessBackend::running_timers() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(timers_.size());
}

void HeadlessBackend::realize(Program&, const std::shared_ptr<Window>& window) {
    std::lock_guard lock(mutex_);
    realized_.push_back(window->id());
}

void HeadlessBackend::unrealize(Window& window) {
    std::lock_guard lock(mutex_);
    for (auto it = realized_.begin(); it != realized_.end(); ++it)
        if (*it == window.id()) {
            realized_.erase(it);
            break;
        }
}

void HeadlessBackend::popup_menu(Program&, const std::shared_ptr<Window>& window, const Menu& menu,
                                 const std::string& anchor) {
    Popup p;
    p.window = window->id();
    p.menu = menu.name;
    p.anchor = anchor;
    if (!anchor.empty() && window->has(anchor)) p.row = (*window)[anchor].current();
    for (const auto& item : menu.items)
        if (!item.hidden && !item.separator()) p.items.push_back(item.key);
    std::lock_guard lock(mutex_);
    popups_.push_back(std::move(p));
}

std::vector<HeadlessBackend::Popup> HeadlessBackend::popups() const {
    std::lock_guard lock(mutex_);
    return popups_;
}

std::vector<std::string> HeadlessBackend::realized() const {
    std::lock_guard lock(mutex_);
    return realized_;
}

void ScriptedPrompts::push_answer(int answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(answer);
}
void ScriptedPrompts::push_folder(std::string gbk_path) {
    std::lock_guard lock(mutex_);
    folders_.push_back(std::move(gbk_path));
}
void ScriptedPrompts::push_files(std::vector<std::string> gbk_paths) {
    std::lock_guard lock(mutex_);
    files_.push_back(std::move(gbk_paths));
}
void ScriptedPrompts::set_responder(std::function<int(const std::string&, MessageButtons)> r) {
    std::lock_guard lock(mutex_);
    responder_ = std::move(r);
}
std::vector<ScriptedPrompts::Asked> ScriptedPrompts::asked() const {
    std::lock_guard lock(mutex_);
    return asked_;
}
int ScriptedPrompts::asked_count() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(asked_.size());
}

int ScriptedPrompts::message_box(const std::string& text, MessageButtons buttons) {
    std::function<int(const std::string&, MessageButtons)> responder;
    int answer = buttons == MessageButtons::ok ? kAnswerOk : kAnswerNo;
    {
        std::lock_guard lock(mutex_);
        asked_.push_back({text, buttons});
        responder = responder_;
        if (!responder && !answers_.empty()) {
            answer = answers_.front();
            answers_.pop_front();
        }
    }
    if (responder) answer = responder(text, buttons);
    return answer;
}

std::string ScriptedPrompts::choose_folder(const std::string&) {
    std::lock_guard lock(mutex_);
    if (folders_.empty()) return {};
    std::string out = folders_.front();
    folders_.pop_front();
    return out;
}

std::vector<std::string> ScriptedPrompts::choose_files(const std::string&, const std::string&,
                                                       const std::string& initial_folder) {
    std::lock_guard lock(mutex_);
    files_folders_.push_back(initial_folder);
    if (files_.empty()) return {};
    auto out = files_.front();
    files_.pop_front();
    return out;
}

HeadlessRunner::HeadlessRunner(HeadlessBackend& backend, Program& program)
    : backend_(backend), program_(program) {
    thread_ = std::thread([this] {
        backend_.set_ui_thread(std::this_thread::get_id());
        {
            std::lock_guard lock(mutex_);
            started_ = true;
        }
        cv_.notify_all();
        program_.run();
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        cv_.notify_all();
    });
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return started_; });
}

HeadlessRunner::~HeadlessRunner() {
    program_.exit(-1);
    // A window thread stuck in a nested loop still returns: exit ends every loop.
    thread_.join();
    backend_.set_ui_thread(std::this_thread::get_id());
}

bool HeadlessRunner::wait_until(const std::function<bool()>& pred,
                                std::chrono::milliseconds timeout) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool HeadlessRunner::finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

bool HeadlessRunner::wait_finished(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] { return finished_; });
}

}  // namespace qorvel::ui
