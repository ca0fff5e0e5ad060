// The X11 driver on a Wayland session (a client of Xwayland): how it knows, and the desktop's
// picture taken through the compositor, since Xwayland's root holds none.
#pragma once

#include "connection.h"
#include "coords.h"

#include <optional>
#include <string>

namespace host::detail {
class PixelBuffer;
}

namespace host::x11 {

// True when the X server is Xwayland: RandR's outputs are named XWAYLAND<n>, or a Wayland
// compositor answers at $WAYLAND_DISPLAY and the root cannot be read (BadMatch). Asked once.
bool WaylandSession(const Connection& c);

// Copies the rectangle `src` of the desktop (root coordinates) into `px` at `dst`, from the
// compositor's picture brought to the root's size. On failure, the reason (nothing is copied).
std::optional<std::string> GrabFromCompositor(const Connection& c, detail::PixelBuffer& px,
                                              DeviceRect src, DeviceRect dst);

// Before a managed window is taken off the screen: on a Wayland session, the next desktop
// capture waits for the compositor's frame without it.
void BeforeLeavingScreen(Connection& c);

} // namespace host::x11
