// The colours of the runtime's own widgets (menu bar, menus, the confirmation box), in one
// place so that they look like one family.
#pragma once

#include <host/values.h>

namespace host::x11::scheme {

inline constexpr Color Face = 0xeeeeee;     // the menu bar strip
inline constexpr Color Line = 0xb0b0b0;     // the strip's bottom line
inline constexpr Color Text = 0x202020;     // captions, messages, button labels
inline constexpr Color Mark = 0x3465a4;     // a marked entry, the focused button's frame
inline constexpr Color MarkText = 0xffffff; // text on a marked entry
inline constexpr Color Menu = 0xfbfbfb;     // an open menu
inline constexpr Color Frame = 0x8c8c8c;    // a menu's frame, a button's frame
inline constexpr Color Box = 0xf2f2f2;      // the confirmation box
inline constexpr Color Button = 0xffffff;
inline constexpr Color Pressed = 0xd4d4d4; // a button held down

} // namespace host::x11::scheme
