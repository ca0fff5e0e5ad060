// What a person sees of menus, tips and boxes, read back from the X server: the open menu
// popups and tips by their EWMH window type, entry positions inside a popup, and a count of
// every window on the server. Include it after every other header.
#pragma once

#include "support/xserver.h"

// Xlib last: its macros would break the headers above.
#include <optional>
#include <string>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace menuprobe {

// Windows of another program come and go while a test looks at them (a tip closes between
// listing and reading its properties): such errors are expected, and Xlib's default handler
// would end the test process.
inline int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}
inline void tolerateVanishingWindows() {
    XSetErrorHandler(ignoreXError);
}

inline std::vector<Atom> atomList(Display* dpy, Window w, const char* property) {
    Atom type = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<Atom> out;
    if (XGetWindowProperty(dpy, w, XInternAtom(dpy, property, False), 0, 64, False, XA_ATOM, &type,
                           &format, &n, &after, &data) == Success &&
        data) {
        const auto* atoms = reinterpret_cast<const Atom*>(data);
        out.assign(atoms, atoms + n);
        XFree(data);
    }
    return out;
}

inline bool hasType(Display* dpy, Window w, const char* typeName) {
    const Atom want = XInternAtom(dpy, typeName, False);
    for (Atom a : atomList(dpy, w, "_NET_WM_WINDOW_TYPE")) {
        if (a == want) {
            return true;
        }
    }
    return false;
}

// Mapped top-levels of a window type, bottom to top.
inline std::vector<Window> mappedOfType(const testx::XServer& x, const char* typeName) {
    std::vector<Window> out;
    for (Window w : x.mappedTopLevels()) {
        if (hasType(x.display(), w, typeName)) {
            out.push_back(w);
        }
    }
    return out;
}

// Open menus: the bar's dropdown first, then submenus.
inline std::vector<Window> openMenus(const testx::XServer& x) {
    auto out = mappedOfType(x, "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU");
    for (Window w : mappedOfType(x, "_NET_WM_WINDOW_TYPE_POPUP_MENU")) {
        out.push_back(w);
    }
    return out;
}

inline std::vector<Window> tips(const testx::XServer& x) {
    std::vector<Window> out;
    for (Window w : mappedOfType(x, "_NET_WM_WINDOW_TYPE_TOOLTIP")) {
        out.push_back(w);
    }
    return out;
}

// The centre of entry n (from 1) of a popup with `count` equal entries: a 1-pixel frame and a
// 3-pixel inset above the first and below the last.
inline std::pair<int, int> entryCentre(const testx::Geometry& g, int n, int count) {
    const double h = (g.height - 8) / static_cast<double>(count);
    return {g.x + g.width / 3, g.y + 4 + static_cast<int>(h * (n - 0.5))};
}

// Every window on the server, children included.
inline int countWindows(Display* dpy, Window w) {
    Window r = 0, parent = 0;
    Window* kids = nullptr;
    unsigned int n = 0;
    int total = 1;
    if (XQueryTree(dpy, w, &r, &parent, &kids, &n)) {
        for (unsigned int i = 0; i < n; ++i) {
            total += countWindows(dpy, kids[i]);
        }
        if (kids) {
            XFree(kids);
        }
    }
    return total;
}

} // namespace menuprobe
