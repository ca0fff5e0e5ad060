// draw-icons DIR NAME: writes the icon as DIR/hicolor/NxN/apps/NAME.png for every size the
// window carries, for the package (the freedesktop icon theme layout).
#include "icon.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: draw-icons DIR NAME\n", stderr);
        return 2;
    }
    for (const int size : host::icon::kSizes) {
        const std::string edge = std::to_string(size);
        const auto folder =
            std::filesystem::path(argv[1]) / "hicolor" / (edge + "x" + edge) / "apps";
        std::filesystem::create_directories(folder);
        const std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
            cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size), cairo_surface_destroy);
        {
            const std::unique_ptr<cairo_t, decltype(&cairo_destroy)> cr(cairo_create(surface.get()),
                                                                        cairo_destroy);
            host::icon::Draw(cr.get(), size);
        }
        const auto file = folder / (std::string(argv[2]) + ".png");
        if (cairo_surface_write_to_png(surface.get(), file.c_str()) != CAIRO_STATUS_SUCCESS) {
            std::fprintf(stderr, "draw-icons: cannot write %s\n", file.c_str());
            return 1;
        }
    }
    return 0;
}
