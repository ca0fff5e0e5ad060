// Drawing on Win32: GDI into DIB sections, fonts, and a window's picture.
#pragma once

#include "handles.h"

#include <host/drawing.h>

#include <cstddef>
#include <cstdint>

namespace host::detail {
struct WindowImpl;
}

namespace host::win32 {

// 32-bit top-down BGRX pixels in a DIB section, with a memory DC that has it selected, so GDI
// and our own loops draw into the same memory and the BMP writer reads it as it is.
class Surface {
  public:
    Surface() = default;
    ~Surface();
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    // A black image of the size; false (and empty) when GDI cannot make it.
    bool make(int width, int height);
    void clear(); // all black
    bool empty() const { return !bitmap_; }
    HDC dc() const { return dc_.get(); }
    std::uint8_t* bits() const { return bits_; }
    int width() const { return width_; }
    int height() const { return height_; }
    std::ptrdiff_t stride() const { return static_cast<std::ptrdiff_t>(width_) * 4; }

  private:
    void release();
    MemoryDcPtr dc_;
    BitmapPtr bitmap_;
    HGDIOBJ previous_ = nullptr;
    std::uint8_t* bits_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

// The GDI font for a font description ("Sans 10", "DejaVu Sans Bold 12"): made once per
// description and kept for the process (fonts are shared by all threads).
HFONT FontFor(const Font& font);

// Fills a device rectangle with a colour.
void FillWith(HDC dc, const RECT& r, Color color);
// A window's picture: a drawing area's bitmap, else what was drawn onto the window, else its
// background colour.
void PaintWindow(detail::WindowImpl& w, HDC dc);

} // namespace host::win32
