#include "ui/window.h"

#include <stdexcept>

#include "net/charset.h"

namespace qorvel::ui {

const char* event_name(Event event) {
    switch (event) {
    case Event::created: return "created";
    case Event::may_close: return "may_close";
    case Event::destroyed: return "destroyed";
    case Event::hidden: return "hidden";
    case Event::tray: return "tray";
    case Event::clicked: return "clicked";
    case Event::text_changed: return "text_changed";
    case Event::item_selected: return "item_selected";
    case Event::item_double_clicked: return "item_double_clicked";
    case Event::double_click: return "double_click";
    case Event::right_button: return "right_button";
    case Event::left_button: return "left_button";
    case Event::current_item_changed: return "current_item_changed";
    case Event::page_changed: return "page_changed";
    case Event::tick: return "tick";
    case Event::files_dropped: return "files_dropped";
    case Event::chosen: return "chosen";
    case Event::enter_pressed: return "enter_pressed";
    case Event::key_pressed: return "key_pressed";
    }
    return "?";
}

const char* key_name(Key key) {
    switch (key) {
    case Key::enter: return "Enter";
    case Key::del: return "Delete";
    case Key::f2: return "F2";
    case Key::f5: return "F5";
    case Key::f10: return "F10";
    case Key::menu: return "Menu";
    case Key::a: return "A";
    case Key::space: return "Space";
    case Key::r: return "R";
    }
    return "?";
}

std::string key_source(const std::string& control, Key key, unsigned modifiers) {
    std::string s = control + "|";
    if (modifiers & kCtrl) s += "Ctrl+";
    if (modifiers & kAlt) s += "Alt+";
    if (modifiers & kShift) s += "Shift+";
    return s + key_name(key);
}

Window::Window(std::string id, std::string caption, int width, int height)
    : id_(std::move(id)), width_(width), height_(height), caption_(std::move(caption)) {}

Window::~Window() = default;

Control& Window::add(const std::string& name, Kind kind, Rect rect) {
    if (by_name_.count(name)) throw std::logic_error("control added twice: " + name);
    controls_.push_back(std::make_unique<Control>(name, kind, rect));
    Control& c = *controls_.back();
    by_name_[name] = &c;
    return c;
}

bool Window::has(const std::string& name) const {
    return by_name_.count(name) != 0;
}

Control& Window::operator[](const std::string& name) const {
    auto it = by_name_.find(name);
    if (it == by_name_.end()) throw std::out_of_range("no control " + name + " in window " + id_);
    return *it->second;
}

std::vector<Control*> Window::controls() const {
    std::vector<Control*> out;
    for (auto& c : controls_) out.push_back(c.get());
    return out;
}

Menu& Window::add_menu(const std::string& name, const std::vector<std::string>& utf8_items) {
    Menu menu;
    menu.name = name;
    for (const auto& text : utf8_items) {
        MenuItem item;
        item.key = text;
        item.caption = text == "-" ? text : utf8_to_gbk(text);
        menu.items.push_back(std::move(item));
    }
    menus_.push_back(std::move(menu));
    return menus_.back();
}

const Menu* Window::menu(const std::string& name) const {
    for (const auto& m : menus_)
        if (m.name == name) return &m;
    return nullptr;
}

void Window::on(const std::string& name, Event event, Handler handler) {
    std::lock_guard lock(mutex_);
    handlers_[{name, event}] = std::move(handler);
}

void Window::on_chosen(const std::string& menu, const std::string& item, Handler handler) {
    on(menu + "/" + item, Event::chosen, std::move(handler));
}

Handler Window::handler(const std::string& source, Event event) const {
    std::lock_guard lock(mutex_);
    auto it = handlers_.find({source, event});
    return it == handlers_.end() ? Handler() : it->second;
}

bool Window::has_handler(const std::string& source, Event event) const {
    std::lock_guard lock(mutex_);
    return handlers_.count({source, event}) != 0;
}

std::string Window::caption() const {
    std::lock_guard lock(mutex_);
    return caption_;
}
void Window::set_caption(const std::string& gbk) {
    QV_CHANGE(
        kWindowCaption, if (caption_ != gbk) {
            caption_ = gbk;
            changed_ = true;
        });
}
bool Window::visible() const {
    std::lock_guard lock(mutex_);
    return visible_;
}
void Window::set_visible(bool on) {
    QV_CHANGE(
        kWindowVisible, if (visible_ != on) {
            visible_ = on;
            changed_ = true;
        });
}
bool Window::enabled() const {
    std::lock_guard lock(mutex_);
    return enabled_;
}
void Window::set_enabled(bool on) {
    QV_CHANGE(
        kWindowEnabled, if (enabled_ != on) {
            enabled_ = on;
            changed_ = true;
        });
}
int Window::position_state() const {
    std::lock_guard lock(mutex_);
    return position_state_;
}
void Window::set_position_state(int state) {
    // Reported every time: writing 1 again centres the window again.
    QV_CHANGE(kWindowPosition, {
        position_state_ = state;
        changed_ = true;
    });
}
bool Window::show_in_taskbar() const {
    std::lock_guard lock(mutex_);
    return taskbar_;
}
void Window::set_show_in_taskbar(bool on) {
    QV_CHANGE(
        kWindowTaskbar, if (taskbar_ != on) {
            taskbar_ = on;
            changed_ = true;
        });
}
std::string Window::icon() const {
    std::lock_guard lock(mutex_);
    return icon_;
}
void Window::set_icon(std::string bytes) {
    QV_CHANGE(kWindowIcon, {
        icon_ = std::move(bytes);
        changed_ = true;
    });
}
bool Window::tray_visible() const {
    std::lock_guard lock(mutex_);
    return tray_;
}
void Window::set_tray_visible(bool on) {
    QV_CHANGE(
        kWindowTray, if (tray_ != on) {
            tray_ = on;
            changed_ = true;
        });
}
std::string Window::tray_tooltip() const {
    std::lock_guard lock(mutex_);
    return tray_tooltip_;
}
void Window::set_tray_tooltip(const std::string& gbk) {
    QV_CHANGE(
        kWindowTrayText, if (tray_tooltip_ != gbk) {
            tray_tooltip_ = gbk;
            changed_ = true;
        });
}
TrayMessage Window::tray_message() const {
    std::lock_guard lock(mutex_);
    return tray_message_;
}
void Window::show_tray_message(const std::string& gbk_title, const std::string& gbk_text) {
    QV_CHANGE(kWindowTrayText, {
        tray_message_.title = gbk_title;
        tray_message_.text = gbk_text;
        ++tray_message_.serial;
        changed_ = true;
    });
}
bool Window::alive() const {
    std::lock_guard lock(mutex_);
    return alive_;
}
void Window::set_alive(bool on) {
    std::lock_guard lock(mutex_);
    alive_ = on;
}
bool Window::modal() const {
    std::lock_guard lock(mutex_);
    return modal_;
}
void Window::set_modal(bool on) {
    std::lock_guard lock(mutex_);
    modal_ = on;
}

#undef QV_CHANGE

int Window::observe(Observer observer) {
    return observers_.add(std::move(observer));
}
void Window::unobserve(int token) {
    observers_.remove(token);
}
void Window::notify(unsigned changes) {
    observers_.notify(*this, changes);
}

}  // namespace qorvel::ui
