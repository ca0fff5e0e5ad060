// XTest input and read-back helpers for GUI tests.
#include "support/xserver.h"

#include <compositor.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>

namespace testx {

namespace {

// Windows of other programs come and go while a test reads the tree (a window manager takes a
// frame down between XQueryTree and XGetWindowProperty): on the tests' own connections such an
// error means "not there", never the end of the test. Xlib's handler is per process, so this
// one hands errors on any other connection to the handler that was there before.
std::mutex gOwnMutex;
std::set<Display*> gOwn;
std::atomic<XErrorHandler> gPrevious{nullptr};

int ignoreOwnErrors(Display* d, XErrorEvent* e) {
    {
        const std::lock_guard lock(gOwnMutex);
        if (gOwn.count(d)) {
            return 0;
        }
    }
    const XErrorHandler previous = gPrevious.load();
    return previous ? previous(d, e) : 0;
}

void tolerateErrorsOn(Display* d) {
    static std::once_flag once;
    std::call_once(once, [] { gPrevious.store(XSetErrorHandler(ignoreOwnErrors)); });
    const std::lock_guard lock(gOwnMutex);
    gOwn.insert(d);
}

void forget(Display* d) {
    const std::lock_guard lock(gOwnMutex);
    gOwn.erase(d);
}

} // namespace

XServer::XServer() : XServer(std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "") {}

XServer::XServer(const std::string& name) : name_(name) {
    // A busy server may turn a connection away for a moment; a missing one never answers.
    for (int attempt = 0; !name.empty() && !dpy_ && attempt < 20; ++attempt) {
        dpy_ = XOpenDisplay(name.c_str());
        if (!dpy_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    if (!dpy_) {
        ADD_FAILURE() << "GUI test needs an X server; DISPLAY="
                      << (name.empty() ? "(unset)" : name);
        throw std::runtime_error("no X server");
    }
    tolerateErrorsOn(dpy_);
    int ev = 0, err = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(dpy_, &ev, &err, &major, &minor)) {
        ADD_FAILURE() << "the X server has no XTEST extension";
    }
}

bool XServer::answers(const std::string& name) {
    Display* d = XOpenDisplay(name.c_str());
    if (d) {
        XCloseDisplay(d);
    }
    return d != nullptr;
}

XServer::~XServer() {
    if (dpy_) {
        forget(dpy_);
        XCloseDisplay(dpy_);
    }
}

Window XServer::root() const {
    return DefaultRootWindow(dpy_);
}
int XServer::screenWidth() const {
    return DisplayWidth(dpy_, DefaultScreen(dpy_));
}
int XServer::screenHeight() const {
    return DisplayHeight(dpy_, DefaultScreen(dpy_));
}
int XServer::depth() const {
    return DefaultDepth(dpy_, DefaultScreen(dpy_));
}

void XServer::movePointer(int x, int y) {
    XTestFakeMotionEvent(dpy_, DefaultScreen(dpy_), x, y, CurrentTime);
    XSync(dpy_, False);
}

void XServer::pointer(int& x, int& y) const {
    Window r = 0, c = 0;
    int wx = 0, wy = 0;
    unsigned int mask = 0;
    XQueryPointer(dpy_, root(), &r, &c, &x, &y, &wx, &wy, &mask);
}

void XServer::buttonDown(int button) {
    XTestFakeButtonEvent(dpy_, static_cast<unsigned>(button), True, CurrentTime);
    XSync(dpy_, False);
}

void XServer::buttonUp(int button) {
    XTestFakeButtonEvent(dpy_, static_cast<unsigned>(button), False, CurrentTime);
    XSync(dpy_, False);
}

void XServer::click(int x, int y, int button) {
    movePointer(x, y);
    buttonDown(button);
    buttonUp(button);
}

void XServer::keyDown(unsigned long keysym) {
    XTestFakeKeyEvent(dpy_, XKeysymToKeycode(dpy_, keysym), True, CurrentTime);
    XSync(dpy_, False);
}

void XServer::keyUp(unsigned long keysym) {
    XTestFakeKeyEvent(dpy_, XKeysymToKeycode(dpy_, keysym), False, CurrentTime);
    XSync(dpy_, False);
}

void XServer::tapKey(unsigned long keysym, unsigned long modifierKeysym) {
    if (modifierKeysym) {
        keyDown(modifierKeysym);
    }
    keyDown(keysym);
    keyUp(keysym);
    if (modifierKeysym) {
        keyUp(modifierKeysym);
    }
}

std::vector<Window> XServer::mappedChildren(Window w) const {
    Window r = 0, parent = 0;
    Window* kids = nullptr;
    unsigned int n = 0;
    std::vector<Window> out;
    if (XQueryTree(dpy_, w, &r, &parent, &kids, &n)) {
        for (unsigned int i = 0; i < n; ++i) {
            XWindowAttributes a;
            if (XGetWindowAttributes(dpy_, kids[i], &a) && a.map_state == IsViewable) {
                out.push_back(kids[i]);
            }
        }
        XFree(kids);
    }
    return out;
}

namespace {

// A property of 32-bit items (CARDINAL, WINDOW, ...) as longs, as Xlib hands them out.
std::vector<long> longs(Display* dpy, Window w, const char* name, Atom type) {
    Atom actual = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<long> out;
    if (XGetWindowProperty(dpy, w, XInternAtom(dpy, name, False), 0, 1024, False, type, &actual,
                           &format, &n, &after, &data) == Success &&
        data) {
        if (format == 32) {
            const auto* items = reinterpret_cast<const long*>(data);
            out.assign(items, items + n);
        }
        XFree(data);
    }
    return out;
}

bool hasWmState(Display* dpy, Window w) {
    const Atom wmState = XInternAtom(dpy, "WM_STATE", False);
    Atom actual = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    const bool found = XGetWindowProperty(dpy, w, wmState, 0, 0, False, AnyPropertyType, &actual,
                                          &format, &n, &after, &data) == Success &&
                       actual != 0;
    if (data) {
        XFree(data);
    }
    return found;
}

std::vector<Window> children(Display* dpy, Window w) {
    Window r = 0, parent = 0;
    Window* kids = nullptr;
    unsigned int n = 0;
    std::vector<Window> out;
    if (XQueryTree(dpy, w, &r, &parent, &kids, &n)) {
        out.assign(kids, kids + n);
        if (kids) {
            XFree(kids);
        }
    }
    return out;
}

// The client inside a window manager's frame: the first window with WM_STATE, breadth first,
// a few levels down (ICCCM 4.1.3.1; as XmuClientWindow looks for it).
std::optional<Window> clientInside(Display* dpy, Window frame) {
    std::vector<Window> level{frame};
    for (int depth = 0; depth < 4 && !level.empty(); ++depth) {
        std::vector<Window> next;
        for (Window w : level) {
            if (hasWmState(dpy, w)) {
                return w;
            }
            for (Window k : children(dpy, w)) {
                next.push_back(k);
            }
        }
        level = std::move(next);
    }
    return std::nullopt;
}

bool viewable(Display* dpy, Window w, bool* overrideRedirect = nullptr) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(dpy, w, &a)) {
        return false;
    }
    if (overrideRedirect) {
        *overrideRedirect = a.override_redirect;
    }
    return a.map_state == IsViewable;
}

} // namespace

std::vector<Window> XServer::mappedTopLevels() const {
    std::vector<Window> out;
    for (Window w : children(dpy_, root())) {
        bool overrideRedirect = false;
        if (!viewable(dpy_, w, &overrideRedirect)) {
            continue;
        }
        if (overrideRedirect) {
            out.push_back(w); // never framed: menus, tips, the window manager's own
            continue;
        }
        // A frame shows its client; a window with no WM_STATE anywhere inside is its own
        // client (no window manager runs), unless it is one of the window manager's windows.
        if (const auto client = clientInside(dpy_, w)) {
            if (viewable(dpy_, *client)) {
                out.push_back(*client);
            }
        } else {
            out.push_back(w);
        }
    }
    return out;
}

std::string XServer::windowManager() const {
    // EWMH: the root and the check window both name the check window; it carries the name.
    const Atom window = XA_WINDOW;
    const auto onRoot = longs(dpy_, root(), "_NET_SUPPORTING_WM_CHECK", window);
    if (onRoot.empty()) {
        return {};
    }
    const Window check = static_cast<Window>(onRoot[0]);
    const auto onCheck = longs(dpy_, check, "_NET_SUPPORTING_WM_CHECK", window);
    if (onCheck.empty() || static_cast<Window>(onCheck[0]) != check) {
        return {}; // stale: a window manager that ended
    }
    const std::string name = windowName(check);
    return name.empty() ? "(unnamed)" : name;
}

bool XServer::compositing() const {
    const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(dpy_));
    return XGetSelectionOwner(dpy_, XInternAtom(dpy_, name.c_str(), False)) != 0;
}

std::vector<Geometry> XServer::monitors() const {
    std::vector<Geometry> out;
    int ev = 0, err = 0;
    if (XineramaQueryExtension(dpy_, &ev, &err) && XineramaIsActive(dpy_)) {
        int n = 0;
        if (XineramaScreenInfo* screens = XineramaQueryScreens(dpy_, &n)) {
            for (int i = 0; i < n; ++i) {
                out.push_back(
                    {screens[i].x_org, screens[i].y_org, screens[i].width, screens[i].height});
            }
            XFree(screens);
        }
    }
    if (out.empty()) {
        out.push_back({0, 0, screenWidth(), screenHeight()});
    }
    return out;
}

Geometry XServer::monitorAt(int x, int y) const {
    const auto all = monitors();
    for (const Geometry& m : all) {
        if (x >= m.x && y >= m.y && x < m.x + m.width && y < m.y + m.height) {
            return m;
        }
    }
    return all.front();
}

std::optional<Extents> XServer::frameExtents(Window client) const {
    const auto e = longs(dpy_, client, "_NET_FRAME_EXTENTS", XA_CARDINAL);
    if (e.size() < 4) {
        return std::nullopt;
    }
    return Extents{static_cast<int>(e[0]), static_cast<int>(e[1]), static_cast<int>(e[2]),
                   static_cast<int>(e[3])};
}

Geometry XServer::frame(Window client) const {
    Geometry g = geometry(client);
    if (const auto e = frameExtents(client)) {
        g = {g.x - e->left, g.y - e->top, g.width + e->left + e->right,
             g.height + e->top + e->bottom};
    }
    return g;
}

bool XServer::hasFocus(Window w) const {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(dpy_, &focus, &revert);
    // The focus may sit on a window inside the client (its drawing area).
    for (Window f = focus; f > PointerRoot;) {
        if (f == w) {
            return true;
        }
        Window r = 0, parent = 0;
        Window* kids = nullptr;
        unsigned int n = 0;
        if (!XQueryTree(dpy_, f, &r, &parent, &kids, &n)) {
            return false;
        }
        if (kids) {
            XFree(kids);
        }
        if (parent == r) {
            return false;
        }
        f = parent;
    }
    return false;
}

bool XServer::activate(Window client, std::chrono::milliseconds limit) {
    if (hasFocus(client)) {
        return true;
    }
    if (windowManager().empty()) {
        XSetInputFocus(dpy_, client, RevertToParent, CurrentTime);
    } else {
        // Source 2: a pager, acting for the user, which window managers obey (EWMH 1.5).
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = client;
        ev.xclient.message_type = XInternAtom(dpy_, "_NET_ACTIVE_WINDOW", False);
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = 2;
        ev.xclient.data.l[1] = CurrentTime;
        XSendEvent(dpy_, root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
    }
    XSync(dpy_, False);
    return waitFor([&] { return hasFocus(client); }, limit);
}

bool contains(const Geometry& outer, const Geometry& inner) {
    return inner.x >= outer.x && inner.y >= outer.y &&
           inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

Geometry centredOn(const Geometry& monitor, int width, int height) {
    return {monitor.x + (monitor.width - width) / 2, monitor.y + (monitor.height - height) / 2,
            width, height};
}

std::string XServer::windowName(Window w) const {
    Atom utf8 = XInternAtom(dpy_, "UTF8_STRING", False);
    Atom netName = XInternAtom(dpy_, "_NET_WM_NAME", False);
    Atom type = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    std::string name;
    if (XGetWindowProperty(dpy_, w, netName, 0, 1024, False, utf8, &type, &format, &n, &after,
                           &data) == Success &&
        data) {
        name.assign(reinterpret_cast<char*>(data), n);
        XFree(data);
        return name;
    }
    char* legacy = nullptr;
    if (XFetchName(dpy_, w, &legacy) && legacy) {
        name = legacy;
        XFree(legacy);
    }
    return name;
}

std::optional<Window> XServer::findMapped(const std::string& name) const {
    for (Window w : mappedTopLevels()) {
        if (windowName(w) == name) {
            return w;
        }
    }
    return std::nullopt;
}

bool XServer::overrideRedirect(Window w) const {
    XWindowAttributes a;
    return XGetWindowAttributes(dpy_, w, &a) && a.override_redirect;
}

Geometry XServer::geometry(Window w) const {
    XWindowAttributes a;
    Geometry g;
    if (XGetWindowAttributes(dpy_, w, &a)) {
        Window child = 0;
        XTranslateCoordinates(dpy_, w, root(), 0, 0, &g.x, &g.y, &child);
        g.width = a.width;
        g.height = a.height;
    }
    return g;
}

bool XServer::wayland() const {
    if (!wayland_) {
        wayland_ = false;
        if (XRRScreenResources* res = XRRGetScreenResourcesCurrent(dpy_, root())) {
            for (int i = 0; i < res->noutput && !*wayland_; ++i) {
                if (XRROutputInfo* info = XRRGetOutputInfo(dpy_, res, res->outputs[i])) {
                    wayland_ = std::string(info->name).rfind("XWAYLAND", 0) == 0;
                    XRRFreeOutputInfo(info);
                }
            }
            XRRFreeScreenResources(res);
        }
    }
    return *wayland_;
}

std::vector<std::uint32_t> XServer::picture(Geometry area) const {
    std::vector<std::uint32_t> out;
    if (area.width <= 0 || area.height <= 0) {
        return out;
    }
    if (wayland()) {
        auto got = host::compositor::TakeDesktop();
        // Brought to the root's size, as the program does (a scaled desktop's device pixels).
        if (got.picture &&
            (got.picture->width != screenWidth() || got.picture->height != screenHeight())) {
            got.picture = host::compositor::Resized(*got.picture, screenWidth(), screenHeight());
        }
        if (!got.picture || area.x < 0 || area.y < 0 || area.x + area.width > got.picture->width ||
            area.y + area.height > got.picture->height) {
            return out;
        }
        for (int y = area.y; y < area.y + area.height; ++y) {
            for (int x = area.x; x < area.x + area.width; ++x) {
                out.push_back(got.picture->at(x, y));
            }
        }
        return out;
    }
    XImage* img = XGetImage(dpy_, root(), area.x, area.y, static_cast<unsigned>(area.width),
                            static_cast<unsigned>(area.height), AllPlanes, ZPixmap);
    if (!img) {
        return out;
    }
    out.reserve(static_cast<std::size_t>(area.width) * static_cast<std::size_t>(area.height));
    for (int y = 0; y < area.height; ++y) {
        for (int x = 0; x < area.width; ++x) {
            // Any TrueColor visual: the server's masks say where each channel lies.
            const Pixel p = decode(XGetPixel(img, x, y));
            out.push_back(static_cast<std::uint32_t>(p.r << 16 | p.g << 8 | p.b));
        }
    }
    XDestroyImage(img);
    return out;
}

Pixel XServer::windowPixel(Window w, int x, int y) const {
    XImage* img = XGetImage(dpy_, w, x, y, 1, 1, AllPlanes, ZPixmap);
    Pixel p;
    if (img) {
        p = decode(XGetPixel(img, 0, 0));
        XDestroyImage(img);
    }
    return p;
}

Pixel XServer::pixel(int x, int y) const {
    if (wayland()) {
        const auto one = picture({x, y, 1, 1});
        if (one.empty()) {
            return {};
        }
        return {static_cast<int>(one[0] >> 16 & 0xff), static_cast<int>(one[0] >> 8 & 0xff),
                static_cast<int>(one[0] & 0xff)};
    }
    XImage* img = XGetImage(dpy_, root(), x, y, 1, 1, AllPlanes, ZPixmap);
    Pixel p;
    if (img) {
        p = decode(XGetPixel(img, 0, 0));
        XDestroyImage(img);
    }
    return p;
}

Pixel XServer::decode(unsigned long value) const {
    const Visual* v = DefaultVisual(dpy_, DefaultScreen(dpy_));
    const auto channel = [value](unsigned long mask) {
        if (!mask) {
            return 0;
        }
        int shift = 0;
        while (!(mask & 1)) {
            mask >>= 1;
            ++shift;
        }
        return static_cast<int>(((value >> shift) & mask) * 255 / mask);
    };
    return {channel(v->red_mask), channel(v->green_mask), channel(v->blue_mask)};
}

void XServer::paintRoot(unsigned long pixel) {
    XSetWindowBackground(dpy_, root(), pixel);
    XClearWindow(dpy_, root());
    XSync(dpy_, False);
}

bool XServer::waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) {
            return done();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool near(const Pixel& p, int r, int g, int b, int tolerance) {
    return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance &&
           std::abs(p.b - b) <= tolerance;
}

std::string str(const Pixel& p) {
    return "rgb(" + std::to_string(p.r) + ", " + std::to_string(p.g) + ", " + std::to_string(p.b) +
           ")";
}

} // namespace testx
