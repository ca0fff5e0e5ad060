// UTF-8 texts in the UTF-16 the Windows API takes, and back: the one converter of the runtime.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace host::system {

// What becomes of bytes that are not valid UTF-8: shown as U+FFFD (a window title, a message),
// or refused, so that a name (a file, a library) is never used half converted.
enum class BadUtf8 { Replace, Refuse };

// The UTF-16 form of `text`; empty for an empty text, or for invalid UTF-8 when refused.
inline std::wstring ToUtf16(std::string_view text, BadUtf8 bad = BadUtf8::Replace) {
    if (text.empty()) {
        return {};
    }
    const DWORD flags = bad == BadUtf8::Refuse ? MB_ERR_INVALID_CHARS : 0;
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_UTF8, flags, text.data(), size, nullptr, 0);
    if (n <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, flags, text.data(), size, wide.data(), n);
    return wide;
}

inline std::string ToUtf8(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) {
        return {};
    }
    std::string narrow(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), n, nullptr, nullptr);
    return narrow;
}

} // namespace host::system
