// Menu tip figures on a live X server: the first tip of the process and later ones, from the end
// of the fifth pause to painted; HideMenuTip_ during a pause and with a tip showing; the tip
// gone after the pointer moves 9 pixels; CPU used while one tip shows and the pointer rests.
// Usage: menutip_tip_bench [samples] [xvfb-pid]   (the Xvfb pid is found in /proc if omitted)
#include <host/application.h>
#include <menutip/ZebMenuTip.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

// clang-format off
#include <cairo-xlib.h>
#include <pango/pangocairo.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
// clang-format on

namespace {

using Clock = std::chrono::steady_clock;
using menutip_inspect::Stage;

// Stage times reported by the worker through the probe. The end of the pauses wakes the
// bench's thread only when the observer polls: a wake-up at that moment would compete with the
// worker for the two cores while it paints.
struct Stages {
    std::mutex m;
    std::condition_variable cv;
    std::optional<Clock::time_point> pausesDone;
    std::optional<Clock::time_point> painted;
    bool wakeOnPausesDone = false;
} stages;

void onStage(Stage stage) {
    const auto now = Clock::now();
    std::lock_guard lk(stages.m);
    if (stage == Stage::PausesDone) {
        stages.pausesDone = now;
        if (!stages.wakeOnPausesDone) {
            return;
        }
    } else if (stage == Stage::TipPainted) {
        stages.painted = now;
    }
    stages.cv.notify_all();
}

Display* observer = nullptr;
XErrorHandler runtimeHandler = nullptr;
int observerErrors(Display* d, XErrorEvent* e) {
    return d == observer || !runtimeHandler ? 0 : runtimeHandler(d, e);
}

struct DisplayCloser {
    void operator()(Display* d) const { XCloseDisplay(d); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// The observer's view: a mapped override-redirect window on the root whose frame pixel
// (one pixel inside the top left corner) is red.
bool tipPainted(Display* dpy) {
    Window r = 0, parent = 0;
    Window* kids = nullptr;
    unsigned int n = 0;
    bool painted = false;
    if (!XQueryTree(dpy, DefaultRootWindow(dpy), &r, &parent, &kids, &n)) {
        return false;
    }
    for (unsigned int i = 0; i < n && !painted; ++i) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(dpy, kids[i], &a) || a.map_state != IsViewable ||
            !a.override_redirect) {
            continue;
        }
        XImage* img = XGetImage(dpy, DefaultRootWindow(dpy), a.x + 1, a.y + a.height / 2, 1, 1,
                                AllPlanes, ZPixmap);
        if (img) {
            painted = XGetPixel(img, 0, 0) == 0xff0000;
            XDestroyImage(img);
        }
    }
    if (kids) {
        XFree(kids);
    }
    return painted;
}

bool anyTipMapped(Display* dpy) {
    Window r = 0, parent = 0;
    Window* kids = nullptr;
    unsigned int n = 0;
    bool mapped = false;
    XQueryTree(dpy, DefaultRootWindow(dpy), &r, &parent, &kids, &n);
    for (unsigned int i = 0; i < n; ++i) {
        XWindowAttributes a;
        if (XGetWindowAttributes(dpy, kids[i], &a) && a.map_state == IsViewable &&
            a.override_redirect) {
            mapped = true;
        }
    }
    if (kids) {
        XFree(kids);
    }
    return mapped;
}

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(std::lround(p * static_cast<double>(v.size() - 1)));
    return v[std::min(i, v.size() - 1)];
}

// CPU time (user + system) of a process from /proc/<pid>/stat, in seconds.
std::optional<double> cpuSeconds(const std::string& pid) {
    std::ifstream f("/proc/" + pid + "/stat");
    std::string line;
    if (!std::getline(f, line)) {
        return std::nullopt;
    }
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) {
            utime = std::stod(field);
        } else if (i == 15) {
            stime = std::stod(field);
        }
    }
    return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double selfCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    const auto secs = [](timeval t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return secs(u.ru_utime) + secs(u.ru_stime);
}

// The Xvfb serving $DISPLAY: a process named Xvfb with ":N" among its arguments.
std::string findXvfb() {
    const char* d = std::getenv("DISPLAY");
    const std::string display = d ? d : "";
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        std::ifstream f(e.path() / "cmdline");
        std::string cmd((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        std::vector<std::string> args;
        std::istringstream parts(cmd);
        for (std::string a; std::getline(parts, a, '\0');) {
            args.push_back(a);
        }
        if (!args.empty() && args[0].find("Xvfb") != std::string::npos &&
            std::find(args.begin(), args.end(), display) != args.end()) {
            return e.path().filename().string();
        }
    }
    return {};
}

// The floor under the tip's figure, on the same machine at the same time: an override-redirect
// window with the same text drawn with pango, on a warm connection, mapped, painted, synced.
double bareWindowMs(Display* dpy, const std::string& text) {
    const auto t0 = Clock::now();
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.background_pixel = 0xffffb4;
    const Window w =
        XCreateWindow(dpy, DefaultRootWindow(dpy), 50, 50, 200, 22, 0, CopyFromParent, InputOutput,
                      CopyFromParent, CWOverrideRedirect | CWBackPixel, &attrs);
    XMapRaised(dpy, w);
    cairo_surface_t* surface =
        cairo_xlib_surface_create(dpy, w, DefaultVisual(dpy, DefaultScreen(dpy)), 200, 22);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 0, 0);
    cairo_rectangle(cr, 1.5, 1.5, 197, 19);
    cairo_stroke(cr);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_from_string("Sans 10");
    pango_layout_set_font_description(layout, font);
    pango_layout_set_text(layout, text.c_str(), -1);
    cairo_set_source_rgb(cr, 40 / 255.0, 25 / 255.0, 115 / 255.0);
    cairo_move_to(cr, 3, 2);
    pango_cairo_show_layout(cr, layout);
    cairo_surface_flush(surface);
    XSync(dpy, False);
    const double took = ms(Clock::now() - t0);
    pango_font_description_free(font);
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    XDestroyWindow(dpy, w);
    XSync(dpy, False);
    return took;
}

} // namespace

int main(int argc, char** argv) {
    const int samples = argc > 1 ? std::atoi(argv[1]) : 40;
    const std::string xvfb = argc > 2 ? argv[2] : findXvfb();
    DisplayPtr dpy(XOpenDisplay(nullptr));
    if (!dpy) {
        std::fprintf(stderr, "menutip_tip_bench: no X server at DISPLAY\n");
        return 1;
    }
    menutip_inspect::SetProbe(onStage);
    // The observer looks at windows that the worker may destroy meanwhile: its BadWindow
    // errors are expected. The runtime's handler (installed with its first connection) still
    // gets every other error.
    host::GetPointerPos();
    runtimeHandler = XSetErrorHandler(observerErrors);
    observer = dpy.get();

    std::vector<double> workerView;   // end of 5th pause -> unlockPS's XSync returned
    std::vector<double> observerView; // end of 5th pause -> an observer sees the red frame
    std::vector<double> hideTimes;    // HideMenuTip_ call -> return, window gone
    int hideLeftWindow = 0;
    int notPainted = 0;
    // Two rounds: in the first the observer keeps off the server until the worker says the
    // tip is painted (its polling would queue the worker's requests behind its own), then
    // checks the frame once; in the second it polls the server as fast as it answers.
    for (int i = 0; i < 2 * samples; ++i) {
        const bool observe = i >= samples;
        XWarpPointer(dpy.get(), None, DefaultRootWindow(dpy.get()), 0, 0, 0, 0, 300 + 13 * i,
                     300 + 7 * i);
        XSync(dpy.get(), False);
        {
            std::lock_guard lk(stages.m);
            stages.pausesDone.reset();
            stages.painted.reset();
            stages.wakeOnPausesDone = observe;
        }
        ShowMenuTip_("Benchmark tip number " + std::to_string(i));
        if (observe) {
            Clock::time_point t0;
            {
                std::unique_lock lk(stages.m);
                stages.cv.wait(lk, [] { return stages.pausesDone.has_value(); });
                t0 = *stages.pausesDone;
            }
            // Poll the server as fast as it answers: each poll is itself a round trip, which
            // bounds the error of this figure (a sleep here would only blur it).
            const auto limit = t0 + std::chrono::seconds(2);
            while (!tipPainted(dpy.get()) && Clock::now() < limit) {
            }
            observerView.push_back(ms(Clock::now() - t0));
        }
        {
            std::unique_lock lk(stages.m);
            stages.cv.wait(lk, [] { return stages.painted.has_value(); });
            if (!observe) {
                workerView.push_back(ms(*stages.painted - *stages.pausesDone));
            }
        }
        notPainted += tipPainted(dpy.get()) ? 0 : 1;
        const auto h0 = Clock::now();
        HideMenuTip_();
        hideTimes.push_back(ms(Clock::now() - h0));
        hideLeftWindow += anyTipMapped(dpy.get()) ? 1 : 0;
    }

    std::printf("samples: %d; the worker learns of pointer motion by %s\n", samples,
                host::PointerWaitMethod().c_str());
    std::printf("first tip of the process: end of 5th pause -> painted: worker %.3f ms\n",
                workerView.front());
    const auto rest = [](const std::vector<double>& v) {
        return std::vector<double>(v.begin() + 1, v.end());
    };
    std::printf("later tips, end of 5th pause -> painted (worker, XSync returned): "
                "median %.3f ms, p99 %.3f ms, min %.3f ms, max %.3f ms\n",
                percentile(rest(workerView), 0.5), percentile(rest(workerView), 0.99),
                percentile(rest(workerView), 0.0), percentile(rest(workerView), 1.0));
    std::printf("tips whose frame an observer did not find painted once the worker said so: "
                "%d of %d\n",
                notPainted, 2 * samples);
    std::vector<double> bare;
    for (int i = 0; i < samples + 1; ++i) {
        for (int pause = 0; pause < 5; ++pause) {
            usleep(100000); // as the tip's five pauses: the figure includes waking up
        }
        bare.push_back(bareWindowMs(dpy.get(), "Benchmark tip number " + std::to_string(i)));
    }
    std::printf("for comparison, a bare override-redirect window with the same text (warm "
                "connection, after five sleeps of 0.1 s): "
                "median %.3f ms, min %.3f ms\n",
                percentile(rest(bare), 0.5), percentile(rest(bare), 0.0));
    std::vector<double> bareBackToBack;
    for (int i = 0; i < samples + 1; ++i) {
        bareBackToBack.push_back(
            bareWindowMs(dpy.get(), "Benchmark tip number " + std::to_string(i)));
    }
    std::printf("the same bare window made back to back, with no sleep before: median %.3f ms\n",
                percentile(rest(bareBackToBack), 0.5));
    std::printf("later tips, end of 5th pause -> red frame seen by an observer polling the "
                "server: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                percentile(observerView, 0.5), percentile(observerView, 0.99),
                percentile(observerView, 1.0));
    std::printf("HideMenuTip_ with a tip showing: median %.3f ms, p99 %.3f ms; "
                "window still mapped after return: %d of %d\n",
                percentile(hideTimes, 0.5), percentile(hideTimes, 0.99), hideLeftWindow,
                2 * samples);

    // HideMenuTip_ while the worker is in one of its pauses (it used to wait out the pause).
    std::vector<double> hidePause;
    for (int i = 0; i < samples; ++i) {
        ShowMenuTip_("Hidden during a pause");
        usleep(static_cast<useconds_t>(30000 + 7000 * (i % 10)));
        const auto h0 = Clock::now();
        HideMenuTip_();
        hidePause.push_back(ms(Clock::now() - h0));
    }
    std::printf("HideMenuTip_ during the pauses: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                percentile(hidePause, 0.5), percentile(hidePause, 0.99),
                percentile(hidePause, 1.0));

    // The pointer moves 9 pixels (XTest, as a mouse would): from the server having the move
    // to an observer seeing no tip mapped.
    std::vector<double> gone;
    for (int i = 0; i < samples; ++i) {
        const int px = 400 + 11 * i, py = 500;
        XTestFakeMotionEvent(dpy.get(), DefaultScreen(dpy.get()), px, py, CurrentTime);
        XSync(dpy.get(), False);
        ShowMenuTip_("Moved away from");
        while (!anyTipMapped(dpy.get())) {
            usleep(1000);
        }
        usleep(20000); // the worker is waiting for the pointer now
        XTestFakeMotionEvent(dpy.get(), DefaultScreen(dpy.get()), px + 9, py, CurrentTime);
        XSync(dpy.get(), False);
        const auto m0 = Clock::now();
        const auto limit = m0 + std::chrono::seconds(2);
        while (anyTipMapped(dpy.get()) && Clock::now() < limit) {
        }
        gone.push_back(ms(Clock::now() - m0));
        HideMenuTip_();
    }
    std::printf("pointer moved 9 px -> tip gone (observer): median %.3f ms, p99 %.3f ms, "
                "max %.3f ms\n",
                percentile(gone, 0.5), percentile(gone, 0.99), percentile(gone, 1.0));

    // For comparison: the same 5 s with no tip showing (the worker thread idle).
    {
        const double idle0 = selfCpuSeconds();
        const auto xi0 = xvfb.empty() ? std::nullopt : cpuSeconds(xvfb);
        const auto wi0 = Clock::now();
        sleep(5);
        const double idleWall = std::chrono::duration<double>(Clock::now() - wi0).count();
        const auto xi1 = xvfb.empty() ? std::nullopt : cpuSeconds(xvfb);
        std::printf("CPU with no tip for %.2f s: program %.2f%% of one core", idleWall,
                    100.0 * (selfCpuSeconds() - idle0) / idleWall);
        if (xi0 && xi1) {
            std::printf(", X server %.2f%%\n", 100.0 * (*xi1 - *xi0) / idleWall);
        } else {
            std::printf("\n");
        }
    }

    // CPU while one tip shows for 10 s (the pointer stays put).
    ShowMenuTip_("CPU measurement tip");
    while (!anyTipMapped(dpy.get())) {
        usleep(2000);
    }
    const double self0 = selfCpuSeconds();
    const auto x0 = xvfb.empty() ? std::nullopt : cpuSeconds(xvfb);
    const auto w0 = Clock::now();
    sleep(10);
    const double wall = std::chrono::duration<double>(Clock::now() - w0).count();
    const double self1 = selfCpuSeconds();
    const auto x1 = xvfb.empty() ? std::nullopt : cpuSeconds(xvfb);
    HideMenuTip_();
    std::printf("CPU while one tip shows for %.2f s: program %.2f%% of one core", wall,
                100.0 * (self1 - self0) / wall);
    if (x0 && x1) {
        std::printf(", X server (pid %s) %.2f%%\n", xvfb.c_str(), 100.0 * (*x1 - *x0) / wall);
    } else {
        std::printf(", X server: not found\n");
    }
    menutip_inspect::SetProbe(nullptr);
    return 0;
}
