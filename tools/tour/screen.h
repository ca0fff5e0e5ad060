// The screen the tour runs on: the user's display or a private Xvfb started for the run, and
// pictures of parts of it, read back from the server and saved as PNG.
#pragma once

#include "support/xserver.h"

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tour {

// Whether $DISPLAY names a server that accepts a connection now.
bool displayAnswers();

// An Xvfb of its own on a free display, 1920x1080x24; $DISPLAY points at it while it lives.
class PrivateXvfb {
  public:
    PrivateXvfb(); // throws std::runtime_error when the server does not come up
    ~PrivateXvfb();
    PrivateXvfb(const PrivateXvfb&) = delete;
    PrivateXvfb& operator=(const PrivateXvfb&) = delete;
    const std::string& name() const { return name_; }

  private:
    pid_t pid_ = -1;
    std::string name_;
};

// Pixels of a rectangle of the root window, 0x00RRGGBB, row by row.
class Image {
  public:
    static Image grab(const testx::XServer& x, testx::Geometry area);
    // An image of `area` whose pixels come from `pixel(x, y)` (root coordinates).
    static Image of(testx::Geometry area, const std::function<testx::Pixel(int, int)>& pixel);

    int width() const { return area_.width; }
    int height() const { return area_.height; }
    const testx::Geometry& area() const { return area_; }
    // (x, y) relative to the image.
    testx::Pixel at(int x, int y) const;
    bool savePng(const std::string& path) const;

  private:
    testx::Geometry area_;
    std::vector<std::uint32_t> pixels_;
};

// `g` grown by `margin` on every side and kept on a screen of the given size.
testx::Geometry around(testx::Geometry g, int margin, int screenWidth, int screenHeight);

} // namespace tour
