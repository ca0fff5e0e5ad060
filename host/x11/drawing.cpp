// Presentation spaces, bitmaps and the graphics primitives, drawn with cairo and pango.
// Host coordinates are converted to device coordinates only through coords.h.
#include "drawing.h"

#include "a11y_notes.h"
#include "coords.h"
#include "driver.h"
#include "menu_state.h"
#include "object_state.h"

#include <host/application.h>

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace host {
namespace detail {

// ---- PixelBuffer ---------------------------------------------------------------------

PixelBuffer::PixelBuffer(int width, int height) : width_(width), height_(height) {
    const std::size_t bytes =
        static_cast<std::size_t>(width) * 4 * static_cast<std::size_t>(height);
    if (bytes == 0) {
        return;
    }
    capacity_ = bytes;
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    if (bytes >= kHugePage) {
        // Mapped with room to start on a huge-page boundary; the pages beyond the buffer are
        // never touched, so they cost address space only. New pages read as zero (black).
        mappingBytes_ = bytes + kHugePage;
        void* addr = ::mmap(nullptr, mappingBytes_, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (addr != MAP_FAILED) {
            mapping_ = addr;
            const auto start = (reinterpret_cast<std::uintptr_t>(addr) + kHugePage - 1) &
                               ~(std::uintptr_t{kHugePage} - 1);
            data_ = reinterpret_cast<std::uint8_t*>(start);
            ::madvise(data_, bytes, MADV_HUGEPAGE); // a kernel without them ignores it
            return;
        }
        mappingBytes_ = 0;
    }
    heap_ = std::make_unique<std::uint8_t[]>(bytes); // value-initialised: black
    data_ = heap_.get();
}

PixelBuffer::~PixelBuffer() {
    if (mapping_) {
        ::munmap(mapping_, mappingBytes_);
    }
}

bool PixelBuffer::reshape(int width, int height) {
    const std::size_t bytes =
        static_cast<std::size_t>(width) * 4 * static_cast<std::size_t>(height);
    if (bytes > capacity_ || bytes == 0) {
        return false;
    }
    width_ = width;
    height_ = height;
    fresh_ = false;
    return true;
}

} // namespace detail

bool x11::PutInStrips(Connection& c, ::Window window, const detail::PixelBuffer& px, int x, int y,
                      Size area) {
    const int col0 = std::max(0, -x);
    const int row0 = std::max(0, -y);
    const int cols = std::min(px.width(), area.width - x) - col0;
    const int rows = std::min(px.height(), area.height - y) - row0;
    ShmBand* band = c.depth() == 24 ? c.band() : nullptr;
    const int strip = band && cols > 0 ? band->rowsFor(cols) : 0;
    if (strip == 0) {
        return band && (cols <= 0 || rows <= 0); // nothing of it shows
    }
    Display* dpy = c.dpy();
    const std::size_t rowBytes = static_cast<std::size_t>(cols) * 4;
    for (int done = 0; done < rows; done += strip) {
        const int n = std::min(strip, rows - done);
        XImagePtr image(XShmCreateImage(dpy, c.visual(), 24, ZPixmap, nullptr, band->segment(),
                                        static_cast<unsigned>(cols), static_cast<unsigned>(n)));
        if (!image || image->bits_per_pixel != 32 ||
            static_cast<std::size_t>(image->bytes_per_line) != rowBytes) {
            return false;
        }
        for (int r = 0; r < n; ++r) {
            std::memcpy(band->data() + rowBytes * static_cast<std::size_t>(r),
                        px.data() + px.stride() * (row0 + done + r) + std::ptrdiff_t{4} * col0,
                        rowBytes);
        }
        image->data = reinterpret_cast<char*>(band->data());
        XShmPutImage(dpy, window, DefaultGC(dpy, c.screen()), image.get(), 0, 0, x + col0,
                     y + row0 + done, static_cast<unsigned>(cols), static_cast<unsigned>(n), False);
        XSync(dpy, False);     // the server has read the strip: the band may be filled again
        image->data = nullptr; // the band's memory is not the image's to free
    }
    return true;
}

namespace detail {

// ---- PresSpaceImpl -------------------------------------------------------------------

cairo_surface_t* PresSpaceImpl::surface() {
    switch (target) {
    case Target::ToBitmap:
        return bitmap ? bitmap->cairo() : nullptr;
    case Target::ToWindow:
        if (!windowSurface && window) {
            windowSurface.reset(cairo_xlib_surface_create(conn->dpy(), window, conn->visual(),
                                                          windowSize.width, windowSize.height));
        }
        return windowSurface.get();
    case Target::Unbound:
    case Target::ToScreen: // the desktop's space draws on the root window (ToWindow)
        break;
    }
    return nullptr;
}

int PresSpaceImpl::height() const {
    switch (target) {
    case Target::ToBitmap:
        return bitmap ? bitmap->pixels->height() : 0;
    case Target::ToWindow:
        return windowSize.height;
    case Target::Unbound:
    case Target::ToScreen:
        break;
    }
    return 0;
}

void PresSpaceImpl::flush() {
    if (target == Target::ToWindow && windowSurface) {
        cairo_surface_flush(windowSurface.get());
        if (!sentOnUnlock) {
            XFlush(conn->dpy());
        }
    } else if (target == Target::ToBitmap && bitmap && bitmap->cairo()) {
        cairo_surface_flush(bitmap->cairo());
    }
}

void PresSpaceImpl::unlocked() {
    flush();
    if (conn) {
        XSync(conn->dpy(), False); // the server has the pixels
    }
    windowSurface.reset();
}

void PresSpaceImpl::boundTo(BitmapState* b) {
    bitmap = static_cast<BitmapImpl*>(b);
}

} // namespace detail

namespace x11 {

LayoutPtr MakeLayout(cairo_t* cr, const Font& font, const std::string& text) {
    // One Pango context and the last font description per thread (Pango's objects stay on
    // the thread that made them): a fresh context per layout cost more than the layout.
    thread_local const ContextPtr context(
        pango_font_map_create_context(pango_cairo_font_map_get_default()));
    thread_local std::string lastFont;
    thread_local FontDescPtr desc;
    if (!desc || lastFont != font.description) {
        desc.reset(pango_font_description_from_string(font.description.c_str()));
        lastFont = font.description;
    }
    // Once the thread has a connection, its text is laid out with the screen's font options
    // (antialiasing, hinting) whatever it is drawn on: measured in memory, it has the size it
    // will have on the screen. Set once, they keep the context, and the last layout, valid;
    // the contexts' transformations are the identity throughout. Before that, the options
    // come from each cairo context.
    thread_local bool screenOptions = false;
    if (!screenOptions) {
        if (const auto conn = Connection::existing()) {
            SurfacePtr root(
                cairo_xlib_surface_create(conn->dpy(), conn->root(), conn->visual(), 1, 1));
            FontOptionsPtr options(cairo_font_options_create());
            cairo_surface_get_font_options(root.get(), options.get());
            pango_cairo_context_set_font_options(context.get(), options.get());
            screenOptions = true;
        } else {
            pango_cairo_update_context(cr, context.get());
        }
    }
    // The last layout is kept: text is mostly measured and then drawn, and a layout whose
    // context has not changed keeps its shaped lines.
    thread_local LayoutPtr last;
    thread_local std::string lastText;
    thread_local guint lastSerial = 0;
    const guint serial = pango_context_get_serial(context.get());
    if (last && serial == lastSerial && text == lastText &&
        pango_font_description_equal(pango_layout_get_font_description(last.get()), desc.get())) {
        return LayoutPtr(PANGO_LAYOUT(g_object_ref(last.get())));
    }
    LayoutPtr layout(pango_layout_new(context.get()));
    pango_layout_set_font_description(layout.get(), desc.get());
    // Plain text, never markup: a tip may contain any characters.
    pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
    last.reset(PANGO_LAYOUT(g_object_ref(layout.get())));
    lastText = text;
    lastSerial = serial;
    return layout;
}

} // namespace x11

namespace {

// A measuring context for spaces that have no surface yet (a space made only to measure).
cairo_t* measuringContext() {
    thread_local x11::SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1));
    thread_local x11::CairoPtr cr(cairo_create(surface.get()));
    return cr.get();
}

} // namespace

Font x11::X11Driver::defaultFont() {
    return Font{"Sans 10"};
}

detail::Driver::TextExtent x11::X11Driver::measureText(const Font& font, const std::string& text) {
    x11::LayoutPtr layout = x11::MakeLayout(measuringContext(), font, text);
    PangoRectangle logical{};
    pango_layout_get_pixel_extents(layout.get(), nullptr, &logical);
    const int ascent = PANGO_PIXELS(pango_layout_get_baseline(layout.get()));
    return {logical.width, ascent, logical.height - ascent};
}

void x11::SetSource(cairo_t* cr, Color c) {
    cairo_set_source_rgb(cr, RedOf(c) / 255.0, GreenOf(c) / 255.0, BlueOf(c) / 255.0);
}

void x11::WarmFonts() {
    x11::MeasureText(DefaultFont(), "Mg");
}

Size x11::MeasureText(const Font& font, const std::string& text) {
    x11::LayoutPtr layout = x11::MakeLayout(measuringContext(), font, text);
    Size size;
    pango_layout_get_pixel_size(layout.get(), &size.width, &size.height);
    return size;
}

void x11::WarmThread() {
    const std::shared_ptr<Connection> conn = Connection::current();
    PointerWaitMethod();
    WarmFonts();
    // The first cairo surface on a display sets up cairo's state for it; text drawn through it
    // loads the glyphs into the server's cache for this connection.
    Display* dpy = conn->dpy();
    const Pixmap pixmap =
        XCreatePixmap(dpy, conn->root(), 1, 1, static_cast<unsigned>(conn->depth()));
    {
        x11::SurfacePtr surface(cairo_xlib_surface_create(dpy, pixmap, conn->visual(), 1, 1));
        x11::CairoPtr cr(cairo_create(surface.get()));
        std::string ascii;
        for (char c = ' '; c <= '~'; ++c) {
            ascii += c;
        }
        x11::LayoutPtr layout = x11::MakeLayout(cr.get(), DefaultFont(), ascii);
        pango_cairo_show_layout(cr.get(), layout.get());
        cr.reset();
        cairo_surface_finish(surface.get());
    }
    XFreePixmap(dpy, pixmap);
    XSync(dpy, False);
}

namespace detail {

// ---- PresSpaceImpl: drawing ----------------------------------------------------------

Size PresSpaceImpl::size() const {
    if (target == Target::ToWindow) {
        return windowSize;
    }
    return bitmap ? bitmap->size() : Size{};
}

bool PresSpaceImpl::beginDrawing() {
    cairo_surface_t* s = surface();
    if (!s) {
        return false;
    }
    cr.reset(cairo_create(s));
    return true;
}

bool PresSpaceImpl::endDrawing() {
    const bool ok = cr && cairo_status(cr.get()) == CAIRO_STATUS_SUCCESS;
    cr.reset();
    flush();
    return ok;
}

bool PresSpaceImpl::drawGradient(Point start, Point end, const std::vector<Color>& colors) {
    const int h = height();
    x11::PatternPtr pattern(cairo_pattern_create_linear(start.x, x11::ToDeviceY(start.y, h), end.x,
                                                        x11::ToDeviceY(end.y, h)));
    const double last = static_cast<double>(colors.size() - 1);
    for (std::size_t i = 0; i < colors.size(); ++i) {
        const Color c = colors[i];
        cairo_pattern_add_color_stop_rgb(pattern.get(), static_cast<double>(i) / last,
                                         RedOf(c) / 255.0, GreenOf(c) / 255.0, BlueOf(c) / 255.0);
    }
    cairo_set_source(cr.get(), pattern.get());
    cairo_paint(cr.get());
    return true;
}

bool PresSpaceImpl::drawBox(Rect box, int fillMode) {
    const x11::DeviceRect d = x11::ToDevice(box, height());
    x11::SetSource(cr.get(), color);
    cairo_set_antialias(cr.get(), CAIRO_ANTIALIAS_NONE);
    if (fillMode & fill::Fill) {
        cairo_rectangle(cr.get(), d.x, d.y, d.width, d.height);
        cairo_fill(cr.get());
    }
    if (fillMode & fill::Outline) {
        // A one-pixel line through the centres of the edge pixels covers exactly them.
        cairo_set_line_width(cr.get(), 1.0);
        cairo_rectangle(cr.get(), d.x + 0.5, d.y + 0.5, d.width - 1, d.height - 1);
        cairo_stroke(cr.get());
    }
    return true;
}

bool PresSpaceImpl::drawText(Point at, const std::string& text) {
    x11::a11y::TextDrawn(*this, text);
    x11::LayoutPtr layout = x11::MakeLayout(cr.get(), font, text);
    const double baseline = pango_layout_get_baseline(layout.get()) / double(PANGO_SCALE);
    x11::SetSource(cr.get(), color);
    cairo_move_to(cr.get(), at.x, x11::ToDeviceY(at.y, height()) - baseline);
    pango_cairo_show_layout(cr.get(), layout.get());
    return true;
}

bool PresSpaceImpl::drawBitmap(BitmapState& b, Point at) {
    const auto& image = static_cast<const BitmapImpl&>(b);
    const double top = x11::ToDeviceY(at.y + image.size().height, height());
    cairo_set_source_surface(cr.get(), image.cairo(), at.x, top);
    cairo_paint(cr.get());
    return true;
}

bool PresSpaceImpl::putBitmap(BitmapState& b, Point at) {
    if (target != Target::ToWindow) {
        return false;
    }
    // On a window: the pixels go to the server as they are, after what was drawn before.
    const auto& image = static_cast<const BitmapImpl&>(b);
    flush();
    cairo_surface_flush(image.cairo());
    return x11::PutInStrips(*conn, window, *image.pixels, at.x,
                            x11::ToDeviceY(at.y + image.size().height, windowSize.height),
                            windowSize);
}

// ---- BitmapImpl ----------------------------------------------------------------------

void BitmapImpl::make(int width, int height) {
    bool black = false;
    if (pixels->width() != width || pixels->height() != height) {
        // Memory the bitmap has already touched is reused whenever it is large enough: fresh
        // pages cost far more than clearing old ones.
        surface.reset();
        if (!pixels->reshape(width, height)) {
            pixels.reset(); // free the old pixels before the new ones are touched
            pixels = std::make_unique<PixelBuffer>(width, height);
            black = pixels->fresh();
        }
        surface.reset(cairo_image_surface_create_for_data(
            pixels->data(), CAIRO_FORMAT_RGB24, width, height, static_cast<int>(pixels->stride())));
    }
    if (!black) {
        std::memset(pixels->data(), 0,
                    static_cast<std::size_t>(pixels->stride()) * static_cast<std::size_t>(height));
    }
    cairo_surface_mark_dirty(surface.get());
}

BitmapState::Pixels BitmapImpl::readPixels() const {
    if (!cairo()) {
        return {nullptr, pixels->width(), pixels->height(), pixels->stride()};
    }
    cairo_surface_flush(cairo());
    return {pixels->data(), pixels->width(), pixels->height(), pixels->stride()};
}

} // namespace detail

} // namespace host
