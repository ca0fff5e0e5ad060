// Menu bars and menus: their entries and callbacks, and the bar's strip at the top of its
// dialog.
#include "handles.h"
#include "impl.h"
#include "menu_impl.h"

#include <host/error.h>

namespace host {

namespace {
constexpr Color kBarColor = 0xeeeeee;
constexpr Color kBarLine = 0xb0b0b0;

void setSource(cairo_t* cr, Color c) {
    cairo_set_source_rgb(cr, RedOf(c) / 255.0, GreenOf(c) / 255.0, BlueOf(c) / 255.0);
}
} // namespace

namespace x11 {
int MenuBarHeight(const Font& font) {
    SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1));
    CairoPtr cr(cairo_create(surface.get()));
    LayoutPtr layout = MakeLayout(cr.get(), font, "Mg");
    int w = 0, h = 0;
    pango_layout_get_pixel_size(layout.get(), &w, &h);
    return h + 8;
}
} // namespace x11

namespace detail {

void MenuImpl::createStrip(::Window dialogWindow, int width, std::weak_ptr<XbpPart> owner) {
    conn = x11::Connection::current();
    height = x11::MenuBarHeight(font);
    XSetWindowAttributes attrs{};
    attrs.background_pixel = conn->pixelFor(kBarColor);
    attrs.event_mask = x11::EventMaskForThisThread(ExposureMask | StructureNotifyMask |
                                                   ButtonPressMask | ButtonReleaseMask |
                                                   PointerMotionMask | LeaveWindowMask);
    strip = XCreateWindow(conn->dpy(), dialogWindow, 0, 0, static_cast<unsigned>(std::max(1, width)),
                          static_cast<unsigned>(height), 0, CopyFromParent, InputOutput,
                          CopyFromParent, CWBackPixel | CWEventMask, &attrs);
    conn->registerWindow(strip, std::move(owner));
    XMapWindow(conn->dpy(), strip);
}

void MenuImpl::destroyStrip() {
    if (strip) {
        conn->unregisterWindow(strip);
        XDestroyWindow(conn->dpy(), strip);
        XFlush(conn->dpy());
        strip = 0;
    }
}

void MenuImpl::paintStrip(int width) {
    if (!strip) {
        return;
    }
    x11::SurfacePtr surface(
        cairo_xlib_surface_create(conn->dpy(), strip, conn->visual(), width, height));
    x11::CairoPtr cr(cairo_create(surface.get()));
    setSource(cr.get(), kBarColor);
    cairo_paint(cr.get());
    setSource(cr.get(), kBarLine);
    cairo_rectangle(cr.get(), 0, height - 1, width, 1);
    cairo_fill(cr.get());
    cr.reset();
    cairo_surface_flush(surface.get());
    XFlush(conn->dpy());
}

} // namespace detail

// ---- XbpMenuBar --------------------------------------------------------------------------

XbpMenuBar::XbpMenuBar(std::weak_ptr<XbpDialog> dialog)
    : impl_(std::make_unique<detail::MenuImpl>()) {
    impl_->dialog = std::move(dialog);
    impl_->font = DefaultFont();
}

XbpMenuBar::~XbpMenuBar() { impl_->destroyStrip(); }

int XbpMenuBar::addItem(MenuItem item) {
    impl_->items.push_back(std::move(item));
    return static_cast<int>(impl_->items.size());
}

int XbpMenuBar::numItems() const { return static_cast<int>(impl_->items.size()); }
const Callback<void()>& XbpMenuBar::endMenu() const { return impl_->endMenu; }
void XbpMenuBar::endMenu(Callback<void()> callback) { impl_->endMenu = std::move(callback); }

void XbpMenuBar::destroy() {
    impl_->destroyStrip();
    impl_->items.clear();
}

void XbpMenuBar::handleEvent(int nEvent, Param, Param, std::nullopt_t) {
    if (nEvent == event::Paint) {
        auto dlg = impl_->dialog.lock();
        impl_->paintStrip(dlg ? dlg->currentSize().width : 0);
    }
}

// ---- XbpMenu -----------------------------------------------------------------------------

XbpMenu::XbpMenu(std::shared_ptr<XbpPart> parent) : impl_(std::make_unique<detail::MenuImpl>()) {
    impl_->parent = parent;
    impl_->font = DefaultFont();
}

std::shared_ptr<XbpMenu> XbpMenu::New(std::shared_ptr<XbpPart> parent) {
    if (!std::dynamic_pointer_cast<XbpMenuBar>(parent) && !std::dynamic_pointer_cast<XbpMenu>(parent)) {
        throw Error("XbpMenu:new", "a menu's parent must be a menu bar or a menu");
    }
    return std::shared_ptr<XbpMenu>(new XbpMenu(std::move(parent)));
}

XbpMenu::~XbpMenu() = default;

std::shared_ptr<XbpMenu> XbpMenu::create() {
    impl_->created = true;
    return std::static_pointer_cast<XbpMenu>(shared_from_this());
}

std::string XbpMenu::title() const { return impl_->title; }
void XbpMenu::title(std::string text) { impl_->title = std::move(text); }
const Callback<void(int)>& XbpMenu::itemMarked() const { return impl_->itemMarked; }
void XbpMenu::itemMarked(Callback<void(int)> callback) { impl_->itemMarked = std::move(callback); }
const Callback<void()>& XbpMenu::endMenu() const { return impl_->endMenu; }
void XbpMenu::endMenu(Callback<void()> callback) { impl_->endMenu = std::move(callback); }

int XbpMenu::addItem(MenuItem item) {
    impl_->items.push_back(std::move(item));
    return static_cast<int>(impl_->items.size());
}

int XbpMenu::numItems() const { return static_cast<int>(impl_->items.size()); }
void XbpMenu::destroy() { impl_->items.clear(); }
void XbpMenu::handleEvent(int, Param, Param, std::nullopt_t) {}

} // namespace host
