// Keys: X key events' keysyms and modifier state as the runtime's key codes (host::key, mod).
#include "keys.h"

#include <host/application.h>

#include <X11/keysym.h>

namespace host::x11 {

long KeyCode(KeySym sym, const char* text, int textLength) {
    switch (sym) {
    case XK_Escape:
        return key::Escape;
    case XK_Return:
    case XK_KP_Enter:
        return key::Enter;
    case XK_Tab:
    case XK_ISO_Left_Tab:
        return key::Tab;
    case XK_BackSpace:
        return key::Backspace;
    case XK_Up:
    case XK_KP_Up:
        return key::Up;
    case XK_Down:
    case XK_KP_Down:
        return key::Down;
    case XK_Left:
    case XK_KP_Left:
        return key::Left;
    case XK_Right:
    case XK_KP_Right:
        return key::Right;
    case XK_Home:
        return key::Home;
    case XK_End:
        return key::End;
    case XK_Page_Up:
        return key::PageUp;
    case XK_Page_Down:
        return key::PageDown;
    case XK_Insert:
        return key::Insert;
    case XK_Delete:
        return key::Delete;
    case XK_Menu:
        return key::Menu;
    default:
        break;
    }
    if (sym >= XK_F1 && sym <= XK_F12) {
        return key::F1 + static_cast<long>(sym - XK_F1);
    }
    if (sym >= 0x20 && sym <= 0xff) {
        return static_cast<long>(sym); // Latin-1 keysyms are their code points
    }
    if ((sym & 0xff000000) == 0x01000000) {
        return static_cast<long>(sym & 0x00ffffff); // Unicode keysyms
    }
    if (textLength == 1) {
        return static_cast<unsigned char>(text[0]);
    }
    return key::Unknown;
}

long Modifiers(unsigned int state) {
    return ((state & ShiftMask) ? mod::Shift : 0) | ((state & ControlMask) ? mod::Ctrl : 0) |
           ((state & Mod1Mask) ? mod::Alt : 0);
}

} // namespace host::x11
