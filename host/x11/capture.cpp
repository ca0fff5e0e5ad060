// Copying pixels between presentation spaces. From a window (the desktop) into a
// bitmap the pixels come from the server through the connection's shared band when the
// screen's pixels are the bitmap's format (depth 24, BGRX), else through the socket, converted
// from any TrueColor layout; between bitmaps cairo copies them.
#include "coords.h"
#include "object_state.h"
#include "wayland_session.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace host {
namespace {

using detail::PresSpaceImpl;
using Target = PresSpaceImpl::Target;

// A device rectangle clipped to [0, w) x [0, h), with the same shift applied to a second
// rectangle that moves with it.
bool clip(x11::DeviceRect& a, x11::DeviceRect& b, int aw, int ah, int bw, int bh) {
    auto shrink = [](int& pos, int& otherPos, int& len, int limit) {
        if (pos < 0) {
            len += pos;
            otherPos -= pos;
            pos = 0;
        }
        len = std::min(len, limit - pos);
    };
    shrink(a.x, b.x, a.width, aw);
    shrink(a.y, b.y, a.height, ah);
    shrink(b.x, a.x, b.width, bw);
    shrink(b.y, a.y, b.height, bh);
    a.width = b.width = std::min(a.width, b.width);
    a.height = b.height = std::min(a.height, b.height);
    return a.width > 0 && a.height > 0;
}

bool isBgrx32(const XImage* img) {
    return img->bits_per_pixel == 32 && img->red_mask == 0xff0000 && img->green_mask == 0xff00 &&
           img->blue_mask == 0xff && img->byte_order == LSBFirst;
}

// How an XImage's pixel values become the bitmap's 0x00RRGGBB: per channel a table from the
// channel's value to its 8-bit form, already in place. A channel of n bits is widened as
// v * 255 / (2^n - 1), as a display shows 5 or 6 bits (depth 15, 16) or 10 (depth 30).
class PixelConverter {
  public:
    explicit PixelConverter(const XImage* img)
        : red_(img->red_mask, 16), green_(img->green_mask, 8), blue_(img->blue_mask, 0) {}
    std::uint32_t operator()(unsigned long v) const { return red_(v) | green_(v) | blue_(v); }

  private:
    class Channel {
      public:
        Channel(unsigned long mask, int to) {
            while (mask && !(mask & 1)) {
                mask >>= 1;
                ++shift_;
            }
            mask_ = mask;
            table_.resize(mask + 1);
            for (unsigned long value = 0; value <= mask; ++value) {
                table_[value] = static_cast<std::uint32_t>(value * 255 / (mask ? mask : 1)) << to;
            }
        }
        std::uint32_t operator()(unsigned long v) const { return table_[(v >> shift_) & mask_]; }

      private:
        int shift_ = 0;
        unsigned long mask_ = 0;
        std::vector<std::uint32_t> table_;
    };
    Channel red_, green_, blue_;
};

// Reads pixel `col` of a row of 16 or 32 bits a pixel in the image's byte order.
template <typename Word> unsigned long readPixel(const char* row, int col, bool swap) {
    Word w;
    std::memcpy(&w, row + static_cast<std::ptrdiff_t>(col) * static_cast<std::ptrdiff_t>(sizeof w),
                sizeof w);
    if (swap) {
        w = sizeof w == 2 ? static_cast<Word>(__builtin_bswap16(static_cast<std::uint16_t>(w)))
                          : static_cast<Word>(__builtin_bswap32(static_cast<std::uint32_t>(w)));
    }
    return w;
}

// Copies rows of an image into the bitmap, converting pixel formats when they differ.
void copyRows(const XImage* img, detail::PixelBuffer& px, const x11::DeviceRect& dst) {
    const bool bgrx = isBgrx32(img);
    const int hostOrder = std::endian::native == std::endian::little ? LSBFirst : MSBFirst;
    const bool swap = img->byte_order != hostOrder;
    std::optional<PixelConverter> convert;
    if (!bgrx) {
        convert.emplace(img);
    }
    for (int row = 0; row < dst.height; ++row) {
        auto* out =
            reinterpret_cast<std::uint32_t*>(px.data() + px.stride() * (dst.y + row)) + dst.x;
        const char* in = img->data + static_cast<std::ptrdiff_t>(img->bytes_per_line) * row;
        if (bgrx) {
            std::memcpy(out, in, static_cast<std::size_t>(dst.width) * 4);
        } else if (img->bits_per_pixel == 16) {
            for (int col = 0; col < dst.width; ++col) {
                out[col] = (*convert)(readPixel<std::uint16_t>(in, col, swap));
            }
        } else if (img->bits_per_pixel == 32) {
            for (int col = 0; col < dst.width; ++col) {
                out[col] = (*convert)(readPixel<std::uint32_t>(in, col, swap));
            }
        } else {
            // Packed 24-bit pixels and other rare layouts: Xlib knows them.
            for (int col = 0; col < dst.width; ++col) {
                out[col] = (*convert)(XGetPixel(const_cast<XImage*>(img), col, row));
            }
        }
    }
}

// Window -> bitmap through the connection's shared band: a strip of rows at a time, the server
// writes them into the band and we copy them into place. False when the band cannot serve
// (no MIT-SHM, or pixels that are not 32-bit BGRX).
bool grabInStrips(PresSpaceImpl& source, detail::PixelBuffer& px, x11::DeviceRect src,
                  x11::DeviceRect dst) {
    x11::ShmBand* band = source.conn->depth() == 24 ? source.conn->band() : nullptr;
    const int rows = band ? band->rowsFor(src.width) : 0;
    if (rows == 0) {
        return false;
    }
    Display* dpy = source.conn->dpy();
    x11::ErrorTrap trap(dpy);
    for (int done = 0; done < src.height; done += rows) {
        const int n = std::min(rows, src.height - done);
        x11::XImagePtr img(XShmCreateImage(dpy, source.conn->visual(), 24, ZPixmap, nullptr,
                                           band->segment(), static_cast<unsigned>(src.width),
                                           static_cast<unsigned>(n)));
        if (!img || !isBgrx32(img.get())) {
            return false;
        }
        img->data = reinterpret_cast<char*>(band->data());
        const bool ok = XShmGetImage(dpy, source.window, img.get(), src.x, src.y + done, AllPlanes);
        img->data = nullptr; // the band's memory is not the image's to free
        if (!ok) {
            return false;
        }
        for (int row = 0; row < n; ++row) {
            std::memcpy(px.data() + px.stride() * (dst.y + done + row) + std::ptrdiff_t{4} * dst.x,
                        band->data() + static_cast<std::ptrdiff_t>(src.width) * 4 * row,
                        static_cast<std::size_t>(src.width) * 4);
        }
    }
    return trap.sync();
}

// Window -> bitmap: read the server's pixels of `src` into the bitmap at `dst`.
bool grab(PresSpaceImpl& source, detail::BitmapImpl& bitmap, x11::DeviceRect src,
          x11::DeviceRect dst) {
    detail::PixelBuffer& px = *bitmap.pixels;
    cairo_surface_flush(bitmap.cairo());
    bitmap.noPicture.clear();
    if (source.window == source.conn->root() && x11::WaylandSession(*source.conn)) {
        // Xwayland's root holds no picture of the desktop: the compositor gives it, or the
        // bitmap is marked as holding none (saving it warns and writes nothing).
        if (auto failure = x11::GrabFromCompositor(*source.conn, px, src, dst)) {
            bitmap.noPicture = *failure;
            return false;
        }
        cairo_surface_mark_dirty(bitmap.cairo());
        return true;
    }
    bool ok = grabInStrips(source, px, src, dst);
    if (!ok) {
        // Through the socket, in whatever layout the server has.
        Display* dpy = source.conn->dpy();
        x11::ErrorTrap trap(dpy);
        x11::XImagePtr img(XGetImage(dpy, source.window, src.x, src.y,
                                     static_cast<unsigned>(src.width),
                                     static_cast<unsigned>(src.height), AllPlanes, ZPixmap));
        if (!img || !trap.sync()) {
            bitmap.noPicture = "the X server gave no picture of the window";
            return false;
        }
        copyRows(img.get(), px, dst);
        ok = true;
    }
    cairo_surface_mark_dirty(bitmap.cairo());
    return ok;
}

} // namespace

namespace detail {

bool PresSpaceImpl::copyFrom(PresSpaceState& from, Rect box, Point sourceAt) {
    PresSpaceImpl& source = static_cast<PresSpaceImpl&>(from);
    const int w = box.width();
    const int h = box.height();
    const Size ts = size();
    const Size ss = source.size();
    x11::DeviceRect dst = x11::ToDevice(box, ts.height);
    x11::DeviceRect src = x11::ToDevice(
        Rect{sourceAt.x, sourceAt.y, sourceAt.x + w - 1, sourceAt.y + h - 1}, ss.height);
    if (!clip(dst, src, ts.width, ts.height, ss.width, ss.height)) {
        return false;
    }
    if (target == Target::ToBitmap && bitmap && bitmap->cairo() &&
        source.target == Target::ToWindow) {
        return grab(source, *bitmap, src, dst);
    }
    cairo_surface_t* in = source.surface();
    cairo_surface_t* out = surface();
    if (!in || !out) {
        return false;
    }
    x11::CairoPtr copy(cairo_create(out));
    cairo_set_operator(copy.get(), CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(copy.get(), in, dst.x - src.x, dst.y - src.y);
    cairo_rectangle(copy.get(), dst.x, dst.y, dst.width, dst.height);
    cairo_fill(copy.get());
    copy.reset();
    flush();
    return true;
}

} // namespace detail

} // namespace host
