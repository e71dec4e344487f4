// Anchoring a resizable window's controls, and the numbers its layout is
// kept as in the profile file.
#include <gtest/gtest.h>

#include "ui/qt/window_layout.h"

namespace qorvel::ui::qt {
namespace {

TEST(WindowLayout, ControlsKeepToTheirNearestEdgesAndListsGrow) {
    // A 600x300 page: a tree over a list, buttons beside them, a box and a
    // bar under the list, a hint line across the top.
    const std::vector<Placed> page = {
        {Kind::tree, false, {10, 40, 420, 90}, 1},         // 0: a list lies below it
        {Kind::list_view, false, {10, 140, 440, 100}, 1},  // 1
        {Kind::button, false, {460, 40, 60, 30}, 1},       // 2: beside the tree
        {Kind::button, false, {460, 200, 60, 30}, 1},      // 3: beside the list's foot
        {Kind::check, false, {10, 250, 150, 24}, 1},       // 4: under the list
        {Kind::progress, false, {10, 280, 580, 16}, 1},    // 5: across the foot
        {Kind::label, false, {10, 10, 580, 24}, 1},        // 6: across the top
        {Kind::label, false, {250, 10, 100, 24}, 1},       // 7: in the middle
        {Kind::list_view, false, {10, 140, 440, 100}, 0},  // 8: a list of another page
        {Kind::edit, true, {10, 40, 150, 90}, 2},          // 9: a log of a third page, left
        {Kind::edit, false, {470, 250, 120, 24}, 0},       // 10: a line box in the corner
    };
    const std::vector<Anchor> a = anchors_for(page, 600, 300);
    ASSERT_EQ(a.size(), page.size());
    EXPECT_EQ(a[0], (Anchor{true, true, true, false})) << "the list below takes the height";
    EXPECT_EQ(a[1], (Anchor{true, true, true, true}));
    EXPECT_EQ(a[2], (Anchor{false, true, true, false}));
    EXPECT_EQ(a[3], (Anchor{false, true, false, true}));
    EXPECT_EQ(a[4], (Anchor{true, false, false, true}));
    EXPECT_EQ(a[5], (Anchor{true, true, false, true}));
    EXPECT_EQ(a[6], (Anchor{true, true, true, false}));
    EXPECT_EQ(a[7], (Anchor{true, false, true, false}));
    EXPECT_EQ(a[8], (Anchor{true, true, true, true})) << "the tree is on another page";
    EXPECT_EQ(a[9], (Anchor{true, false, true, true})) << "a box in the left third keeps its width";
    EXPECT_EQ(a[10], (Anchor{false, true, false, true}));

    // Grown by 100 x 50, the list's foot and the button beside it stay together.
    EXPECT_EQ(place(page[1].rect, a[1], 100, 50), (Rect{10, 140, 540, 150}));
    EXPECT_EQ(place(page[3].rect, a[3], 100, 50), (Rect{560, 250, 60, 30}));
    EXPECT_EQ(place(page[4].rect, a[4], 100, 50), (Rect{10, 300, 150, 24}));
    EXPECT_EQ(place(page[0].rect, a[0], 100, 50), (Rect{10, 40, 520, 90}));
    for (size_t i = 0; i < page.size(); ++i)
        EXPECT_EQ(place(page[i].rect, a[i], 0, 0), page[i].rect) << "default size, control " << i;
}

TEST(WindowLayout, NumbersRoundTripAndEditedTextIsRefused) {
    EXPECT_EQ(format_numbers({-8, 0, 665, 415}), "-8,0,665,415");
    EXPECT_EQ(parse_numbers("-8,0,665,415", 4, -100, 1000), (std::vector<int>{-8, 0, 665, 415}));
    EXPECT_EQ(parse_numbers("", 0, 0, 10), std::vector<int>{});
    for (const char* bad :
         {"", "1,2,3", "1,2,3,4,5", "1,2,3,", ",1,2,3", "1,,2,3", "1,2,3,x", "1, 2,3,4", "1,2,3,4 ",
          "1,2,3,1001", "1,2,3,-101", "1,2,3,99999999999999999999", "+1,2,3,4"})
        EXPECT_TRUE(parse_numbers(bad, 4, -100, 1000).empty()) << bad;
}

}  // namespace
}  // namespace qorvel::ui::qt
