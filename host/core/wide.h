// UTF-8 names (files, libraries) in the UTF-16 the Windows API takes. A name that is not valid
// UTF-8 becomes empty, so that it is never used half converted.
#pragma once

#if defined(_WIN32)
#include <windows.h>

#include <string>
#include <string_view>

namespace host::detail {

inline std::wstring WidenName(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                      static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        wide.data(), n);
    return wide;
}

} // namespace host::detail
#endif
