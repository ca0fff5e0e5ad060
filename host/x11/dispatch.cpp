// Event dispatch: X events of the calling thread's connection become the runtime's events (the
// one place that reads an XEvent for the program), and the event loop's wait on the connection
// and on the wake-up of posted events.
#include "dispatch.h"

#include "../a11y/a11y.h"
#include "connection.h"
#include "coords.h"
#include "driver.h"
#include "keys.h"
#include "menu_state.h"
#include "object_state.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include <X11/Xutil.h>

namespace host::x11 {

namespace {

int windowHeight(const std::shared_ptr<XbpPart>& part) {
    auto w = std::dynamic_pointer_cast<XbpWindow>(part);
    return w ? w->currentSize().height : x11::PrivateWindowHeight(*part);
}

// Updates the window's own record of its geometry; reports a size change.
bool noteConfigure(const std::shared_ptr<XbpPart>& part, const XConfigureEvent& e, Connection& c) {
    auto w = std::dynamic_pointer_cast<XbpWindow>(part);
    if (!w) {
        return false;
    }
    detail::WindowImpl& impl = Impl(*w);
    const Size size{e.width, e.height};
    const bool resized = impl.serverSize != size;
    impl.serverSize = size;
    impl.size = size;
    if (impl.isTopLevel()) {
        // Only synthetic events (from a window manager) carry root coordinates.
        int x = e.x, y = e.y;
        if (!e.send_event) {
            ::Window child = 0;
            XTranslateCoordinates(c.dpy(), impl.window.id(), c.root(), 0, 0, &x, &y, &child);
        }
        impl.pos = x11::WindowToHost(x, y, size, c.rootSize().height);
    }
    return resized;
}

std::optional<detail::HostEvent> translate(Connection& c, XEvent& ev) {
    c.noteEvent(ev);
    auto target = c.partFor(ev.xany.window);
    if (!target) {
        return std::nullopt;
    }
    detail::HostEvent h;
    h.target = target;
    auto pointer = [&](int code, int x, int y) {
        h.code = code;
        h.mp1 = x;
        h.mp2 = x11::ToHostRow(y, windowHeight(target));
    };
    switch (ev.type) {
    case Expose:
        if (ev.xexpose.count != 0) {
            return std::nullopt; // one Paint for the whole series
        }
        h.code = event::Paint;
        return h;
    case ConfigureNotify:
        if (!noteConfigure(target, ev.xconfigure, c)) {
            return std::nullopt;
        }
        h.code = event::Resize;
        h.mp1 = ev.xconfigure.width;
        h.mp2 = ev.xconfigure.height;
        return h;
    case KeyPress: {
        char text[16] = {};
        KeySym sym = NoSymbol;
        const int n = XLookupString(&ev.xkey, text, sizeof text, &sym, nullptr);
        if (IsModifierKey(sym)) {
            return std::nullopt; // Shift, Alt, ... alone are no keystrokes; they ride in mp2
        }
        // Keys for the runtime's own windows (open menus, boxes) never reach the program's
        // loop as keyboard events: an Escape that closes a menu must not end the program.
        h.code = x11::IsPrivateInput(*target) ? event::Internal : event::Keyboard;
        h.mp1 = KeyCode(sym, text, n);
        h.mp2 = Modifiers(ev.xkey.state);
        return h;
    }
    case ButtonPress:
    case ButtonRelease: {
        const bool down = ev.type == ButtonPress;
        switch (ev.xbutton.button) {
        case Button1:
            pointer(down ? event::ButtonDown : event::ButtonUp, ev.xbutton.x, ev.xbutton.y);
            break;
        case Button2:
            pointer(down ? event::MiddleDown : event::MiddleUp, ev.xbutton.x, ev.xbutton.y);
            break;
        case Button3:
            pointer(down ? event::RightDown : event::RightUp, ev.xbutton.x, ev.xbutton.y);
            break;
        default:
            return std::nullopt; // wheel steps: nothing here scrolls
        }
        return h;
    }
    case MotionNotify:
        pointer(event::Motion, ev.xmotion.x, ev.xmotion.y);
        return h;
    case EnterNotify:
    case LeaveNotify:
        pointer(ev.type == EnterNotify ? event::Enter : event::Leave, ev.xcrossing.x,
                ev.xcrossing.y);
        return h;
    case FocusIn:
    case FocusOut:
        if (ev.xfocus.detail == NotifyPointer) {
            return std::nullopt;
        }
        h.code = ev.type == FocusIn ? event::SetFocus : event::KillFocus;
        return h;
    case ClientMessage:
        if (ev.xclient.message_type == c.atoms().wmProtocols &&
            static_cast<Atom>(ev.xclient.data.l[0]) == c.atoms().wmDeleteWindow) {
            h.code = event::Close;
            return h;
        }
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

} // namespace

WakeFd::WakeFd() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeFd::~WakeFd() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void WakeFd::wake() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(fd_, &one, sizeof one);
}

void WakeFd::drain() const {
    std::uint64_t n = 0;
    while (::read(fd_, &n, sizeof n) == sizeof n) {
    }
}

std::optional<detail::HostEvent> X11Driver::takeEvent() {
    std::shared_ptr<Connection> conn = Connection::current();
    Display* dpy = conn->dpy();
    // What Xlib has read already, before anyone blocks on the socket.
    while (XPending(dpy) > 0) {
        XEvent ev;
        XNextEvent(dpy, &ev);
        if (auto h = translate(*conn, ev)) {
            return h;
        }
    }
    return std::nullopt;
}

void X11Driver::waitForEvents(std::optional<std::chrono::milliseconds> timeout) {
    Display* dpy = Connection::current()->dpy();
    pollfd fds[2] = {{ConnectionNumber(dpy), POLLIN, 0}, {wakeFd_.fd(), POLLIN, 0}};
    const int wait = timeout ? static_cast<int>(timeout->count()) : -1;
    // GLib's sources (an accessibility bridge) are served in the same wait.
    if (host::a11y::Poll(fds, 2, wait) > 0 && (fds[1].revents & POLLIN)) {
        wakeFd_.drain();
    }
    // A hung-up connection shows up in the next XPending, through the I/O error handler.
}

void X11Driver::wake() {
    wakeFd_.wake();
}

} // namespace host::x11
