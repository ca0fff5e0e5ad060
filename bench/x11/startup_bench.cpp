// Start-up seen from outside: process start to the dialog created, the first capture written,
// the dialog mapped and painted (beside an empty GTK 3 window where one was built), and each
// run's peak memory, without a session bus, on one, and with an accessibility bus. An argument
// names another build's menutest, measured in the same rounds.
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
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xlib.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Timeline {
    std::optional<double> created, fileOpened, fileWritten, mapped, painted;
    std::optional<double> bridge; // when the screen-reader bridge's library was mapped
};

// How long each run stays up after its paint, the same for every row: the bridge starts once
// the dialog is up, and a run's peak memory should include it where it loads.
constexpr auto kLinger = std::chrono::milliseconds(500);

bool bridgeLoaded(pid_t pid) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    for (std::string line; std::getline(maps, line);) {
        if (line.find("libatk-bridge") != std::string::npos) {
            return true;
        }
    }
    return false;
}

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
    // Resting after the paint; where the bridge loads, when it is mapped (looked at every 5 ms).
    for (const auto rest = Clock::now() + kLinger; t.painted && Clock::now() < rest;) {
        if (!t.bridge && bridgeLoaded(child.pid())) {
            t.bridge = ms(Clock::now() - t0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
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

int main(int argc, char** argv) {
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "startup_bench: needs an X server ($DISPLAY)\n");
        return 2;
    }
    testx::XServer x;
    const char* runsGiven = std::getenv("BENCH_RUNS");
    const int runs = runsGiven ? std::atoi(runsGiven) : 15;
    std::vector<Timeline> ours, gtk; // ours: this build without a bus
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
    // The bus rows, for this build and, when given, another one (a build from before a change),
    // measured in the same rounds.
    struct Row {
        std::string label;
        std::string program;
        const std::map<std::string, std::string>* env;
        std::vector<Timeline> runs;
        long peakKb = 0;
    };
    std::vector<Row> rows;
    std::vector<std::string> programs{MENUTEST_PATH};
    if (argc > 1) {
        programs.emplace_back(argv[1]);
    }
    for (std::size_t p = 0; p < programs.size(); ++p) {
        const std::string build = p == 0 ? "" : " [" + programs[p] + "]";
        rows.push_back({"no session bus" + build, programs[p], &noBus, {}, 0});
        rows.push_back({"session bus, no accessibility bus" + build, programs[p], &plain, {}, 0});
        rows.push_back(
            {"accessibility bus (bridge loaded)" + build, programs[p], &withA11y, {}, 0});
    }
    for (int i = 0; i < runs; ++i) {
        // Taken in turns, each round starting at the next row, so that all meet the same
        // machine and none always follows the same neighbour.
        for (std::size_t k = 0; k < rows.size(); ++k) {
            Row& row = rows[(k + static_cast<std::size_t>(i)) % rows.size()];
            auto t = watch(x, {row.program}, *row.env, 30, row.peakKb);
            if (!t) {
                std::fprintf(stderr, "run %d: the dialog never appeared painted (%s)\n", i,
                             row.label.c_str());
                return 1;
            }
            row.runs.push_back(*t);
        }
#ifdef GTK_EMPTY_PATH
        if (auto t = watch(x, {GTK_EMPTY_PATH}, {{"GDK_GL", "disable"}, {"NO_AT_BRIDGE", "1"}}, 0,
                           gtkPeakKb)) {
            gtk.push_back(*t);
        }
#endif
    }
    ours = rows[0].runs;
    peakKb = rows[0].peakKb;
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
    std::printf("start to dialog painted, same runs, by bus (medians; peak resident memory):\n");
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const double total = medianOf(rows[r].runs, [](T t) { return t.painted; });
        const double base = medianOf(rows[r - r % 3].runs, [](T t) { return t.painted; });
        const auto loaded = std::count_if(rows[r].runs.begin(), rows[r].runs.end(),
                                          [](T t) { return t.bridge.has_value(); });
        std::printf("  %-45s %7.1f ms (%+.1f), peak %.1f MB, bridge in %td of %zu runs",
                    rows[r].label.c_str(), total, total - base,
                    static_cast<double>(rows[r].peakKb) / 1024.0, loaded, rows[r].runs.size());
        if (loaded > 0) {
            std::printf(" (mapped at %.1f ms)",
                        medianOf(rows[r].runs, [](T t) { return t.bridge; }));
        }
        std::printf("\n");
    }
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
