// A window: its frame properties, its named controls, its pop-up menus and
// the handlers wired to its events. Controls and menus are added while the
// window is built (one thread); after that, properties may be read and written
// from any thread, and handlers run on the window thread only.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ui/control.h"
#include "ui/observers.h"

namespace qorvel::ui {

class Program;
class Window;

enum class Event {
    created,               // window, after its controls exist, before it is first shown
    may_close,             // window, on a close request; args.allow answers
    destroyed,             // window, about to be destroyed
    hidden,                // window, when it becomes invisible
    tray,                  // window, tray icon mouse action; args.kind 1, 2 or 3
    clicked,               // button, check box
    text_changed,          // edit box (typed by the user)
    item_selected,         // drop-down list, list box
    item_double_clicked,   // list box
    double_click,          // list view
    right_button,          // list view, list box, tree view
    left_button,           // label, link label, picture box
    current_item_changed,  // tree view
    page_changed,          // tab control, when the user switches pages
    tick,                  // timer
    files_dropped,         // drop target; args.files
    chosen,                // menu item; source is "menu/item"
    enter_pressed,         // one-line edit box, Enter or Return
    key_pressed,           // a command key on a control or the window; source from key_source()
};

const char* event_name(Event event);

// The keys windows act on; a toolkit reports only these, so typing stays its own.
enum class Key { enter, del, f2, f5, f10, menu, a, space, r };
enum KeyModifier : unsigned { kNoModifiers = 0, kShift = 1u << 0, kCtrl = 1u << 1, kAlt = 1u << 2 };
const char* key_name(Key key);
// The source a key press is raised on, e.g. "超级列表框1|Ctrl+A"; control "" is the window.
std::string key_source(const std::string& control, Key key, unsigned modifiers = kNoModifiers);

struct EventArgs {
    Window* window = nullptr;
    std::string source;  // control name, "" for the window, "menu/item" for menus
    Event event = Event::created;
    int kind = 0;                    // tray event kind
    std::vector<std::string> files;  // dropped paths, GBK
    bool allow = true;               // may_close: set false to refuse
    Key key = Key::enter;            // key_pressed
    unsigned modifiers = kNoModifiers;
};

using Handler = std::function<void(EventArgs&)>;

struct MenuItem {
    std::string key;      // UTF-8 identifier used to wire the handler (the caption as written)
    std::string caption;  // GBK; "-" is a separator
    bool hidden = false;
    bool disabled = false;
    bool checked = false;
    std::vector<MenuItem> items;  // sub-menu
    bool separator() const { return caption == "-"; }
};

struct Menu {
    std::string name;  // UTF-8, e.g. "菜单"
    std::vector<MenuItem> items;
};

// Bits handed to window observers.
enum WindowChange : unsigned {
    kWindowVisible = 1u << 0,
    kWindowPosition = 1u << 1,  // position state written
    kWindowTaskbar = 1u << 2,
    kWindowCaption = 1u << 3,
    kWindowIcon = 1u << 4,
    kWindowTray = 1u << 5,
    kWindowEnabled = 1u << 6,
    kWindowTrayText = 1u << 7,  // the tray icon's tooltip or a new tray message
};

// A message shown by the tray icon; serial grows with each one (0: none yet).
struct TrayMessage {
    std::string title;  // GBK
    std::string text;   // GBK
    int serial = 0;
};

class Window {
  public:
    using Observer = std::function<void(Window&, unsigned changes)>;

    // id: a short identifier ("main", "login"...); caption GBK; outer size in pixels.
    Window(std::string id, std::string caption, int width, int height);
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    ~Window();

    const std::string& id() const { return id_; }
    int width() const { return width_; }
    int height() const { return height_; }

    // Frame style, set while building.
    bool close_on_escape() const { return close_on_escape_; }
    void set_close_on_escape(bool on) { close_on_escape_ = on; }
    bool fixed_size() const { return fixed_size_; }
    void set_fixed_size(bool on) { fixed_size_ = on; }
    bool modal() const;  // set by Program::open

    // Controls. add() keeps the build order (the toolkit creates them in it).
    Control& add(const std::string& name, Kind kind, Rect rect = {});
    bool has(const std::string& name) const;
    // Throws std::out_of_range naming the control when it does not exist.
    Control& operator[](const std::string& name) const;
    Control& control(const std::string& name) const { return (*this)[name]; }
    std::vector<Control*> controls() const;

    // Pop-up menus, kept hidden; items in display order.
    Menu& add_menu(const std::string& name, const std::vector<std::string>& utf8_items);
    const Menu* menu(const std::string& name) const;
    const std::vector<Menu>& menus() const { return menus_; }

    // Handlers. name "" is the window itself; one handler per (source, event).
    void on(const std::string& name, Event event, Handler handler);
    void on_window(Event event, Handler handler) { on("", event, std::move(handler)); }
    void on_chosen(const std::string& menu, const std::string& item, Handler handler);
    // A key pressed while the control ("" the window) has the focus.
    void on_key(const std::string& control, Key key, unsigned modifiers, Handler handler) {
        on(key_source(control, key, modifiers), Event::key_pressed, std::move(handler));
    }
    Handler handler(const std::string& source, Event event) const;
    bool has_handler(const std::string& source, Event event) const;

    // Window properties; safe from any thread.
    std::string caption() const;
    void set_caption(const std::string& gbk);
    bool visible() const;
    void set_visible(bool on);
    bool enabled() const;
    void set_enabled(bool on);
    // 0 normal, 1 centred, 2 minimised, 3 maximised; applied when the window is shown.
    int position_state() const;
    void set_position_state(int state);
    bool show_in_taskbar() const;
    void set_show_in_taskbar(bool on);
    std::string icon() const;
    void set_icon(std::string bytes);
    // The tray icon belongs to the window that sets it (the main window).
    bool tray_visible() const;
    void set_tray_visible(bool on);
    // The tray icon's tooltip (GBK).
    std::string tray_tooltip() const;
    void set_tray_tooltip(const std::string& gbk);
    // Shows a message at the tray icon (a balloon where the tray draws one),
    // once per call; the last one is kept.
    TrayMessage tray_message() const;
    void show_tray_message(const std::string& gbk_title, const std::string& gbk_text);

    // True from Program::create until the window is destroyed.
    bool alive() const;

    int observe(Observer observer);
    void unobserve(int token);

  private:
    friend class Program;
    void notify(unsigned changes);
    void set_alive(bool on);
    void set_modal(bool on);

    const std::string id_;
    const int width_, height_;
    bool close_on_escape_ = true;
    bool fixed_size_ = true;

    std::vector<std::unique_ptr<Control>> controls_;
    std::map<std::string, Control*> by_name_;
    std::vector<Menu> menus_;

    mutable std::mutex mutex_;
    std::map<std::pair<std::string, Event>, Handler> handlers_;
    std::string caption_;
    bool visible_ = false;
    bool enabled_ = true;
    int position_state_ = 1;
    bool taskbar_ = true;
    std::string icon_;
    bool tray_ = false;
    std::string tray_tooltip_;
    TrayMessage tray_message_;
    bool alive_ = false;
    bool modal_ = false;

    ObserverList<Window> observers_;
};

}  // namespace qorvel::ui
