// Windows, dialogs, drawing areas and the desktop on X11. A dialog is a top-level window
// (managed, or override-redirect for an undecorated always-on-top one such as a tip) holding
// a drawing area child and, once asked for, a menu bar strip above it.
#include "coords.h"
#include "desktop.h"
#include "impl.h"
#include "menu_impl.h"
#include "wm.h"

#include <host/application.h>
#include <host/error.h>

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include <X11/Xatom.h>
#include <X11/Xutil.h>

namespace host {

using x11::Atoms;
using x11::Connection;

namespace {

constexpr long kInputMask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                            PointerMotionMask | EnterWindowMask | LeaveWindowMask | FocusChangeMask;
constexpr long kWindowMask = ExposureMask | StructureNotifyMask;

} // namespace

// Only MapNotify is taken from the queue while waiting, and it is put back.
void x11::MapAndWait(Connection& c, ::Window w, bool overrideRedirect) {
    Display* dpy = c.dpy();
    XMapRaised(dpy, w);
    if (overrideRedirect) {
        // Mapped once the server has read the request; the round trip makes that true for
        // every other client too when this returns.
        XSync(dpy, False);
        return;
    }
    // A round trip of its own: the map request is served before the answer.
    XWindowAttributes attrs{};
    if (XGetWindowAttributes(dpy, w, &attrs) && attrs.map_state == IsViewable) {
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    XEvent ev;
    while (!XCheckTypedWindowEvent(dpy, w, MapNotify, &ev)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return;
        }
        pollfd pfd{ConnectionNumber(dpy), POLLIN, 0};
        ::poll(&pfd, 1, static_cast<int>(left.count()));
    }
    XPutBackEvent(dpy, &ev); // the event loop still learns of the map
}

namespace {

void applyPresParams(detail::WindowImpl& w, const PresParams& params) {
    for (const PresParam& p : params) {
        if (p.code == pp::Foreground || p.code == pp::Background) {
            const Color* c = std::get_if<Color>(&p.value);
            if (!c) {
                throw Error("presentation parameters", "a colour parameter needs a colour number",
                            {std::to_string(p.code)});
            }
            (p.code == pp::Foreground ? w.fg : w.bg) = *c;
        } else if (p.code == pp::Font) {
            const Font* f = std::get_if<Font>(&p.value);
            if (!f) {
                throw Error("presentation parameters", "the font parameter needs a font");
            }
            w.font = *f;
        }
        // Other codes belong to window kinds we do not have; they are ignored.
    }
}

void requireCreated(const detail::WindowImpl& w, const char* operation) {
    if (!w.created) {
        throw Error(operation, "the window has not been created, or was destroyed");
    }
}

} // namespace

// ---- WindowImpl --------------------------------------------------------------------------

namespace detail {

bool WindowImpl::isTopLevel() const {
    auto p = parent.lock();
    return !p || Impl(*p).desktop;
}

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

// ---- XbpPart -------------------------------------------------------------------------------

XbpPart::~XbpPart() = default;
void XbpPart::handleEvent(int, Param, Param, std::nullopt_t) {}

// ---- XbpWindow -----------------------------------------------------------------------------

XbpWindow::XbpWindow(std::shared_ptr<XbpWindow> parent, std::optional<Point> pos,
                     std::optional<Size> size, PresParams presParams, bool visible)
    : impl_(std::make_unique<detail::WindowImpl>()) {
    impl_->parent = std::move(parent);
    impl_->pos = pos;
    impl_->size = size;
    impl_->visible = visible;
    impl_->font = DefaultFont();
    applyPresParams(*impl_, presParams);
}

// A window that was never destroyed explicitly still leaves the server with its owner.
XbpWindow::~XbpWindow() = default;

void XbpWindow::destroy() {
    detail::WindowImpl& w = *impl_;
    if (!w.created || w.desktop) {
        return;
    }
    w.lockedPS.reset();
    // Gone from the screen when destroy returns: a managed window once its frame is down and a
    // compositor has repainted (a desktop capture may follow at once).
    const bool managed = w.isTopLevel() && !w.overrideRedirect;
    w.window.destroy(managed ? x11::XWindow::Wait::OffScreen : x11::XWindow::Wait::Done);
    w.created = false;
}

bool XbpWindow::isCreated() const {
    return impl_->created;
}

bool XbpWindow::show() {
    detail::WindowImpl& w = *impl_;
    requireCreated(w, "XbpWindow:show");
    w.visible = true;
    if (w.isTopLevel()) {
        // Top-level windows: keep the position we chose also under a window manager.
        x11::MapAndWait(*w.conn, w.window.id(), w.overrideRedirect);
    } else {
        XMapWindow(w.conn->dpy(), w.window.id());
        XFlush(w.conn->dpy());
    }
    return true;
}

bool XbpWindow::hide() {
    detail::WindowImpl& w = *impl_;
    requireCreated(w, "XbpWindow:hide");
    w.visible = false;
    XUnmapWindow(w.conn->dpy(), w.window.id());
    XFlush(w.conn->dpy());
    return true;
}

bool XbpWindow::isVisible() const {
    return impl_->created && impl_->visible;
}

std::shared_ptr<XbpWindow> XbpWindow::parent() const {
    return impl_->parent.lock();
}

Size XbpWindow::currentSize() const {
    if (impl_->desktop) {
        return Connection::current()->rootSize();
    }
    return impl_->size.value_or(Size{});
}

Point XbpWindow::currentPos() const {
    if (impl_->desktop) {
        return {0, 0};
    }
    return impl_->pos.value_or(Point{});
}

bool XbpWindow::setPos(Point pos) {
    detail::WindowImpl& w = *impl_;
    if (w.desktop) {
        return false;
    }
    w.pos = pos;
    if (w.created) {
        const x11::DeviceRect r = x11::WindowToDevice(pos, currentSize(), w.parentHeight());
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
    return true;
}

bool XbpWindow::setSize(Size size) {
    detail::WindowImpl& w = *impl_;
    if (w.desktop || size.width <= 0 || size.height <= 0) {
        return false;
    }
    const Point pos = currentPos();
    w.size = size;
    if (w.created) {
        // The lower left corner stays where it is (host coordinates), so the top moves.
        const x11::DeviceRect r = x11::WindowToDevice(pos, size, w.parentHeight());
        XMoveResizeWindow(w.conn->dpy(), w.window.id(), r.x, r.y, static_cast<unsigned>(r.width),
                          static_cast<unsigned>(r.height));
        XFlush(w.conn->dpy());
    }
    return true;
}

std::shared_ptr<XbpPresSpace> XbpWindow::lockPS() {
    detail::WindowImpl& w = *impl_;
    if (w.desktop) {
        // Every caller gets a space of its own, on its own thread's connection.
        auto ps = XbpPresSpace::New();
        auto& p = Impl(*ps);
        p.conn = Connection::current();
        p.target = detail::PresSpaceImpl::Target::ToWindow;
        p.window = p.conn->root();
        p.windowSize = p.conn->rootSize();
        p.font = w.font;
        p.created = true;
        return ps;
    }
    requireCreated(w, "XbpWindow:lockPS");
    if (!w.lockedPS) {
        w.lockedPS = XbpPresSpace::New();
        auto& p = Impl(*w.lockedPS);
        p.conn = w.conn;
        p.target = detail::PresSpaceImpl::Target::ToWindow;
        p.window = w.window.id();
        p.font = w.font;
        p.color = w.fg;
        p.created = true;
    }
    auto& p = Impl(*w.lockedPS);
    if (p.windowSize != currentSize()) {
        p.windowSurface.reset();
        p.windowSize = currentSize();
    }
    return w.lockedPS;
}

void XbpWindow::unlockPS(std::shared_ptr<XbpPresSpace> ps) {
    detail::WindowImpl& w = *impl_;
    auto& locked = ps ? ps : w.lockedPS;
    if (!locked) {
        return;
    }
    Impl(*locked).flush();
    if (Impl(*locked).conn) {
        XSync(Impl(*locked).conn->dpy(), False); // the server has the pixels
    }
    Impl(*locked).windowSurface.reset();
    if (!ps || ps == w.lockedPS) {
        w.lockedPS.reset();
    }
}

Color XbpWindow::setColorFG(std::optional<Color> color) {
    const Color previous = impl_->fg;
    if (color) {
        impl_->fg = *color;
    }
    return previous;
}

Color XbpWindow::setColorBG(std::optional<Color> color) {
    const Color previous = impl_->bg;
    if (color) {
        impl_->bg = *color;
        if (impl_->created && !impl_->desktop) {
            XSetWindowBackground(impl_->conn->dpy(), impl_->window.id(),
                                 impl_->conn->pixelFor(*color));
            XClearArea(impl_->conn->dpy(), impl_->window.id(), 0, 0, 0, 0, True);
            XFlush(impl_->conn->dpy());
        }
    }
    return previous;
}

Font XbpWindow::setFont(std::optional<Font> font) {
    Font previous = impl_->font;
    if (font) {
        impl_->font = std::move(*font);
    }
    return previous;
}

bool XbpWindow::clipParent() const {
    return impl_->clipParent;
}
void XbpWindow::clipParent(bool on) {
    impl_->clipParent = on;
}
bool XbpWindow::clipChildren() const {
    return impl_->clipChildren;
}
void XbpWindow::clipChildren(bool on) {
    impl_->clipChildren = on;
}

void XbpWindow::handleEvent(int, Param, Param, std::nullopt_t) {}

// ---- XbpDrawingArea ------------------------------------------------------------------------

std::shared_ptr<XbpBitmap> XbpDrawingArea::bitmap() const {
    return impl_->bitmap;
}

void XbpDrawingArea::bitmap(std::shared_ptr<XbpBitmap> bitmap) {
    impl_->bitmap = std::move(bitmap);
    if (impl_->created) {
        XClearArea(impl_->conn->dpy(), impl_->window.id(), 0, 0, 0, 0, True); // repaint with it
        XFlush(impl_->conn->dpy());
    }
}

int XbpDrawingArea::options() const {
    return impl_->options;
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

namespace {
// A bitmap of the area's size in shared memory goes to the window without a copy through the
// socket: the server reads the pixels where they are. The sync keeps them unchanged until it
// has (the program may draw into the bitmap right after).
bool putShared(detail::WindowImpl& w, Size area) {
    detail::BitmapImpl& b = Impl(*w.bitmap);
    if (b.size() != area || w.conn->depth() != 24) {
        return false;
    }
    XShmSegmentInfo* shm = b.pixels->shmFor(w.conn);
    if (!shm) {
        return false;
    }
    cairo_surface_flush(b.cairo());
    Display* dpy = w.conn->dpy();
    XImagePtr image(XShmCreateImage(dpy, w.conn->visual(), 24, ZPixmap, nullptr, shm,
                                    static_cast<unsigned>(area.width),
                                    static_cast<unsigned>(area.height)));
    if (!image || image->bytes_per_line != b.pixels->stride() || image->bits_per_pixel != 32) {
        return false;
    }
    image->data = reinterpret_cast<char*>(b.pixels->data());
    XShmPutImage(dpy, w.window.id(), DefaultGC(dpy, w.conn->screen()), image.get(), 0, 0, 0, 0,
                 static_cast<unsigned>(area.width), static_cast<unsigned>(area.height), False);
    XSync(dpy, False);
    image->data = nullptr; // the pixels belong to the bitmap
    return true;
}
} // namespace

void PaintDrawingArea(detail::WindowImpl& w) {
    if (!w.created || !w.bitmap || !Impl(*w.bitmap).cairo()) {
        return;
    }
    const Size area = w.size.value_or(Size{});
    if (putShared(w, area)) {
        return;
    }
    SurfacePtr surface(cairo_xlib_surface_create(w.conn->dpy(), w.window.id(), w.conn->visual(),
                                                 area.width, area.height));
    CairoPtr cr(cairo_create(surface.get()));
    cairo_surface_t* image = Impl(*w.bitmap).cairo();
    const Size bs = w.bitmap->size();
    if ((w.options & bmp::Scaled) && bs != area) {
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

struct XbpDialog::DialogState {
    std::string title;
    bool taskList = true;
    bool sysMenu = true;
    int border = 0;
    bool titlebar = true;
    bool alwaysOnTop = false;
    Callback<bool()> close;
    std::shared_ptr<XbpDrawingArea> drawingArea;
    std::shared_ptr<XbpMenuBar> menuBar;
};

std::shared_ptr<XbpDialog> XbpDialog::New(std::shared_ptr<XbpWindow> parent,
                                          std::shared_ptr<XbpWindow>, std::optional<Point> pos,
                                          std::optional<Size> size, PresParams presParams,
                                          bool visible) {
    if (size && (size->width <= 0 || size->height <= 0)) {
        throw Error("XbpDialog:new", "a window needs a positive size",
                    {std::to_string(size->width), std::to_string(size->height)});
    }
    std::shared_ptr<XbpDialog> dlg(
        new XbpDialog(std::move(parent), pos, size, std::move(presParams), visible));
    dlg->state_ = std::make_unique<DialogState>();
    dlg->impl_->self = dlg;
    return dlg;
}

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
    return std::static_pointer_cast<XbpDialog>(shared_from_this());
}

void XbpDialog::destroy() {
    DialogState& s = *state_;
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
    XFlush(w.conn->dpy());
    return true;
}

std::shared_ptr<XbpDrawingArea> XbpDialog::drawingArea() const {
    return state_->drawingArea;
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

std::string XbpDialog::title() const {
    return state_->title;
}
void XbpDialog::title(std::string text) {
    state_->title = std::move(text);
    if (impl_->created && !impl_->overrideRedirect) {
        x11::SetTitle(*impl_->conn, impl_->window.id(), state_->title);
        XFlush(impl_->conn->dpy());
    }
}
bool XbpDialog::taskList() const {
    return state_->taskList;
}
void XbpDialog::taskList(bool on) {
    state_->taskList = on;
}
bool XbpDialog::sysMenu() const {
    return state_->sysMenu;
}
void XbpDialog::sysMenu(bool on) {
    state_->sysMenu = on;
}
int XbpDialog::border() const {
    return state_->border;
}
void XbpDialog::border(int type) {
    state_->border = type;
}
bool XbpDialog::titlebar() const {
    return state_->titlebar;
}
void XbpDialog::titlebar(bool on) {
    state_->titlebar = on;
}
bool XbpDialog::alwaysOnTop() const {
    return state_->alwaysOnTop;
}
void XbpDialog::alwaysOnTop(bool on) {
    state_->alwaysOnTop = on;
}
const Callback<bool()>& XbpDialog::close() const {
    return state_->close;
}
void XbpDialog::close(Callback<bool()> callback) {
    state_->close = std::move(callback);
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

// ---- XbpDesktop ----------------------------------------------------------------------------

XbpDesktop::XbpDesktop() : XbpWindow(nullptr, Nil, Nil, {}, true) {
    impl_->desktop = true;
    impl_->created = true;
}

XbpDesktop::~XbpDesktop() = default;
void XbpDesktop::destroy() {}

std::shared_ptr<XbpDesktop> AppDesktop() {
    // One object for the whole process; each thread reaches the screen on its own connection.
    static const std::shared_ptr<XbpDesktop> desktop(new XbpDesktop());
    return desktop;
}

} // namespace host
