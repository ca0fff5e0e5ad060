// Pictures of the desktop taken through the compositor of a Wayland session, for drivers whose
// own window system cannot read the desktop back (X clients of Xwayland). No window-system
// header here: the X11 driver uses it now, a native Wayland driver can later.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace host::compositor {

// A picture in the bitmaps' layout: 0x00RRGGBB words (B, G, R, X in memory), rows top down.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;

    std::uint32_t at(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
};

// What one capture gave: the picture and the route that took it, or why no route could.
struct Capture {
    std::optional<Picture> picture;
    std::string route;   // "screencopy" or "portal" when there is a picture
    std::string failure; // every route's reason, when there is none
    double waitedMs = 0; // of it, the wait for the changed frame or the settle time
};

// The picture brought to `width` x `height` (cairo, filtered): a portal's picture of a scaled
// desktop comes in device pixels, where an X client's desktop is in logical ones.
Picture Resized(const Picture& p, int width, int height);

// True when a Wayland compositor accepts a connection at $WAYLAND_DISPLAY (wayland-0 when unset).
bool Reachable();

// The whole desktop as the compositor shows it: every output at its logical position, in the
// bounding box of all outputs. Routes are tried in order: wlr-screencopy where the compositor
// advertises it, then the desktop portal's Screenshot. $MENUTIP_CAPTURE_ROUTES (a comma list of
// "screencopy" and "portal") narrows the routes tried. After WindowLeaving(), the picture is
// one the compositor made after the window went: at most kChangeBound later.
Capture TakeDesktop();

// Call just before a window is taken off the screen: the next TakeDesktop() waits for the
// compositor's first changed frame after it (screencopy's copy_with_damage), or for the portal's
// settle time.
void WindowLeaving();

// The longest TakeDesktop() waits for the changed frame after WindowLeaving().
inline constexpr int kChangeBoundMs = 500;

} // namespace host::compositor
