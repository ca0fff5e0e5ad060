// GraBitBlt: copying pixels between presentation spaces. From a window (the desktop) into a
// bitmap the pixels come straight from the server, through MIT-SHM into the bitmap's own
// memory when possible; between bitmaps cairo copies them.
#include "coords.h"
#include "impl.h"

#include <host/error.h>

#include <algorithm>
#include <cstring>

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

// Copies rows of an image into the bitmap, converting pixel formats when they differ.
void copyRows(const XImage* img, detail::PixelBuffer& px, const x11::DeviceRect& dst) {
    for (int row = 0; row < dst.height; ++row) {
        auto* out =
            reinterpret_cast<std::uint32_t*>(px.data() + px.stride() * (dst.y + row)) + dst.x;
        if (isBgrx32(img)) {
            std::memcpy(out, img->data + static_cast<std::ptrdiff_t>(img->bytes_per_line) * row,
                        static_cast<std::size_t>(dst.width) * 4);
            continue;
        }
        for (int col = 0; col < dst.width; ++col) {
            const unsigned long v = XGetPixel(const_cast<XImage*>(img), col, row);
            auto channel = [v](unsigned long mask) {
                int shift = 0;
                while (mask && !(mask & 1)) {
                    mask >>= 1;
                    ++shift;
                }
                return static_cast<std::uint32_t>(((v >> shift) & mask) * 255 / (mask ? mask : 1));
            };
            out[col] = channel(img->red_mask) << 16 | channel(img->green_mask) << 8 |
                       channel(img->blue_mask);
        }
    }
}

// Window -> bitmap: read the server's pixels of `src` into the bitmap at `dst`.
bool grab(PresSpaceImpl& source, detail::BitmapImpl& bitmap, x11::DeviceRect src,
          x11::DeviceRect dst) {
    Display* dpy = source.conn->dpy();
    detail::PixelBuffer& px = *bitmap.pixels;
    cairo_surface_flush(bitmap.cairo());
    const bool wholeRows = dst.x == 0 && dst.width == px.width();
    XShmSegmentInfo* shm = wholeRows ? px.shmFor(source.conn) : nullptr;
    bool ok = false;
    if (shm && source.conn->depth() == 24) {
        x11::XImagePtr img(XShmCreateImage(dpy, source.conn->visual(), 24, ZPixmap, nullptr, shm,
                                           static_cast<unsigned>(dst.width),
                                           static_cast<unsigned>(dst.height)));
        if (img && isBgrx32(img.get()) && img->bytes_per_line == px.stride()) {
            // The server writes the rows straight into the bitmap's memory.
            img->data = reinterpret_cast<char*>(px.data() + px.stride() * dst.y);
            x11::ErrorTrap trap(dpy);
            ok =
                XShmGetImage(dpy, source.window, img.get(), src.x, src.y, AllPlanes) && trap.sync();
        }
        if (img) {
            img->data = nullptr; // the pixels belong to the bitmap
        }
    }
    if (!ok) {
        x11::ErrorTrap trap(dpy);
        x11::XImagePtr img(XGetImage(dpy, source.window, src.x, src.y,
                                     static_cast<unsigned>(src.width),
                                     static_cast<unsigned>(src.height), AllPlanes, ZPixmap));
        if (!img || !trap.sync()) {
            return false;
        }
        copyRows(img.get(), px, dst);
        ok = true;
    }
    cairo_surface_mark_dirty(bitmap.cairo());
    return ok;
}

} // namespace

bool GraBitBlt(const std::shared_ptr<XbpPresSpace>& target,
               const std::shared_ptr<XbpPresSpace>& source, Rect targetRect, Point sourceAt) {
    if (!target || !source) {
        throw Error("GraBitBlt", "no presentation space (NIL) given");
    }
    PresSpaceImpl& t = target->impl();
    PresSpaceImpl& s = source->impl();
    const int w = targetRect.width();
    const int h = targetRect.height();
    if (w <= 0 || h <= 0) {
        return false;
    }
    const Size ts = target->size();
    const Size ss = source->size();
    x11::DeviceRect dst = x11::ToDevice(targetRect, ts.height);
    x11::DeviceRect src = x11::ToDevice(
        Rect{sourceAt.x, sourceAt.y, sourceAt.x + w - 1, sourceAt.y + h - 1}, ss.height);
    if (!clip(dst, src, ts.width, ts.height, ss.width, ss.height)) {
        return false;
    }
    if (t.target == Target::ToBitmap && t.bitmap && t.bitmap->cairo() &&
        s.target == Target::ToWindow) {
        return grab(s, *t.bitmap, src, dst);
    }
    cairo_surface_t* from = s.surface();
    cairo_surface_t* to = t.surface();
    if (!from || !to) {
        return false;
    }
    x11::CairoPtr cr(cairo_create(to));
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr.get(), from, dst.x - src.x, dst.y - src.y);
    cairo_rectangle(cr.get(), dst.x, dst.y, dst.width, dst.height);
    cairo_fill(cr.get());
    cr.reset();
    t.flush();
    return true;
}

} // namespace host
