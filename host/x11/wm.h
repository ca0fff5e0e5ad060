// What window managers and task bars read from a window (ICCCM, EWMH), set in one place for
// every window the runtime makes: managed top-level windows (dialogs, the confirmation box) and
// the windows the window manager leaves alone (menus, tips).
#pragma once

#include "connection.h"
#include "coords.h"

#include <string>
#include <vector>

namespace host::x11 {

struct ManagedProps {
    std::string title;
    Atom type = 0;             // _NET_WM_WINDOW_TYPE
    std::vector<Atom> states;  // _NET_WM_STATE
    DeviceRect placed;         // where we put it and its size (USPosition, USSize)
    bool fixedSize = false;    // the user cannot resize it
    bool decorated = true;     // false: no title bar or border (_MOTIF_WM_HINTS)
    ::Window transientFor = 0; // the window it belongs to (WM_TRANSIENT_FOR), its leader
};

// Name and class, the close protocol (WM_DELETE_WINDOW), type, states and size hints; input
// and initial state, the process and its machine (so "force quit" works), the client leader
// and the program's icon.
void SetManagedProperties(Connection& c, ::Window w, const ManagedProps& props);
// A new title: _NET_WM_NAME (UTF-8) and WM_NAME.
void SetTitle(Connection& c, ::Window w, const std::string& title);
// The type of a window the window manager leaves alone (override-redirect), and the window
// it belongs to.
void SetWindowType(Connection& c, ::Window w, Atom type, ::Window transientFor = 0);

} // namespace host::x11
