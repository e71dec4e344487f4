#include "ui/qt/window_view.h"

#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTextCursor>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QUrl>

#include <filesystem>

#include "net/charset.h"
#include "platform/ini_file.h"
#include "ui/qt/list_view_sync.h"
#include "ui/qt/qt_backend.h"
#include "ui/qt/web_view_loader.h"

namespace qorvel::ui::qt {

QString to_qt(const std::string& gbk) {
    return QString::fromStdString(gbk_to_utf8(gbk));
}
std::string from_qt(const QString& text) {
    return utf8_to_gbk(text.toStdString());
}

namespace {
constexpr int kIdRole = Qt::UserRole + 1;

// The engine's command keys; false for every other key.
bool command_key(const QKeyEvent* e, Key& key, unsigned& modifiers) {
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: key = Key::enter; break;
    case Qt::Key_Delete: key = Key::del; break;
    case Qt::Key_F2: key = Key::f2; break;
    case Qt::Key_F5: key = Key::f5; break;
    case Qt::Key_F10: key = Key::f10; break;
    case Qt::Key_Menu: key = Key::menu; break;
    case Qt::Key_A: key = Key::a; break;
    case Qt::Key_Space: key = Key::space; break;
    case Qt::Key_R: key = Key::r; break;
    default: return false;
    }
    modifiers = kNoModifiers;
    if (e->modifiers() & Qt::ShiftModifier) modifiers |= kShift;
    if (e->modifiers() & Qt::ControlModifier) modifiers |= kCtrl;
    if (e->modifiers() & Qt::AltModifier) modifiers |= kAlt;
    return true;
}

// The caption a label, check box or button was given; what it shows may be
// shortened.
constexpr const char* kCaption = "qorvel_caption";

int caption_width(const QString& text, const QFont& font) {
    return QFontMetrics(font).horizontalAdvance(text);
}

// The width a control leaves its caption: a check box's indicator and a
// button's frame and icon take the rest.
int caption_room(QWidget* w) {
    QStyle* s = w->style();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->contentsRect().width() - 2 * l->margin();
    if (auto* c = qobject_cast<QCheckBox*>(w)) {
        const int extra =
            c->sizeHint().width() - QFontMetrics(c->font()).horizontalAdvance(c->text());
        return c->width() - extra;
    }
    if (auto* b = qobject_cast<QPushButton*>(w)) {
        int room = b->width() - s->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b) -
                   2 * s->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b);
        if (!b->icon().isNull()) room -= b->iconSize().width() + 4;
        return room;
    }
    return w->width();
}

// The catalogue's boxes were measured for one desktop font; where a caption
// is wider in ours, the control's font shrinks a little (never below 80%),
// and a label that still has no room shows the start and the whole text as
// its tooltip (labels show data: file names, states).
void fit_caption(QWidget* w) {
    const QVariant caption = w->property(kCaption);
    if (!caption.isValid()) return;
    const QString text = caption.toString();
    auto* label = qobject_cast<QLabel*>(w);
    w->setFont(QFont());  // the inherited font first
    if (!text.isEmpty() && !text.contains('\n')) {
        const int room = caption_room(w);
        const QFont base = w->font();
        QFont font = base;
        for (int step = 1; step <= 4 && caption_width(text, font) > room; ++step) {
            font = base;
            if (base.pointSizeF() > 0)
                font.setPointSizeF(base.pointSizeF() * (1.0 - 0.05 * step));
            else
                font.setPixelSize(static_cast<int>(base.pixelSize() * (1.0 - 0.05 * step)));
        }
        if (font != base) w->setFont(font);
        if (label) {
            const bool fits = caption_width(text, font) <= room;
            const QString shown =
                fits ? text : QFontMetrics(font).elidedText(text, Qt::ElideRight, room);
            if (label->text() != shown) label->setText(shown);
            label->setToolTip(fits ? QString() : text);
            return;
        }
    }
    if (label && label->text() != text) label->setText(text);
    if (label) label->setToolTip(QString());
}

}  // namespace

WindowView::WindowView(Program& program, std::shared_ptr<Window> owner)
    : QWidget(nullptr),
      program_(program),
      owner_(std::move(owner)),
      window_(*owner_),
      alive_(std::make_shared<std::atomic<bool>>(true)) {
    Window& window = window_;
    setObjectName(QString::fromStdString(window.id()));
    setAttribute(Qt::WA_QuitOnClose, false);
    Qt::WindowFlags flags =
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    if (window.fixed_size())
        flags |= Qt::MSWindowsFixedSizeDialogHint;
    else
        flags |= Qt::WindowMaximizeButtonHint;
    setWindowFlags(flags);
    default_size_ = QSize(window.width() - kFrameWidth, window.height() - kFrameHeight);
    if (window.fixed_size()) {
        setFixedSize(default_size_);
    } else {
        // Smaller than the catalogue's size the controls would overlap.
        setMinimumSize(default_size_);
        resize(default_size_);
    }
    setWindowTitle(to_qt(window.caption()));
    if (window.modal()) setWindowModality(Qt::ApplicationModal);

    // Controls in build order: parents come before their children.
    for (Control* c : window.controls()) {
        QWidget* parent = this;
        if (!c->parent().empty()) {
            auto it = widgets_.find(c->parent());
            if (it != widgets_.end()) parent = it->second;
        }
        QWidget* w = make_widget(*c, parent);
        if (!w) continue;
        w->setObjectName(QString::fromStdString(c->name()));
        widgets_[c->name()] = w;
        w->raise();  // above a tab control's page stack
        wire_input(*c, w);
    }
    if (!window.fixed_size()) find_anchors();
    for (Control* c : window.controls()) sync_all(*c);

    for (Control* c : window.controls()) {
        auto b = std::make_shared<Binding>();
        b->view = this;
        b->control = c;
        std::weak_ptr<Binding> weak = b;
        b->token = c->observe([weak](Control&, unsigned changes) {
            auto binding = weak.lock();
            if (!binding) return;
            // Only the first change since the last sync posts; the rest ride along.
            if (binding->dirty.fetch_or(changes) != 0) return;
            QMetaObject::invokeMethod(
                qApp,
                [binding] {
                    if (binding->view) binding->view->sync(*binding);
                },
                Qt::QueuedConnection);
        });
        bindings_.push_back(b);
    }
    auto alive = alive_;
    QPointer<WindowView> self = this;
    window_token_ = window.observe([alive, self](Window&, unsigned changes) {
        if (!alive->load()) return;
        QMetaObject::invokeMethod(
            qApp,
            [self, changes] {
                if (self) self->sync_window(changes);
            },
            Qt::QueuedConnection);
    });
}

WindowView::~WindowView() {
    detach();
    // Children go now, while the window they were built for is still held
    // (members are released before the base class deletes them).
    widgets_.clear();
    const QObjectList kids = children();
    for (QObject* kid : kids) delete kid;
    tray_ = nullptr;
}

void WindowView::detach() {
    if (detached_) return;
    if (isVisible()) save_layout();
    detached_ = true;
    alive_->store(false);
    window_.unobserve(window_token_);
    for (auto& b : bindings_) {
        b->control->unobserve(b->token);
        b->view = nullptr;
    }
    bindings_.clear();
    // Input already queued for the widgets must find no filter and no slot.
    for (auto& [watched, name] : names_) {
        watched->removeEventFilter(this);
        QObject::disconnect(watched, nullptr, this, nullptr);
    }
    names_.clear();
    setAcceptDrops(false);
    if (tray_wait_) tray_wait_->stop();
    if (tray_) {
        tray_->hide();
        QObject::disconnect(tray_, nullptr, this, nullptr);
    }
}

QWidget* WindowView::widget(const std::string& name) const {
    auto it = widgets_.find(name);
    return it == widgets_.end() ? nullptr : it->second;
}

QWidget* WindowView::make_widget(Control& c, QWidget* parent) {
    switch (c.kind()) {
    case Kind::button: {
        auto* b = new QPushButton(parent);
        if (c.hand_cursor()) b->setCursor(Qt::PointingHandCursor);
        if (c.picture() == "icon:folder") b->setIcon(b->style()->standardIcon(QStyle::SP_DirIcon));
        return b;
    }
    case Kind::label:
    case Kind::picture: return new QLabel(parent);
    case Kind::transparent_label: {
        auto* l = new QLabel(parent);
        // Lies over the upload list: the list keeps its mouse.
        l->setAttribute(Qt::WA_TransparentForMouseEvents);
        l->setAlignment(Qt::AlignCenter);
        return l;
    }
    case Kind::link: {
        auto* l = new QLabel(parent);
        l->setStyleSheet("color: #0645ad; text-decoration: underline;");
        l->setCursor(Qt::PointingHandCursor);
        return l;
    }
    case Kind::edit:
        if (c.multiline()) {
            auto* e = new QPlainTextEdit(parent);
            e->setReadOnly(c.read_only());
            e->setVerticalScrollBarPolicy(c.vertical_scroll() ? Qt::ScrollBarAlwaysOn
                                                              : Qt::ScrollBarAsNeeded);
            return e;
        } else {
            auto* e = new QLineEdit(parent);
            e->setReadOnly(c.read_only());
            if (c.masked()) {
                e->setEchoMode(QLineEdit::Password);
                e->setStyleSheet("lineedit-password-character: 42;");  // "*"
            }
            return e;
        }
    case Kind::check: return new QCheckBox(parent);
    case Kind::combo: return new QComboBox(parent);
    case Kind::list_box: return new QListWidget(parent);
    case Kind::list_view: {
        auto* t = new QTreeWidget(parent);
        t->setRootIsDecorated(false);
        t->setUniformRowHeights(true);
        t->setAllColumnsShowFocus(true);
        t->setSelectionMode(c.multi_select() ? QAbstractItemView::ExtendedSelection
                                             : QAbstractItemView::SingleSelection);
        t->header()->setStretchLastSection(false);
        t->header()->setSectionResizeMode(QHeaderView::Interactive);
        return t;
    }
    case Kind::tree: {
        auto* t = new QTreeWidget(parent);
        t->setHeaderHidden(true);
        return t;
    }
    case Kind::tab: {
        auto* t = new QTabWidget(parent);
        for (int i = 0; i < c.page_count(); ++i) t->addTab(new QWidget(), to_qt(c.page_title(i)));
        return t;
    }
    case Kind::progress: {
        auto* p = new QProgressBar(parent);
        p->setRange(0, 100);
        p->setTextVisible(false);
        return p;
    }
    case Kind::frame: {
        auto* f = new QFrame(parent);
        f->setFrameShape(QFrame::Box);
        return f;
    }
    case Kind::group: return new QGroupBox(parent);
    case Kind::web_view: {
        return create_web_view(parent);
    }
    case Kind::timer:
    case Kind::drop_target: return nullptr;
    }
    return nullptr;
}

void WindowView::raise_later(const std::string& source, Event event, EventArgs args) {
    if (detached_) return;
    program_.post_event(window_, source, event, std::move(args));
}

void WindowView::wire_input(Control& c, QWidget* w) {
    const std::string name = c.name();
    Control* model = &c;
    names_[w] = name;
    switch (c.kind()) {
    case Kind::button:
        connect(static_cast<QPushButton*>(w), &QPushButton::clicked, this,
                [this, name] { raise_later(name, Event::clicked); });
        break;
    case Kind::check:
        connect(static_cast<QCheckBox*>(w), &QCheckBox::clicked, this,
                [this, name, model](bool on) {
                    model->set_checked(on);
                    raise_later(name, Event::clicked);
                });
        break;
    case Kind::label:
    case Kind::link:
    case Kind::picture: w->installEventFilter(this); break;
    case Kind::edit:
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            connect(e, &QLineEdit::textEdited, this, [this, name, model](const QString& text) {
                model->set_text(from_qt(text));
                raise_later(name, Event::text_changed);
            });
            connect(e, &QLineEdit::returnPressed, this,
                    [this, name] { raise_later(name, Event::enter_pressed); });
        } else if (auto* p = qobject_cast<QPlainTextEdit*>(w)) {
            connect(p, &QPlainTextEdit::textChanged, this, [this, name, model, p] {
                if (syncing_) return;
                model->set_text(from_qt(p->toPlainText()));
                raise_later(name, Event::text_changed);
            });
        }
        break;
    case Kind::combo:
        connect(static_cast<QComboBox*>(w), &QComboBox::activated, this,
                [this, name, model](int i) {
                    model->set_current(i);
                    raise_later(name, Event::item_selected);
                });
        break;
    case Kind::list_box: {
        auto* l = static_cast<QListWidget*>(w);
        names_[l->viewport()] = name;
        l->viewport()->installEventFilter(this);
        connect(l, &QListWidget::currentRowChanged, this, [this, name, model](int row) {
            if (syncing_) return;
            model->set_current(row);
            raise_later(name, Event::item_selected);
        });
        connect(l, &QListWidget::itemDoubleClicked, this,
                [this, name] { raise_later(name, Event::item_double_clicked); });
        break;
    }
    case Kind::list_view: {
        auto* t = static_cast<QTreeWidget*>(w);
        names_[t->viewport()] = name;
        t->viewport()->installEventFilter(this);
        t->installEventFilter(this);  // command keys
        connect(t, &QTreeWidget::itemSelectionChanged, this, [this, t, model] {
            if (syncing_) return;
            std::vector<int> selected;
            for (auto* item : t->selectedItems()) selected.push_back(t->indexOfTopLevelItem(item));
            int current = t->currentItem() ? t->indexOfTopLevelItem(t->currentItem()) : -1;
            model->set_selection(selected, current);
        });
        break;
    }
    case Kind::tree: {
        auto* t = static_cast<QTreeWidget*>(w);
        names_[t->viewport()] = name;
        t->viewport()->installEventFilter(this);
        t->installEventFilter(this);  // command keys
        connect(t, &QTreeWidget::currentItemChanged, this,
                [this, name, model](QTreeWidgetItem* item, QTreeWidgetItem*) {
                    if (syncing_) return;
                    model->set_current(item ? item->data(0, kIdRole).toInt() : -1);
                    raise_later(name, Event::current_item_changed);
                });
        connect(t, &QTreeWidget::itemExpanded, this, [this, model](QTreeWidgetItem* item) {
            if (!syncing_) model->expand(item->data(0, kIdRole).toInt(), true);
        });
        connect(t, &QTreeWidget::itemCollapsed, this, [this, model](QTreeWidgetItem* item) {
            if (!syncing_) model->expand(item->data(0, kIdRole).toInt(), false);
        });
        break;
    }
    case Kind::tab:
        connect(static_cast<QTabWidget*>(w), &QTabWidget::currentChanged, this,
                [this, name, model](int page) {
                    if (syncing_) return;
                    model->set_current(page);
                    sync_pages(name);
                    raise_later(name, Event::page_changed);
                });
        break;
    default: break;
    }
}

bool WindowView::eventFilter(QObject* watched, QEvent* event) {
    if (detached_) return QWidget::eventFilter(watched, event);
    auto it = names_.find(watched);
    if (it == names_.end() || !window_.has(it->second)) return QWidget::eventFilter(watched, event);
    const std::string& name = it->second;
    Kind kind = window_[name].kind();
    if (event->type() == QEvent::KeyPress) {
        // Handled keys are the engine's; the rest keep the widget's own meaning.
        Key key;
        unsigned modifiers = 0;
        if (command_key(static_cast<QKeyEvent*>(event), key, modifiers) &&
            program_.press_key(window_, name, key, modifiers))
            return true;
    } else if (event->type() == QEvent::ToolTip && kind == Kind::list_view &&
               !qobject_cast<QAbstractScrollArea*>(watched)) {
        auto* t = static_cast<QTreeWidget*>(widget(name));
        auto* help = static_cast<QHelpEvent*>(event);
        QString tip = cell_tooltip(t, t->indexAt(help->pos()));
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, t->viewport());
        return true;
    } else if (qobject_cast<QAbstractScrollArea*>(watched)) {
        // A list or tree itself is watched for keys only; its mouse events come
        // through its viewport, so they must not count twice.
    } else if (event->type() == QEvent::MouseButtonPress) {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::RightButton &&
            (kind == Kind::list_view || kind == Kind::list_box || kind == Kind::tree)) {
            // Posted: the toolkit first moves the selection under the mouse.
            raise_later(name, Event::right_button);
        } else if (me->button() == Qt::LeftButton &&
                   (kind == Kind::label || kind == Kind::link || kind == Kind::picture)) {
            raise_later(name, Event::left_button);
        }
    } else if (event->type() == QEvent::MouseButtonDblClick && kind == Kind::list_view) {
        raise_later(name, Event::double_click);
    }
    return QWidget::eventFilter(watched, event);
}

bool WindowView::page_shown(const Control& c) const {
    if (c.parent().empty() || !window_.has(c.parent())) return true;
    const Control& parent = window_[c.parent()];
    if (parent.kind() != Kind::tab) return true;
    return parent.current() == c.page();
}

void WindowView::sync_pages(const std::string& tab) {
    for (Control* c : window_.controls()) {
        if (c->parent() != tab) continue;
        if (QWidget* w = widget(c->name())) w->setVisible(c->visible() && page_shown(*c));
    }
}

void WindowView::sync(Binding& b) {
    unsigned bits = b.dirty.exchange(0);
    if (!bits || detached_) return;
    Control& c = *b.control;
    QWidget* w = widget(c.name());
    ++syncing_;
    if (w) {
        if (bits & kShape) {
            w->setGeometry(placed(c));
            w->setEnabled(c.enabled());
            w->setVisible(c.visible() && page_shown(c));
        }
        if (bits & kText) {
            QString text = to_qt(c.text());
            if (auto* x = qobject_cast<QPushButton*>(w)) {
                x->setText(text);
                x->setProperty(kCaption, text);
            } else if (auto* x = qobject_cast<QCheckBox*>(w)) {
                x->setText(text);
                x->setProperty(kCaption, text);
            } else if (qobject_cast<QLabel*>(w)) {
                w->setProperty(kCaption, text);
            } else if (auto* x = qobject_cast<QGroupBox*>(w))
                x->setTitle(text);
            else if (auto* x = qobject_cast<QLineEdit*>(w)) {
                if (x->text() != text) x->setText(text);
            } else if (auto* x = qobject_cast<QPlainTextEdit*>(w)) {
                QString before = x->toPlainText();
                if (before != text) {
                    // A shown log that grew shows its newest line; a new text, and the
                    // text a window opens with, start at the top.
                    if (text.startsWith(before) && (!before.isEmpty() || x->isVisible())) {
                        QTextCursor end(x->document());
                        end.movePosition(QTextCursor::End);
                        end.insertText(text.mid(before.size()));
                        x->verticalScrollBar()->setValue(x->verticalScrollBar()->maximum());
                    } else {
                        x->setPlainText(text);
                        x->verticalScrollBar()->setValue(0);
                    }
                }
            }
        }
        if (bits & (kShape | kText)) fit_caption(w);
        if (bits & kChecked)
            if (auto* x = qobject_cast<QCheckBox*>(w)) x->setChecked(c.checked());
        if (bits & (kItems | kCurrent)) {
            switch (c.kind()) {
            case Kind::combo: {
                auto* x = static_cast<QComboBox*>(w);
                auto items = c.items();
                bool same = x->count() == static_cast<int>(items.size());
                for (int i = 0; same && i < x->count(); ++i)
                    same = x->itemText(i) == to_qt(items[i].text);
                if (!same) {
                    x->clear();
                    for (auto& item : items) x->addItem(to_qt(item.text));
                }
                x->setCurrentIndex(c.current());
                break;
            }
            case Kind::list_box: {
                auto* x = static_cast<QListWidget*>(w);
                auto items = c.items();
                while (x->count() > static_cast<int>(items.size()))
                    delete x->takeItem(x->count() - 1);
                for (size_t i = 0; i < items.size(); ++i) {
                    QString text = to_qt(items[i].text);
                    if (static_cast<int>(i) >= x->count())
                        x->addItem(text);
                    else if (x->item(static_cast<int>(i))->text() != text)
                        x->item(static_cast<int>(i))->setText(text);
                }
                x->setCurrentRow(c.current());
                break;
            }
            case Kind::list_view: sync_list_view(c, w); break;
            case Kind::tree: sync_tree(c, w); break;
            case Kind::tab: {
                auto* x = static_cast<QTabWidget*>(w);
                for (int i = 0; i < x->count() && i < c.page_count(); ++i)
                    x->setTabText(i, to_qt(c.page_title(i)));
                if (c.current() >= 0) x->setCurrentIndex(c.current());
                sync_pages(c.name());
                break;
            }
            default: break;
            }
        }
        if (bits & kPosition)
            if (auto* x = qobject_cast<QProgressBar*>(w)) x->setValue(c.position());
        if ((bits & kPicture) && c.kind() == Kind::picture)
            if (auto* x = qobject_cast<QLabel*>(w)) {
                QPixmap pixmap;
                std::string bytes = c.picture();
                pixmap.loadFromData(reinterpret_cast<const uchar*>(bytes.data()),
                                    static_cast<uint>(bytes.size()));
                x->setPixmap(pixmap);
            }
        if (bits & kUrl)
            if (c.kind() == Kind::web_view && !c.url().empty())
                w->setProperty("url", QUrl(QString::fromStdString(c.url())));
    }
    if (bits & kRegistered) {
        bool on = c.registered();
        setAcceptDrops(on);
        // Drops anywhere on the window reach the target, edit boxes included.
        for (auto& [n, widget] : widgets_)
            if (qobject_cast<QLineEdit*>(widget) || qobject_cast<QPlainTextEdit*>(widget))
                widget->setAcceptDrops(!on);
    }
    --syncing_;
}

void WindowView::sync_all(Control& c) {
    Binding b;
    b.control = &c;
    b.dirty = ~0u;
    sync(b);
}

void WindowView::sync_list_view(Control& c, QWidget* w) {
    auto* t = static_cast<QTreeWidget*>(w);
    auto columns = c.columns();
    if (t->columnCount() != static_cast<int>(columns.size()) ||
        t->headerItem()->text(0) != (columns.empty() ? QString() : to_qt(columns[0].title))) {
        QStringList labels;
        for (auto& col : columns) labels << to_qt(col.title);
        t->setColumnCount(static_cast<int>(columns.size()));
        t->setHeaderLabels(labels);
        for (int i = 0; i < static_cast<int>(columns.size()); ++i)
            t->setColumnWidth(i, columns[i].width);
    }
    sync_list_rows(t, c.rows(), static_cast<int>(columns.size()));
    int current = c.current();
    if (current >= 0 && current < t->topLevelItemCount()) {
        QTreeWidgetItem* item = t->topLevelItem(current);
        if (t->currentItem() != item) t->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
    }
}

void WindowView::sync_tree(Control& c, QWidget* w) {
    auto* t = static_cast<QTreeWidget*>(w);
    auto items = c.tree_items();
    std::map<int, QTreeWidgetItem*> by_id;
    // Rebuilt only when the items differ from what is shown.
    bool same = true;
    {
        int count = 0;
        for (QTreeWidgetItemIterator it(t); *it; ++it) {
            by_id[(*it)->data(0, kIdRole).toInt()] = *it;
            ++count;
        }
        same = count == static_cast<int>(items.size());
        for (size_t i = 0; same && i < items.size(); ++i) {
            auto found = by_id.find(items[i].id);
            same = found != by_id.end() && found->second->text(0) == to_qt(items[i].text);
        }
    }
    if (!same) {
        t->clear();
        by_id.clear();
        for (auto& item : items) {
            QTreeWidgetItem* qi = item.parent == kTreeRoot || !by_id.count(item.parent)
                                      ? new QTreeWidgetItem(t)
                                      : new QTreeWidgetItem(by_id[item.parent]);
            qi->setText(0, to_qt(item.text));
            qi->setData(0, kIdRole, item.id);
            by_id[item.id] = qi;
        }
    }
    for (auto& item : items)
        if (by_id.count(item.id)) by_id[item.id]->setExpanded(item.expanded);
    auto cur = by_id.find(c.current());
    t->setCurrentItem(cur == by_id.end() ? nullptr : cur->second);
}

void WindowView::sync_window(unsigned changes) {
    if (detached_) return;
    if (changes & kWindowCaption) setWindowTitle(to_qt(window_.caption()));
    if (changes & kWindowEnabled) setEnabled(window_.enabled());
    if (changes & kWindowTaskbar) {
        bool on = window_.show_in_taskbar();
        // Changing the flags re-creates the native window; only do it while hidden.
        if (!isVisible() || on) {
            bool was_visible = isVisible();
            setWindowFlag(Qt::Tool, !on);
            if (was_visible || window_.visible()) show();
        }
    }
    if (changes & (kWindowVisible | kWindowPosition)) {
        bool visible = window_.visible();
        if (visible) {
            int state = window_.position_state();
            if (state == 1 && !position_kept_) {
                QScreen* screen = QGuiApplication::primaryScreen();
                if (screen) {
                    QRect area = screen->availableGeometry();
                    move(area.x() + (area.width() - width() - kFrameWidth) / 2,
                         area.y() + (area.height() - height() - kFrameHeight) / 2);
                }
                if (isMinimized()) showNormal();
            }
            if (state == 2)
                showMinimized();
            else if (!isVisible())
                show();
            if (changes & kWindowVisible) {
                raise();
                activateWindow();
            }
        } else if (isVisible()) {
            hide();
        }
    }
    if (changes & (kWindowTray | kWindowIcon | kWindowTrayText)) update_tray();
}

void WindowView::update_tray() {
    if (!window_.tray_visible()) {
        if (tray_) tray_->hide();
        return;
    }
    if (!QtBackend::tray_available()) {
        // No notification area yet: a panel started after the login gets the
        // icon once it is there. One cheap question every two seconds.
        if (!tray_wait_) {
            tray_wait_ = new QTimer(this);
            connect(tray_wait_, &QTimer::timeout, this, [this] {
                if (!window_.tray_visible() || QtBackend::tray_available()) {
                    tray_wait_->stop();
                    update_tray();
                }
            });
        }
        if (!tray_wait_->isActive()) tray_wait_->start(2000);
        return;
    }
    if (tray_wait_) tray_wait_->stop();
    if (!tray_) {
        tray_ = new QSystemTrayIcon(this);
        connect(tray_, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason r) {
                    EventArgs args;
                    switch (r) {
                    case QSystemTrayIcon::Trigger: args.kind = 1; break;
                    case QSystemTrayIcon::DoubleClick: args.kind = 2; break;
                    case QSystemTrayIcon::Context: args.kind = 3; break;
                    default: return;
                    }
                    raise_later("", Event::tray, args);
                });
    }
    QPixmap pixmap;
    std::string bytes = window_.icon();
    if (!bytes.empty())
        pixmap.loadFromData(reinterpret_cast<const uchar*>(bytes.data()),
                            static_cast<uint>(bytes.size()));
    tray_->setIcon(pixmap.isNull() ? style()->standardIcon(QStyle::SP_DriveNetIcon)
                                   : QIcon(pixmap));
    tray_->setToolTip(to_qt(window_.tray_tooltip()));
    tray_->show();
    TrayMessage m = window_.tray_message();
    if (m.serial != tray_message_shown_) {
        tray_message_shown_ = m.serial;
        tray_->showMessage(to_qt(m.title), to_qt(m.text));
    }
}

void WindowView::find_anchors() {
    // Siblings share a container: the window's client area or their parent.
    std::map<std::string, std::vector<Control*>> groups;
    for (Control* c : window_.controls())
        if (widget(c->name())) groups[widget(c->parent()) ? c->parent() : ""].push_back(c);
    for (auto& [parent, members] : groups) {
        QSize size = default_size_;
        if (!parent.empty()) size = QSize(window_[parent].rect().w, window_[parent].rect().h);
        std::vector<Placed> placed;
        for (Control* c : members)
            placed.push_back({c->kind(), c->multiline(), c->rect(), c->page()});
        std::vector<Anchor> anchors = anchors_for(placed, size.width(), size.height());
        for (size_t i = 0; i < members.size(); ++i) anchors_[members[i]->name()] = anchors[i];
    }
}

QRect WindowView::placed(const Control& c) const {
    Rect r = c.rect();
    auto it = anchors_.find(c.name());
    if (it != anchors_.end()) {
        int dw = width() - default_size_.width();
        int dh = height() - default_size_.height();
        if (widget(c.parent())) {
            const Control& parent = window_[c.parent()];
            QRect grown = placed(parent);
            dw = grown.width() - parent.rect().w;
            dh = grown.height() - parent.rect().h;
        }
        r = place(r, it->second, dw, dh);
    }
    return QRect(r.x, r.y, r.w, r.h);
}

void WindowView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (anchors_.empty() || detached_) return;
    for (Control* c : window_.controls())
        if (QWidget* w = widget(c->name())) {
            w->setGeometry(placed(*c));
            fit_caption(w);
        }
}

void WindowView::remember_layout(const std::filesystem::path& file, const std::string& section) {
    if (window_.fixed_size()) return;
    layout_file_ = file;
    layout_section_ = section;
    std::vector<int> g = parse_numbers(ini_read(file, section, "geometry"), 4, -100000, 100000);
    if (!g.empty() && g[2] >= default_size_.width() && g[3] >= default_size_.height() &&
        g[2] <= 20000 && g[3] <= 20000) {
        resize(g[2], g[3]);
        // A place on a screen that is gone would hide the window: centred then.
        QRect frame(g[0], g[1], g[2] + kFrameWidth, g[3] + kFrameHeight);
        for (QScreen* screen : QGuiApplication::screens())
            if (screen->availableGeometry().intersects(frame)) {
                move(g[0], g[1]);
                position_kept_ = true;
                break;
            }
    }
    for (Control* c : window_.controls()) {
        auto* t = qobject_cast<QTreeWidget*>(widget(c->name()));
        if (c->kind() != Kind::list_view || !t) continue;
        std::vector<int> widths = parse_numbers(ini_read(file, section, utf8_to_gbk(c->name())),
                                                static_cast<size_t>(t->columnCount()), 0, 10000);
        for (size_t i = 0; i < widths.size(); ++i)
            t->setColumnWidth(static_cast<int>(i), widths[i]);
    }
}

void WindowView::save_layout() {
    if (layout_file_.empty() || !shown_) return;
    QRect normal = isMaximized() || isMinimized() ? normalGeometry() : geometry();
    QPoint at = isMaximized() || isMinimized() ? normal.topLeft() : pos();
    ini_write(layout_file_, layout_section_, "geometry",
              format_numbers({at.x(), at.y(), normal.width(), normal.height()}));
    for (Control* c : window_.controls()) {
        auto* t = qobject_cast<QTreeWidget*>(widget(c->name()));
        if (c->kind() != Kind::list_view || !t || !c->visible()) continue;
        std::vector<int> widths;
        for (int i = 0; i < t->columnCount(); ++i) widths.push_back(t->columnWidth(i));
        ini_write(layout_file_, layout_section_, utf8_to_gbk(c->name()), format_numbers(widths));
    }
}

void WindowView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!detached_ && !event->spontaneous()) save_layout();
}

void WindowView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    shown_ = true;
    // Shown from the tray, a remembered window stays where the user left it.
    if (!layout_file_.empty()) position_kept_ = true;
}

void WindowView::closeEvent(QCloseEvent* event) {
    if (detached_) {
        event->accept();
        return;
    }
    // The engine decides: may_close, then destroy (which deletes this view).
    event->ignore();
    std::shared_ptr<Window> w = owner_;
    Program* p = &program_;
    program_.post([w, p] {
        if (w->alive()) p->request_close(*w);
    });
}

void WindowView::keyPressEvent(QKeyEvent* event) {
    if (detached_) return QWidget::keyPressEvent(event);
    if (event->key() == Qt::Key_Escape) {
        if (window_.close_on_escape()) close();
        event->accept();  // Escape never does anything else
        return;
    }
    // What no control took: Enter in an edit box or on a button comes here.
    Key key;
    unsigned modifiers = 0;
    if (command_key(event, key, modifiers) && program_.press_key(window_, "", key, modifiers)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void WindowView::dragEnterEvent(QDragEnterEvent* event) {
    if (acceptDrops() && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void WindowView::dragMoveEvent(QDragMoveEvent* event) {
    if (acceptDrops() && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void WindowView::dropEvent(QDropEvent* event) {
    if (detached_) return;
    std::string target;
    for (Control* c : window_.controls())
        if (c->kind() == Kind::drop_target && c->registered()) target = c->name();
    if (target.empty()) return;
    EventArgs args;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            args.files.push_back(
                path_to_text(std::filesystem::path(url.toLocalFile().toStdString())));
    if (args.files.empty()) return;
    event->acceptProposedAction();
    raise_later(target, Event::files_dropped, std::move(args));
}

}  // namespace qorvel::ui::qt
