// BMP writer: header and rows are produced in chunks into one reusable buffer of 128 KiB, not a
// second copy of the image. Small enough to stay in the cache, and to cost few fresh pages on
// first use; large enough that a 1080p capture is some fifty writes.
#include "bmp_file.h"

#include "system/system.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace host::bmpfile {
namespace {

constexpr std::size_t kHeaderSize = 14 + 40;

std::size_t rowBytes(int width) {
    return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
}

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

void header(std::uint8_t* h, int width, int height) {
    std::memset(h, 0, kHeaderSize);
    h[0] = 'B';
    h[1] = 'M';
    put32(h + 2, static_cast<std::uint32_t>(FileSize(width, height)));
    put32(h + 10, kHeaderSize); // offset of the pixel rows
    put32(h + 14, 40);          // BITMAPINFOHEADER
    put32(h + 18, static_cast<std::uint32_t>(width));
    put32(h + 22, static_cast<std::uint32_t>(height)); // positive: rows stored bottom-up
    put16(h + 26, 1);                                  // planes
    put16(h + 28, 24);                                 // bits per pixel
    put32(h + 34, static_cast<std::uint32_t>(rowBytes(width) * static_cast<std::size_t>(height)));
    put32(h + 38, 3780); // 96 dpi in pixels per metre
    put32(h + 42, 3780);
}

// One BMP row (BGR triples, zero padding) from one BGRX source row.
void encodeRow(std::uint8_t* out, const std::uint8_t* src, int width, std::size_t padded) {
    std::uint8_t* o = out;
    for (int x = 0; x < width; ++x, src += 4, o += 3) {
        o[0] = src[0];
        o[1] = src[1];
        o[2] = src[2];
    }
    std::memset(o, 0, padded - static_cast<std::size_t>(width) * 3);
}

} // namespace

std::size_t FileSize(int width, int height) {
    return kHeaderSize + rowBytes(width) * static_cast<std::size_t>(height);
}

void Encode(std::uint8_t* out, const std::uint8_t* pixels, int width, int height,
            std::ptrdiff_t stride) {
    header(out, width, height);
    const std::size_t padded = rowBytes(width);
    std::uint8_t* o = out + kHeaderSize;
    for (int y = height - 1; y >= 0; --y, o += padded) {
        encodeRow(o, pixels + stride * y, width, padded);
    }
}

bool WriteFile(const std::string& path, const std::uint8_t* pixels, int width, int height,
               std::ptrdiff_t stride, int* error) {
    int ignored = 0;
    int& reason = error ? *error : ignored;
    reason = 0;
    if (width <= 0 || height <= 0) {
        reason = EINVAL;
        return false;
    }
    system::ReplacingFile tmp(path);
    const auto failed = [&] {
        reason = tmp.error();
        return false;
    };
    if (!tmp.open()) {
        return failed(); // folder not writable: nothing was created
    }
    constexpr std::size_t kChunk = std::size_t{128} << 10;
    const std::size_t padded = rowBytes(width);
    const std::size_t rowsPerChunk = std::max<std::size_t>(1, kChunk / padded);
    thread_local std::vector<std::uint8_t> buffer;
    buffer.resize(std::max(kHeaderSize, rowsPerChunk * padded));

    header(buffer.data(), width, height);
    if (!tmp.write(buffer.data(), kHeaderSize)) {
        return failed();
    }
    int y = height - 1;
    while (y >= 0) {
        std::size_t n = 0;
        for (; n < rowsPerChunk && y >= 0; ++n, --y) {
            encodeRow(buffer.data() + n * padded, pixels + stride * y, width, padded);
        }
        if (!tmp.write(buffer.data(), n * padded)) {
            return failed();
        }
    }
    return tmp.commit() || failed();
}

} // namespace host::bmpfile
