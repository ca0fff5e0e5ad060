// Windows and the desktop on X11: what every window does (show, place, lock a presentation
// space, colours), and mapping a top-level window under a window manager. Dialogs and their
// drawing areas are in dialog.cpp.
#include "coords.h"
#include "desktop.h"
#include "menu_state.h"
#include "object_state.h"

#include <host/application.h>
#include <host/error.h>

#include <poll.h>

#include <chrono>
#include <string>

#include <X11/Xutil.h>

namespace host {

using x11::Atoms;
using x11::Connection;

// ---- WindowImpl --------------------------------------------------------------------------

namespace detail {

int WindowImpl::parentHeight() const {
    auto p = parent.lock();
    if (!p || Impl(*p).desktop) {
        return (conn ? conn : Connection::current())->rootSize().height;
    }
    return p->currentSize().height;
}

void WindowImpl::registerSelf() {
    if (auto me = self.lock()) {
        window.dispatchTo(me);
    }
}

} // namespace detail

// ---- XbpWindow -----------------------------------------------------------------------------

namespace detail {

void WindowImpl::destroyWindow() {
    // Gone from the screen when destroy returns: a managed window once its frame is down and a
    // compositor has repainted (a desktop capture may follow at once).
    const bool managed = isTopLevel() && !overrideRedirect;
    window.destroy(managed ? x11::XWindow::Wait::OffScreen : x11::XWindow::Wait::Done);
}

void WindowImpl::showWindow() {
    if (isTopLevel()) {
        // Top-level windows: keep the position we chose also under a window manager.
        x11::MapAndWait(*conn, window.id(), overrideRedirect);
    } else {
        XMapWindow(conn->dpy(), window.id());
        XFlush(conn->dpy());
    }
}

void WindowImpl::hideWindow() {
    XUnmapWindow(conn->dpy(), window.id());
    XFlush(conn->dpy());
}

void WindowImpl::backgroundChanged() {
    XSetWindowBackground(conn->dpy(), window.id(), conn->pixelFor(bg));
    XClearArea(conn->dpy(), window.id(), 0, 0, 0, 0, True);
    XFlush(conn->dpy());
}

void WindowImpl::aimAtWindow(PresSpaceState& space) {
    auto& p = static_cast<PresSpaceImpl&>(space);
    p.conn = conn;
    p.target = PresSpaceImpl::Target::ToWindow;
    p.window = window.id();
    p.sentOnUnlock = true;
}

void WindowImpl::fitLockedSpace(PresSpaceState& space) {
    auto& p = static_cast<PresSpaceImpl&>(space);
    if (p.windowSize != windowSize()) {
        p.windowSurface.reset();
        p.windowSize = windowSize();
    }
}

// Where the window now lies: its lower left corner at `pos` (host coordinates), the top above.
void WindowImpl::moved(Point pos, Size size) {
    WindowImpl& w = *this;
    const x11::DeviceRect r = x11::WindowToDevice(pos, size, w.parentHeight());
    XMoveWindow(w.conn->dpy(), w.window.id(), r.x, r.y);
    if (!w.overrideRedirect && w.isTopLevel()) {
        XSizeHints hints{};
        long supplied = 0;
        XGetWMNormalHints(w.conn->dpy(), w.window.id(), &hints, &supplied);
        hints.flags |= USPosition | PPosition;
        hints.x = r.x;
        hints.y = r.y;
        XSetWMNormalHints(w.conn->dpy(), w.window.id(), &hints);
    }
    XFlush(w.conn->dpy());
}

// Its new size, the lower left corner where it was.
void WindowImpl::resized(Point pos, Size size) {
    WindowImpl& w = *this;
    const x11::DeviceRect r = x11::WindowToDevice(pos, size, w.parentHeight());
    XMoveResizeWindow(w.conn->dpy(), w.window.id(), r.x, r.y, static_cast<unsigned>(r.width),
                      static_cast<unsigned>(r.height));
    XFlush(w.conn->dpy());
}

} // namespace detail

} // namespace host
