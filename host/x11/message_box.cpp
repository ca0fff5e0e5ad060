// ConfirmBox: a modal dialog window with a message and buttons, drawn by the runtime. It runs a
// modal loop of its own on the event thread: input for the program's other windows is dropped
// while it is open, their Paint events are still served, and events the program posted are
// handed back to the program's queue when the box closes.
#include "../common/driver.h"
#include "a11y_notes.h"
#include "coords.h"
#include "desktop.h"
#include "drawing.h"
#include "driver.h"
#include "menu_state.h"
#include "object_state.h"
#include "scheme.h"
#include "wm.h"

#include <host/application.h>
#include <host/error.h>

#include <algorithm>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xutil.h>

namespace host {

namespace {

using x11::Connection;

constexpr int kMargin = 24;
constexpr int kButtonWidth = 88;
constexpr int kButtonHeight = 30;
constexpr int kButtonGap = 10;
constexpr int kMinWidth = 280;

struct Button {
    std::string label;
    int result = 0;
    x11::DeviceRect box; // in the box's window
};

// The box's buttons (checked by the core) and the answer that Escape (or closing the window)
// gives.
std::vector<Button> buttonsFor(int buttons, int& escapeResult) {
    switch (buttons) {
    case box::OkCancel:
        escapeResult = box::RetCancel;
        return {{"OK", box::RetOk, {}}, {"Cancel", box::RetCancel, {}}};
    case box::YesNo:
        escapeResult = box::RetNo;
        return {{"Yes", box::RetYes, {}}, {"No", box::RetNo, {}}};
    default:                       // box::Ok
        escapeResult = box::RetOk; // the only answer there is
        return {{"OK", box::RetOk, {}}};
    }
}

// Input events are what the box keeps from the program's other windows.
bool isInput(int code) {
    switch (code) {
    case event::Motion:
    case event::ButtonDown:
    case event::ButtonUp:
    case event::Keyboard:
    case event::RightDown:
    case event::RightUp:
    case event::MiddleDown:
    case event::MiddleUp:
    case event::Enter:
    case event::Leave:
    case event::Close:
    case event::Internal:
        return true;
    default:
        return false;
    }
}

// The top-level X window of a window object (a drawing area's dialog), or 0.
::Window topLevelOf(std::shared_ptr<XbpWindow> w) {
    while (w && w->isCreated() && !Impl(*w).desktop) {
        if (Impl(*w).isTopLevel()) {
            return Impl(*w).window.id();
        }
        w = w->parent();
    }
    return 0;
}

// The monitor that holds the middle of `owner` (a top-level window); the pointer's monitor
// when there is no owner.
x11::DeviceRect monitorOf(Connection& c, ::Window owner) {
    XWindowAttributes attrs{};
    if (owner && XGetWindowAttributes(c.dpy(), owner, &attrs)) {
        int x = 0, y = 0;
        ::Window child = 0;
        XTranslateCoordinates(c.dpy(), owner, c.root(), attrs.width / 2, attrs.height / 2, &x, &y,
                              &child);
        return x11::MonitorAt(c, x, y);
    }
    return x11::PointerMonitor(c);
}

class ConfirmBoxPart final : public x11::PrivatePart {
  public:
    ConfirmBoxPart(std::string message, std::vector<Button> buttons, int escapeResult)
        : message_(std::move(message)), buttons_(std::move(buttons)), escape_(escapeResult) {}

    ~ConfirmBoxPart() override = default;
    ConfirmBoxPart(const ConfirmBoxPart&) = delete;
    ConfirmBoxPart& operator=(const ConfirmBoxPart&) = delete;

    int windowHeight() const override { return height_; }
    std::optional<int> result() const { return result_; }

    void create(const std::string& title, ::Window transientFor);
    void destroyWindow();
    void handleEvent(int nEvent, Param mp1, Param mp2, std::nullopt_t = Nil) override;

  private:
    void paint();
    void announce();
    int buttonAt(int x, int y) const;

    std::shared_ptr<Connection> conn_;
    x11::XWindow window_;
    int width_ = 0;
    int height_ = 0;
    std::string message_;
    std::vector<Button> buttons_;
    int escape_ = 0;
    int focus_ = 0;    // the button Enter presses
    int pressed_ = -1; // the button held down by the pointer
    std::optional<int> result_;
};

void ConfirmBoxPart::create(const std::string& title, ::Window transientFor) {
    conn_ = Connection::current();
    Connection& c = *conn_;
    Display* dpy = c.dpy();
    const Font font = DefaultFont();

    // The message's size sets the box's.
    const Size text = x11::MeasureText(font, message_);
    const int count = static_cast<int>(buttons_.size());
    const int row = count * kButtonWidth + (count - 1) * kButtonGap;
    width_ = std::max({kMinWidth, text.width + 2 * kMargin, row + 2 * kMargin});
    height_ = kMargin + text.height + kMargin + kButtonHeight + kMargin * 2 / 3;
    int bx = (width_ - row) / 2;
    for (Button& b : buttons_) {
        b.box = {bx, height_ - kMargin * 2 / 3 - kButtonHeight, kButtonWidth, kButtonHeight};
        bx += kButtonWidth + kButtonGap;
    }

    // On the monitor of the window it belongs to (the pointer's without one); centred there
    // by its frame once the window exists.
    const x11::DeviceRect monitor = monitorOf(c, transientFor);
    const int x = monitor.x + (monitor.width - width_) / 2;
    const int y = monitor.y + (monitor.height - height_) / 2;
    window_ = x11::XWindow(conn_, {0,
                                   {x, y, width_, height_},
                                   x11::scheme::Box,
                                   ExposureMask | StructureNotifyMask | KeyPressMask |
                                       ButtonPressMask | ButtonReleaseMask | FocusChangeMask});
    const ::Window xid = window_.id();
    // A modal dialog (EWMH) of a fixed size, transient for the window it belongs to (ICCCM).
    const x11::Atoms& a = c.atoms();
    x11::ManagedProps props{title,
                            a.netWmWindowTypeDialog,
                            {a.netWmStateModal, a.netWmStateSkipTaskbar},
                            {x, y, width_, height_}};
    props.fixedSize = true;
    props.transientFor = transientFor;
    x11::SetManagedProperties(c, xid, props);
    x11::CentreManaged(c, xid, {width_, height_}, monitor);
    window_.dispatchTo(weak_from_this());

    // Under a window manager the box shows once the manager maps it: wait for that (a second
    // at most) before taking the focus.
    x11::MapAndWait(c, xid, false);
    x11::ErrorTrap trap(dpy); // not viewable yet under a slow manager: it gives the focus then
    XSetInputFocus(dpy, xid, RevertToParent, CurrentTime);
    trap.sync();
    paint();
    announce();
}

// Tells a screen reader about the box: its message and buttons; pressing the one Enter presses
// is posted to the box as that key, to be handled in its own loop.
void ConfirmBoxPart::announce() {
    std::vector<std::string> labels;
    for (const Button& b : buttons_) {
        labels.push_back(b.label);
    }
    x11::a11y::BoxShown(window_.id(), message_, labels, focus_, [box = weak_from_this()](int) {
        if (auto b = box.lock()) {
            PostAppEvent(event::Internal, key::Enter, 0, b);
        }
    });
}

void ConfirmBoxPart::destroyWindow() {
    if (window_) {
        x11::a11y::WindowGone(window_.id());
        // Off the screen, frame and all, when this returns.
        window_.destroy(x11::XWindow::Wait::OffScreen);
    }
}

int ConfirmBoxPart::buttonAt(int x, int y) const {
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        const x11::DeviceRect& r = buttons_[i].box;
        if (x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void ConfirmBoxPart::handleEvent(int nEvent, Param mp1, Param mp2, std::nullopt_t) {
    const int count = static_cast<int>(buttons_.size());
    switch (nEvent) {
    case event::Paint:
        paint();
        return;
    case event::Close:
        result_ = escape_;
        return;
    case event::Internal: // a key
        if (!mp1) {
            return;
        }
        if (*mp1 == key::Escape) {
            result_ = escape_;
        } else if (*mp1 == key::Enter || *mp1 == key::Space) {
            result_ = buttons_[static_cast<std::size_t>(focus_)].result;
        } else if (*mp1 == key::Tab || *mp1 == key::Right || *mp1 == key::Left) {
            const bool back =
                *mp1 == key::Left || (*mp1 == key::Tab && (mp2.value_or(0) & mod::Shift));
            focus_ = (focus_ + (back ? count - 1 : 1)) % count;
            paint();
        }
        return;
    case event::ButtonDown:
    case event::ButtonUp: {
        if (!mp1 || !mp2) {
            return;
        }
        const int at =
            buttonAt(static_cast<int>(*mp1), x11::ToDeviceRow(static_cast<int>(*mp2), height_));
        if (nEvent == event::ButtonDown) {
            pressed_ = at;
            if (at >= 0) {
                focus_ = at;
            }
        } else {
            if (at >= 0 && at == pressed_) {
                result_ = buttons_[static_cast<std::size_t>(at)].result;
            }
            pressed_ = -1;
        }
        paint();
        return;
    }
    default:
        return;
    }
}

void ConfirmBoxPart::paint() {
    if (!window_) {
        return;
    }
    x11::SurfacePtr surface(
        cairo_xlib_surface_create(conn_->dpy(), window_.id(), conn_->visual(), width_, height_));
    x11::CairoPtr cr(cairo_create(surface.get()));
    cairo_t* c = cr.get();
    const Font font = DefaultFont();
    x11::SetSource(c, x11::scheme::Box);
    cairo_paint(c);
    x11::LayoutPtr text = x11::MakeLayout(c, font, message_);
    int tw = 0, th = 0;
    pango_layout_get_pixel_size(text.get(), &tw, &th);
    x11::SetSource(c, x11::scheme::Text);
    cairo_move_to(c, (width_ - tw) / 2, kMargin);
    pango_cairo_show_layout(c, text.get());
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        const Button& b = buttons_[i];
        const bool focused = static_cast<int>(i) == focus_;
        x11::SetSource(c, static_cast<int>(i) == pressed_ ? x11::scheme::Pressed
                                                          : x11::scheme::Button);
        cairo_rectangle(c, b.box.x, b.box.y, b.box.width, b.box.height);
        cairo_fill(c);
        x11::SetSource(c, focused ? x11::scheme::Mark : x11::scheme::Frame);
        const double line = focused ? 2.0 : 1.0;
        cairo_set_line_width(c, line);
        cairo_rectangle(c, b.box.x + line / 2, b.box.y + line / 2, b.box.width - line,
                        b.box.height - line);
        cairo_stroke(c);
        x11::LayoutPtr label = x11::MakeLayout(c, font, b.label);
        int lw = 0, lh = 0;
        pango_layout_get_pixel_size(label.get(), &lw, &lh);
        x11::SetSource(c, x11::scheme::Text);
        cairo_move_to(c, b.box.x + (b.box.width - lw) / 2, b.box.y + (b.box.height - lh) / 2);
        pango_cairo_show_layout(c, label.get());
    }
    cr.reset();
    cairo_surface_flush(surface.get());
    XFlush(conn_->dpy());
}

// Gives the keyboard focus back to the window that had it, when that still can take it. An X
// server without a window manager would otherwise leave it nowhere (or on the root).
class FocusKeeper {
  public:
    explicit FocusKeeper(Display* dpy) : dpy_(dpy) { XGetInputFocus(dpy_, &window_, &revert_); }
    ~FocusKeeper() {
        x11::ErrorTrap trap(dpy_); // the window may be gone or unmapped by now
        if (window_ == PointerRoot || window_ == None) {
            XSetInputFocus(dpy_, window_, RevertToPointerRoot, CurrentTime);
        } else {
            XWindowAttributes wa{};
            if (XGetWindowAttributes(dpy_, window_, &wa) && wa.map_state == IsViewable) {
                XSetInputFocus(dpy_, window_, revert_, CurrentTime);
            }
        }
        trap.sync();
    }
    FocusKeeper(const FocusKeeper&) = delete;
    FocusKeeper& operator=(const FocusKeeper&) = delete;

  private:
    Display* dpy_;
    ::Window window_ = None;
    int revert_ = RevertToParent;
};

struct Deferred {
    int code;
    Param mp1;
    Param mp2;
    std::weak_ptr<XbpPart> target;
};

} // namespace

int x11::X11Driver::confirmBox(const std::shared_ptr<XbpWindow>& owner, const std::string& message,
                               const std::string& title, int buttons) {
    if (!detail::IsEventThread()) {
        throw Error("ConfirmBox", "a box runs on the thread that runs the event loop");
    }
    int escapeResult = 0;
    auto box =
        std::make_shared<ConfirmBoxPart>(message, buttonsFor(buttons, escapeResult), escapeResult);
    std::shared_ptr<Connection> conn = Connection::current();
    std::vector<Deferred> deferred;
    int result = 0;
    {
        FocusKeeper focus(conn->dpy());
        // The window goes before the focus is given back, also when an error leaves the loop.
        struct WindowGuard {
            ConfirmBoxPart& part;
            ~WindowGuard() { part.destroyWindow(); }
        } guard{*box};
        box->create(title.empty() ? std::string("Confirm") : title,
                    topLevelOf(owner ? owner : detail::AppWindow()));
        Param mp1;
        Param mp2;
        std::shared_ptr<XbpPart> target;
        while (!box->result()) {
            const int code = AppEvent(mp1, mp2, target);
            if (target == box) {
                box->handleEvent(code, mp1, mp2);
            } else if (code < 0x100000) {
                deferred.push_back({code, mp1, mp2, target}); // the program's own events
            } else if (!isInput(code) && target) {
                target->handleEvent(code, mp1, mp2); // Paint, Resize, focus changes
            }
        }
        result = *box->result();
    } // the window goes, then the focus goes back
    XSync(conn->dpy(), False);
    for (Deferred& d : deferred) {
        if (auto t = d.target.lock()) {
            PostAppEvent(d.code, d.mp1, d.mp2, t);
        }
    }
    return result;
}

} // namespace host
