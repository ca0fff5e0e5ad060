// Menus on Win32: the system's own menu bar and menus, driven by their messages.
#pragma once

#include <windows.h>

namespace host::win32 {

// Menu messages that reach a dialog's window procedure; false when the message is not about
// the runtime's menus (the system menu's go on to the default procedure).
bool HandleMenuMessage(HWND window, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

} // namespace host::win32
