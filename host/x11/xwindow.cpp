// The X window owner: create beside destroy.
#include "xwindow.h"

#include "../common/driver.h"
#include "desktop.h"
#include "object_state.h"

#include <algorithm>
#include <utility>

namespace host::x11 {

long EventMaskForThisThread(long wanted) {
    return detail::IsEventThread() ? wanted : NoEventMask;
}

XWindow::XWindow(std::shared_ptr<Connection> conn, const WindowSpec& wanted)
    : conn_(std::move(conn)) {
    XSetWindowAttributes attrs{};
    attrs.background_pixel = conn_->pixelFor(wanted.background);
    attrs.border_pixel = 0;
    attrs.event_mask = EventMaskForThisThread(wanted.events);
    attrs.override_redirect = wanted.overrideRedirect ? True : False;
    attrs.save_under = wanted.overrideRedirect ? True : False;
    attrs.bit_gravity = NorthWestGravity;
    const unsigned long valueMask =
        CWBackPixel | CWBorderPixel | CWEventMask | CWOverrideRedirect | CWSaveUnder | CWBitGravity;
    const DeviceRect& r = wanted.rect;
    id_ = XCreateWindow(conn_->dpy(), wanted.parent ? wanted.parent : conn_->root(), r.x, r.y,
                        static_cast<unsigned>(std::max(1, r.width)),
                        static_cast<unsigned>(std::max(1, r.height)), 0, CopyFromParent,
                        InputOutput, CopyFromParent, valueMask, &attrs);
}

XWindow::XWindow(XWindow&& other) noexcept
    : conn_(std::move(other.conn_)), id_(std::exchange(other.id_, 0)) {}

XWindow& XWindow::operator=(XWindow&& other) noexcept {
    if (this != &other) {
        destroy();
        conn_ = std::move(other.conn_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

void XWindow::dispatchTo(std::weak_ptr<XbpPart> part) {
    if (id_) {
        conn_->registerWindow(id_, std::move(part));
    }
}

void XWindow::destroy(Wait wait) {
    if (!id_) {
        return;
    }
    const ::Window w = std::exchange(id_, 0);
    conn_->unregisterWindow(w);
    switch (wait) {
    case Wait::Sent:
        XDestroyWindow(conn_->dpy(), w);
        XFlush(conn_->dpy());
        break;
    case Wait::Done:
        XDestroyWindow(conn_->dpy(), w);
        XSync(conn_->dpy(), False);
        break;
    case Wait::OffScreen:
        DestroyManaged(*conn_, w);
        break;
    }
}

void XWindow::forget() {
    if (id_) {
        conn_->unregisterWindow(std::exchange(id_, 0));
    }
}

} // namespace host::x11
