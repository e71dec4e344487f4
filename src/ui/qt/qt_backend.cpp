#include "ui/qt/qt_backend.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <filesystem>

#include "net/charset.h"
#include "net/web.h"
#include "ui/qt/window_view.h"

namespace qorvel::ui::qt {

QtBackend::QtBackend() : ui_thread_(std::this_thread::get_id()) {
    // The engine decides when the program ends, not the last closed window.
    QApplication::setQuitOnLastWindowClosed(false);
}

QtBackend::~QtBackend() {
    for (auto& [id, timer] : timers_) delete timer;
    for (auto& [w, view] : views_)
        if (view) {
            view->detach();
            delete view.data();
        }
}

void QtBackend::post(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void QtBackend::run_until(const std::function<bool()>& done) {
    if (done()) return;
    QEventLoop loop;
    loops_.push_back({&loop, &done});
    // A slow poll as well: done() may turn true without a wake().
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    poll.start(50);
    loop.exec();
    loops_.erase(std::remove_if(loops_.begin(), loops_.end(),
                                [&](const Loop& l) { return l.loop == &loop; }),
                 loops_.end());
}

void QtBackend::check_loops() {
    for (auto& l : loops_)
        if ((*l.done)()) l.loop->quit();
}

void QtBackend::wake() {
    QMetaObject::invokeMethod(
        this, [this] { check_loops(); }, Qt::QueuedConnection);
}

void QtBackend::pump() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

int QtBackend::start_timer(int interval_ms, std::function<void()> tick) {
    int id = next_timer_++;
    auto* timer = new QTimer(this);
    timer->setInterval(interval_ms);
    QObject::connect(timer, &QTimer::timeout, this, [tick = std::move(tick)] { tick(); });
    timer->start();
    timers_[id] = timer;
    return id;
}

void QtBackend::stop_timer(int id) {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    it->second->stop();
    it->second->deleteLater();
    timers_.erase(it);
}

void QtBackend::realize(Program& program, const std::shared_ptr<Window>& window) {
    auto* view = new WindowView(program, window);
    views_[window.get()] = view;
    for (const LayoutFile& l : layout_files_)
        if (l.window_id == window->id()) view->remember_layout(l.file, l.section);
    for (const MenuShortcut& m : menu_shortcuts_) {
        if (m.window_id != window->id()) continue;
        auto* shortcut = new QShortcut(QKeySequence(QString::fromStdString(m.keys)), view);
        std::weak_ptr<Window> weak = window;
        Program* p = &program;
        QObject::connect(shortcut, &QShortcut::activated, view, [p, weak, m] {
            if (auto w = weak.lock(); w && w->alive()) p->choose(*w, m.menu, m.item_key);
        });
    }
}

void QtBackend::add_menu_shortcut(const std::string& window_id, const std::string& keys,
                                  const std::string& menu, const std::string& item_key) {
    menu_shortcuts_.push_back({window_id, keys, menu, item_key});
}

void QtBackend::remember_layout(const std::string& window_id, const std::filesystem::path& file,
                                const std::string& section) {
    layout_files_.push_back({window_id, file, section});
}

void QtBackend::unrealize(Window& window) {
    auto it = views_.find(&window);
    if (it == views_.end()) return;
    if (WindowView* view = it->second) {
        view->detach();
        view->hide();
        view->deleteLater();  // we may be inside one of its own signals
    }
    views_.erase(it);
}

WindowView* QtBackend::view(const Window& window) const {
    auto it = views_.find(&window);
    return it == views_.end() ? nullptr : it->second.data();
}

bool QtBackend::tray_available() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

namespace {
void add_items(QMenu* menu, const std::vector<MenuItem>& items, Program& program,
               const std::weak_ptr<Window>& window, const std::string& menu_name) {
    for (const MenuItem& item : items) {
        if (item.hidden) continue;
        if (item.separator()) {
            menu->addSeparator();
            continue;
        }
        if (!item.items.empty()) {
            QMenu* sub = menu->addMenu(to_qt(item.caption));
            add_items(sub, item.items, program, window, menu_name);
            continue;
        }
        QAction* action = menu->addAction(to_qt(item.caption));
        action->setObjectName(QString::fromStdString(item.key));
        action->setEnabled(!item.disabled);
        if (item.checked) {
            action->setCheckable(true);
            action->setChecked(true);
        }
        std::string key = item.key;
        // A menu can outlive its window (it is open while the window closes).
        QObject::connect(action, &QAction::triggered, menu, [&program, window, menu_name, key] {
            if (auto w = window.lock(); w && w->alive()) program.choose(*w, menu_name, key);
        });
    }
}
}  // namespace

namespace {

// Under the current row of a list or tree, else at the widget's middle: a menu
// opened from the keyboard belongs where the focus is, not where the mouse is.
QPoint anchor_point(QWidget* anchor) {
    if (auto* t = qobject_cast<QTreeWidget*>(anchor)) {
        QRect r = t->currentItem() ? t->visualItemRect(t->currentItem()) : QRect();
        if (r.isValid() && t->viewport()->rect().intersects(r))
            return t->viewport()->mapToGlobal(r.bottomLeft());
    }
    return anchor->mapToGlobal(anchor->rect().center());
}

}  // namespace

void QtBackend::popup_menu(Program& program, const std::shared_ptr<Window>& window,
                           const Menu& menu, const std::string& anchor) {
    // Not exec(): the handler that pops the menu returns, a choice arrives as an event.
    WindowView* owner = view(*window);
    auto* popup = new QMenu(owner);
    popup->setObjectName(QString::fromStdString(menu.name));
    popup->setAttribute(Qt::WA_DeleteOnClose);
    add_items(popup, menu.items, program, window, menu.name);
    QWidget* at = owner && !anchor.empty() ? owner->widget(anchor) : nullptr;
    popup->popup(at ? anchor_point(at) : QCursor::pos());
}

int QtPrompts::message_box(const std::string& text, MessageButtons buttons) {
    QMessageBox box(
        QMessageBox::NoIcon, QStringLiteral("信息："), to_qt(text),
        buttons == MessageButtons::yes_no ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok);
    box.setObjectName("message_box");
    box.setWindowModality(Qt::ApplicationModal);
    int result = box.exec();
    if (buttons == MessageButtons::ok) return kAnswerOk;
    return result == QMessageBox::Yes ? kAnswerYes : kAnswerNo;
}

std::string QtPrompts::choose_folder(const std::string& title) {
    // Opens at the user's home, as the desktop's own chooser does, not in whatever folder
    // the program was started from.
    QString dir = QFileDialog::getExistingDirectory(nullptr, to_qt(title), QDir::homePath());
    if (dir.isEmpty()) return {};
    return path_to_text(std::filesystem::path(dir.toStdString()));
}

std::vector<std::string> QtPrompts::choose_files(const std::string& title,
                                                 const std::string& filter,
                                                 const std::string& initial_folder) {
    // "description|pattern|description|pattern" becomes Qt's "description (pattern);;...".
    QStringList parts = to_qt(filter).split('|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        filters << parts[i] + " (" + QString(parts[i + 1]).replace(';', ' ') + ")";
    QString start = initial_folder.empty()
                        ? QDir::homePath()
                        : QString::fromStdString(text_to_path(initial_folder).string());
    QStringList files =
        QFileDialog::getOpenFileNames(nullptr, to_qt(title), start, filters.join(";;"));
    std::vector<std::string> out;
    for (const QString& f : files)
        out.push_back(path_to_text(std::filesystem::path(f.toStdString())));
    return out;
}

std::function<void(const std::string&)> clipboard_setter() {
    return [](const std::string& utf8) {
        QString text = QString::fromStdString(utf8);
        QMetaObject::invokeMethod(
            qApp, [text] { QGuiApplication::clipboard()->setText(text); }, Qt::QueuedConnection);
    };
}

void install_web_pump(Program& program) {
    WebSession::process().set_ui_pump([&program] { program.pump_events(); },
                                      program.backend().ui_thread());
}

}  // namespace qorvel::ui::qt
