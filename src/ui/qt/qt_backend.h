// The window engine shown with Qt 6 widgets. Create the QApplication first,
// then a QtBackend, a Program over it, and open windows as usual; run()
// drives Qt's event loop. Every widget's objectName is its control name.
#pragma once

#include <QObject>
#include <QPointer>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/prompts.h"
#include "ui/program.h"

class QEventLoop;
class QTimer;

namespace qorvel::ui::qt {

class WindowView;

class QtBackend : public QObject, public Backend {
    Q_OBJECT
  public:
    QtBackend();  // on the thread that owns the QApplication
    ~QtBackend() override;

    void post(std::function<void()> task) override;
    std::thread::id ui_thread() const override { return ui_thread_; }
    void run_until(const std::function<bool()>& done) override;
    void wake() override;
    void pump() override;
    int start_timer(int interval_ms, std::function<void()> tick) override;
    void stop_timer(int id) override;
    void realize(Program& program, const std::shared_ptr<Window>& window) override;
    void unrealize(Window& window) override;
    void popup_menu(Program& program, const std::shared_ptr<Window>& window, const Menu& menu,
                    const std::string& anchor) override;

    // The view of a live window (null when it has none).
    WindowView* view(const Window& window) const;
    // Whether a notification area exists; without one the tray icon is not shown.
    static bool tray_available();
    // A key sequence ("Ctrl+Shift+L") on the windows with this id chooses the
    // menu item, as the menu would; for choices that must not need the tray.
    void add_menu_shortcut(const std::string& window_id, const std::string& keys,
                           const std::string& menu, const std::string& item_key);

    // Windows with this id keep their size, position and column widths in
    // this section of the file (WindowView::remember_layout).
    void remember_layout(const std::string& window_id, const std::filesystem::path& file,
                         const std::string& section);

  private:
    struct Loop {
        QEventLoop* loop;
        const std::function<bool()>* done;
    };
    void check_loops();

    std::thread::id ui_thread_;
    std::vector<Loop> loops_;
    std::map<int, QTimer*> timers_;
    int next_timer_ = 1;
    std::map<const Window*, QPointer<WindowView>> views_;
    struct MenuShortcut {
        std::string window_id, keys, menu, item_key;
    };
    std::vector<MenuShortcut> menu_shortcuts_;
    struct LayoutFile {
        std::string window_id;
        std::filesystem::path file;
        std::string section;
    };
    std::vector<LayoutFile> layout_files_;
};

// Message boxes with the caption "信息：" and Qt's file dialogs.
class QtPrompts : public Prompts {
  public:
    int message_box(const std::string& text, MessageButtons buttons) override;
    std::string choose_folder(const std::string& title) override;
    std::vector<std::string> choose_files(const std::string& title, const std::string& filter,
                                          const std::string& initial_folder) override;
};

// Sets the clipboard text (UTF-8) on the window thread; callable from any thread.
std::function<void(const std::string& utf8)> clipboard_setter();

// Lets requests made on the window thread keep the windows responsive.
void install_web_pump(Program& program);

}  // namespace qorvel::ui::qt
