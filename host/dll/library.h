// The seam between the platform-neutral front end of dynamic calls (dll.cpp: the table of
// libraries and prepared functions, argument checks) and one platform's loader and call path.
#pragma once

#include <host/dll.h>

#include <atomic>
#include <span>
#include <string>
#include <string_view>

namespace host::detail {

struct PreparedFunction {
    void (*fn)() = nullptr;
    // Free for the platform's call path to cache what it derived from the call's shape
    // (libffi's call interface); set and read with atomics, never freed before process end.
    mutable std::atomic<void*> callCache{nullptr};
};

namespace dllos {

using Library = void*;

// Loads the library that a Windows-style name stands for on this platform, from the
// executable's folder or the system's library folder, never the current folder. nullptr when
// it cannot be loaded. Loading one file twice gives the same Library (and a reference to drop).
Library load(std::string_view name);
// Drops one reference taken by `load`.
void release(Library lib) noexcept;
// The function's address, or nullptr.
void (*symbol(Library lib, const std::string& name))();
// Calls the function with 32-bit numbers and text pointers; gives its 32-bit int result.
long long call(const PreparedFunction& fn, std::span<const RawArg> args);

} // namespace dllos
} // namespace host::detail
