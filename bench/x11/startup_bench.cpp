// From process start to the dialog mapped and painted, as a timeline seen from outside (the
// dialog window created, the first capture's file opened and renamed into place, the dialog
// mapped, painted), beside an empty GTK 3 window where one was built; and the peak resident
// memory of a whole run (start, dialog, Escape, last capture). Runs without a session bus, on
// a session bus without an accessibility bus, and with one (the screen-reader bridge loaded).
#include "support/process.h"
#include "support/xserver.h"

#include <poll.h>
#include <signal.h>
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

// A session bus of the bench's own, optionally with the accessibility bus on it (its launcher
// is activated by asking org.a11y.Bus for the address, as a desktop session starts it).
class SessionBus {
  public:
    explicit SessionBus(bool accessibility) {
        FILE* p = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
        char line[512] = {};
        if (p && std::fgets(line, sizeof line, p)) {
            address_ = std::string(line, std::strcspn(line, "\n"));
            if (std::fgets(line, sizeof line, p)) {
                pid_ = std::atoi(line);
            }
        }
        if (p) {
            ::pclose(p);
        }
        if (accessibility && ok()) {
            const std::string ask = "DBUS_SESSION_BUS_ADDRESS='" + address_ +
                                    "' dbus-send --session --print-reply --dest=org.a11y.Bus "
                                    "/org/a11y/bus org.a11y.Bus.GetAddress >/dev/null";
            accessible_ = std::system(ask.c_str()) == 0;
        }
    }
    ~SessionBus() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM); // its activated launcher and accessibility bus follow it
        }
    }
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;
    bool ok() const { return pid_ > 0 && !address_.empty(); }
    bool accessible() const { return accessible_; }
    const std::string& address() const { return address_; }

  private:
    std::string address_;
    pid_t pid_ = -1;
    bool accessible_ = false;
};

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
    // The program without any bus is the main line; beside it, on buses of the bench's own.
    const SessionBus plainBus(false);
    const SessionBus a11yBus(true);
    if (!plainBus.ok() || !a11yBus.accessible()) {
        std::fprintf(stderr, "startup_bench: cannot start a session bus with the accessibility "
                             "bus (dbus-daemon, at-spi2-core)\n");
        return 1;
    }
    const std::map<std::string, std::string> noBus{{"DBUS_SESSION_BUS_ADDRESS", ""},
                                                   {"AT_SPI_BUS_ADDRESS", ""}};
    const std::map<std::string, std::string> plain{{"DBUS_SESSION_BUS_ADDRESS", plainBus.address()},
                                                   {"AT_SPI_BUS_ADDRESS", ""}};
    const std::map<std::string, std::string> withA11y{
        {"DBUS_SESSION_BUS_ADDRESS", a11yBus.address()}, {"AT_SPI_BUS_ADDRESS", ""}};
    std::vector<Timeline> onPlainBus, onA11yBus;
    long plainPeakKb = 0, a11yPeakKb = 0;
    for (int i = 0; i < runs; ++i) {
        // Taken in turns, so that all meet the same machine.
        if (auto t = watch(x, {MENUTEST_PATH}, noBus, 30, peakKb)) {
            ours.push_back(*t);
        } else {
            std::fprintf(stderr, "run %d: the dialog never appeared painted\n", i);
            return 1;
        }
        auto p = watch(x, {MENUTEST_PATH}, plain, 30, plainPeakKb);
        auto a = watch(x, {MENUTEST_PATH}, withA11y, 30, a11yPeakKb);
        if (!p || !a) {
            std::fprintf(stderr, "run %d: the dialog never appeared painted on a bus\n", i);
            return 1;
        }
        onPlainBus.push_back(*p);
        onA11yBus.push_back(*a);
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
    const double plainTotal = medianOf(onPlainBus, [](T t) { return t.painted; });
    const double a11yTotal = medianOf(onA11yBus, [](T t) { return t.painted; });
    std::printf("start to dialog painted, same runs, by bus (medians):\n");
    std::printf("  no session bus                          %7.1f ms, peak %.1f MB\n", oursTotal,
                static_cast<double>(peakKb) / 1024.0);
    std::printf("  session bus, no accessibility bus       %7.1f ms (%+.1f), peak %.1f MB\n",
                plainTotal, plainTotal - oursTotal, static_cast<double>(plainPeakKb) / 1024.0);
    std::printf("  accessibility bus (bridge loaded)       %7.1f ms (%+.1f), peak %.1f MB\n",
                a11yTotal, a11yTotal - oursTotal, static_cast<double>(a11yPeakKb) / 1024.0);
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
