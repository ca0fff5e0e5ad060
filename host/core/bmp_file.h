// Windows BMP encoding of 32-bit BGRX pixels (cairo's RGB24 layout in memory): 24-bit,
// bottom-up rows (positive height), BITMAPINFOHEADER, rows padded to 4 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace host::bmpfile {

// The size of the file for an image of width x height.
std::size_t FileSize(int width, int height);

// Writes the image to `path` atomically: a temporary file in the same folder, then a rename
// over the name (a symbolic link of that name is replaced, its target never written).
// Returns false, leaving no temporary file behind, when it cannot be written whole; `error`
// (when given) then receives the reason as an errno value (EINVAL for an empty image).
bool WriteFile(const std::string& path, const std::uint8_t* pixels, int width, int height,
               std::ptrdiff_t stride, int* error = nullptr);

// Encodes into `out`, which must hold FileSize(width, height) bytes.
void Encode(std::uint8_t* out, const std::uint8_t* pixels, int width, int height,
            std::ptrdiff_t stride);

} // namespace host::bmpfile
