// The one place where host coordinates (origin lower left, y up) meet device coordinates
// (X11 and cairo: origin top left, y down). Nothing else converts.
#pragma once

#include <host/values.h>

namespace host::x11 {

// A device rectangle: top left corner and size, right and bottom edges exclusive.
struct DeviceRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend constexpr bool operator==(const DeviceRect&, const DeviceRect&) = default;
};

// Continuous positions (a point between pixels, a text baseline, a gradient end):
// host y on a surface of `height` pixels is device y = height - y.
constexpr double ToDeviceY(double hostY, int height) {
    return height - hostY;
}

// A pixel: host row y is device row height - 1 - y (and back; the map is its own inverse).
constexpr int ToDeviceRow(int hostRow, int height) {
    return height - 1 - hostRow;
}
constexpr int ToHostRow(int deviceRow, int height) {
    return height - 1 - deviceRow;
}

// A block of whole pixels between inclusive host corners.
constexpr DeviceRect ToDevice(Rect r, int height) {
    return {r.x1, ToDeviceRow(r.y2, height), r.x2 - r.x1 + 1, r.y2 - r.y1 + 1};
}

// A window whose lower left corner is at host `pos`, of `size`, inside a parent of
// `parentHeight` pixels: its device top left corner.
constexpr DeviceRect WindowToDevice(Point pos, Size size, int parentHeight) {
    return {pos.x, parentHeight - (pos.y + size.height), size.width, size.height};
}
constexpr Point WindowToHost(int deviceX, int deviceY, Size size, int parentHeight) {
    return {deviceX, parentHeight - (deviceY + size.height)};
}

// A device rectangle as inclusive host corners (the inverse of ToDevice).
constexpr Rect ToHost(DeviceRect r, int height) {
    return {r.x, height - (r.y + r.height), r.x + r.width - 1, height - 1 - r.y};
}

// What a window manager adds around a client (EWMH _NET_FRAME_EXTENTS), in pixels.
struct FrameExtents {
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
    friend constexpr bool operator==(const FrameExtents&, const FrameExtents&) = default;
};

// Where a client of `size` goes so that its frame (what the user sees) is centred on
// `monitor`. A frame larger than the monitor keeps its top left corner on it, so that the
// title bar and the menu bar stay within reach. No extents: the client itself is centred.
constexpr DeviceRect CentreFrame(const DeviceRect& monitor, Size size, const FrameExtents& e) {
    const int frameWidth = size.width + e.left + e.right;
    const int frameHeight = size.height + e.top + e.bottom;
    const int x = monitor.x + (monitor.width - frameWidth) / 2;
    const int y = monitor.y + (monitor.height - frameHeight) / 2;
    return {(x < monitor.x ? monitor.x : x) + e.left, (y < monitor.y ? monitor.y : y) + e.top,
            size.width, size.height};
}

} // namespace host::x11
