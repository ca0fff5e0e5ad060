// Tip sizes measured with pango directly, not through the runtime: the tour's expectation must
// not share the code it checks, so a fault in the runtime's text measurement shows as a wrong
// tip size.
#include "tipsize.h"

#include <pango/pangocairo.h>

#include <memory>

namespace tour {

std::map<std::string, Size> tipSizes(const std::vector<std::string>& texts) {
    const std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1), cairo_surface_destroy);
    const std::unique_ptr<cairo_t, decltype(&cairo_destroy)> cr(cairo_create(surface.get()),
                                                                cairo_destroy);
    const std::unique_ptr<PangoFontDescription, decltype(&pango_font_description_free)> font(
        pango_font_description_from_string(kDesktopFont), pango_font_description_free);
    std::map<std::string, Size> sizes;
    for (const auto& text : texts) {
        const std::unique_ptr<PangoLayout, decltype(&g_object_unref)> layout(
            pango_cairo_create_layout(cr.get()), g_object_unref);
        pango_layout_set_font_description(layout.get(), font.get());
        pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
        // The text's box: its logical extents (advance width; ascent plus descent).
        PangoRectangle logical{};
        pango_layout_get_pixel_extents(layout.get(), nullptr, &logical);
        sizes[text] = {logical.width + 8, logical.height + 6};
    }
    return sizes;
}

} // namespace tour
