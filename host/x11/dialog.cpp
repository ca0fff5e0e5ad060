// Dialogs and their drawing areas on X11. A dialog is a top-level window (managed, or
// override-redirect for an undecorated always-on-top one such as a tip) holding a drawing area
// child and, once asked for, a menu bar strip above it.
#include "dialog.h"

#include "a11y_notes.h"
#include "coords.h"
#include "drawing.h"
#include "menu_state.h"
#include "object_state.h"
#include "wm.h"

#include <host/error.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace host {

using x11::Atoms;
using x11::Connection;

namespace {

constexpr long kInputMask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                            PointerMotionMask | EnterWindowMask | LeaveWindowMask | FocusChangeMask;
constexpr long kWindowMask = ExposureMask | StructureNotifyMask;

} // namespace

// ---- XbpDrawingArea ------------------------------------------------------------------------

namespace detail {

void WindowImpl::paintArea() {
    x11::PaintDrawingArea(*this);
}

} // namespace detail

namespace x11 {

void PaintDrawingArea(detail::WindowImpl& w) {
    if (!w.created || !w.bitmap || !Impl(*w.bitmap).cairo()) {
        return;
    }
    const Size area = w.size.value_or(Size{});
    const Size bs = w.bitmap->size();
    const bool scaled = (w.options & bmp::Scaled) && bs != area;
    if (!scaled) {
        // At the area's lower left corner, as the cairo path below puts it.
        cairo_surface_flush(Impl(*w.bitmap).cairo());
        if (PutInStrips(*w.conn, w.window.id(), *Impl(*w.bitmap).pixels, 0,
                        ToDeviceY(bs.height, area.height), area)) {
            return;
        }
    }
    SurfacePtr surface(cairo_xlib_surface_create(w.conn->dpy(), w.window.id(), w.conn->visual(),
                                                 area.width, area.height));
    CairoPtr cr(cairo_create(surface.get()));
    cairo_surface_t* image = Impl(*w.bitmap).cairo();
    if (scaled) {
        // Scaled to fill the area, so a resized dialog still shows the whole picture.
        cairo_scale(cr.get(), double(area.width) / bs.width, double(area.height) / bs.height);
        cairo_set_source_surface(cr.get(), image, 0, 0);
        cairo_pattern_set_extend(cairo_get_source(cr.get()), CAIRO_EXTEND_PAD);
    } else {
        cairo_set_source_surface(cr.get(), image, 0, ToDeviceY(bs.height, area.height));
    }
    cairo_paint(cr.get());
    cr.reset();
    cairo_surface_flush(surface.get());
    XFlush(w.conn->dpy());
}

} // namespace x11

// ---- XbpDialog -----------------------------------------------------------------------------

namespace detail {

void WindowImpl::createDialogWindow(const DialogState& s) {
    conn = Connection::current();
    const Size rootSize = conn->rootSize();
    serverSize = *size;
    // Without a title bar and kept on top: a window the window manager leaves alone (a tip).
    overrideRedirect = !s.titlebar && s.alwaysOnTop;
    const x11::DeviceRect r = x11::WindowToDevice(*pos, *size, rootSize.height);
    window = x11::XWindow(conn, {0, r, bg, kWindowMask | kInputMask, overrideRedirect});
    const Atoms& atoms = conn->atoms();
    if (overrideRedirect) {
        x11::SetWindowType(*conn, window.id(), atoms.netWmWindowTypeTooltip);
    } else {
        x11::ManagedProps props{s.title, atoms.netWmWindowTypeDialog, {}, r};
        props.decorated = s.titlebar;
        if (!s.taskList) {
            props.states.push_back(atoms.netWmStateSkipTaskbar);
        }
        if (s.alwaysOnTop) {
            props.states.push_back(atoms.netWmStateAbove);
        }
        x11::SetManagedProperties(*conn, window.id(), props);
    }
    registerSelf();
}

void WindowImpl::createAreaWindow(WindowState& dialogState) {
    const auto& d = static_cast<const WindowImpl&>(dialogState);
    conn = d.conn;
    serverSize = *size;
    window = x11::XWindow(
        conn,
        {d.window.id(), {0, 0, size->width, size->height}, d.bg, kWindowMask | kInputMask, false});
    registerSelf();
    XMapWindow(conn->dpy(), window.id());
}

void WindowImpl::forgetWindow() {
    window.forget(); // the server destroys the child with its parent; only our table needs it
}

void WindowImpl::layOut(const DialogState& s) {
    const Size whole = windowSize();
    int barHeight = 0;
    if (s.menuBar && Impl(*s.menuBar).strip) {
        MenuImpl& bar = Impl(*s.menuBar);
        barHeight = std::min(bar.height, whole.height - 1);
        XMoveResizeWindow(conn->dpy(), bar.strip.id(), 0, 0, static_cast<unsigned>(whole.width),
                          static_cast<unsigned>(barHeight));
    }
    if (s.drawingArea && s.drawingArea->isCreated()) {
        WindowImpl& a = Impl(*s.drawingArea);
        const Size areaSize{whole.width, whole.height - barHeight};
        a.size = areaSize;
        a.serverSize = areaSize; // we asked for it: its ConfigureNotify is no news
        a.pos = Point{0, 0};
        XMoveResizeWindow(conn->dpy(), a.window.id(), 0, barHeight,
                          static_cast<unsigned>(areaSize.width),
                          static_cast<unsigned>(areaSize.height));
    }
    // Sent with what follows (showing, painting, the event loop's next wait): a flush of its
    // own would wake the server once more for two small requests.
}

void WindowImpl::titleChanged(const std::string& title) {
    if (!overrideRedirect) {
        x11::SetTitle(*conn, window.id(), title);
        XFlush(conn->dpy());
    }
}

void WindowImpl::dialogCreated(const DialogState& s) {
    x11::a11y::DialogShown(*this, Impl(*s.drawingArea), s.title);
}

void WindowImpl::dialogDestroying() {
    x11::a11y::WindowGone(created ? window.id() : 0);
}

void WindowImpl::repaint() {
    XClearArea(conn->dpy(), window.id(), 0, 0, 0, 0, True);
    XFlush(conn->dpy());
}

} // namespace detail

} // namespace host
