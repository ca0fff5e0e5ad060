// Composing outputs into the desktop: positions, scale, rotation and row order, where a slip
// would shift, stretch or turn the captured desktop.
#include <compose.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using host::compositor::detail::Compose;
using host::compositor::detail::OutputImage;

// An output whose buffer is `w` x `h` pixels of `fill`, with `marker` at buffer pixel (mx, my).
struct Buffer {
    std::vector<std::uint32_t> px;
    OutputImage image(int x, int y, int w, int h) {
        OutputImage o;
        o.x = x;
        o.y = y;
        o.width = w;
        o.height = h;
        o.stride = w * 4;
        o.data = reinterpret_cast<const std::uint8_t*>(px.data());
        return o;
    }
};
Buffer filled(int w, int h, std::uint32_t fill, int mx = -1, int my = -1,
              std::uint32_t marker = 0) {
    Buffer b{std::vector<std::uint32_t>(static_cast<std::size_t>(w * h), fill)};
    if (mx >= 0) {
        b.px[static_cast<std::size_t>(my * w + mx)] = marker;
    }
    return b;
}

constexpr std::uint32_t kRed = 0xffff0000; // alpha set, as compositors hand it over
constexpr std::uint32_t kGreen = 0xff00ff00;
constexpr std::uint32_t kBlue = 0xff0000ff;

TEST(Compose, OutputsSideBySideAtTheirPositionsAScaledOneAtItsLogicalSize) {
    Buffer left = filled(4, 2, kRed);
    Buffer right = filled(4, 4, kGreen); // scale 2: 2 x 2 on the desktop
    auto a = left.image(-4, 0, 4, 2);    // negative positions: the desktop starts there
    auto b = right.image(0, 0, 4, 4);
    b.scale = 2;
    const auto desk = Compose({a, b});
    ASSERT_TRUE(desk);
    EXPECT_EQ(desk->width, 6);
    EXPECT_EQ(desk->height, 2);
    EXPECT_EQ(desk->at(0, 0), 0xff0000u); // alpha dropped
    EXPECT_EQ(desk->at(3, 1), 0xff0000u);
    EXPECT_EQ(desk->at(4, 0), 0x00ff00u);
    EXPECT_EQ(desk->at(5, 1), 0x00ff00u);
}

TEST(Compose, APictureInDevicePixelsIsBroughtToTheLogicalSize) {
    host::compositor::Picture p{
        4, 2, {0xff0000, 0xff0000, 0x0000ff, 0x0000ff, 0xff0000, 0xff0000, 0x0000ff, 0x0000ff}};
    const auto half = host::compositor::Resized(p, 2, 1);
    ASSERT_EQ(half.pixels.size(), 2u);
    EXPECT_EQ(half.at(0, 0), 0xff0000u);
    EXPECT_EQ(half.at(1, 0), 0x0000ffu);
}

TEST(Compose, RotatedFlippedAndBottomUpBuffersComeOutUpright) {
    // Turned a quarter (wl_output transform 90), as sway's buffers are: the buffer's lower-left
    // pixel is the desktop's upper-left (checked against sway's own screenshot tool).
    Buffer turned = filled(4, 2, kGreen, 0, 1, kBlue);
    auto t = turned.image(0, 0, 4, 2);
    t.transform = 1;
    auto desk = Compose({t});
    ASSERT_TRUE(desk);
    EXPECT_EQ(desk->width, 2);
    EXPECT_EQ(desk->height, 4);
    EXPECT_EQ(desk->at(0, 0), 0x0000ffu);
    EXPECT_EQ(desk->at(1, 3), 0x00ff00u);

    // Rows bottom up: the buffer's first row is the desktop's last.
    Buffer inverted = filled(3, 3, kGreen, 0, 0, kBlue);
    auto v = inverted.image(0, 0, 3, 3);
    v.yInvert = true;
    desk = Compose({v});
    ASSERT_TRUE(desk);
    EXPECT_EQ(desk->at(0, 2), 0x0000ffu);
    EXPECT_EQ(desk->at(0, 0), 0x00ff00u);

    // Red and blue swapped in memory (XBGR8888).
    Buffer bgr = filled(2, 2, 0xff0000ff);
    auto c = bgr.image(0, 0, 2, 2);
    c.format = host::compositor::detail::kXbgr8888;
    desk = Compose({c});
    ASSERT_TRUE(desk);
    EXPECT_EQ(desk->at(1, 1), 0xff0000u);
}

} // namespace
