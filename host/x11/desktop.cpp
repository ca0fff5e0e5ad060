// Monitors (Xinerama, RandR 1.5), frame extents (EWMH), and taking a managed window off the
// screen for real under a window manager and a compositing manager.
#include "desktop.h"

#include "driver.h"
#include "wayland_session.h"

#include <host/application.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <string>

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>

namespace host::x11 {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long a window manager may take to answer _NET_REQUEST_FRAME_EXTENTS (openbox: < 1 ms).
constexpr milliseconds kExtentsBound{200};
// After this the last capture goes ahead whatever the desktop still shows.
constexpr milliseconds kGoneBound{500};
// A compositor's repaint is over when no damage has followed it for two frames at 60 Hz; a
// fade-out (picom -f) damages the screen every 10 ms until it ends, so it is waited for too.
constexpr milliseconds kQuiet{34};

// Waits until `pick` takes an event out of the queue (returned in `ev`) or `deadline` passes.
// Other events stay queued, in order, for the event loop.
bool waitForEvent(Display* dpy, XEvent& ev, Bool (*pick)(Display*, XEvent*, XPointer), void* arg,
                  Clock::time_point deadline) {
    for (;;) {
        if (XCheckIfEvent(dpy, &ev, pick, static_cast<XPointer>(arg))) {
            return true;
        }
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd pfd{ConnectionNumber(dpy), POLLIN, 0};
        ::poll(&pfd, 1, static_cast<int>(left.count()) + 1);
    }
}

std::optional<long> windowProperty(Display* dpy, ::Window w, Atom property) {
    Atom type = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    std::optional<long> value;
    if (XGetWindowProperty(dpy, w, property, 0, 1, False, XA_WINDOW, &type, &format, &n, &after,
                           &data) == Success &&
        data && format == 32 && n == 1) {
        value = *reinterpret_cast<long*>(data);
    }
    if (data) {
        XFree(data);
    }
    return value;
}

// EWMH: a window manager runs (its check window names itself) and lists `feature` in
// _NET_SUPPORTED.
bool windowManagerSupports(Connection& c, const char* feature) {
    Display* dpy = c.dpy();
    const Atom check = XInternAtom(dpy, "_NET_SUPPORTING_WM_CHECK", False);
    const auto child = windowProperty(dpy, c.root(), check);
    if (!child) {
        return false;
    }
    {
        ErrorTrap trap(dpy); // a manager that ended leaves a stale id behind
        const auto self = windowProperty(dpy, static_cast<::Window>(*child), check);
        if (!trap.sync() || self != child) {
            return false;
        }
    }
    const Atom wanted = XInternAtom(dpy, feature, False);
    Atom type = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    bool found = false;
    if (XGetWindowProperty(dpy, c.root(), XInternAtom(dpy, "_NET_SUPPORTED", False), 0, 4096, False,
                           XA_ATOM, &type, &format, &n, &after, &data) == Success &&
        data && format == 32) {
        const auto* atoms = reinterpret_cast<const Atom*>(data);
        found = std::find(atoms, atoms + n, wanted) != atoms + n;
    }
    if (data) {
        XFree(data);
    }
    return found;
}

std::optional<FrameExtents> readExtents(Display* dpy, ::Window w, Atom property) {
    Atom type = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    std::optional<FrameExtents> e;
    if (XGetWindowProperty(dpy, w, property, 0, 4, False, XA_CARDINAL, &type, &format, &n, &after,
                           &data) == Success &&
        data && format == 32 && n == 4) {
        const auto* v = reinterpret_cast<const long*>(data);
        e = FrameExtents{static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]),
                         static_cast<int>(v[3])};
    }
    if (data) {
        XFree(data);
    }
    return e;
}

struct PropertyWatch {
    ::Window window;
    Atom property;
};

Bool isPropertyChange(Display*, XEvent* ev, XPointer arg) {
    const auto* w = reinterpret_cast<const PropertyWatch*>(arg);
    return ev->type == PropertyNotify && ev->xproperty.window == w->window &&
           ev->xproperty.atom == w->property;
}

// ---- Off the screen ------------------------------------------------------------------------

// What takes a managed window off the screen: its frame going (reported on the root), and the
// compositor's damage to the screen after that.
struct GoneWatch {
    ::Window root = 0;
    ::Window frame = 0;
    int damageEvent = -1; // the Damage extension's first event code, or -1
    Damage damage = 0;
};

Bool isGoneEvent(Display*, XEvent* ev, XPointer arg) {
    const auto* w = reinterpret_cast<const GoneWatch*>(arg);
    if (ev->type == UnmapNotify) {
        return ev->xunmap.event == w->root && ev->xunmap.window == w->frame;
    }
    if (ev->type == DestroyNotify) {
        return ev->xdestroywindow.event == w->root && ev->xdestroywindow.window == w->frame;
    }
    return w->damage && ev->type == w->damageEvent + XDamageNotify &&
           reinterpret_cast<XDamageNotifyEvent*>(ev)->damage == w->damage;
}

// Events the watch made this connection receive and nobody wants: structure events reported
// on the root (the event loop drops them too; this keeps its queue short).
Bool isLeftover(Display*, XEvent* ev, XPointer arg) {
    const auto* w = reinterpret_cast<const GoneWatch*>(arg);
    switch (ev->type) {
    case UnmapNotify:
    case DestroyNotify:
    case MapNotify:
    case ConfigureNotify:
    case ReparentNotify:
    case GravityNotify:
    case CirculateNotify:
        return ev->xany.window == w->root; // the event window: the root, for SubstructureNotify
    case CreateNotify:
        return ev->xcreatewindow.parent == w->root;
    default:
        return w->damageEvent >= 0 && ev->type == w->damageEvent + XDamageNotify;
    }
}

// The window manager's frame around `w`: its ancestor that is a child of the root (`w` itself
// when no reparenting window manager runs).
::Window frameOf(Display* dpy, ::Window root, ::Window w) {
    for (;;) {
        ::Window r = 0, parent = 0;
        ::Window* kids = nullptr;
        unsigned int n = 0;
        if (!XQueryTree(dpy, w, &r, &parent, &kids, &n)) {
            return w;
        }
        if (kids) {
            XFree(kids);
        }
        if (parent == root || parent == 0) {
            return w;
        }
        w = parent;
    }
}

bool compositing(Connection& c) {
    const std::string name = "_NET_WM_CM_S" + std::to_string(c.screen());
    return XGetSelectionOwner(c.dpy(), XInternAtom(c.dpy(), name.c_str(), False)) != None;
}

bool overlaps(const DeviceRect& a, const XRectangle& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
           b.y < a.y + a.height;
}

} // namespace

// ---- Monitors ------------------------------------------------------------------------------

std::vector<Monitor> Monitors(Connection& c) {
    return c.monitors();
}

std::vector<Monitor> Connection::monitors() const {
    if (layoutKept() && monitors_) {
        return *monitors_;
    }
    const Connection& c = *this;
    Display* dpy = c.dpy();
    std::vector<Monitor> out;
    int event = 0, error = 0;
    if (XineramaQueryExtension(dpy, &event, &error) && XineramaIsActive(dpy)) {
        int n = 0;
        if (XineramaScreenInfo* screens = XineramaQueryScreens(dpy, &n)) {
            for (int i = 0; i < n; ++i) {
                out.push_back(
                    {{screens[i].x_org, screens[i].y_org, screens[i].width, screens[i].height},
                     i == 0});
            }
            XFree(screens);
        }
    }
    int major = 0, minor = 0;
    if (out.empty() && XRRQueryExtension(dpy, &event, &error) &&
        XRRQueryVersion(dpy, &major, &minor) && (major > 1 || (major == 1 && minor >= 5))) {
        int n = 0;
        if (XRRMonitorInfo* monitors = XRRGetMonitors(dpy, c.root(), True, &n)) {
            for (int i = 0; i < n; ++i) {
                const XRRMonitorInfo& m = monitors[i];
                out.push_back({{m.x, m.y, m.width, m.height}, m.primary != 0});
            }
            XRRFreeMonitors(monitors);
        }
        if (!out.empty() &&
            std::none_of(out.begin(), out.end(), [](auto& m) { return m.primary; })) {
            out.front().primary = true;
        }
        std::stable_partition(out.begin(), out.end(), [](const Monitor& m) { return m.primary; });
    }
    if (out.empty()) {
        const Size root = c.rootSize();
        out.push_back({{0, 0, root.width, root.height}, true});
    }
    monitors_ = out;
    return out;
}

DeviceRect MonitorAt(Connection& c, int x, int y) {
    const std::vector<Monitor> all = Monitors(c);
    for (const Monitor& m : all) {
        const DeviceRect& r = m.rect;
        if (x >= r.x && y >= r.y && x < r.x + r.width && y < r.y + r.height) {
            return r;
        }
    }
    return all.front().rect;
}

DeviceRect PointerMonitor(Connection& c) {
    ::Window root = 0, child = 0;
    int x = 0, y = 0, wx = 0, wy = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(c.dpy(), c.root(), &root, &child, &x, &y, &wx, &wy, &mask)) {
        return Monitors(c).front().rect; // the pointer is on another screen
    }
    return MonitorAt(c, x, y);
}

// ---- Frames --------------------------------------------------------------------------------

std::optional<FrameExtents> RequestFrameExtents(Connection& c, ::Window w) {
    Display* dpy = c.dpy();
    const Atom extents = XInternAtom(dpy, "_NET_FRAME_EXTENTS", False);
    if (auto known = readExtents(dpy, w, extents)) {
        return known; // mapped already, or asked before
    }
    if (!windowManagerSupports(c, "_NET_REQUEST_FRAME_EXTENTS")) {
        return std::nullopt;
    }
    XWindowAttributes attrs{};
    XGetWindowAttributes(dpy, w, &attrs);
    XSelectInput(dpy, w, attrs.your_event_mask | PropertyChangeMask);
    XEvent request{};
    request.xclient.type = ClientMessage;
    request.xclient.window = w;
    request.xclient.message_type = XInternAtom(dpy, "_NET_REQUEST_FRAME_EXTENTS", False);
    request.xclient.format = 32;
    XSendEvent(dpy, c.root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &request);
    XFlush(dpy);
    PropertyWatch watch{w, extents};
    XEvent ev;
    waitForEvent(dpy, ev, isPropertyChange, &watch, Clock::now() + kExtentsBound);
    XSelectInput(dpy, w, attrs.your_event_mask);
    return readExtents(dpy, w, extents);
}

DeviceRect CentreManaged(Connection& c, ::Window w, Size size, const DeviceRect& monitor) {
    Display* dpy = c.dpy();
    const DeviceRect r =
        CentreFrame(monitor, size, RequestFrameExtents(c, w).value_or(FrameExtents{}));
    XMoveWindow(dpy, w, r.x, r.y);
    XSizeHints hints{};
    long supplied = 0;
    XGetWMNormalHints(dpy, w, &hints, &supplied);
    hints.flags |= USPosition | PPosition | PWinGravity;
    hints.x = r.x;
    hints.y = r.y;
    hints.win_gravity = StaticGravity;
    XSetWMNormalHints(dpy, w, &hints);
    XFlush(dpy);
    return r;
}

// ---- Off the screen ------------------------------------------------------------------------

void DestroyManaged(Connection& c, ::Window w) {
    BeforeLeavingScreen(c); // a Wayland compositor's next frame is watched from here on
    Display* dpy = c.dpy();
    const auto start = Clock::now();
    const auto deadline = start + kGoneBound;
    GoneWatch watch{c.root(), frameOf(dpy, c.root(), w)};
    XWindowAttributes frame{};
    bool shown = false;
    {
        ErrorTrap trap(dpy); // a frame may go at any moment: the window manager owns it
        shown = XGetWindowAttributes(dpy, watch.frame, &frame) && frame.map_state == IsViewable;
        shown = trap.sync() && shown;
    }
    // Xwayland's root shows nothing, so its damage tells nothing of the screen: on a Wayland
    // session the compositor's own frames are watched instead (BeforeLeavingScreen).
    const bool composited = shown && compositing(c) && !WaylandSession(c);
    if (!shown || (watch.frame == w && !composited)) {
        // Nothing shows it, or the server takes it off the screen itself: gone once processed.
        XDestroyWindow(dpy, w);
        XSync(dpy, False);
        return;
    }
    XWindowAttributes root{};
    XGetWindowAttributes(dpy, watch.root, &root);
    XSelectInput(dpy, watch.root, root.your_event_mask | SubstructureNotifyMask);
    int damageError = 0;
    if (composited && XDamageQueryExtension(dpy, &watch.damageEvent, &damageError)) {
        // Damage on the root reports drawing anywhere on the screen, the compositor's output
        // window included (it is an inferior of the root that Composite never redirects).
        watch.damage = XDamageCreate(dpy, watch.root, XDamageReportNonEmpty);
    } else {
        watch.damageEvent = -1;
    }
    XDestroyWindow(dpy, w);
    XFlush(dpy);

    // The frame's area on the screen, where the compositor has to repaint.
    const DeviceRect area{frame.x, frame.y, frame.width + 2 * frame.border_width,
                          frame.height + 2 * frame.border_width};
    bool gone = false;
    bool repainted = !watch.damage;
    Clock::time_point lastDamage{};
    for (;;) {
        // Once repainted, only the quiet time is waited for (a fade goes on damaging).
        const auto until = repainted && gone ? std::min(deadline, lastDamage + kQuiet) : deadline;
        XEvent ev;
        if (!waitForEvent(dpy, ev, isGoneEvent, &watch, until)) {
            break; // quiet at last, or out of time
        }
        if (ev.type == UnmapNotify || ev.type == DestroyNotify) {
            gone = true;
            if (!watch.damage) {
                break;
            }
            continue;
        }
        // The damage level is "non-empty": the next report comes once the region is emptied.
        const auto& damage = reinterpret_cast<const XDamageNotifyEvent&>(ev);
        XDamageSubtract(dpy, watch.damage, None, None);
        // Only a repaint after the frame went shows the screen without it. Events on one
        // connection arrive in the order the server made them, so this one came after.
        if (gone && (repainted || overlaps(area, damage.area))) {
            repainted = true;
            lastDamage = Clock::now();
        }
    }
    XSelectInput(dpy, watch.root, root.your_event_mask);
    if (watch.damage) {
        XDamageDestroy(dpy, watch.damage);
    }
    XSync(dpy, False);
    XEvent ev;
    while (XCheckIfEvent(dpy, &ev, isLeftover, reinterpret_cast<XPointer>(&watch))) {
    }
}

// Only MapNotify is taken from the queue while waiting, and it is put back.
void MapAndWait(Connection& c, ::Window w, bool overrideRedirect) {
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

} // namespace host::x11

namespace host {

Rect x11::X11Driver::monitorAt(Point point) {
    std::shared_ptr<x11::Connection> conn = x11::Connection::current();
    const int height = conn->rootSize().height;
    const x11::DeviceRect r = x11::MonitorAt(*conn, point.x, x11::ToDeviceRow(point.y, height));
    return x11::ToHost(r, height);
}

} // namespace host
