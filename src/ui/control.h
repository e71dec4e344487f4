// One named control of a window and the state the operations read and write.
// Every member function is safe from any thread: each control guards its own
// state with a mutex, and observers (the toolkit layer) are told what changed
// after the lock is released, on the writing thread. Observers must not block;
// the Qt layer only marks the widget dirty and posts a repaint.
#pragma once

#include "ui/observers.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace qorvel::ui {

enum class Kind {
    button,             // 按钮
    label,              // 标签
    transparent_label,  // 透明标签
    edit,               // 编辑框
    check,              // 选择框
    combo,              // 组合框
    list_box,           // 列表框
    list_view,          // 超级列表框
    tree,               // 树型框
    tab,                // 选择夹
    progress,           // 进度条
    frame,              // 外形框
    group,              // 分组框
    picture,            // 图片框
    link,               // 超级链接框
    web_view,           // 超文本浏览框
    timer,              // 时钟
    drop_target,        // 拖放对象
};

const char* kind_name(Kind kind);

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    bool operator==(const Rect&) const = default;
};

// What changed, as a bit set handed to observers.
enum Change : unsigned {
    kShape = 1u << 0,  // visible, enabled, geometry, flags
    kText = 1u << 1,   // text / caption
    kChecked = 1u << 2,
    kItems = 1u << 3,     // items, rows, cells, columns, tree items, page titles
    kCurrent = 1u << 4,   // current item / row / page, selection, expanded state
    kPosition = 1u << 5,  // progress position
    kInterval = 1u << 6,
    kPicture = 1u << 7,
    kUrl = 1u << 8,
    kRegistered = 1u << 9,
};

struct Column {
    std::string title;  // GBK
    int width = 0;
    bool operator==(const Column&) const = default;
};

struct Item {          // list box and drop-down list items
    std::string text;  // GBK
    long long value = 0;
    bool operator==(const Item&) const = default;
};

struct Row {                         // list view rows
    std::vector<std::string> cells;  // GBK, one per column (may be shorter)
    long long value = 0;
    bool selected = false;
    std::string tooltip;  // GBK, shown over every cell of the row ("" = none)
    bool operator==(const Row&) const = default;
};

// Tree items have stable ids (> 0); kTreeRoot is the parent of top-level items.
constexpr int kTreeRoot = 0;

struct TreeItem {
    int id = 0;
    int parent = kTreeRoot;
    std::string text;  // GBK
    long long value = 0;
    bool expanded = false;
    std::vector<int> children;
};

class Control {
  public:
    using Observer = std::function<void(Control&, unsigned changes)>;

    // name is the catalogue name as UTF-8 (an identifier, never shown as text).
    Control(std::string name, Kind kind, Rect rect = {});
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    const std::string& name() const { return name_; }
    Kind kind() const { return kind_; }

    // Layout, fixed when the window is built.
    // parent: name of the tab control or frame this control sits in ("" = the window);
    // page: the tab page it belongs to, -1 when the parent is not a tab control.
    const std::string& parent() const { return parent_; }
    int page() const { return page_; }
    Control& place_in(std::string parent, int page = -1);

    // Construction-time flags (not changed at run time).
    bool masked() const { return masked_; }
    bool multiline() const { return multiline_; }
    bool read_only() const { return read_only_; }
    bool hand_cursor() const { return hand_cursor_; }
    bool vertical_scroll() const { return vertical_scroll_; }
    bool multi_select() const { return multi_select_; }
    bool wrap_tabs() const { return wrap_tabs_; }
    Control& set_masked(bool on = true);
    Control& set_multiline(bool on = true);
    Control& set_read_only(bool on = true);
    Control& set_hand_cursor(bool on = true);
    Control& set_vertical_scroll(bool on = true);
    Control& set_multi_select(bool on = true);
    Control& set_wrap_tabs(bool on = true);

    // Every visible control.
    Rect rect() const;
    void set_rect(Rect r);
    bool visible() const;
    void set_visible(bool on);
    bool enabled() const;
    void set_enabled(bool on);
    bool disabled() const { return !enabled(); }
    void set_disabled(bool on) { set_enabled(!on); }

    // Edit box text, label / button / check box / link caption (GBK). One field.
    std::string text() const;
    void set_text(const std::string& gbk);
    void append_text(const std::string& gbk);  // atomic read-modify-write
    std::string caption() const { return text(); }
    void set_caption(const std::string& gbk) { set_text(gbk); }

    bool checked() const;
    void set_checked(bool on);

    // Current item (drop-down list, list box), current row (list view),
    // current page (tab control, clamped) or current tree item id; -1 for none.
    // Writing it raises no event.
    int current() const;
    void set_current(int index);

    // List box and drop-down list.
    int add_item(const std::string& gbk, long long value = 0);  // index of the new item
    void clear_items();
    int item_count() const;
    std::string item_text(int index) const;  // empty when out of range
    long long item_value(int index) const;
    bool delete_item(int index);
    std::vector<Item> items() const;

    // List view. Row indices are 0-based; insert_row with index < 0 or past
    // the end appends. Cells past the columns are kept but not shown.
    void add_column(const std::string& gbk_title, int width);
    std::vector<Column> columns() const;
    int insert_row(int index, const std::string& first_cell = {}, long long value = 0);
    // Appends whole rows with one notification (a page of rows is one repaint).
    // Returns the index of the first appended row.
    int append_rows(std::vector<Row> rows);
    // The first row carrying the item value, -1 when none does.
    int find_row(long long value) const;
    bool set_cell(int row, int column, const std::string& gbk);
    // By item value, found and changed under one lock: rows may move meanwhile.
    bool set_cell_of(long long value, int column, const std::string& gbk);
    bool delete_row_of(long long value);
    // The row's tooltip by item value, like set_cell_of; "" removes it.
    bool set_row_tooltip_of(long long value, const std::string& gbk);
    std::string row_tooltip(int row) const;  // empty when out of range
    std::string cell(int row, int column) const;
    bool set_row_value(int row, long long value);
    long long row_value(int row) const;
    bool delete_row(int row);
    void clear_rows();
    int row_count() const;
    std::vector<int> selected_rows() const;
    // Selection as the user makes it; without multi-select it is one row.
    void select_row(int row, bool on = true);
    void clear_selection();
    // The whole selection and current row at once, as a toolkit reports them.
    void set_selection(const std::vector<int>& selected, int current_row);
    std::vector<Row> rows() const;

    // Tree view. Ids are stable; deleting an item deletes its sub-items.
    int add_tree_item(int parent, const std::string& gbk,
                      long long value = 0);  // 0 when parent unknown
    // Adds several children in order with one notification; their ids, or
    // nothing when the parent is unknown.
    std::vector<int> add_tree_items(int parent,
                                    const std::vector<std::pair<std::string, long long>>& items);
    void set_tree_item_text(int id, const std::string& gbk);
    std::string tree_item_text(int id) const;
    long long tree_item_value(int id) const;
    int tree_item_parent(int id) const;  // -1 when unknown
    std::vector<int> tree_children(int id) const;
    bool delete_tree_item(int id);
    void clear_tree();
    int tree_count() const;
    void expand(int id, bool on = true);
    bool expanded(int id) const;
    std::vector<TreeItem> tree_items() const;  // in depth-first display order

    // Tab control pages.
    int add_page(const std::string& gbk_title);
    void set_page_title(int page, const std::string& gbk);
    std::string page_title(int page) const;
    int page_count() const;

    // Progress bar position (clamped to 0..100).
    int position() const;
    void set_position(int value);

    // Timer interval in milliseconds; 0 stops the timer.
    int interval() const;
    void set_interval(int ms);

    // Picture box image bytes.
    std::string picture() const;
    void set_picture(std::string bytes);

    // Web view address (plain text, not GBK-converted).
    std::string url() const;
    void set_url(const std::string& address);

    // Drop target: accepts drops once registered on its window.
    bool registered() const;
    void set_registered(bool on);

    int observe(Observer observer);
    void unobserve(int token);

  private:
    void notify(unsigned changes);
    void delete_subtree_locked(int id);
    // Row helpers for callers that hold the lock.
    int row_of_locked(long long value) const;
    bool set_cell_locked(int row, int column, const std::string& gbk, bool& changed);
    bool erase_row_locked(int row);

    const std::string name_;
    const Kind kind_;
    std::string parent_;
    int page_ = -1;
    bool masked_ = false, multiline_ = false, read_only_ = false, hand_cursor_ = false;
    bool vertical_scroll_ = false, multi_select_ = false, wrap_tabs_ = false;

    mutable std::mutex mutex_;
    Rect rect_;
    bool visible_ = true;
    bool enabled_ = true;
    std::string text_;
    bool checked_ = false;
    int current_ = -1;
    std::vector<Item> items_;
    std::vector<Column> columns_;
    std::vector<Row> rows_;
    std::map<int, TreeItem> tree_;
    std::vector<int> tree_top_;
    int next_tree_id_ = 1;
    std::vector<std::string> pages_;
    int position_ = 0;
    int interval_ = 0;
    std::string picture_;
    std::string url_;
    bool registered_ = false;

    ObserverList<Control> observers_;
};

}  // namespace qorvel::ui
