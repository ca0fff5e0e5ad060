// Coordinates on Win32: host coordinates have their origin at the lower left, y up; GDI and
// User32 at the top left, y down. The conversions live here and nowhere else.
#pragma once

#include <host/values.h>

#include <windows.h>

namespace host::win32 {

// A pixel row: host row y on a surface of `height` rows is device row height - 1 - y.
constexpr int ToDeviceRow(int hostRow, int height) {
    return height - 1 - hostRow;
}
// A position between pixels (a text baseline): device y = height - y.
constexpr int ToDeviceY(int hostY, int height) {
    return height - hostY;
}
// A window whose lower left corner is at host `pos` in a parent of `parentHeight` rows.
constexpr POINT WindowToDevice(Point pos, Size size, int parentHeight) {
    return {pos.x, parentHeight - (pos.y + size.height)};
}
constexpr COLORREF ToColorRef(Color c) {
    return static_cast<COLORREF>(RedOf(c) | (GreenOf(c) << 8) | (BlueOf(c) << 16));
}

// The desktop is the virtual screen that spans every monitor, as an X server's root window
// does: host (0, 0) is its lower left pixel. The system's screen coordinates have their
// origin at the primary monitor's top left, so the virtual screen may begin at negative ones.
RECT DesktopRect(); // in screen coordinates
// The desktop's size in pixels.
Size ScreenSize();
// A pixel of the desktop between host and screen coordinates.
POINT HostToScreen(Point p);
Point ScreenToHost(POINT p);
// A block of screen pixels (right and bottom exclusive) as inclusive host corners.
Rect ScreenRectToHost(const RECT& r);
// A top-level window whose lower left corner is at host `pos`: its screen top left corner;
// and back from its window rectangle.
POINT TopLevelToScreen(Point pos, Size size);
Point TopLevelToHost(const RECT& window);

} // namespace host::win32
