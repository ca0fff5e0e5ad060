// Keys on Win32: what a key message means as the runtime's key code.
#pragma once

#include <host/application.h>

#include <windows.h>

#include <optional>

namespace host::win32 {

// The runtime's modifier bits (host::mod) of the keyboard's state now.
long Modifiers();
// The key code of a key that produces no character (WM_CHAR brings the others).
std::optional<long> KeyWithoutCharacter(WPARAM vk);
// A UTF-16 unit of WM_CHAR as a key code; nothing for the first half of a surrogate pair.
std::optional<long> CharacterKey(WPARAM unit);

} // namespace host::win32
