// Test access to the X server as a person and an observer: XTest pointer and keys, and the
// window tree, geometry and pixels read back from the server. X11 coordinates throughout
// (origin top left), since that is what the server reports.
#pragma once

// Xlib's headers define macros (None, Bool, Status) that break other headers; this one
// stays free of them. Tests that need Xlib include it after everything else.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct _XDisplay;

namespace testx {

using Display = ::_XDisplay;
using Window = unsigned long; // an X resource id

struct Geometry {
    int x = 0; // top left corner on the root window
    int y = 0;
    int width = 0;
    int height = 0;
};

struct Pixel {
    int r = 0;
    int g = 0;
    int b = 0;
};

// One connection of the test's own. Construction fails the test (ADD_FAILURE and throw)
// when $DISPLAY names no server: GUI tests never skip silently.
class XServer {
  public:
    XServer();
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    Display* display() const { return dpy_; }
    Window root() const;
    int screenWidth() const;
    int screenHeight() const;

    // Person-like input through XTest; each call flushes and syncs.
    void movePointer(int x, int y);
    void pointer(int& x, int& y) const;
    void buttonDown(int button = 1);
    void buttonUp(int button = 1);
    void click(int x, int y, int button = 1);
    void keyDown(unsigned long keysym);
    void keyUp(unsigned long keysym);
    void tapKey(unsigned long keysym, unsigned long modifierKeysym = 0);

    // The window tree: mapped children of the root, bottom to top, and their properties.
    std::vector<Window> mappedTopLevels() const;
    std::optional<Window> findMapped(const std::string& name) const; // by _NET_WM_NAME/WM_NAME
    std::string windowName(Window w) const;
    bool overrideRedirect(Window w) const;
    Geometry geometry(Window w) const; // on the root
    std::vector<Window> mappedChildren(Window w) const;

    // Pixels of the screen (root window), X11 coordinates.
    Pixel pixel(int x, int y) const;
    // Fills the root window's background with a pattern and clears it.
    void paintRoot(unsigned long pixel);

    // Polls `done` every 2 ms until it is true or the time passes; returns the last answer.
    static bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit);

  private:
    Display* dpy_ = nullptr;
};

bool near(const Pixel& p, int r, int g, int b, int tolerance = 3);
std::string str(const Pixel& p);

} // namespace testx
