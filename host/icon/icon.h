// The program's icon, drawn by the runtime with cairo at any size: the dialog's gradient under
// a menu bar, an open menu and a tip. The window carries it (_NET_WM_ICON) and the package
// installs it as PNGs (packaging/), from the same drawing.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <vector>

namespace host::icon {

// The sizes a window carries and the package installs.
inline constexpr int kSizes[] = {16, 32, 48};

// Draws the icon into the square (0, 0)-(size, size) of `cr`.
void Draw(cairo_t* cr, int size);

// The icon as `size` * `size` pixels, row by row, 0xAARRGGBB with straight (not premultiplied)
// alpha, as EWMH _NET_WM_ICON wants them.
std::vector<std::uint32_t> Argb(int size);

} // namespace host::icon
