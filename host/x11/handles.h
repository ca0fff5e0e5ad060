// Owners for the C handles of Xlib, cairo, pango and GLib: each create has its free here.
#pragma once

#include <cairo-xlib.h>
#include <cairo.h>
#include <glib-object.h>
#include <pango/pangocairo.h>

#include <memory>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace host::x11 {

struct CairoDeleter {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
    void operator()(cairo_pattern_t* p) const { cairo_pattern_destroy(p); }
};
using CairoPtr = std::unique_ptr<cairo_t, CairoDeleter>;
using SurfacePtr = std::unique_ptr<cairo_surface_t, CairoDeleter>;
using PatternPtr = std::unique_ptr<cairo_pattern_t, CairoDeleter>;
struct FontOptionsDeleter {
    void operator()(cairo_font_options_t* o) const { cairo_font_options_destroy(o); }
};
using FontOptionsPtr = std::unique_ptr<cairo_font_options_t, FontOptionsDeleter>;

struct GObjectDeleter {
    void operator()(void* object) const { g_object_unref(object); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, GObjectDeleter>;
using ContextPtr = std::unique_ptr<PangoContext, GObjectDeleter>;

struct FontDescDeleter {
    void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};
using FontDescPtr = std::unique_ptr<PangoFontDescription, FontDescDeleter>;

struct XFreeDeleter {
    void operator()(void* p) const { XFree(p); }
};
template <typename T> using XPtr = std::unique_ptr<T, XFreeDeleter>;

struct XImageDeleter {
    void operator()(XImage* img) const { XDestroyImage(img); }
};
using XImagePtr = std::unique_ptr<XImage, XImageDeleter>;

} // namespace host::x11
