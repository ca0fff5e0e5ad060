// The X11 driver's factory and its hooks for start and end, focus, placement and the pointer.
#include "driver.h"

#include "../a11y/a11y.h"
#include "connection.h"
#include "coords.h"
#include "desktop.h"
#include "drawing.h"
#include "menu_state.h"
#include "object_state.h"

namespace host {

std::unique_ptr<detail::Driver> detail::MakeDriver() {
    return std::make_unique<x11::X11Driver>();
}

namespace x11 {

std::unique_ptr<detail::WindowState> X11Driver::newWindowState() {
    return std::make_unique<detail::WindowImpl>();
}

std::unique_ptr<detail::PresSpaceState> X11Driver::newPresSpaceState() {
    return std::make_unique<detail::PresSpaceImpl>();
}

std::unique_ptr<detail::BitmapState> X11Driver::newBitmapState() {
    return std::make_unique<detail::BitmapImpl>();
}

std::unique_ptr<detail::MenuState> X11Driver::newMenuState() {
    return std::make_unique<detail::MenuImpl>();
}

void X11Driver::programStarting() {
    // Loading the font configuration takes tens of milliseconds; do it beside the program's
    // start-up work instead of in front of its first text.
    warmFonts_ = std::jthread(WarmFonts);
    host::a11y::Start(ProgramName()); // only where an accessibility bus is there
}

void X11Driver::programEnded() {
    if (warmFonts_.joinable()) {
        warmFonts_.join();
    }
}

void X11Driver::appExit() {
    Connection::release();
}

void X11Driver::endingOnError() {
    // The run's windows were destroyed as it unwound: make sure the server has taken them down
    // before the process ends.
    if (auto conn = Connection::existing()) {
        XSync(conn->dpy(), False);
    }
}

Size X11Driver::desktopSize() {
    return Connection::current()->rootSize();
}

void X11Driver::aimAtDesktop(detail::PresSpaceState& space) {
    // On the calling thread's own connection.
    auto& p = static_cast<detail::PresSpaceImpl&>(space);
    p.conn = Connection::current();
    p.target = detail::PresSpaceImpl::Target::ToWindow;
    p.window = p.conn->root();
    p.windowSize = p.conn->rootSize();
}

void X11Driver::setInputFocus(const std::shared_ptr<XbpWindow>& window) {
    std::shared_ptr<Connection> conn = Connection::current();
    ErrorTrap trap(conn->dpy()); // an unviewable window cannot take the focus: not fatal
    if (window && window->isCreated() && !Impl(*window).desktop) {
        XSetInputFocus(conn->dpy(), Impl(*window).window.id(), RevertToParent, CurrentTime);
    } else {
        XSetInputFocus(conn->dpy(), PointerRoot, RevertToPointerRoot, CurrentTime);
    }
    trap.sync();
}

void X11Driver::centreTopLevel(const std::shared_ptr<XbpWindow>& window) {
    detail::WindowImpl& w = Impl(*window);
    const Size inner = window->currentSize();
    std::shared_ptr<Connection> conn = w.conn ? w.conn : Connection::current();
    const int rootHeight = conn->rootSize().height;
    const DeviceRect monitor = PointerMonitor(*conn);
    if (w.created && !w.overrideRedirect) {
        // What the user sees is the frame: centre that (the window manager tells its size).
        const DeviceRect r = CentreManaged(*conn, w.window.id(), inner, monitor);
        w.pos = WindowToHost(r.x, r.y, inner, rootHeight);
        return;
    }
    const DeviceRect r = CentreFrame(monitor, inner, {});
    window->setPos(WindowToHost(r.x, r.y, inner, rootHeight));
}

Point X11Driver::pointerPos() {
    std::shared_ptr<Connection> conn = Connection::current();
    ::Window root = 0, child = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned int mask = 0;
    XQueryPointer(conn->dpy(), conn->root(), &root, &child, &rx, &ry, &wx, &wy, &mask);
    return {rx, ToHostRow(ry, conn->rootSize().height)};
}

WarmUp X11Driver::threadWarmUp() const {
    // Host threads that will show windows open their connections in their first pause.
    return WarmThread;
}

} // namespace x11
} // namespace host
