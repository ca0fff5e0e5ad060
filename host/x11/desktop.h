// The desktop a user really has: its monitors, the window manager's frames and a compositing
// manager. One place answers "which monitor"; top-level windows are centred by their frame,
// and a managed window counts as gone once its frame is down and the compositor has repainted.
#pragma once

#include "connection.h"
#include "coords.h"

#include <optional>
#include <vector>

namespace host::x11 {

// The monitors, the primary first: Xinerama's screens while Xinerama is active (the primary
// comes first there, also in RandR's emulation of it), else RandR 1.5 monitors, else the whole
// root. Kept by the connection until the screen changes.
std::vector<Monitor> Monitors(Connection& c);
// The monitor that holds the device point; the primary when none does (a gap between monitors
// of different sizes).
DeviceRect MonitorAt(Connection& c, int x, int y);
// The monitor that holds the pointer, else the primary.
DeviceRect PointerMonitor(Connection& c);

// The frame a window manager puts around the managed window `w`, asked for before mapping
// (EWMH _NET_REQUEST_FRAME_EXTENTS, answered by setting _NET_FRAME_EXTENTS; waited for 200 ms at
// most). nullopt without a window manager that gives extents.
std::optional<FrameExtents> RequestFrameExtents(Connection& c, ::Window w);

// Centres the managed top-level window `w` (of `size`) by its frame on `monitor` and returns
// the client's device rectangle. The WM_NORMAL_HINTS get the position with static gravity
// (ICCCM 4.1.2.3), so a window manager builds the frame around the client where we put it.
DeviceRect CentreManaged(Connection& c, ::Window w, Size size, const DeviceRect& monitor);

// Destroys the managed top-level window `w` and returns once it is off the screen: its frame
// unmapped or destroyed (seen with SubstructureNotify on the root), and where a compositing
// manager owns _NET_WM_CM_S<screen>, the screen repainted over it. 500 ms at most.
void DestroyManaged(Connection& c, ::Window w);

// Maps a top-level window and returns once the server shows it: at once without a window
// manager (and always for override-redirect windows), else after its MapNotify (a second at
// most), which stays queued for the event loop.
void MapAndWait(Connection& c, ::Window w, bool overrideRedirect);

} // namespace host::x11
