// From process start to the dialog mapped and painted, as a timeline seen from outside (the
// dialog window created, the first capture's file opened and renamed into place, the dialog
// mapped, painted), beside an empty GTK 3 window where one was built; and the peak resident
// memory of a whole run (start, dialog, Escape, last capture).
#include "support/process.h"
#include "support/xserver.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <X11/Xlib.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Timeline {
    std::optional<double> created, fileOpened, fileWritten, mapped, painted;
};

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Runs `argv` once and watches it: X events on the root (a window created, mapped) on a
// connection of our own, file events in its folder, and the client area's first colour.
std::optional<Timeline> watch(testx::XServer& x, const std::vector<std::string>& argv,
                              const std::map<std::string, std::string>& env, int clientTop,
                              long& peakKb) {
    Display* dpy = XOpenDisplay(nullptr);
    XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask);
    XSync(dpy, False);
    testx::TempFolder folder;
    const int ino = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    inotify_add_watch(ino, folder.path().c_str(), IN_CREATE | IN_MOVED_TO);
    Timeline t;
    Window top = 0;
    const auto t0 = Clock::now();
    testx::Child child(argv, folder.path(), env);
    while (!t.painted && Clock::now() - t0 < std::chrono::seconds(5)) {
        pollfd fds[2] = {{ConnectionNumber(dpy), POLLIN, 0}, {ino, POLLIN, 0}};
        ::poll(fds, 2, t.mapped ? 0 : 1);
        const double now = ms(Clock::now() - t0);
        while (XPending(dpy) > 0) {
            XEvent ev;
            XNextEvent(dpy, &ev);
            if (ev.type == CreateNotify && !t.created && ev.xcreatewindow.width >= 400) {
                t.created = now;
                top = ev.xcreatewindow.window;
            } else if (ev.type == MapNotify && ev.xmap.window == top && !t.mapped) {
                t.mapped = now;
            }
        }
        alignas(inotify_event) char buf[4096];
        for (ssize_t n; (n = ::read(ino, buf, sizeof buf)) > 0;) {
            for (char* p = buf; p < buf + n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(p);
                const std::string name = e->len ? e->name : "";
                if (name.rfind("FirstDeskPS.bmp", 0) == 0) {
                    if ((e->mask & IN_CREATE) && !t.fileOpened) {
                        t.fileOpened = now;
                    } else if ((e->mask & IN_MOVED_TO) && name == "FirstDeskPS.bmp") {
                        t.fileWritten = now;
                    }
                }
                p += sizeof(inotify_event) + e->len;
            }
        }
        if (t.mapped) {
            // Painted: the client area's lower left pixel has the first colour.
            XWindowAttributes a{};
            XGetWindowAttributes(dpy, top, &a);
            Window child = 0;
            int rx = 0, ry = 0;
            XTranslateCoordinates(dpy, top, DefaultRootWindow(dpy), 0, 0, &rx, &ry, &child);
            if (a.height > clientTop &&
                testx::near(x.pixel(rx + 2, ry + a.height - 2), 6, 190, 225, 6)) {
                t.painted = ms(Clock::now() - t0);
            }
        }
    }
    ::close(ino);
    XCloseDisplay(dpy);
    x.tapKey(0xff1b);
    child.wait(std::chrono::seconds(5));
    peakKb = std::max(peakKb, child.peakRssKb());
    return t.painted ? std::optional(t) : std::nullopt;
}

double median(std::vector<double> v) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <typename F> double medianOf(const std::vector<Timeline>& runs, F phase) {
    std::vector<double> v;
    for (const Timeline& t : runs) {
        if (auto d = phase(t)) {
            v.push_back(*d);
        }
    }
    return median(v);
}

} // namespace

int main() {
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "startup_bench: needs an X server ($DISPLAY)\n");
        return 2;
    }
    testx::XServer x;
    const int runs = std::getenv("BENCH_RUNS") ? std::atoi(std::getenv("BENCH_RUNS")) : 15;
    std::vector<Timeline> ours, gtk;
    long peakKb = 0, gtkPeakKb = 0;
    for (int i = 0; i < runs; ++i) {
        // Taken in turns, so that both meet the same machine.
        if (auto t = watch(x, {MENUTEST_PATH}, {}, 30, peakKb)) {
            ours.push_back(*t);
        } else {
            std::fprintf(stderr, "run %d: the dialog never appeared painted\n", i);
            return 1;
        }
#ifdef GTK_EMPTY_PATH
        if (auto t = watch(x, {GTK_EMPTY_PATH}, {{"GDK_GL", "disable"}, {"NO_AT_BRIDGE", "1"}}, 0,
                           gtkPeakKb)) {
            gtk.push_back(*t);
        }
#endif
    }
    using T = const Timeline&;
    const auto minus = [](std::optional<double> a, std::optional<double> b) {
        return a && b ? std::optional(*a - *b) : std::nullopt;
    };
    std::printf("menutest, medians of %d runs (ms from process start):\n", runs);
    std::printf("  dialog window created (exec, libraries, connection) %8.1f\n",
                medianOf(ours, [](T t) { return t.created; }));
    std::printf("  -> capture file opened (menus, screen grab)          +%7.1f\n",
                medianOf(ours, [&](T t) { return minus(t.fileOpened, t.created); }));
    std::printf("  -> capture file complete (BMP write, rename)         +%7.1f\n",
                medianOf(ours, [&](T t) { return minus(t.fileWritten, t.fileOpened); }));
    std::printf("  -> dialog mapped (gradient, centring, map)           +%7.1f\n",
                medianOf(ours, [&](T t) { return minus(t.mapped, t.fileWritten); }));
    std::printf("  -> dialog painted (first paint)                      +%7.1f\n",
                medianOf(ours, [&](T t) { return minus(t.painted, t.mapped); }));
    const double oursTotal = medianOf(ours, [](T t) { return t.painted; });
    std::printf("  start to dialog painted: median %.1f ms\n", oursTotal);
    if (!gtk.empty()) {
        const double gtkTotal = medianOf(gtk, [](T t) { return t.painted; });
        std::printf("empty GTK 3 window (GDK_GL=disable NO_AT_BRIDGE=1), medians of %zu runs:\n",
                    gtk.size());
        std::printf("  window created %.1f, mapped %.1f, painted %.1f (mapped to painted %.1f)\n",
                    medianOf(gtk, [](T t) { return t.created; }),
                    medianOf(gtk, [](T t) { return t.mapped; }), gtkTotal,
                    medianOf(gtk, [&](T t) { return minus(t.painted, t.mapped); }));
        std::printf("menutest / GTK 3, start to painted: %.2fx\n", oursTotal / gtkTotal);
    } else {
        std::printf("(no GTK 3 comparison: gtk+-3.0 was not found when this was built)\n");
    }
    std::printf("peak resident memory of a run: %.1f MB (GTK 3 window: %.1f MB)\n",
                static_cast<double>(peakKb) / 1024.0, static_cast<double>(gtkPeakKb) / 1024.0);
    return 0;
}
