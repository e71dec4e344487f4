#include "ui/control.h"

#include <algorithm>

namespace qorvel::ui {

const char* kind_name(Kind kind) {
    switch (kind) {
    case Kind::button: return "button";
    case Kind::label: return "label";
    case Kind::transparent_label: return "transparent_label";
    case Kind::edit: return "edit";
    case Kind::check: return "check";
    case Kind::combo: return "combo";
    case Kind::list_box: return "list_box";
    case Kind::list_view: return "list_view";
    case Kind::tree: return "tree";
    case Kind::tab: return "tab";
    case Kind::progress: return "progress";
    case Kind::frame: return "frame";
    case Kind::group: return "group";
    case Kind::picture: return "picture";
    case Kind::link: return "link";
    case Kind::web_view: return "web_view";
    case Kind::timer: return "timer";
    case Kind::drop_target: return "drop_target";
    }
    return "?";
}

Control::Control(std::string name, Kind kind, Rect rect)
    : name_(std::move(name)), kind_(kind), rect_(rect) {
    if (kind == Kind::timer || kind == Kind::drop_target) visible_ = false;
}

Control& Control::place_in(std::string parent, int page) {
    parent_ = std::move(parent);
    page_ = page;
    return *this;
}

Control& Control::set_masked(bool on) {
    masked_ = on;
    return *this;
}
Control& Control::set_multiline(bool on) {
    multiline_ = on;
    return *this;
}
Control& Control::set_read_only(bool on) {
    read_only_ = on;
    return *this;
}
Control& Control::set_hand_cursor(bool on) {
    hand_cursor_ = on;
    return *this;
}
Control& Control::set_vertical_scroll(bool on) {
    vertical_scroll_ = on;
    return *this;
}
Control& Control::set_multi_select(bool on) {
    multi_select_ = on;
    return *this;
}
Control& Control::set_wrap_tabs(bool on) {
    wrap_tabs_ = on;
    return *this;
}

Rect Control::rect() const {
    std::lock_guard lock(mutex_);
    return rect_;
}
void Control::set_rect(Rect r) {
    QV_CHANGE(
        kShape, if (!(rect_ == r)) {
            rect_ = r;
            changed_ = true;
        });
}
bool Control::visible() const {
    std::lock_guard lock(mutex_);
    return visible_;
}
void Control::set_visible(bool on) {
    QV_CHANGE(
        kShape, if (visible_ != on) {
            visible_ = on;
            changed_ = true;
        });
}
bool Control::enabled() const {
    std::lock_guard lock(mutex_);
    return enabled_;
}
void Control::set_enabled(bool on) {
    QV_CHANGE(
        kShape, if (enabled_ != on) {
            enabled_ = on;
            changed_ = true;
        });
}

std::string Control::text() const {
    std::lock_guard lock(mutex_);
    return text_;
}
void Control::set_text(const std::string& gbk) {
    QV_CHANGE(
        kText, if (text_ != gbk) {
            text_ = gbk;
            changed_ = true;
        });
}
void Control::append_text(const std::string& gbk) {
    QV_CHANGE(
        kText, if (!gbk.empty()) {
            text_ += gbk;
            changed_ = true;
        });
}

bool Control::checked() const {
    std::lock_guard lock(mutex_);
    return checked_;
}
void Control::set_checked(bool on) {
    QV_CHANGE(
        kChecked, if (checked_ != on) {
            checked_ = on;
            changed_ = true;
        });
}

int Control::current() const {
    std::lock_guard lock(mutex_);
    return current_;
}
void Control::set_current(int index) {
    QV_CHANGE(kCurrent, {
        int value = index;
        switch (kind_) {
        case Kind::tab:
            if (pages_.empty())
                value = -1;
            else
                value = std::clamp(index, 0, static_cast<int>(pages_.size()) - 1);
            break;
        case Kind::combo:
        case Kind::list_box:
            if (index < 0 || index >= static_cast<int>(items_.size())) value = -1;
            break;
        case Kind::list_view:
            if (index < 0 || index >= static_cast<int>(rows_.size())) value = -1;
            if (!multi_select_ || value < 0)
                for (auto& r : rows_) r.selected = false;
            if (value >= 0) rows_[value].selected = true;
            changed_ = true;  // the selection may have changed too
            break;
        case Kind::tree:
            if (!tree_.count(index)) value = -1;
            break;
        default: break;
        }
        if (current_ != value) {
            current_ = value;
            changed_ = true;
        }
    });
}

int Control::add_item(const std::string& gbk, long long value) {
    int index = 0;
    QV_CHANGE(kItems, {
        items_.push_back({gbk, value});
        index = static_cast<int>(items_.size()) - 1;
        changed_ = true;
    });
    return index;
}
void Control::clear_items() {
    QV_CHANGE(kItems | kCurrent, {
        changed_ = !items_.empty() || current_ != -1;
        items_.clear();
        current_ = -1;
    });
}
int Control::item_count() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(items_.size());
}
std::string Control::item_text(int index) const {
    std::lock_guard lock(mutex_);
    if (index < 0 || index >= static_cast<int>(items_.size())) return {};
    return items_[index].text;
}
long long Control::item_value(int index) const {
    std::lock_guard lock(mutex_);
    if (index < 0 || index >= static_cast<int>(items_.size())) return 0;
    return items_[index].value;
}
bool Control::delete_item(int index) {
    bool ok = false;
    QV_CHANGE(kItems | kCurrent, {
        if (index >= 0 && index < static_cast<int>(items_.size())) {
            items_.erase(items_.begin() + index);
            if (current_ == index)
                current_ = -1;
            else if (current_ > index)
                --current_;
            ok = changed_ = true;
        }
    });
    return ok;
}
std::vector<Item> Control::items() const {
    std::lock_guard lock(mutex_);
    return items_;
}

void Control::add_column(const std::string& gbk_title, int width) {
    QV_CHANGE(kItems, {
        columns_.push_back({gbk_title, width});
        changed_ = true;
    });
}
std::vector<Column> Control::columns() const {
    std::lock_guard lock(mutex_);
    return columns_;
}

int Control::insert_row(int index, const std::string& first_cell, long long value) {
    int at = 0;
    QV_CHANGE(kItems | kCurrent, {
        int n = static_cast<int>(rows_.size());
        at = (index < 0 || index > n) ? n : index;
        Row row;
        row.cells.push_back(first_cell);
        row.value = value;
        rows_.insert(rows_.begin() + at, std::move(row));
        if (current_ >= at) ++current_;
        changed_ = true;
    });
    return at;
}
int Control::append_rows(std::vector<Row> rows) {
    int first = 0;
    QV_CHANGE(kItems, {
        first = static_cast<int>(rows_.size());
        if (!rows.empty()) {
            rows_.insert(rows_.end(), std::make_move_iterator(rows.begin()),
                         std::make_move_iterator(rows.end()));
            changed_ = true;
        }
    });
    return first;
}
int Control::find_row(long long value) const {
    std::lock_guard lock(mutex_);
    return row_of_locked(value);
}
int Control::row_of_locked(long long value) const {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].value == value) return static_cast<int>(i);
    return -1;
}
bool Control::set_cell_locked(int row, int column, const std::string& gbk, bool& changed) {
    if (row < 0 || row >= static_cast<int>(rows_.size()) || column < 0) return false;
    auto& cells = rows_[row].cells;
    if (static_cast<int>(cells.size()) <= column) cells.resize(column + 1);
    if (cells[column] != gbk) {
        cells[column] = gbk;
        changed = true;
    }
    return true;
}
bool Control::erase_row_locked(int row) {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
    rows_.erase(rows_.begin() + row);
    if (current_ == row)
        current_ = -1;
    else if (current_ > row)
        --current_;
    return true;
}
bool Control::set_cell(int row, int column, const std::string& gbk) {
    bool ok = false;
    QV_CHANGE(kItems, { ok = set_cell_locked(row, column, gbk, changed_); });
    return ok;
}
bool Control::set_cell_of(long long value, int column, const std::string& gbk) {
    bool ok = false;
    QV_CHANGE(kItems, { ok = set_cell_locked(row_of_locked(value), column, gbk, changed_); });
    return ok;
}
bool Control::set_row_tooltip_of(long long value, const std::string& gbk) {
    bool ok = false;
    QV_CHANGE(kItems, {
        int row = row_of_locked(value);
        ok = row >= 0;
        if (ok && rows_[row].tooltip != gbk) {
            rows_[row].tooltip = gbk;
            changed_ = true;
        }
    });
    return ok;
}
std::string Control::row_tooltip(int row) const {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size())) return {};
    return rows_[row].tooltip;
}
bool Control::delete_row_of(long long value) {
    bool ok = false;
    QV_CHANGE(kItems | kCurrent, { ok = changed_ = erase_row_locked(row_of_locked(value)); });
    return ok;
}
std::string Control::cell(int row, int column) const {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size()) || column < 0) return {};
    const auto& cells = rows_[row].cells;
    return column < static_cast<int>(cells.size()) ? cells[column] : std::string();
}
bool Control::set_row_value(int row, long long value) {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
    rows_[row].value = value;  // not shown: no observer call
    return true;
}
long long Control::row_value(int row) const {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size())) return 0;
    return rows_[row].value;
}
bool Control::delete_row(int row) {
    bool ok = false;
    QV_CHANGE(kItems | kCurrent, { ok = changed_ = erase_row_locked(row); });
    return ok;
}
void Control::clear_rows() {
    QV_CHANGE(kItems | kCurrent, {
        changed_ = !rows_.empty() || current_ != -1;
        rows_.clear();
        current_ = -1;
    });
}
int Control::row_count() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(rows_.size());
}
std::vector<int> Control::selected_rows() const {
    std::lock_guard lock(mutex_);
    std::vector<int> out;
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].selected) out.push_back(static_cast<int>(i));
    return out;
}
void Control::select_row(int row, bool on) {
    QV_CHANGE(kCurrent, {
        if (row >= 0 && row < static_cast<int>(rows_.size())) {
            if (on && !multi_select_)
                for (auto& r : rows_) r.selected = false;
            rows_[row].selected = on;
            if (on) current_ = row;
            changed_ = true;
        }
    });
}
void Control::clear_selection() {
    QV_CHANGE(kCurrent, {
        for (auto& r : rows_) r.selected = false;
        changed_ = true;
    });
}
void Control::set_selection(const std::vector<int>& selected, int current_row) {
    QV_CHANGE(kCurrent, {
        for (auto& r : rows_) r.selected = false;
        for (int i : selected)
            if (i >= 0 && i < static_cast<int>(rows_.size())) rows_[i].selected = true;
        current_ =
            (current_row >= 0 && current_row < static_cast<int>(rows_.size())) ? current_row : -1;
        changed_ = true;
    });
}
std::vector<Row> Control::rows() const {
    std::lock_guard lock(mutex_);
    return rows_;
}

int Control::add_tree_item(int parent, const std::string& gbk, long long value) {
    int id = 0;
    QV_CHANGE(kItems, {
        if (parent == kTreeRoot || tree_.count(parent)) {
            id = next_tree_id_++;
            TreeItem item;
            item.id = id;
            item.parent = parent;
            item.text = gbk;
            item.value = value;
            tree_[id] = std::move(item);
            if (parent == kTreeRoot)
                tree_top_.push_back(id);
            else
                tree_[parent].children.push_back(id);
            changed_ = true;
        }
    });
    return id;
}
std::vector<int> Control::add_tree_items(
    int parent, const std::vector<std::pair<std::string, long long>>& items) {
    std::vector<int> ids;
    QV_CHANGE(kItems, {
        if ((parent == kTreeRoot || tree_.count(parent)) && !items.empty()) {
            for (const auto& [text, value] : items) {
                int id = next_tree_id_++;
                TreeItem item;
                item.id = id;
                item.parent = parent;
                item.text = text;
                item.value = value;
                tree_[id] = std::move(item);
                if (parent == kTreeRoot)
                    tree_top_.push_back(id);
                else
                    tree_[parent].children.push_back(id);
                ids.push_back(id);
            }
            changed_ = true;
        }
    });
    return ids;
}
void Control::set_tree_item_text(int id, const std::string& gbk) {
    QV_CHANGE(kItems, {
        auto it = tree_.find(id);
        if (it != tree_.end() && it->second.text != gbk) {
            it->second.text = gbk;
            changed_ = true;
        }
    });
}
std::string Control::tree_item_text(int id) const {
    std::lock_guard lock(mutex_);
    auto it = tree_.find(id);
    return it == tree_.end() ? std::string() : it->second.text;
}
long long Control::tree_item_value(int id) const {
    std::lock_guard lock(mutex_);
    auto it = tree_.find(id);
    return it == tree_.end() ? 0 : it->second.value;
}
int Control::tree_item_parent(int id) const {
    std::lock_guard lock(mutex_);
    auto it = tree_.find(id);
    return it == tree_.end() ? -1 : it->second.parent;
}
std::vector<int> Control::tree_children(int id) const {
    std::lock_guard lock(mutex_);
    if (id == kTreeRoot) return tree_top_;
    auto it = tree_.find(id);
    return it == tree_.end() ? std::vector<int>() : it->second.children;
}
void Control::delete_subtree_locked(int id) {
    auto it = tree_.find(id);
    if (it == tree_.end()) return;
    auto children = it->second.children;
    for (int child : children) delete_subtree_locked(child);
    if (current_ == id) current_ = -1;
    tree_.erase(id);
}
bool Control::delete_tree_item(int id) {
    bool ok = false;
    QV_CHANGE(kItems | kCurrent, {
        auto it = tree_.find(id);
        if (it != tree_.end()) {
            int parent = it->second.parent;
            auto& siblings = parent == kTreeRoot ? tree_top_ : tree_[parent].children;
            siblings.erase(std::remove(siblings.begin(), siblings.end(), id), siblings.end());
            delete_subtree_locked(id);
            ok = changed_ = true;
        }
    });
    return ok;
}
void Control::clear_tree() {
    QV_CHANGE(kItems | kCurrent, {
        changed_ = !tree_.empty() || current_ != -1;
        tree_.clear();
        tree_top_.clear();
        current_ = -1;
    });
}
int Control::tree_count() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(tree_.size());
}
void Control::expand(int id, bool on) {
    QV_CHANGE(kCurrent, {
        auto it = tree_.find(id);
        if (it != tree_.end() && it->second.expanded != on) {
            it->second.expanded = on;
            changed_ = true;
        }
    });
}
bool Control::expanded(int id) const {
    std::lock_guard lock(mutex_);
    auto it = tree_.find(id);
    return it != tree_.end() && it->second.expanded;
}
std::vector<TreeItem> Control::tree_items() const {
    std::lock_guard lock(mutex_);
    std::vector<TreeItem> out;
    std::vector<int> stack(tree_top_.rbegin(), tree_top_.rend());
    while (!stack.empty()) {
        int id = stack.back();
        stack.pop_back();
        const auto& item = tree_.at(id);
        out.push_back(item);
        stack.insert(stack.end(), item.children.rbegin(), item.children.rend());
    }
    return out;
}

int Control::add_page(const std::string& gbk_title) {
    int index = 0;
    QV_CHANGE(kItems | kCurrent, {
        pages_.push_back(gbk_title);
        index = static_cast<int>(pages_.size()) - 1;
        if (current_ < 0) current_ = 0;
        changed_ = true;
    });
    return index;
}
void Control::set_page_title(int page, const std::string& gbk) {
    QV_CHANGE(kItems, {
        if (page >= 0 && page < static_cast<int>(pages_.size()) && pages_[page] != gbk) {
            pages_[page] = gbk;
            changed_ = true;
        }
    });
}
std::string Control::page_title(int page) const {
    std::lock_guard lock(mutex_);
    if (page < 0 || page >= static_cast<int>(pages_.size())) return {};
    return pages_[page];
}
int Control::page_count() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(pages_.size());
}

int Control::position() const {
    std::lock_guard lock(mutex_);
    return position_;
}
void Control::set_position(int value) {
    value = std::clamp(value, 0, 100);
    QV_CHANGE(
        kPosition, if (position_ != value) {
            position_ = value;
            changed_ = true;
        });
}

int Control::interval() const {
    std::lock_guard lock(mutex_);
    return interval_;
}
void Control::set_interval(int ms) {
    if (ms < 0) ms = 0;
    // Always reported: writing the same positive value restarts the period.
    QV_CHANGE(kInterval, {
        interval_ = ms;
        changed_ = true;
    });
}

std::string Control::picture() const {
    std::lock_guard lock(mutex_);
    return picture_;
}
void Control::set_picture(std::string bytes) {
    QV_CHANGE(kPicture, {
        picture_ = std::move(bytes);
        changed_ = true;
    });
}

std::string Control::url() const {
    std::lock_guard lock(mutex_);
    return url_;
}
void Control::set_url(const std::string& address) {
    QV_CHANGE(kUrl, {
        url_ = address;
        changed_ = true;
    });
}

bool Control::registered() const {
    std::lock_guard lock(mutex_);
    return registered_;
}
void Control::set_registered(bool on) {
    QV_CHANGE(
        kRegistered, if (registered_ != on) {
            registered_ = on;
            changed_ = true;
        });
}

#undef QV_CHANGE

int Control::observe(Observer observer) {
    return observers_.add(std::move(observer));
}
void Control::unobserve(int token) {
    observers_.remove(token);
}
void Control::notify(unsigned changes) {
    observers_.notify(*this, changes);
}

}  // namespace qorvel::ui
