// Test access to the X server as a person and an observer: XTest pointer and keys, and the
// window tree, geometry and pixels read back from the server. X11 coordinates throughout
// (origin top left), since that is what the server reports. Works on a bare server and under
// a reparenting window manager: clients are found through their frames (ICCCM WM_STATE).
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

// What a window manager adds around a client (EWMH _NET_FRAME_EXTENTS).
struct Extents {
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
};

struct Pixel {
    int r = 0;
    int g = 0;
    int b = 0;
};

// One connection of the test's own. Construction fails the test (ADD_FAILURE and throw)
// when $DISPLAY names no server: GUI tests never skip silently. X errors on it (a window that
// vanished while being read) are ignored: the reading call gives its empty answer.
class XServer {
  public:
    XServer();
    explicit XServer(const std::string& name); // a server other than $DISPLAY's
    ~XServer();
    // Whether the server `name` takes a connection now.
    static bool answers(const std::string& name);
    const std::string& name() const { return name_; }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    Display* display() const { return dpy_; }
    Window root() const;
    // Xwayland (RandR's outputs are named XWAYLAND<n>): the root holds no picture, so pixel()
    // and picture() ask the compositor (host/compositor), as the program does.
    bool wayland() const;
    // The pixels of `area` (0x00RRGGBB, row by row): from the root, or on Wayland from the
    // compositor's picture of the desktop. Empty when the server or compositor gives none.
    std::vector<std::uint32_t> picture(Geometry area) const;
    // A pixel of the window's own contents (window coordinates): what it has drawn, whatever
    // covers it. Xwayland gives these back at once, where the screen takes a compositor's frame.
    Pixel windowPixel(Window w, int x, int y) const;
    int screenWidth() const;
    int screenHeight() const;
    int depth() const;

    // Person-like input through XTest; each call flushes and syncs.
    void movePointer(int x, int y);
    void pointer(int& x, int& y) const;
    void buttonDown(int button = 1);
    void buttonUp(int button = 1);
    void click(int x, int y, int button = 1);
    void keyDown(unsigned long keysym);
    void keyUp(unsigned long keysym);
    void tapKey(unsigned long keysym, unsigned long modifierKeysym = 0);

    // The window tree: what is on the screen, bottom to top. A managed client stands for
    // the frame that holds it (the window with WM_STATE inside a viewable child of the root);
    // override-redirect windows (menus, tips) and unmanaged clients stand for themselves.
    std::vector<Window> mappedTopLevels() const;
    std::optional<Window> findMapped(const std::string& name) const; // by _NET_WM_NAME/WM_NAME
    std::string windowName(Window w) const;
    bool overrideRedirect(Window w) const;
    Geometry geometry(Window w) const; // the window itself, on the root (inside any frame)
    std::vector<Window> mappedChildren(Window w) const;

    // The desktop: the EWMH window manager's name (empty when none runs; _NET_SUPPORTING_WM_CHECK),
    // whether a compositing manager owns _NET_WM_CM_S<screen>, and the monitors (Xinerama
    // screens; the whole root when Xinerama is off), the primary first.
    std::string windowManager() const;
    bool compositing() const;
    std::vector<Geometry> monitors() const;
    // The monitor that holds (x, y); the primary when none does.
    Geometry monitorAt(int x, int y) const;
    // The frame's extents as the window manager gives them; nullopt when it gives none.
    std::optional<Extents> frameExtents(Window client) const;
    // What the user sees of a client: its geometry grown by the frame's extents.
    Geometry frame(Window client) const;
    // Makes `client` the active window as a pager would (EWMH _NET_ACTIVE_WINDOW), or gives it
    // the input focus when no window manager runs; true once the focus is in it.
    bool activate(Window client, std::chrono::milliseconds limit = std::chrono::seconds(2));
    bool hasFocus(Window w) const; // the focus is on `w` or a window inside it

    // Pixels of the screen (root window), X11 coordinates, 8 bits a channel on any TrueColor
    // visual (a channel of n bits is widened as v * 255 / (2^n - 1)).
    Pixel pixel(int x, int y) const;
    Pixel decode(unsigned long value) const; // an X pixel value of the root's visual
    // Fills the root window's background with a pattern and clears it.
    void paintRoot(unsigned long pixel);

    // Polls `done` every 2 ms until it is true or the time passes; returns the last answer.
    static bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit);

  private:
    Display* dpy_ = nullptr;
    std::string name_;
    mutable std::optional<bool> wayland_;
};

bool near(const Pixel& p, int r, int g, int b, int tolerance = 3);
bool contains(const Geometry& outer, const Geometry& inner);
// Where `size` stands when centred on `monitor` (the top left corner of the rectangle).
Geometry centredOn(const Geometry& monitor, int width, int height);
std::string str(const Pixel& p);

} // namespace testx
