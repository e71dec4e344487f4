#include "ui/qt/window_layout.h"

#include <charconv>

namespace qorvel::ui::qt {

namespace {

bool grows(const Placed& p) {
    switch (p.kind) {
    case Kind::list_view:
    case Kind::list_box:
    case Kind::tree:
    case Kind::tab:
    case Kind::web_view: return true;
    case Kind::edit: return p.multiline;
    default: return false;
    }
}

bool overlaps_across(const Rect& a, const Rect& b) {
    return a.x < b.x + b.w && b.x < a.x + a.w;
}

}  // namespace

std::vector<Anchor> anchors_for(const std::vector<Placed>& controls, int width, int height) {
    std::vector<Anchor> out;
    out.reserve(controls.size());
    for (const Placed& p : controls) {
        const Rect& r = p.rect;
        const bool right_third = 3 * (r.x + r.w) > 2 * width;
        const bool left_third = 3 * r.x < width;
        const bool bottom_third = 3 * (r.y + r.h) > 2 * height;
        Anchor a;
        if (grows(p)) {
            a.right = right_third;
            bool below = false;
            for (const Placed& q : controls)
                if (&q != &p && grows(q) && q.page == p.page && q.rect.y >= r.y + r.h &&
                    overlaps_across(q.rect, r))
                    below = true;
            a.bottom = !below;
        } else {
            a.right = right_third;
            a.left = !right_third || left_third;
            a.bottom = bottom_third;
            a.top = !bottom_third;
        }
        out.push_back(a);
    }
    return out;
}

Rect place(Rect r, Anchor a, int dw, int dh) {
    if (a.right) {
        if (a.left)
            r.w += dw;
        else
            r.x += dw;
    }
    if (a.bottom) {
        if (a.top)
            r.h += dh;
        else
            r.y += dh;
    }
    return r;
}

std::string format_numbers(const std::vector<int>& numbers) {
    std::string out;
    for (size_t i = 0; i < numbers.size(); ++i) {
        if (i) out += ',';
        out += std::to_string(numbers[i]);
    }
    return out;
}

std::vector<int> parse_numbers(std::string_view text, size_t count, int lo, int hi) {
    std::vector<int> out;
    const char* p = text.data();
    const char* end = text.data() + text.size();
    while (out.size() < count) {
        int v = 0;
        auto [next, ec] = std::from_chars(p, end, v);
        if (ec != std::errc() || v < lo || v > hi) return {};
        out.push_back(v);
        p = next;
        if (out.size() < count) {
            if (p == end || *p != ',') return {};
            ++p;
        }
    }
    if (p != end) return {};
    return out;
}

}  // namespace qorvel::ui::qt
