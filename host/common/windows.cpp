// The windows group's shared half: settings kept until a window needs them, presentation
// parameters, accessors, placement rules, and the checks every driver makes alike.
#include "driver.h"

#include <host/error.h>

namespace host {

namespace {

// Colours and font from presentation parameters; raises host::Error for a value of the wrong
// kind. Codes of other window kinds are ignored.
void applyPresParams(detail::WindowState& w, const PresParams& params) {
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

// Raises host::Error unless the window exists.
void requireCreated(const detail::WindowState& w, const char* operation) {
    if (!w.created) {
        throw Error(operation, "the window has not been created, or was destroyed");
    }
}

} // namespace

namespace detail {

bool WindowState::isTopLevel() const {
    auto p = parent.lock();
    return !p || State(*p).desktop;
}

} // namespace detail

// ---- XbpPart ----------------------------------------------------------------------------

XbpPart::~XbpPart() = default;

void XbpPart::handleEvent(int, Param, Param, std::nullopt_t) {}

// ---- XbpWindow --------------------------------------------------------------------------

XbpWindow::XbpWindow(std::shared_ptr<XbpWindow> parent, std::optional<Point> pos,
                     std::optional<Size> size, PresParams presParams, bool visible)
    : impl_(detail::TheDriver().newWindowState()) {
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

// A window that was never destroyed explicitly still leaves the screen with its state.
XbpWindow::~XbpWindow() = default;

void XbpWindow::destroy() {
    detail::WindowState& w = *impl_;
    if (!w.created || w.desktop) {
        return;
    }
    w.lockedPS.reset();
    w.destroyWindow();
    w.created = false;
}

bool XbpWindow::show() {
    detail::WindowState& w = *impl_;
    requireCreated(w, "XbpWindow:show");
    w.visible = true;
    w.showWindow();
    return true;
}

bool XbpWindow::hide() {
    detail::WindowState& w = *impl_;
    requireCreated(w, "XbpWindow:hide");
    w.visible = false;
    w.hideWindow();
    return true;
}

Size XbpWindow::currentSize() const {
    const detail::WindowState& w = *impl_;
    if (w.desktop) {
        return detail::TheDriver().desktopSize();
    }
    return w.created ? w.windowSize() : w.size.value_or(Size{});
}

Point XbpWindow::currentPos() const {
    const detail::WindowState& w = *impl_;
    if (w.desktop) {
        return {0, 0};
    }
    return w.created ? w.windowPos() : w.pos.value_or(Point{});
}

std::shared_ptr<XbpPresSpace> XbpWindow::lockPS() {
    detail::WindowState& w = *impl_;
    if (w.desktop) {
        // Every caller gets a space of its own.
        auto ps = XbpPresSpace::New();
        detail::PresSpaceState& p = State(*ps);
        detail::TheDriver().aimAtDesktop(p);
        p.font = w.font;
        p.created = true;
        return ps;
    }
    requireCreated(w, "XbpWindow:lockPS");
    if (!w.lockedPS) {
        w.lockedPS = XbpPresSpace::New();
        detail::PresSpaceState& p = State(*w.lockedPS);
        w.aimAtWindow(p);
        p.font = w.font;
        p.color = w.fg;
        p.created = true;
    }
    w.fitLockedSpace(State(*w.lockedPS));
    return w.lockedPS;
}

void XbpWindow::unlockPS(std::shared_ptr<XbpPresSpace> ps) {
    detail::WindowState& w = *impl_;
    auto& locked = ps ? ps : w.lockedPS;
    if (!locked) {
        return;
    }
    State(*locked).unlocked();
    if (!ps || ps == w.lockedPS) {
        w.lockedPS.reset();
    }
}

Color XbpWindow::setColorBG(std::optional<Color> color) {
    detail::WindowState& w = *impl_;
    const Color previous = w.bg;
    if (color) {
        w.bg = *color;
        if (w.created && !w.desktop) {
            w.backgroundChanged();
        }
    }
    return previous;
}

bool XbpWindow::setPos(Point pos) {
    detail::WindowState& w = *impl_;
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
    detail::WindowState& w = *impl_;
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

// ---- XbpDrawingArea ---------------------------------------------------------------------

void XbpDrawingArea::bitmap(std::shared_ptr<XbpBitmap> bitmap) {
    impl_->bitmap = std::move(bitmap);
    if (impl_->created) {
        impl_->repaint(); // with it
    }
}

void XbpDrawingArea::options(int options) {
    impl_->options = options;
    if (impl_->created) {
        impl_->repaint();
    }
}

void XbpDrawingArea::handleEvent(int nEvent, Param mp1, Param mp2, std::nullopt_t) {
    if (nEvent == event::Paint) {
        impl_->paintArea();
        return;
    }
    if (nEvent == event::Keyboard) {
        // Keys typed in the client area also reach the dialog (menu mnemonics, F10).
        if (auto dlg = std::dynamic_pointer_cast<XbpDialog>(impl_->parent.lock())) {
            dlg->handleEvent(nEvent, mp1, mp2);
        }
    }
}

// ---- XbpDialog --------------------------------------------------------------------------

XbpDialog::~XbpDialog() {
    if (state_ && state_->menuBar) {
        State(*state_->menuBar).detach(); // the menus outlive the window
    }
}

std::shared_ptr<XbpDialog> XbpDialog::create() {
    detail::WindowState& w = *impl_;
    detail::DialogState& s = *state_;
    if (w.created) {
        throw Error("XbpDialog:create", "the dialog exists already", {s.title});
    }
    if (!w.isTopLevel()) {
        throw Error("XbpDialog:create", "a dialog's parent must be the desktop", {s.title});
    }
    const Size size = w.size.value_or(Size{400, 300});
    w.size = size;
    // By default at the top left corner of the desktop.
    w.pos = w.pos.value_or(Point{0, detail::TheDriver().desktopSize().height - size.height});
    w.createDialogWindow(s);
    w.created = true;

    // The drawing area fills the client area; a menu bar, once asked for, sits above it.
    auto self = std::static_pointer_cast<XbpWindow>(shared_from_this());
    PresParams inherited{{pp::Foreground, w.fg}, {pp::Background, w.bg}, {pp::Font, w.font}};
    s.drawingArea.reset(new XbpDrawingArea(self, Point{0, 0}, w.clientSize(), inherited, true));
    detail::WindowState& a = State(*s.drawingArea);
    a.self = s.drawingArea;
    a.createAreaWindow(w);
    a.created = true;
    if (s.menuBar) {
        State(*s.menuBar).attachTo(*s.menuBar, w);
    }
    configure();
    if (w.visible) {
        show();
    }
    w.dialogCreated(s);
    return std::static_pointer_cast<XbpDialog>(shared_from_this());
}

void XbpDialog::destroy() {
    detail::DialogState& s = *state_;
    impl_->dialogDestroying();
    if (s.menuBar) {
        State(*s.menuBar).detach(); // the menus outlive the window
    }
    if (s.drawingArea && s.drawingArea->isCreated()) {
        // The window system destroys the child with its parent.
        detail::WindowState& a = State(*s.drawingArea);
        a.lockedPS.reset();
        a.forgetWindow();
        a.created = false;
    }
    XbpWindow::destroy();
}

bool XbpDialog::configure() {
    if (!impl_->created) {
        return false;
    }
    impl_->layOut(*state_);
    return true;
}

std::shared_ptr<XbpMenuBar> XbpDialog::menuBar() {
    detail::DialogState& s = *state_;
    if (!s.menuBar) {
        auto self = std::static_pointer_cast<XbpDialog>(shared_from_this());
        s.menuBar.reset(new XbpMenuBar(self));
        State(*s.menuBar).font = impl_->font;
        if (impl_->created) {
            State(*s.menuBar).attachTo(*s.menuBar, *impl_);
            configure();
        }
    }
    return s.menuBar;
}

void XbpDialog::title(std::string text) {
    state_->title = std::move(text);
    if (impl_->created) {
        impl_->titleChanged(state_->title);
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
        // Menu mnemonics and F10 (a driver with native menus gets them from the system).
        if (state_->menuBar) {
            state_->menuBar->handleEvent(nEvent, mp1, mp2);
        }
        break;
    default:
        XbpWindow::handleEvent(nEvent, mp1, mp2);
        break;
    }
}

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
    dlg->state_ = std::make_unique<detail::DialogState>();
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

std::shared_ptr<XbpDesktop> AppDesktop() {
    // One object for the whole process; each thread reaches the screen in its own way.
    static const std::shared_ptr<XbpDesktop> desktop(new XbpDesktop());
    return desktop;
}

void XbpDesktop::destroy() {}

} // namespace host
