// The desktop and its monitors on Win32: the virtual screen in host coordinates, the monitor
// that holds a point, and centring a top-level window on one.
#include "coords.h"
#include "driver.h"
#include "object_state.h"

#include <algorithm>

namespace host {

namespace win32 {

RECT DesktopRect() {
    const int x = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int y = GetSystemMetrics(SM_YVIRTUALSCREEN);
    return {x, y, x + GetSystemMetrics(SM_CXVIRTUALSCREEN),
            y + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

Size ScreenSize() {
    const RECT d = DesktopRect();
    return {d.right - d.left, d.bottom - d.top};
}

POINT HostToScreen(Point p) {
    const RECT d = DesktopRect();
    return {d.left + p.x, d.top + ToDeviceRow(p.y, d.bottom - d.top)};
}

Point ScreenToHost(POINT p) {
    const RECT d = DesktopRect();
    return {p.x - d.left, ToDeviceRow(p.y - d.top, d.bottom - d.top)};
}

Rect ScreenRectToHost(const RECT& r) {
    const Point lowerLeft = ScreenToHost({r.left, r.bottom - 1});
    const Point upperRight = ScreenToHost({r.right - 1, r.top});
    return {lowerLeft.x, lowerLeft.y, upperRight.x, upperRight.y};
}

POINT TopLevelToScreen(Point pos, Size size) {
    const RECT d = DesktopRect();
    const POINT at = WindowToDevice(pos, size, d.bottom - d.top);
    return {d.left + at.x, d.top + at.y};
}

Point TopLevelToHost(const RECT& window) {
    const RECT d = DesktopRect();
    return {window.left - d.left, d.bottom - window.bottom};
}

} // namespace win32

namespace {

// The monitor that holds the screen point, else the primary, in screen coordinates; the whole
// desktop when the system tells of no monitor.
RECT monitorHolding(POINT point) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (HMONITOR monitor = MonitorFromPoint(point, MONITOR_DEFAULTTOPRIMARY);
        monitor && GetMonitorInfoW(monitor, &info)) {
        return info.rcMonitor;
    }
    return win32::DesktopRect();
}

// Where a window rectangle of `size` goes so that it is centred on `monitor`; one larger than
// the monitor keeps its top left corner (caption and menu bar) on it.
POINT centreOn(const RECT& monitor, Size size) {
    const LONG x = monitor.left + (monitor.right - monitor.left - size.width) / 2;
    const LONG y = monitor.top + (monitor.bottom - monitor.top - size.height) / 2;
    return {std::max(x, monitor.left), std::max(y, monitor.top)};
}

} // namespace

void win32::Win32Driver::centreTopLevel(const std::shared_ptr<XbpWindow>& window) {
    // currentSize is the whole window rectangle, frame and caption included: what the user sees.
    const Size inner = window->currentSize();
    // A top-level window: on one monitor, not across the seam of two.
    POINT pointer{}; // (0, 0), on the primary, when the pointer cannot be read
    GetCursorPos(&pointer);
    const POINT at = centreOn(monitorHolding(pointer), inner);
    window->setPos(win32::TopLevelToHost({at.x, at.y, at.x + inner.width, at.y + inner.height}));
}

Rect win32::Win32Driver::monitorAt(Point point) {
    return win32::ScreenRectToHost(monitorHolding(win32::HostToScreen(point)));
}

} // namespace host
