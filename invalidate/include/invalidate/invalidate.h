// Repaints a rectangle of the desktop through the window library, loaded at run time, and
// loads such libraries once per name.
#pragma once

#include <optional>
#include <string>

namespace Invalidate {

// Loads the library `cDll` ("User32", " USER32.DLL ") once per normal form of its name
// (trimmed, lower case, ".dll" appended when missing) and returns its handle, 0 when it could
// not be loaded; a failure is remembered like a handle and not retried.
long long ApiLoadDll_(std::string cDll);

// Invalidates and repaints the desktop rectangle with the given edges (root coordinates, origin
// top left; note bottom comes before right). nHWND has no effect: the desktop is used. Gives
// true when every call of the window library succeeded. Raises host::Error when a function of
// the window library cannot be called, or an edge is outside the 32-bit range.
bool ApiInvalidateRect_(std::optional<long long> nHWND, long long nLeft, long long nTop,
                        long long nBottom, long long nRight);

} // namespace Invalidate
