// Tip placement and painting arithmetic, with no display.
#include "menutip/placement.h"

#include <gtest/gtest.h>

namespace {

// A text box as GraQueryTextBox gives it: baseline at 0, descent below, ascent above.
host::TextBox textBox(int width, int descent, int ascent) {
    return {{0, ascent}, {0, -descent}, {width, ascent}, {width, -descent}, {width, 0}};
}

TEST(Placement, TipGoesFortyBelowThePointerAndIsRaisedByEightOnlyNearTheBottom) {
    const auto box = textBox(120, 4, 12);
    EXPECT_EQ(PlaceTip({500, 100}, box, 1920).start, (host::Point{500, 60}));
    EXPECT_EQ(PlaceTip({500, 40}, box, 1920).start.y, 0); // exactly 0 stays
    EXPECT_EQ(PlaceTip({500, 35}, box, 1920).start.y, 3); // -5 raised to 3
    // Raised by 8 only, so it may still lie partly below the desktop.
    EXPECT_EQ(PlaceTip({500, 10}, box, 1920).start.y, -22);
}

TEST(Placement, TipIsPulledBackAtTheRightEdgeOnly) {
    const auto box = textBox(120, 4, 12); // a 128-pixel-wide tip
    EXPECT_EQ(PlaceTip({1900, 500}, box, 1920).start.x, 1920 - 128);
    EXPECT_EQ(PlaceTip({1792, 500}, box, 1920).start.x, 1792); // exact fit: left alone
    EXPECT_EQ(PlaceTip({1793, 500}, box, 1920).start.x, 1792);
    EXPECT_EQ(PlaceTip({0, 500}, box, 1920).start.x, 0);
    // Wider than the desktop: its left edge lands left of it, and is not corrected.
    const auto wide = textBox(2000, 4, 12);
    EXPECT_EQ(PlaceTip({10, 500}, wide, 1920).start.x, 1920 - 2008);
}

TEST(Placement, SizeAndPaintingOfA120By16TextBox) {
    const auto place = PlaceTip({300, 300}, textBox(120, 4, 12), 1920);
    EXPECT_EQ(place.size, (host::Size{128, 22}));
    const auto paint = PaintTip(place.size);
    EXPECT_EQ(paint.background, (host::Rect{0, 0, 127, 21}));
    EXPECT_EQ(paint.frame, (host::Rect{1, 1, 126, 20}));
    EXPECT_EQ(paint.text, (host::Point{3, 4}));
    // A box whose left corner is not at 0 is measured corner to corner.
    const host::TextBox shifted{{-2, 10}, {-2, -3}, {50, 10}, {50, -3}, {50, 0}};
    EXPECT_EQ(PlaceTip({300, 300}, shifted, 1920).size, (host::Size{60, 19}));
}

TEST(Placement, StaySquareReachesEightPixelsEachWayEdgesIncluded) {
    const auto stay = PlaceTip({300, 200}, textBox(10, 2, 8), 1920).stay;
    EXPECT_EQ(stay, (host::Rect{292, 192, 308, 208}));
    EXPECT_EQ(stay.width(), 17);
    EXPECT_EQ(stay.height(), 17);
    for (int dx = -8; dx <= 8; dx += 8) {
        for (int dy = -8; dy <= 8; dy += 8) {
            EXPECT_FALSE(LeftStaySquare(stay, {300 + dx, 200 + dy})) << dx << "," << dy;
        }
    }
    EXPECT_TRUE(LeftStaySquare(stay, {309, 200}));
    EXPECT_TRUE(LeftStaySquare(stay, {291, 200}));
    EXPECT_TRUE(LeftStaySquare(stay, {300, 209}));
    EXPECT_TRUE(LeftStaySquare(stay, {300, 191}));
    EXPECT_TRUE(LeftStaySquare(stay, {309, 209}));
}

} // namespace
