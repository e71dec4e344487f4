// How a resizable window places its controls, and the text its size and
// column widths are kept as. No Qt: the decisions are tested alone.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ui/control.h"

namespace qorvel::ui::qt {

// Which edges of its container a control keeps its distance to. Both left
// and right: it grows with the width; both top and bottom: with the height.
struct Anchor {
    bool left = true, right = false, top = true, bottom = false;
    bool operator==(const Anchor&) const = default;
};

// A control as the catalogue places it inside its container.
struct Placed {
    Kind kind = Kind::label;
    bool multiline = false;
    Rect rect;
    int page = -1;  // controls of different tab pages never share the space
};

// The anchors of the controls of one container of the given default size.
// Lists, trees, tabs, browsers and multi-line boxes grow across when they
// reach the right third, and down unless another of them lies below on the
// same page (the one further down takes the height); other controls keep to
// the right when their right edge is in the right third (they grow when they
// also start in the left third) and to the bottom when their bottom edge is
// in the bottom third.
std::vector<Anchor> anchors_for(const std::vector<Placed>& controls, int width, int height);

// The rect in a container grown by dw x dh.
Rect place(Rect r, Anchor a, int dw, int dh);

// "1,2,3" and back. parse_numbers gives an empty list unless the text holds
// exactly count integers, each within [lo, hi] (the file may have been edited).
std::string format_numbers(const std::vector<int>& numbers);
std::vector<int> parse_numbers(std::string_view text, size_t count, int lo, int hi);

}  // namespace qorvel::ui::qt
