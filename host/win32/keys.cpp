// Keys on Win32: virtual keys and WM_CHAR characters as the runtime's key codes (host::key, mod).
#include "keys.h"

namespace host::win32 {

namespace {

thread_local wchar_t tHighSurrogate = 0;

} // namespace

long Modifiers() {
    return ((GetKeyState(VK_SHIFT) & 0x8000) ? mod::Shift : 0) |
           ((GetKeyState(VK_CONTROL) & 0x8000) ? mod::Ctrl : 0) |
           ((GetKeyState(VK_MENU) & 0x8000) ? mod::Alt : 0);
}

// Keys that produce no character (WM_CHAR brings the others, Escape and Enter included).
std::optional<long> KeyWithoutCharacter(WPARAM vk) {
    switch (vk) {
    case VK_UP:
        return key::Up;
    case VK_DOWN:
        return key::Down;
    case VK_LEFT:
        return key::Left;
    case VK_RIGHT:
        return key::Right;
    case VK_HOME:
        return key::Home;
    case VK_END:
        return key::End;
    case VK_PRIOR:
        return key::PageUp;
    case VK_NEXT:
        return key::PageDown;
    case VK_INSERT:
        return key::Insert;
    case VK_DELETE:
        return key::Delete;
    case VK_APPS:
        return key::Menu;
    default:
        break;
    }
    if (vk >= VK_F1 && vk <= VK_F12) {
        return key::F1 + static_cast<long>(vk - VK_F1);
    }
    return std::nullopt;
}

// A character from WM_CHAR as a key code: its Unicode code point; Ctrl with a letter gives
// the letter (the system hands over a control character).
std::optional<long> CharacterKey(WPARAM unit) {
    const auto u = static_cast<wchar_t>(unit);
    if (u >= 0xD800 && u <= 0xDBFF) {
        tHighSurrogate = u;
        return std::nullopt;
    }
    if (u >= 0xDC00 && u <= 0xDFFF) {
        const wchar_t high = std::exchange(tHighSurrogate, 0);
        if (!high) {
            return std::nullopt;
        }
        return 0x10000 + ((static_cast<long>(high) - 0xD800) << 10) +
               (static_cast<long>(u) - 0xDC00);
    }
    const long code = static_cast<long>(u);
    const bool ctrl = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
    if (ctrl && code >= 1 && code <= 26 && code != key::Backspace && code != key::Tab &&
        code != key::Enter) {
        return 'a' + code - 1;
    }
    return code;
}

} // namespace host::win32
