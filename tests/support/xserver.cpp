// XTest input and read-back helpers for GUI tests.
#include "support/xserver.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace testx {

XServer::XServer() {
    const char* name = std::getenv("DISPLAY");
    // A busy server may turn a connection away for a moment; a missing one never answers.
    for (int attempt = 0; name && *name && !dpy_ && attempt < 20; ++attempt) {
        dpy_ = XOpenDisplay(name);
        if (!dpy_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    if (!dpy_) {
        ADD_FAILURE() << "GUI test needs an X server; DISPLAY=" << (name ? name : "(unset)");
        throw std::runtime_error("no X server");
    }
    int ev = 0, err = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(dpy_, &ev, &err, &major, &minor)) {
        ADD_FAILURE() << "the X server has no XTEST extension";
    }
}

XServer::~XServer() {
    if (dpy_) {
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

std::vector<Window> XServer::mappedTopLevels() const {
    return mappedChildren(root());
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

Pixel XServer::pixel(int x, int y) const {
    XImage* img = XGetImage(dpy_, root(), x, y, 1, 1, AllPlanes, ZPixmap);
    Pixel p;
    if (img) {
        const unsigned long v = XGetPixel(img, 0, 0);
        p = {static_cast<int>((v >> 16) & 0xff), static_cast<int>((v >> 8) & 0xff),
             static_cast<int>(v & 0xff)};
        XDestroyImage(img);
    }
    return p;
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
