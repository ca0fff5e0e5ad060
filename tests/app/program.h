// Running the real menutest as a user would: start it in a folder, find its dialog on the
// server, press keys, and read the captures it leaves behind.
#pragma once

#include "support/process.h"
#include "support/xserver.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace apptest {

inline constexpr const char* kTitle = "Testing Menu Creation";
inline constexpr unsigned long kEscape = 0xff1b;

struct Program {
    testx::XServer& x;
    testx::TempFolder folder;
    std::unique_ptr<testx::Child> child;
    std::optional<testx::Window> dialog;

    explicit Program(testx::XServer& server) : x(server) {}
    ~Program() {
        // Never leave a dialog up for the next test.
        if (child && child->running()) {
            if (dialog) {
                x.activate(*dialog);
            }
            x.tapKey(kEscape);
            child->wait(std::chrono::milliseconds(2000));
        }
    }

    // Starts the program and waits until its dialog is on screen and painted.
    bool start(const std::map<std::string, std::string>& env = {}, const std::string& cwd = "") {
        child = std::make_unique<testx::Child>(std::vector<std::string>{MENUTEST_PATH},
                                               cwd.empty() ? folder.path() : cwd, env);
        const bool shown = testx::XServer::waitFor(
            [&] {
                dialog = x.findMapped(kTitle);
                return dialog.has_value() && painted();
            },
            std::chrono::milliseconds(5000));
        // Keys go to the focused window: under a window manager the dialog is activated as a
        // person would by clicking it; on a bare server the program takes the focus itself.
        const bool focused = shown && x.activate(*dialog);
        EXPECT_TRUE(!shown || focused) << "the dialog does not get the keyboard focus";
        return shown;
    }

    // The drawing area: the taller of the dialog's two children.
    testx::Geometry area() const {
        testx::Geometry best;
        for (auto w : x.mappedChildren(*dialog)) {
            const auto g = x.geometry(w);
            if (g.height > best.height) {
                best = g;
            }
        }
        return best;
    }

    bool painted() const {
        const auto a = area();
        return a.height > 0 && testx::near(x.pixel(a.x, a.y + a.height - 1), 6, 190, 225, 6);
    }

    std::optional<testx::ExitStatus> escape() {
        x.tapKey(kEscape);
        return child->wait(std::chrono::milliseconds(3000));
    }
};

struct Bmp {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> bytes;
    bool valid() const { return bytes.size() >= 54 && bytes[0] == 'B' && bytes[1] == 'M'; }
    // Pixel (x, y) in screen coordinates (origin top left).
    testx::Pixel screenPixel(int x, int y) const {
        const std::size_t row = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
        const std::size_t off =
            54 + row * static_cast<std::size_t>(height - 1 - y) + static_cast<std::size_t>(x) * 3;
        return {bytes[off + 2], bytes[off + 1], bytes[off]};
    }
};

inline Bmp readBmp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    Bmp b;
    b.bytes.assign(std::istreambuf_iterator<char>(in), {});
    if (b.valid()) {
        auto le32 = [&](std::size_t at) {
            return static_cast<int>(b.bytes[at] | b.bytes[at + 1] << 8 | b.bytes[at + 2] << 16 |
                                    b.bytes[at + 3] << 24);
        };
        b.width = le32(18);
        b.height = le32(22);
    }
    return b;
}

} // namespace apptest
