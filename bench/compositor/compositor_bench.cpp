// Desktop pictures through the compositor, per route (screencopy, portal): the time of one
// capture (median of runs), and the last capture's wait: from a window's destruction to a
// picture without it. Run on a Wayland session with $DISPLAY naming its Xwayland.
#include <compositor.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <X11/Xlib.h>

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A mapped 400x300 window of a colour no desktop shows.
::Window showRed(Display* dpy) {
    XSetWindowAttributes a{};
    a.background_pixel = 0xff0000;
    a.override_redirect = True; // where it is put: no window manager moves it
    const ::Window w =
        XCreateWindow(dpy, DefaultRootWindow(dpy), 100, 100, 400, 300, 0, CopyFromParent,
                      InputOutput, CopyFromParent, CWBackPixel | CWOverrideRedirect, &a);
    XMapRaised(dpy, w);
    XSync(dpy, False);
    return w;
}

bool redAt(const host::compositor::Picture& p) {
    return p.width > 300 && p.height > 250 && p.at(300, 250) == 0xff0000;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 10;
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy || !host::compositor::Reachable()) {
        std::fprintf(stderr,
                     "compositor_bench: needs $DISPLAY (Xwayland) and a Wayland compositor\n");
        return 2;
    }
    int status = 0;
    for (const char* route : {"screencopy", "portal"}) {
        ::setenv("MENUTIP_CAPTURE_ROUTES", route, 1);
        std::vector<double> times;
        std::string failure;
        for (int i = 0; i < runs && failure.empty(); ++i) {
            const auto t0 = Clock::now();
            const auto got = host::compositor::TakeDesktop();
            times.push_back(ms(Clock::now() - t0));
            if (!got.picture) {
                failure = got.failure;
            }
        }
        if (!failure.empty()) {
            std::printf("%-10s  no picture: %s\n", route, failure.c_str());
            continue;
        }
        // The last capture: the window shows, leaves, and the capture waits for the change.
        const ::Window w = showRed(dpy);
        bool shown = false;
        for (int i = 0; i < 50 && !shown; ++i) {
            const auto got = host::compositor::TakeDesktop();
            shown = got.picture && redAt(*got.picture);
        }
        const auto t0 = Clock::now();
        host::compositor::WindowLeaving();
        XDestroyWindow(dpy, w);
        XSync(dpy, False);
        const auto got = host::compositor::TakeDesktop();
        const double wait = ms(Clock::now() - t0);
        const bool clean = got.picture && !redAt(*got.picture);
        std::printf("%-10s  capture %7.1f ms (median of %d, first %.1f ms)  last capture %7.1f ms "
                    "after the window went (%.1f ms of it waiting), %s\n",
                    route, median(times), runs, times.front(), wait, got.waitedMs,
                    !shown  ? "window never seen"
                    : clean ? "without it"
                            : "STILL SHOWS IT");
        if (shown && !clean) {
            status = 1;
        }
    }
    XCloseDisplay(dpy);
    return status;
}
