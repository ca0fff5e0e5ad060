// The BMP reader of the tests and the tour.
#include "support/bmp.h"

#include <fstream>
#include <iterator>

namespace testx {

namespace {
int le(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) {
    unsigned v = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        v = v << 8 | b[at + static_cast<std::size_t>(i)];
    }
    return static_cast<int>(v);
}
} // namespace

Bmp Bmp::read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    Bmp b;
    b.bytes.assign(std::istreambuf_iterator<char>(in), {});
    if (b.bytes.size() >= 54 && b.bytes[0] == 'B' && b.bytes[1] == 'M') {
        b.width = le(b.bytes, 18, 4);
        b.height = le(b.bytes, 22, 4);
        b.bitsPerPixel = le(b.bytes, 28, 2);
    }
    return b;
}

std::size_t Bmp::rowBytes() const {
    return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
}

bool Bmp::valid() const {
    return bytes.size() >= 54 && bytes[0] == 'B' && bytes[1] == 'M' && bitsPerPixel == 24 &&
           width > 0 && height > 0 &&
           bytes.size() >= 54 + rowBytes() * static_cast<std::size_t>(height);
}

Pixel Bmp::hostPixel(int x, int y) const {
    const std::size_t at =
        54 + rowBytes() * static_cast<std::size_t>(y) + static_cast<std::size_t>(x) * 3;
    return {bytes[at + 2], bytes[at + 1], bytes[at]};
}

} // namespace testx
