// A window of the tour's own, for the repaint check: override-redirect, white, listening for
// Expose. Include it after every header but Xlib's.
#pragma once

#include <algorithm>
#include <climits>

#include <X11/Xlib.h>

namespace tour {

// Maps itself raised at once; destroyed with the object.
class ExposeWindow {
  public:
    ExposeWindow(Display* d, int x, int y, int w, int h) : d_(d) {
        XSetWindowAttributes a{};
        a.override_redirect = True;
        a.background_pixel = WhitePixel(d, DefaultScreen(d));
        a.event_mask = ExposureMask;
        w_ = XCreateWindow(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(w),
                           static_cast<unsigned>(h), 0, CopyFromParent, InputOutput, CopyFromParent,
                           CWOverrideRedirect | CWBackPixel | CWEventMask, &a);
        XMapRaised(d, w_);
        XSync(d, False);
    }
    ~ExposeWindow() {
        XDestroyWindow(d_, w_);
        XSync(d_, False);
    }
    ExposeWindow(const ExposeWindow&) = delete;
    ExposeWindow& operator=(const ExposeWindow&) = delete;

    // The Expose events that arrived so far: their count and bounding box (x1, y1, x2, y2).
    struct Exposed {
        int events = 0;
        int x1 = INT_MAX, y1 = INT_MAX, x2 = INT_MIN, y2 = INT_MIN;
    };
    Exposed drain() {
        XSync(d_, False);
        Exposed e;
        while (XPending(d_) > 0) {
            XEvent ev;
            XNextEvent(d_, &ev);
            if (ev.type == Expose && ev.xexpose.window == w_) {
                ++e.events;
                e.x1 = std::min(e.x1, ev.xexpose.x);
                e.y1 = std::min(e.y1, ev.xexpose.y);
                e.x2 = std::max(e.x2, ev.xexpose.x + ev.xexpose.width);
                e.y2 = std::max(e.y2, ev.xexpose.y + ev.xexpose.height);
            }
        }
        return e;
    }

  private:
    Display* d_;
    Window w_ = 0;
};

} // namespace tour
