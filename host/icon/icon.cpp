// Drawing the icon: shapes on whole pixels so that 16 px stays crisp.
#include "icon.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace host::icon {
namespace {

struct Rgb {
    double r, g, b;
};
constexpr Rgb rgb(int r, int g, int b) {
    return {r / 255.0, g / 255.0, b / 255.0};
}

// The dialog's gradient ends, the runtime's menu colours, and the tip's colours.
constexpr Rgb kGradientFrom = rgb(6, 190, 225);
constexpr Rgb kGradientTo = rgb(210, 250, 255);
constexpr Rgb kMenu = rgb(0xee, 0xee, 0xee);
constexpr Rgb kInk = rgb(0x20, 0x20, 0x20);
constexpr Rgb kEdge = rgb(0x8c, 0x8c, 0x8c);
constexpr Rgb kTipFill = rgb(255, 255, 180);
constexpr Rgb kTipFrame = rgb(255, 0, 0);

void source(cairo_t* cr, Rgb c) {
    cairo_set_source_rgb(cr, c.r, c.g, c.b);
}

// A filled rectangle with a frame of `line` pixels inside its edge.
void box(cairo_t* cr, double x, double y, double w, double h, Rgb fill, Rgb frame, double line) {
    source(cr, frame);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
    source(cr, fill);
    cairo_rectangle(cr, x + line, y + line, w - 2 * line, h - 2 * line);
    cairo_fill(cr);
}

} // namespace

void Draw(cairo_t* cr, int size) {
    const double s = size;
    const double line = std::max(1.0, std::round(s / 32));
    const auto px = [s](double share) { return std::round(s * share); };
    cairo_save(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);

    // The dialog: its gradient from lower left to upper right, in a rounded square.
    const double radius = px(0.12);
    cairo_new_sub_path(cr);
    cairo_arc(cr, s - radius, radius, radius, -M_PI / 2, 0);
    cairo_arc(cr, s - radius, s - radius, radius, 0, M_PI / 2);
    cairo_arc(cr, radius, s - radius, radius, M_PI / 2, M_PI);
    cairo_arc(cr, radius, radius, radius, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
    cairo_clip(cr);
    const std::unique_ptr<cairo_pattern_t, decltype(&cairo_pattern_destroy)> gradient(
        cairo_pattern_create_linear(0, s, s, 0), cairo_pattern_destroy);
    cairo_pattern_add_color_stop_rgb(gradient.get(), 0, kGradientFrom.r, kGradientFrom.g,
                                     kGradientFrom.b);
    cairo_pattern_add_color_stop_rgb(gradient.get(), 1, kGradientTo.r, kGradientTo.g,
                                     kGradientTo.b);
    cairo_set_source(cr, gradient.get());
    cairo_paint(cr);

    // The menu bar across the top, with its lower edge.
    const double bar = px(0.25);
    source(cr, kMenu);
    cairo_rectangle(cr, 0, 0, s, bar);
    cairo_fill(cr);
    source(cr, kEdge);
    cairo_rectangle(cr, 0, bar - line, s, line);
    cairo_fill(cr);

    // An open menu hanging from the bar: three entries as lines.
    const double mx = px(0.12), my = bar, mw = px(0.56), mh = px(0.5);
    box(cr, mx, my, mw, mh, kMenu, kInk, line);
    source(cr, kInk);
    for (int i = 1; i <= 3; ++i) {
        const double y = my + std::round(mh * i / 4.0) - std::floor(line / 2);
        cairo_rectangle(cr, mx + px(0.1), y, mw - 2 * px(0.1), line);
        cairo_fill(cr);
    }

    // A tip below and to the right of the menu.
    box(cr, px(0.44), px(0.66), px(0.5), px(0.22), kTipFill, kTipFrame, line);
    cairo_restore(cr);
}

std::vector<std::uint32_t> Argb(int size) {
    const std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size), cairo_surface_destroy);
    {
        const std::unique_ptr<cairo_t, decltype(&cairo_destroy)> cr(cairo_create(surface.get()),
                                                                    cairo_destroy);
        Draw(cr.get(), size);
    }
    cairo_surface_flush(surface.get());
    const unsigned char* data = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    std::vector<std::uint32_t> out;
    out.reserve(static_cast<std::size_t>(size) * static_cast<std::size_t>(size));
    for (int y = 0; y < size; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
        for (int x = 0; x < size; ++x) {
            // cairo keeps colour premultiplied by alpha; EWMH icons are straight.
            const std::uint32_t p = row[x];
            const std::uint32_t a = p >> 24;
            const auto straight = [a](std::uint32_t c) {
                return a ? std::min(255u, c * 255 / a) : 0;
            };
            out.push_back(a << 24 | straight((p >> 16) & 0xff) << 16 |
                          straight((p >> 8) & 0xff) << 8 | straight(p & 0xff));
        }
    }
    return out;
}

} // namespace host::icon
