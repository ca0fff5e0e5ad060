// The single conversion between host (y up) and device (y down) coordinates.
#include "x11/coords.h"

#include <gtest/gtest.h>

using namespace host;
using namespace host::x11;

TEST(Coordinates, PixelRowsMirrorAndInvert) {
    EXPECT_EQ(ToDeviceRow(0, 600), 599);
    EXPECT_EQ(ToDeviceRow(599, 600), 0);
    for (int y : {0, 1, 300, 599}) {
        EXPECT_EQ(ToHostRow(ToDeviceRow(y, 600), 600), y);
    }
    EXPECT_DOUBLE_EQ(ToDeviceY(0, 600), 600.0); // the bottom edge
    EXPECT_DOUBLE_EQ(ToDeviceY(600, 600), 0.0); // the top edge
}

TEST(Coordinates, BoxesAndWindows) {
    // A 128x22 box from (0,0) to (127,21) fills a 128x22 surface exactly.
    EXPECT_EQ(ToDevice(Rect{0, 0, 127, 21}, 22), (DeviceRect{0, 0, 128, 22}));
    // The frame one pixel inside.
    EXPECT_EQ(ToDevice(Rect{1, 1, 126, 20}, 22), (DeviceRect{1, 1, 126, 20}));
    // A 800x600 window centred on 1920x1080: lower left (560, 240) is top left (560, 240).
    EXPECT_EQ(WindowToDevice({560, 240}, {800, 600}, 1080), (DeviceRect{560, 240, 800, 600}));
    // A tip whose lower left corner is 60 px above the bottom of a 1080 px screen.
    EXPECT_EQ(WindowToDevice({10, 60}, {128, 22}, 1080).y, 1080 - 60 - 22);
    EXPECT_EQ(WindowToHost(10, 998, {128, 22}, 1080), (Point{10, 60}));
}
