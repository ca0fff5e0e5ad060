// Outputs' pictures as the compositor hands them over, and their composition into one picture
// of the desktop. Pure arithmetic on pixels: unit-tested without a compositor.
#pragma once

#include "compositor.h"

#include <cstdint>
#include <vector>

namespace host::compositor::detail {

// wl_shm formats the routes accept (wl_shm.format: little-endian words).
inline constexpr std::uint32_t kArgb8888 = 0;
inline constexpr std::uint32_t kXrgb8888 = 1;
inline constexpr std::uint32_t kAbgr8888 = 0x34324241; // fourcc "AB24"
inline constexpr std::uint32_t kXbgr8888 = 0x34324258; // fourcc "XB24"

// One output's pixels in its buffer, and where the output lies on the desktop.
struct OutputImage {
    int x = 0, y = 0;                   // logical position on the desktop
    int transform = 0;                  // wl_output.transform (0 normal .. 7 flipped-270)
    int scale = 1;                      // wl_output.scale: buffer pixels per logical pixel
    bool yInvert = false;               // rows bottom up
    int width = 0, height = 0;          // buffer size, in buffer pixels
    int stride = 0;                     // bytes per buffer row
    std::uint32_t format = kXrgb8888;   // one of the formats above
    const std::uint8_t* data = nullptr; // stride * height bytes, owned by the caller

    // The output's size on the desktop: the buffer turned upright, divided by the scale.
    int logicalWidth() const;
    int logicalHeight() const;
};

// The desktop: the bounding box of every output's logical rectangle, its top-left corner at
// (0, 0), each output turned upright (transform, y_invert) and brought to its logical size
// (a scale of 2 halves it, filtered), areas that no output covers black. Empty input: nullopt.
// An upright output of scale 1 is copied row by row; the others are painted through cairo.
std::optional<Picture> Compose(const std::vector<OutputImage>& outputs);

} // namespace host::compositor::detail
