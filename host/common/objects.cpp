// What every driver's public objects do the same way: settings kept until a window needs them,
// presentation parameters, accessors. Compiled into each driver against its own state (the
// "state.h" of its folder), so no driver writes them again.
#include "../core/bmp.h"
#include "state.h"

#include <host/application.h>
#include <host/error.h>

#include <cstdio>
#include <cstring>

namespace host {

namespace detail {
AppState& App() {
    static AppState state;
    return state;
}

std::shared_ptr<XbpPart> PostTarget(std::shared_ptr<XbpPart> target) {
    if (!target) {
        std::lock_guard lock(App().mutex);
        target = App().appWindow;
    }
    return target;
}

std::shared_ptr<XbpWindow> SwapFocus(std::shared_ptr<XbpWindow> window) {
    std::lock_guard lock(App().mutex);
    std::swap(App().focus, window);
    return window;
}
} // namespace detail

long Set(int setting, long value) {
    detail::AppState& a = detail::App();
    std::lock_guard lock(a.mutex);
    long& slot = a.settings[setting];
    const long previous = slot;
    slot = value;
    return previous;
}

std::shared_ptr<XbpWindow> SetAppWindow(std::shared_ptr<XbpWindow> window) {
    std::lock_guard lock(detail::App().mutex);
    std::swap(detail::App().appWindow, window);
    return window;
}

int RunProgram(const StartupRecord& record, const ErrorHandler& onError) {
    try {
        for (const Hook* hook : {&record.appSys, &record.dbeSys, &record.main}) {
            if (*hook) {
                (*hook)();
            }
        }
    } catch (const std::exception& e) {
        onError(e);
        return 1; // an error system that returns still ends the program with a failure
    }
    if (record.appExit) {
        record.appExit();
    }
    return 0;
}

void CheckBitmapSize(int width, int height) {
    if (width <= 0 || height <= 0 || width > 32767 || height > 32767) {
        throw Error("XbpBitmap:make", "bitmap size out of range",
                    {std::to_string(width), std::to_string(height)});
    }
}

long Version() {
    return kHostVersion;
}

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

void CheckGradient(const std::vector<Point>& ends, const std::vector<Color>& colors, int kind) {
    if (kind != gradient::Linear) {
        throw Error("GraGradient", "unknown gradient kind", {std::to_string(kind)});
    }
    if (ends.empty() || colors.size() < 2) {
        throw Error("GraGradient", "a gradient needs an end point and two colours");
    }
}

bool WarnNoPicture(const std::string& path, const std::string& reason) {
    // A file that cannot be written stops nothing, but is never passed over in silence.
    const std::string line = ProgramName() + ": warning: " + path + ": " + reason + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    return false;
}

bool SaveBitmap(const std::string& path, const std::uint8_t* pixels, int width, int height,
                std::ptrdiff_t stride) {
    const auto warn = [&](const char* reason) { return WarnNoPicture(path, reason); };
    if (!pixels || width <= 0 || height <= 0) {
        return warn("the bitmap holds no picture");
    }
    int error = 0;
    if (!bmp::WriteFile(path, pixels, width, height, stride, &error)) {
        return warn(std::strerror(error));
    }
    return true;
}

void requireCreated(const detail::WindowImpl& w, const char* operation) {
    if (!w.created) {
        throw Error(operation, "the window has not been created, or was destroyed");
    }
}

std::shared_ptr<XbpMenu> submenuOf(const MenuItem& item) {
    const auto* sub = std::get_if<std::shared_ptr<XbpMenu>>(&item);
    return sub ? *sub : nullptr;
}

namespace detail {

bool WindowImpl::isTopLevel() const {
    auto p = parent.lock();
    return !p || Impl(*p).desktop;
}

} // namespace detail

// ---- XbpPart ----------------------------------------------------------------------------

XbpPart::~XbpPart() = default;

void XbpPart::handleEvent(int, Param, Param, std::nullopt_t) {}

// ---- XbpWindow --------------------------------------------------------------------------

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

bool XbpWindow::isCreated() const {
    return impl_->created;
}

bool XbpWindow::isVisible() const {
    return impl_->created && impl_->visible;
}

std::shared_ptr<XbpWindow> XbpWindow::parent() const {
    return impl_->parent.lock();
}

Color XbpWindow::setColorFG(std::optional<Color> color) {
    const Color previous = impl_->fg;
    if (color) {
        impl_->fg = *color;
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

bool XbpWindow::setPos(Point pos) {
    detail::WindowImpl& w = *impl_;
    if (w.desktop) {
        return false;
    }
    w.pos = pos;
    if (w.created) {
        w.moved(pos, currentSize());
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
        w.resized(pos, size);
    }
    return true;
}

// ---- XbpDrawingArea ---------------------------------------------------------------------

std::shared_ptr<XbpBitmap> XbpDrawingArea::bitmap() const {
    return impl_->bitmap;
}

int XbpDrawingArea::options() const {
    return impl_->options;
}

// ---- XbpDialog --------------------------------------------------------------------------

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
    dlg->impl_->dialog = true;
    return dlg;
}

std::shared_ptr<XbpDrawingArea> XbpDialog::drawingArea() const {
    return state_->drawingArea;
}

std::string XbpDialog::title() const {
    return state_->title;
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

// ---- XbpDesktop -------------------------------------------------------------------------

XbpDesktop::XbpDesktop() : XbpWindow(nullptr, Nil, Nil, {}, true) {
    impl_->desktop = true;
    impl_->created = true;
}

XbpDesktop::~XbpDesktop() = default;

void XbpDesktop::destroy() {}

// ---- XbpMenuBar -------------------------------------------------------------------------

int XbpMenuBar::numItems() const {
    return static_cast<int>(impl_->items.size());
}

const Callback<void()>& XbpMenuBar::endMenu() const {
    return impl_->endMenu;
}

void XbpMenuBar::endMenu(Callback<void()> callback) {
    impl_->endMenu = std::move(callback);
}

// ---- XbpMenu ----------------------------------------------------------------------------

std::string XbpMenu::title() const {
    return impl_->title;
}

void XbpMenu::title(std::string text) {
    impl_->title = std::move(text);
}

const Callback<void(int)>& XbpMenu::itemMarked() const {
    return impl_->itemMarked;
}

void XbpMenu::itemMarked(Callback<void(int)> callback) {
    impl_->itemMarked = std::move(callback);
}

const Callback<void()>& XbpMenu::endMenu() const {
    return impl_->endMenu;
}

void XbpMenu::endMenu(Callback<void()> callback) {
    impl_->endMenu = std::move(callback);
}

int XbpMenu::numItems() const {
    return static_cast<int>(impl_->items.size());
}

// ---- XbpPresSpace -----------------------------------------------------------------------

XbpPresSpace::XbpPresSpace() : impl_(std::make_unique<detail::PresSpaceImpl>()) {
    impl_->font = DefaultFont();
}

XbpPresSpace::~XbpPresSpace() = default;

std::shared_ptr<XbpPresSpace> XbpPresSpace::New() {
    return std::shared_ptr<XbpPresSpace>(new XbpPresSpace());
}

std::shared_ptr<XbpPresSpace> XbpPresSpace::create() {
    impl_->created = true;
    return shared_from_this();
}

Font XbpPresSpace::setFont(std::optional<Font> font) {
    Font previous = impl_->font;
    if (font) {
        impl_->font = std::move(*font);
    }
    return previous;
}

Color XbpPresSpace::setColor(std::optional<Color> color) {
    const Color previous = impl_->color;
    if (color) {
        impl_->color = *color;
    }
    return previous;
}

// ---- XbpBitmap --------------------------------------------------------------------------

std::shared_ptr<XbpBitmap> XbpBitmap::New() {
    return std::shared_ptr<XbpBitmap>(new XbpBitmap());
}

std::shared_ptr<XbpBitmap> XbpBitmap::create() {
    impl_->created = true;
    return shared_from_this();
}

std::shared_ptr<XbpPresSpace> XbpBitmap::presSpace() const {
    return impl_->ps;
}

Size XbpBitmap::size() const {
    return impl_->size();
}

} // namespace host
