// Reading the 24-bit bottom-up BMP files the runtime writes (BITMAPFILEHEADER and
// BITMAPINFOHEADER, 54 bytes, then rows padded to 4 bytes, the bottom row first): one reader
// for the tests and the tour.
#pragma once

#include "support/xserver.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testx {

struct Bmp {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    std::vector<std::uint8_t> bytes;

    // The file's bytes and header; an empty Bmp (not valid) when it is missing.
    static Bmp read(const std::string& path);
    // "BM", 24 bits a pixel, and every row present.
    bool valid() const;
    bool holds(int x, int y) const {
        return valid() && x >= 0 && y >= 0 && x < width && y < height;
    }
    // Pixel (x, y) with the origin at the top left, as on the screen.
    Pixel screenPixel(int x, int y) const { return hostPixel(x, height - 1 - y); }
    // Pixel (x, y) with the origin at the lower left, as the runtime counts (the file's order).
    Pixel hostPixel(int x, int y) const;

  private:
    std::size_t rowBytes() const;
};

} // namespace testx
