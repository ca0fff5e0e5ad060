// Dialogs and their drawing areas on X11. A dialog is a top-level window (managed, or
// override-redirect for an undecorated always-on-top one such as a tip) holding a drawing area
// child and, once asked for, a menu bar strip above it.
#include "a11y_notes.h"
#include "coords.h"
#include "menu_impl.h"
#include "state.h"
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

void XbpDrawingArea::bitmap(std::shared_ptr<XbpBitmap> bitmap) {
    impl_->bitmap = std::move(bitmap);
    if (impl_->created) {
        XClearArea(impl_->conn->dpy(), impl_->window.id(), 0, 0, 0, 0, True); // repaint with it
        XFlush(impl_->conn->dpy());
    }
}

void XbpDrawingArea::options(int options) {
    impl_->options = options;
}

void XbpDrawingArea::handleEvent(int nEvent, Param mp1, Param mp2, std::nullopt_t) {
    if (nEvent == event::Paint) {
        x11::PaintDrawingArea(*impl_);
        return;
    }
    if (nEvent == event::Keyboard) {
        // Keys typed in the client area also reach the dialog (menu mnemonics, F10).
        if (auto dlg = std::dynamic_pointer_cast<XbpDialog>(impl_->parent.lock())) {
            dlg->handleEvent(nEvent, mp1, mp2);
        }
    }
}

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

XbpDialog::~XbpDialog() = default;

std::shared_ptr<XbpDialog> XbpDialog::create() {
    detail::WindowImpl& w = *impl_;
    DialogState& s = *state_;
    if (w.created) {
        throw Error("XbpDialog:create", "the dialog exists already", {s.title});
    }
    if (!w.isTopLevel()) {
        throw Error("XbpDialog:create", "a dialog's parent must be the desktop", {s.title});
    }
    w.conn = Connection::current();
    const Size rootSize = w.conn->rootSize();
    const Size size = w.size.value_or(Size{400, 300});
    w.size = size;
    w.serverSize = size;
    w.pos = w.pos.value_or(Point{0, rootSize.height - size.height});
    // Without a title bar and kept on top: a window the window manager leaves alone (a tip).
    w.overrideRedirect = !s.titlebar && s.alwaysOnTop;
    const x11::DeviceRect r = x11::WindowToDevice(*w.pos, size, rootSize.height);
    w.window = x11::XWindow(w.conn, {0, r, w.bg, kWindowMask | kInputMask, w.overrideRedirect});
    const Atoms& atoms = w.conn->atoms();
    if (w.overrideRedirect) {
        x11::SetWindowType(*w.conn, w.window.id(), atoms.netWmWindowTypeTooltip);
    } else {
        x11::ManagedProps props{s.title, atoms.netWmWindowTypeDialog, {}, r};
        props.decorated = s.titlebar;
        if (!s.taskList) {
            props.states.push_back(atoms.netWmStateSkipTaskbar);
        }
        if (s.alwaysOnTop) {
            props.states.push_back(atoms.netWmStateAbove);
        }
        x11::SetManagedProperties(*w.conn, w.window.id(), props);
    }
    w.created = true;
    w.registerSelf();

    // The drawing area fills the client area; a menu bar strip, once asked for, sits above it.
    auto self = std::static_pointer_cast<XbpWindow>(shared_from_this());
    PresParams inherited{{pp::Foreground, w.fg}, {pp::Background, w.bg}, {pp::Font, w.font}};
    s.drawingArea.reset(new XbpDrawingArea(self, Point{0, 0}, size, inherited, true));
    detail::WindowImpl& a = Impl(*s.drawingArea);
    a.self = s.drawingArea;
    a.conn = w.conn;
    a.serverSize = size;
    a.window = x11::XWindow(
        w.conn,
        {w.window.id(), {0, 0, size.width, size.height}, w.bg, kWindowMask | kInputMask, false});
    a.created = true;
    a.registerSelf();
    XMapWindow(w.conn->dpy(), a.window.id());
    if (s.menuBar) {
        Impl(*s.menuBar).createStrip(w.window.id(), size.width, s.menuBar);
    }
    configure();
    if (w.visible) {
        show();
    }
    x11::a11y::DialogShown(w, a, s.title);
    return std::static_pointer_cast<XbpDialog>(shared_from_this());
}

void XbpDialog::destroy() {
    DialogState& s = *state_;
    x11::a11y::WindowGone(impl_->created ? impl_->window.id() : 0);
    if (s.menuBar) {
        Impl(*s.menuBar).destroyStrip();
    }
    if (s.drawingArea && s.drawingArea->isCreated()) {
        // The server destroys the child with its parent; only our table needs the news.
        detail::WindowImpl& a = Impl(*s.drawingArea);
        a.lockedPS.reset();
        a.window.forget();
        a.created = false;
    }
    XbpWindow::destroy();
}

bool XbpDialog::configure() {
    detail::WindowImpl& w = *impl_;
    DialogState& s = *state_;
    if (!w.created) {
        return false;
    }
    const Size size = currentSize();
    int barHeight = 0;
    if (s.menuBar && Impl(*s.menuBar).strip) {
        detail::MenuImpl& bar = Impl(*s.menuBar);
        barHeight = std::min(bar.height, size.height - 1);
        XMoveResizeWindow(w.conn->dpy(), bar.strip.id(), 0, 0, static_cast<unsigned>(size.width),
                          static_cast<unsigned>(barHeight));
    }
    if (s.drawingArea && s.drawingArea->isCreated()) {
        detail::WindowImpl& a = Impl(*s.drawingArea);
        const Size areaSize{size.width, size.height - barHeight};
        a.size = areaSize;
        a.serverSize = areaSize; // we asked for it: its ConfigureNotify is no news
        a.pos = Point{0, 0};
        XMoveResizeWindow(w.conn->dpy(), a.window.id(), 0, barHeight,
                          static_cast<unsigned>(areaSize.width),
                          static_cast<unsigned>(areaSize.height));
    }
    // Sent with what follows (showing, painting, the event loop's next wait): a flush of its
    // own would wake the server once more for two small requests.
    return true;
}

std::shared_ptr<XbpMenuBar> XbpDialog::menuBar() {
    DialogState& s = *state_;
    if (!s.menuBar) {
        auto self = std::static_pointer_cast<XbpDialog>(shared_from_this());
        s.menuBar.reset(new XbpMenuBar(self));
        Impl(*s.menuBar).font = impl_->font;
        if (impl_->created) {
            Impl(*s.menuBar).createStrip(impl_->window.id(), currentSize().width, s.menuBar);
            configure();
        }
    }
    return s.menuBar;
}

void XbpDialog::title(std::string text) {
    state_->title = std::move(text);
    if (impl_->created && !impl_->overrideRedirect) {
        x11::SetTitle(*impl_->conn, impl_->window.id(), state_->title);
        XFlush(impl_->conn->dpy());
    }
}

void XbpDialog::handleEvent(int nEvent, Param mp1, Param mp2, std::nullopt_t) {
    switch (nEvent) {
    case event::Close:
        if (state_->close) {
            state_->close();
        }
        break;
    case event::Resize:
        configure();
        break;
    case event::Keyboard:
        if (state_->menuBar) {
            state_->menuBar->handleEvent(nEvent, mp1, mp2);
        }
        break;
    default:
        XbpWindow::handleEvent(nEvent, mp1, mp2);
        break;
    }
}

} // namespace host
