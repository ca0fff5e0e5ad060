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

TEST(Coordinates, FramesCentreOnAMonitorAndKeepTheirTopLeftCornerOnIt) {
    // openbox's frame around an 800x600 client: 1 px sides, 20 px title bar, 5 px bottom.
    const FrameExtents ob{1, 1, 20, 5};
    // The frame (802x625) centred on 1920x1080: at (559, 227), so the client is at (560, 247).
    EXPECT_EQ(CentreFrame({0, 0, 1920, 1080}, {800, 600}, ob), (DeviceRect{560, 247, 800, 600}));
    // No extents: the client itself is centred. On the right one of two monitors, within it.
    EXPECT_EQ(CentreFrame({1920, 0, 1920, 1080}, {800, 600}, {}),
              (DeviceRect{2480, 240, 800, 600}));
    // Larger than a 640x480 monitor: the frame's top left corner stays on it.
    EXPECT_EQ(CentreFrame({0, 0, 640, 480}, {800, 600}, ob), (DeviceRect{1, 20, 800, 600}));
    EXPECT_EQ(CentreFrame({1920, 0, 640, 480}, {800, 600}, {}), (DeviceRect{1920, 0, 800, 600}));
    // And back to host corners.
    EXPECT_EQ(ToHost(DeviceRect{1920, 0, 1920, 1080}, 1080), (Rect{1920, 0, 3839, 1079}));
    EXPECT_EQ(ToHost(ToDevice(Rect{3, 4, 10, 20}, 600), 600), (Rect{3, 4, 10, 20}));
}
