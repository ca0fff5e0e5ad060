// Keys: X key events as the runtime's key codes.
#pragma once

#include <X11/Xlib.h>

namespace host::x11 {

// The runtime's code for a key (host::key): characters as their Unicode code points, other
// keys from 0x20000 on; `text` is what XLookupString made of the event.
long KeyCode(KeySym sym, const char* text, int textLength);
// The runtime's modifier bits (host::mod) of an event's state.
long Modifiers(unsigned int state);

} // namespace host::x11
