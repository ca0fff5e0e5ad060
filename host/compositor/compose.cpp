// Composing outputs' pictures into one picture of the desktop with cairo: each output's buffer
// is turned upright and scaled to its logical size while it is painted at its position.
#include "compose.h"

#include <cairo.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <numbers>

namespace host::compositor::detail {
namespace {

struct SurfaceFree {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct CairoFree {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceFree>;
using CairoPtr = std::unique_ptr<cairo_t, CairoFree>;

bool quarterTurned(int transform) {
    return (transform & 1) != 0; // 90, 270 and their flipped forms
}

// One buffer row as 0x00RRGGBB words (cairo's RGB24), alpha dropped: a desktop is opaque.
void rowToRgb24(const OutputImage& o, int row, std::uint32_t* to) {
    std::memcpy(to, o.data + static_cast<std::ptrdiff_t>(row) * o.stride,
                static_cast<std::size_t>(o.width) * 4);
    if (o.format == kAbgr8888 || o.format == kXbgr8888) {
        for (int col = 0; col < o.width; ++col) {
            const std::uint32_t v = to[col];
            to[col] = (v & 0x00ff00u) | ((v & 0xffu) << 16) | ((v >> 16) & 0xffu);
        }
    } else {
        for (int col = 0; col < o.width; ++col) {
            to[col] &= 0xffffffu;
        }
    }
}

std::vector<std::uint32_t> toRgb24(const OutputImage& o) {
    std::vector<std::uint32_t> out(static_cast<std::size_t>(o.width) *
                                   static_cast<std::size_t>(o.height));
    for (int row = 0; row < o.height; ++row) {
        rowToRgb24(o, row, out.data() + static_cast<std::ptrdiff_t>(row) * o.width);
    }
    return out;
}

} // namespace

int OutputImage::logicalWidth() const {
    return (quarterTurned(transform) ? height : width) / std::max(1, scale);
}

int OutputImage::logicalHeight() const {
    return (quarterTurned(transform) ? width : height) / std::max(1, scale);
}

std::optional<Picture> Compose(const std::vector<OutputImage>& outputs) {
    if (outputs.empty()) {
        return std::nullopt;
    }
    int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
    for (const OutputImage& o : outputs) {
        left = std::min(left, o.x);
        top = std::min(top, o.y);
        right = std::max(right, o.x + o.logicalWidth());
        bottom = std::max(bottom, o.y + o.logicalHeight());
    }
    Picture desk;
    desk.width = right - left;
    desk.height = bottom - top;
    if (desk.width <= 0 || desk.height <= 0) {
        return std::nullopt;
    }
    desk.pixels.assign(static_cast<std::size_t>(desk.width) * static_cast<std::size_t>(desk.height),
                       0);
    const SurfacePtr target(cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(desk.pixels.data()), CAIRO_FORMAT_RGB24, desk.width,
        desk.height, desk.width * 4));
    const CairoPtr cr(cairo_create(target.get()));
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
    for (const OutputImage& o : outputs) {
        if (o.width <= 0 || o.height <= 0 || !o.data || o.stride < o.width * 4) {
            continue;
        }
        if (o.transform == 0 && o.scale <= 1 && !o.yInvert) {
            // Upright at scale 1, the usual case: straight into place.
            cairo_surface_flush(target.get());
            for (int row = 0; row < o.height; ++row) {
                rowToRgb24(o, row,
                           desk.pixels.data() +
                               static_cast<std::ptrdiff_t>(o.y - top + row) * desk.width +
                               (o.x - left));
            }
            cairo_surface_mark_dirty(target.get());
            continue;
        }
        std::vector<std::uint32_t> rgb = toRgb24(o);
        const SurfacePtr source(cairo_image_surface_create_for_data(
            reinterpret_cast<unsigned char*>(rgb.data()), CAIRO_FORMAT_RGB24, o.width, o.height,
            o.width * 4));
        const double lw = o.logicalWidth();
        const double lh = o.logicalHeight();
        cairo_save(cr.get());
        // Buffer -> desktop, read from the last step to the first: centre the buffer on the
        // origin, put its rows top down (y_invert), undo the output's rotation, then its
        // mirroring (flipped transforms), shrink it by the scale, and put its centre on the
        // centre of the output's logical rectangle. (Checked against sway's own screenshots
        // for all eight transforms but flipped-180.)
        cairo_translate(cr.get(), o.x - left + lw / 2, o.y - top + lh / 2);
        cairo_scale(cr.get(), 1.0 / std::max(1, o.scale), 1.0 / std::max(1, o.scale));
        cairo_scale(cr.get(), (o.transform & 4) ? -1 : 1, 1);
        cairo_rotate(cr.get(), (o.transform & 3) * std::numbers::pi / 2);
        cairo_scale(cr.get(), 1, o.yInvert ? -1 : 1);
        cairo_translate(cr.get(), -o.width / 2.0, -o.height / 2.0);
        cairo_set_source_surface(cr.get(), source.get(), 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr.get()),
                                 o.scale > 1 ? CAIRO_FILTER_GOOD : CAIRO_FILTER_NEAREST);
        cairo_rectangle(cr.get(), 0, 0, o.width, o.height);
        cairo_fill(cr.get());
        cairo_restore(cr.get());
    }
    cairo_surface_flush(target.get());
    return desk;
}

} // namespace host::compositor::detail

namespace host::compositor {

Picture Resized(const Picture& p, int width, int height) {
    using namespace detail;
    Picture out;
    out.width = width;
    out.height = height;
    out.pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    if (p.width <= 0 || p.height <= 0 || width <= 0 || height <= 0) {
        return out;
    }
    // cairo only reads the source; its pixels are not changed.
    const SurfacePtr source(cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(p.pixels.data())),
        CAIRO_FORMAT_RGB24, p.width, p.height, p.width * 4));
    const SurfacePtr target(
        cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(out.pixels.data()),
                                            CAIRO_FORMAT_RGB24, width, height, width * 4));
    const CairoPtr cr(cairo_create(target.get()));
    cairo_scale(cr.get(), static_cast<double>(width) / p.width,
                static_cast<double>(height) / p.height);
    cairo_set_source_surface(cr.get(), source.get(), 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr.get()), CAIRO_FILTER_GOOD);
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr.get());
    cairo_surface_flush(target.get());
    return out;
}

} // namespace host::compositor
