// The application group: start-up and errors, the event queue (X input of the calling
// thread's connection plus posted events), application window and focus, and small services.
#include "../a11y/a11y.h"
#include "../core/program.h"
#include "coords.h"
#include "desktop.h"
#include "menu_impl.h"
#include "state.h"

#include <host/application.h>
#include <host/error.h>
#include <host/threads.h>
#include <host/windows.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace host {

using x11::Connection;

namespace {

// ---- Posted events -----------------------------------------------------------------------

struct Posted {
    int code = 0;
    Param mp1;
    Param mp2;
    std::weak_ptr<XbpPart> target;
};

// Events posted from any thread; an eventfd wakes the thread waiting in AppEvent.
class PostedQueue {
  public:
    PostedQueue() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~PostedQueue() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    PostedQueue(const PostedQueue&) = delete;
    PostedQueue& operator=(const PostedQueue&) = delete;

    bool push(Posted p) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(p));
        }
        const std::uint64_t one = 1;
        return ::write(fd_, &one, sizeof one) == sizeof one;
    }
    std::optional<Posted> pop() {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) {
            return std::nullopt;
        }
        Posted p = std::move(queue_.front());
        queue_.pop_front();
        return p;
    }
    int fd() const { return fd_; }
    void drainWakeups() {
        std::uint64_t n = 0;
        while (::read(fd_, &n, sizeof n) == sizeof n) {
        }
    }

  private:
    int fd_;
    std::mutex mutex_;
    std::deque<Posted> queue_;
};

PostedQueue& posted() {
    static PostedQueue queue;
    return queue;
}

// ---- Application state -------------------------------------------------------------------

thread_local bool tIsEventThread = false;

// ---- Translation from X events to the runtime's events -----------------------------------

struct HostEvent {
    int code = event::NoEvent;
    Param mp1;
    Param mp2;
    std::shared_ptr<XbpPart> target;
};

long keyCode(KeySym sym, const char* text, int textLength) {
    switch (sym) {
    case XK_Escape:
        return key::Escape;
    case XK_Return:
    case XK_KP_Enter:
        return key::Enter;
    case XK_Tab:
    case XK_ISO_Left_Tab:
        return key::Tab;
    case XK_BackSpace:
        return key::Backspace;
    case XK_Up:
    case XK_KP_Up:
        return key::Up;
    case XK_Down:
    case XK_KP_Down:
        return key::Down;
    case XK_Left:
    case XK_KP_Left:
        return key::Left;
    case XK_Right:
    case XK_KP_Right:
        return key::Right;
    case XK_Home:
        return key::Home;
    case XK_End:
        return key::End;
    case XK_Page_Up:
        return key::PageUp;
    case XK_Page_Down:
        return key::PageDown;
    case XK_Insert:
        return key::Insert;
    case XK_Delete:
        return key::Delete;
    case XK_Menu:
        return key::Menu;
    default:
        break;
    }
    if (sym >= XK_F1 && sym <= XK_F12) {
        return key::F1 + static_cast<long>(sym - XK_F1);
    }
    if (sym >= 0x20 && sym <= 0xff) {
        return static_cast<long>(sym); // Latin-1 keysyms are their code points
    }
    if ((sym & 0xff000000) == 0x01000000) {
        return static_cast<long>(sym & 0x00ffffff); // Unicode keysyms
    }
    if (textLength == 1) {
        return static_cast<unsigned char>(text[0]);
    }
    return key::Unknown;
}

long modifiers(unsigned int state) {
    return ((state & ShiftMask) ? mod::Shift : 0) | ((state & ControlMask) ? mod::Ctrl : 0) |
           ((state & Mod1Mask) ? mod::Alt : 0);
}

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

std::optional<HostEvent> translate(Connection& c, XEvent& ev) {
    c.noteEvent(ev);
    auto target = c.partFor(ev.xany.window);
    if (!target) {
        return std::nullopt;
    }
    HostEvent h;
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
        h.mp1 = keyCode(sym, text, n);
        h.mp2 = modifiers(ev.xkey.state);
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

// ---- Version, start-up, errors -----------------------------------------------------------

void ErrorSys(const std::exception& error) {
    std::fprintf(stderr, "%s: error: %s\n", ProgramName().c_str(), error.what());
    std::fflush(stderr);
    std::_Exit(1);
}

void AppExit() {
    Connection::release();
}

int Start(const StartupRecord& record) {
    SetProgramName(record.name);
    x11::MarkEventThread();
    // Loading the font configuration takes tens of milliseconds; do it beside the program's
    // start-up work instead of in front of its first text.
    std::jthread warmFonts(x11::WarmFonts);
    a11y::Start(ProgramName()); // only where an accessibility bus is there
    const ErrorHandler onError = record.errorSys ? record.errorSys : ErrorHandler(ErrorSys);
    // An error that ends a run of a thread object goes to the same error system. The run's
    // windows were destroyed as it unwound; the sync makes sure the server has taken them down
    // before the process ends.
    struct ThreadErrors {
        ThreadErrorHandler previous;
        ~ThreadErrors() { SetThreadErrorHandler(std::move(previous)); }
    } threadErrors{SetThreadErrorHandler([onError](const std::exception& e) {
        static std::atomic<bool> ending{false};
        if (ending.exchange(true)) {
            for (;;) {
                ::pause(); // another thread's error is ending the process: one line is enough
            }
        }
        if (auto conn = Connection::existing()) {
            XSync(conn->dpy(), False);
        }
        onError(e);
        std::fflush(stderr);
        std::_Exit(1); // an error system that returns still ends the program with a failure
    })};
    return RunProgram(record, onError);
}

// ---- Events ------------------------------------------------------------------------------

namespace x11 {
void MarkEventThread() {
    tIsEventThread = true;
}
bool IsEventThread() {
    return tIsEventThread;
}
std::shared_ptr<XbpWindow> AppWindow() {
    std::lock_guard lock(detail::App().mutex);
    return detail::App().appWindow;
}
long EventMaskForThisThread(long wanted) {
    return tIsEventThread ? wanted : NoEventMask;
}
} // namespace x11

int AppEvent(Param& mp1, Param& mp2, std::shared_ptr<XbpPart>& target, std::optional<int> timeout) {
    std::shared_ptr<Connection> conn = Connection::current();
    Display* dpy = conn->dpy();
    PostedQueue& queue = posted();
    using clock = std::chrono::steady_clock;
    const auto deadline =
        timeout ? std::optional(clock::now() + std::chrono::milliseconds(*timeout * 10)) : Nil;
    for (;;) {
        if (auto p = queue.pop()) {
            if (auto t = p->target.lock()) {
                mp1 = p->mp1;
                mp2 = p->mp2;
                target = std::move(t);
                return p->code;
            }
            continue; // its target is gone
        }
        // Drain what Xlib has read before blocking on the socket.
        while (XPending(dpy) > 0) {
            XEvent ev;
            XNextEvent(dpy, &ev);
            if (auto h = translate(*conn, ev)) {
                mp1 = h->mp1;
                mp2 = h->mp2;
                target = std::move(h->target);
                return h->code;
            }
        }
        int wait = -1;
        if (deadline) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - clock::now());
            if (left.count() <= 0) {
                mp1 = mp2 = Nil;
                target = nullptr;
                return event::NoEvent;
            }
            wait = static_cast<int>(left.count());
        }
        pollfd fds[2] = {{ConnectionNumber(dpy), POLLIN, 0}, {queue.fd(), POLLIN, 0}};
        if (a11y::Poll(fds, 2, wait) > 0 && (fds[1].revents & POLLIN)) {
            queue.drainWakeups();
        }
        // A hung-up connection shows up in XPending above, through the I/O error handler.
    }
}

bool PostAppEvent(int code, Param mp1, Param mp2, std::shared_ptr<XbpPart> target) {
    target = detail::PostTarget(std::move(target));
    return target && posted().push(Posted{code, mp1, mp2, target});
}

// ---- Application window and focus --------------------------------------------------------

std::shared_ptr<XbpWindow> SetAppFocus(std::shared_ptr<XbpWindow> window) {
    std::shared_ptr<XbpWindow> previous = detail::SwapFocus(window);
    std::shared_ptr<Connection> conn = Connection::current();
    x11::ErrorTrap trap(conn->dpy()); // an unviewable window cannot take the focus: not fatal
    if (window && window->isCreated() && !Impl(*window).desktop) {
        XSetInputFocus(conn->dpy(), Impl(*window).window.id(), RevertToParent, CurrentTime);
    } else {
        XSetInputFocus(conn->dpy(), PointerRoot, RevertToPointerRoot, CurrentTime);
    }
    trap.sync();
    return previous;
}

void CenterControl(const std::shared_ptr<XbpWindow>& window) {
    if (!window) {
        throw Error("CenterControl", "no window (NIL) given");
    }
    detail::WindowImpl& w = Impl(*window);
    const Size inner = window->currentSize();
    if (!w.isTopLevel()) {
        const Size outer = window->parent()->currentSize();
        window->setPos({(outer.width - inner.width) / 2, (outer.height - inner.height) / 2});
        return;
    }
    // A top-level window: on one monitor, not across the seam of two.
    std::shared_ptr<Connection> conn = w.conn ? w.conn : Connection::current();
    const int rootHeight = conn->rootSize().height;
    const x11::DeviceRect monitor = x11::PointerMonitor(*conn);
    if (w.created && !w.overrideRedirect) {
        // What the user sees is the frame: centre that (the window manager tells its size).
        const x11::DeviceRect r = x11::CentreManaged(*conn, w.window.id(), inner, monitor);
        w.pos = x11::WindowToHost(r.x, r.y, inner, rootHeight);
        return;
    }
    const x11::DeviceRect r = x11::CentreFrame(monitor, inner, {});
    window->setPos(x11::WindowToHost(r.x, r.y, inner, rootHeight));
}

Point GetPointerPos() {
    std::shared_ptr<Connection> conn = Connection::current();
    ::Window root = 0, child = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned int mask = 0;
    XQueryPointer(conn->dpy(), conn->root(), &root, &child, &rx, &ry, &wx, &wy, &mask);
    return {rx, x11::ToHostRow(ry, conn->rootSize().height)};
}

void Sleep(int hundredths) {
    if (hundredths > 0) {
        PauseUntilStop(std::chrono::milliseconds(hundredths) * 10); // a stop request ends it
    }
}

int FErase(const std::string& path) {
    return ::unlink(path.c_str()) == 0 ? 0 : -1;
}

} // namespace host
