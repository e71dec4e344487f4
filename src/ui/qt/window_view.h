// One engine window as a top-level widget. It follows the models through
// observers (writes from any thread arrive here as queued syncs) and turns
// user input into model changes first and events second.
#pragma once

#include <QPointer>
#include <QWidget>

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/program.h"
#include "ui/qt/window_layout.h"

class QSystemTrayIcon;
class QTimer;

namespace qorvel::ui::qt {

// Client area = outer size minus the frame a desktop of the original kind
// draws (borders and title bar), so the catalogue's outer sizes hold.
constexpr int kFrameWidth = 16;
constexpr int kFrameHeight = 39;

QString to_qt(const std::string& gbk);
std::string from_qt(const QString& text);

class WindowView : public QWidget {
    Q_OBJECT
  public:
    WindowView(Program& program, std::shared_ptr<Window> window);
    ~WindowView() override;

    Window& window() { return window_; }
    // The widget of a control (null for timers and drop targets).
    QWidget* widget(const std::string& name) const;
    // Stops following the models and stops turning input into events: no
    // filter, signal or queued sync of this view reaches the window after it.
    // The view is about to go.
    void detach();
    // A resizable window keeps its size, position and list column widths in
    // this section of the file: read now, written when it is hidden or closed.
    void remember_layout(const std::filesystem::path& file, const std::string& section);

    struct Binding {
        std::atomic<unsigned> dirty{0};
        QPointer<WindowView> view;
        Control* control = nullptr;
        int token = 0;
    };

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* make_widget(Control& c, QWidget* parent);
    void wire_input(Control& c, QWidget* w);
    void sync(Binding& b);
    void sync_all(Control& c);
    void sync_list_view(Control& c, QWidget* w);
    void sync_tree(Control& c, QWidget* w);
    void sync_pages(const std::string& tab);
    void sync_window(unsigned changes);
    void update_tray();
    void raise_later(const std::string& source, Event event, EventArgs args = {});
    bool page_shown(const Control& c) const;
    void find_anchors();
    QRect placed(const Control& c) const;
    void save_layout();

    Program& program_;
    std::shared_ptr<Window> owner_;  // keeps the models alive as long as the widgets
    Window& window_;
    std::map<std::string, QWidget*> widgets_;
    std::map<QObject*, std::string> names_;  // watched viewport or widget -> control
    std::vector<std::shared_ptr<Binding>> bindings_;
    int window_token_ = 0;
    std::shared_ptr<std::atomic<bool>> alive_;
    int syncing_ = 0;
    bool detached_ = false;
    QSystemTrayIcon* tray_ = nullptr;
    QTimer* tray_wait_ = nullptr;  // asks for a notification area until one starts
    int tray_message_shown_ = 0;   // serial of the last tray message shown
    QSize default_size_;           // the client area the catalogue places the controls in
    std::map<std::string, Anchor> anchors_;
    std::filesystem::path layout_file_;
    std::string layout_section_;
    bool position_kept_ = false;  // a remembered position: not centred when shown
    bool shown_ = false;
};

}  // namespace qorvel::ui::qt
