// Drawing on X11: cairo and pango over windows and bitmaps, text measured in one place, pixels
// through the connection's shared band, and what a thread warms up before its first text.
#pragma once

#include "connection.h"
#include "handles.h"
#include "object_state.h"

#include <string>

namespace host::x11 {

// Makes a colour number cairo's current source.
void SetSource(cairo_t* cr, Color c);
// Text layout in a font, for measuring and drawing.
LayoutPtr MakeLayout(cairo_t* cr, const Font& font, const std::string& text);
// The size of a text in a font as it is drawn, measured on the calling thread's scratch surface.
Size MeasureText(const Font& font, const std::string& text);

// Puts the pixels of `px` on `window`, their top left corner at device (x, y), through the
// connection's shared band a strip at a time (each synced before the band is filled again);
// what falls outside the window's `area` is left out. False, with nothing drawn, when the band
// cannot serve (no MIT-SHM, or a screen whose pixels are not 32-bit BGRX).
bool PutInStrips(Connection& c, ::Window window, const detail::PixelBuffer& px, int x, int y,
                 Size area);

// Loads the font configuration and the default font (run once, on any thread).
void WarmFonts();
// Pays on the calling thread what its first window and text would: its connection, XInput 2,
// its fonts, cairo's state for the display and the glyphs of printable ASCII on the server.
void WarmThread();

} // namespace host::x11
