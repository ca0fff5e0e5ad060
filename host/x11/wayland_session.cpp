// Knowing Xwayland, and the desktop from the compositor. Xwayland's root gives BadMatch to
// XGetImage and black to XShmGetImage, so on a Wayland session the desktop's pixels come from
// host/compositor instead, and a capture that gets none fails rather than saving black.
#include "wayland_session.h"

#include "object_state.h"

#include <compositor.h>

#include <cstring>
#include <map>
#include <mutex>

#include <X11/extensions/Xrandr.h>

namespace host::x11 {
namespace {

// RandR 1.2's outputs: Xwayland names every one XWAYLAND<n>; no X extension names it otherwise.
bool xwaylandOutputs(Display* dpy, ::Window root) {
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XRRQueryExtension(dpy, &event, &error) || !XRRQueryVersion(dpy, &major, &minor) ||
        (major == 1 && minor < 2)) {
        return false;
    }
    XRRScreenResources* res = XRRGetScreenResourcesCurrent(dpy, root);
    if (!res) {
        return false;
    }
    bool found = false;
    for (int i = 0; i < res->noutput && !found; ++i) {
        if (XRROutputInfo* info = XRRGetOutputInfo(dpy, res, res->outputs[i])) {
            found = std::strncmp(info->name, "XWAYLAND", 8) == 0;
            XRRFreeOutputInfo(info);
        }
    }
    XRRFreeScreenResources(res);
    return found;
}

// A root that refuses to be read: a nested X server under a Wayland session (Xephyr, Xvfb)
// answers, and must keep being read from its own root.
bool rootUnreadable(Display* dpy, ::Window root) {
    ErrorTrap trap(dpy);
    XImagePtr img(XGetImage(dpy, root, 0, 0, 1, 1, AllPlanes, ZPixmap));
    return !trap.sync() || !img;
}

} // namespace

bool WaylandSession(const Connection& c) {
    static std::mutex mutex;
    static std::map<std::string, bool> known; // by display name: a process may use several
    const std::string name = DisplayString(c.dpy());
    const std::lock_guard lock(mutex);
    if (auto it = known.find(name); it != known.end()) {
        return it->second;
    }
    const bool wayland = xwaylandOutputs(c.dpy(), c.root()) ||
                         (rootUnreadable(c.dpy(), c.root()) && compositor::Reachable());
    known.emplace(name, wayland);
    return wayland;
}

std::optional<std::string> GrabFromCompositor(const Connection& c, detail::PixelBuffer& px,
                                              DeviceRect src, DeviceRect dst) {
    compositor::Capture got = compositor::TakeDesktop();
    if (!got.picture) {
        return got.failure;
    }
    // The compositor's desktop and Xwayland's root share their origin; a picture in device
    // pixels of a scaled desktop is brought to the root's logical size.
    const Size root = c.rootSize();
    if (got.picture->width != root.width || got.picture->height != root.height) {
        got.picture = compositor::Resized(*got.picture, root.width, root.height);
    }
    const compositor::Picture& pic = *got.picture;
    // A part of the rectangle that the picture does not cover stays as it was.
    const int w = std::min(src.width, pic.width - src.x);
    for (int row = 0; row < src.height && src.y + row < pic.height; ++row) {
        if (w <= 0 || src.x < 0 || src.y + row < 0) {
            continue;
        }
        std::memcpy(px.data() + px.stride() * (dst.y + row) + std::ptrdiff_t{4} * dst.x,
                    &pic.pixels[static_cast<std::size_t>(src.y + row) *
                                    static_cast<std::size_t>(pic.width) +
                                static_cast<std::size_t>(src.x)],
                    static_cast<std::size_t>(w) * 4);
    }
    return std::nullopt;
}

void BeforeLeavingScreen(Connection& c) {
    if (WaylandSession(c)) {
        compositor::WindowLeaving();
    }
}

} // namespace host::x11
