// Helpers shared by the runtime's GUI tests.
#include "fixture.h"

#include <chrono>
#include <fstream>
#include <iterator>

namespace hosttest {

void RunAsMain(const std::function<void()>& body) {
    const int code = host::Start(
        {.errorSys =
             [](const std::exception& e) { ADD_FAILURE() << "runtime error: " << e.what(); },
         .appSys = {},
         .appExit = {},
         .dbeSys = {},
         .main = body});
    EXPECT_EQ(code, 0);
}

bool PumpUntil(const std::function<bool()>& done, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done() && std::chrono::steady_clock::now() < end) {
        host::Param mp1, mp2;
        std::shared_ptr<host::XbpPart> target;
        const int code = host::AppEvent(mp1, mp2, target, 1);
        if (code != host::event::NoEvent && target) {
            target->handleEvent(code, mp1, mp2);
        }
    }
    return done();
}

BmpImage ReadBmp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    BmpImage img;
    img.bytes.assign(std::istreambuf_iterator<char>(in), {});
    if (img.bytes.size() >= 54) {
        auto le32 = [&](std::size_t at) {
            return static_cast<int>(img.bytes[at] | img.bytes[at + 1] << 8 |
                                    img.bytes[at + 2] << 16 | img.bytes[at + 3] << 24);
        };
        img.width = le32(18);
        img.height = le32(22);
    }
    return img;
}

testx::Pixel BmpImage::at(int x, int y) const {
    const std::size_t row = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    const std::size_t off =
        54 + row * static_cast<std::size_t>(y) + static_cast<std::size_t>(x) * 3;
    return {bytes[off + 2], bytes[off + 1], bytes[off]};
}

} // namespace hosttest
