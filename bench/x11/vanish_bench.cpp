// How long destroying the dialog waits until it is off the screen (frame down, compositor
// repainted), per desktop: a bare Xvfb, openbox, and openbox with picom, each on a private
// Xvfb started here. After each destroy the screen is read back where the frame stood and
// pixels of the dialog's colour are counted: there must be none.
//   vanish_bench            all three desktops, 10 runs each
//   vanish_bench --here N   N runs on $DISPLAY, whatever desktop it has
#include <host/application.h>
#include <host/windows.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr host::Color kDialogColor = 0x06bee1;

bool isDialogColor(unsigned long v) {
    const int r = static_cast<int>((v >> 16) & 0xff), g = static_cast<int>((v >> 8) & 0xff),
              b = static_cast<int>(v & 0xff);
    return std::abs(r - 0x06) <= 6 && std::abs(g - 0xbe) <= 6 && std::abs(b - 0xe1) <= 6;
}

// Pixels of the dialog's colour in the rectangle, read from the screen (what a compositor shows).
int dialogPixels(Display* dpy, int x, int y, int w, int h) {
    const int sw = DisplayWidth(dpy, DefaultScreen(dpy)),
              sh = DisplayHeight(dpy, DefaultScreen(dpy));
    x = std::max(0, x);
    y = std::max(0, y);
    w = std::min(w, sw - x);
    h = std::min(h, sh - y);
    XImage* img = XGetImage(dpy, DefaultRootWindow(dpy), x, y, static_cast<unsigned>(w),
                            static_cast<unsigned>(h), AllPlanes, ZPixmap);
    int n = 0;
    for (int row = 0; img && row < h; row += 2) {
        for (int col = 0; col < w; col += 2) {
            n += isDialogColor(XGetPixel(img, col, row)) ? 1 : 0;
        }
    }
    if (img) {
        XDestroyImage(img);
    }
    return n;
}

int measureHere(int runs) {
    Display* probe = XOpenDisplay(nullptr);
    if (!probe) {
        std::fprintf(stderr, "vanish_bench: no X server at $DISPLAY\n");
        return 2;
    }
    std::vector<double> waits;
    int traces = 0;
    host::Start(
        {.errorSys = host::ErrorSys, .appSys = {}, .appExit = {}, .dbeSys = {}, .main = [&] {
             for (int i = 0; i < runs; ++i) {
                 auto dlg = host::XbpDialog::New(host::AppDesktop(), nullptr, host::Nil,
                                                 host::Size{800, 600},
                                                 {{host::pp::Background, kDialogColor}}, false);
                 dlg->title("vanish bench");
                 dlg->create();
                 host::CenterControl(dlg);
                 dlg->show();
                 const host::Point at = dlg->currentPos();
                 const int height = host::AppDesktop()->currentSize().height;
                 // Device rectangle of the client, with room for any frame around it.
                 const int x = at.x - 30, y = height - (at.y + 600) - 40;
                 const int w = 860, h = 680;
                 const auto shownBy = Clock::now() + std::chrono::seconds(2);
                 while (dialogPixels(probe, x, y, w, h) < 1000 && Clock::now() < shownBy) {
                     std::this_thread::sleep_for(std::chrono::milliseconds(5));
                 }
                 std::this_thread::sleep_for(std::chrono::milliseconds(100));
                 const auto t0 = Clock::now();
                 dlg->destroy();
                 waits.push_back(
                     std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
                 traces += dialogPixels(probe, x, y, w, h) > 0 ? 1 : 0;
             }
         }});
    XCloseDisplay(probe);
    std::sort(waits.begin(), waits.end());
    std::printf("  destroy until off the screen: median %6.1f ms, min %6.1f, max %6.1f (%d runs); "
                "runs leaving a trace: %d\n",
                waits[waits.size() / 2], waits.front(), waits.back(), runs, traces);
    return traces == 0 ? 0 : 1;
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& display, int outFd = -1) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!display.empty()) {
            ::setenv("DISPLAY", display.c_str(), 1);
        }
        if (outFd >= 0) {
            ::dup2(outFd, 3);
        }
        if (argv[0] != "self") {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        if (argv[0] == "self") {
            args[0] = const_cast<char*>("/proc/self/exe");
        }
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

void stop(pid_t pid) {
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
}

bool waitUntil(const std::string& display, bool wantWm, bool wantCm) {
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < end) {
        if (Display* d = XOpenDisplay(display.c_str())) {
            bool ok = true;
            if (wantWm) {
                Atom type = 0;
                int format = 0;
                unsigned long n = 0, after = 0;
                unsigned char* data = nullptr;
                XGetWindowProperty(d, DefaultRootWindow(d),
                                   XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False), 0, 1, False,
                                   AnyPropertyType, &type, &format, &n, &after, &data);
                ok = ok && n == 1;
                if (data) {
                    XFree(data);
                }
            }
            if (wantCm) {
                ok = ok && XGetSelectionOwner(d, XInternAtom(d, "_NET_WM_CM_S0", False)) != None;
            }
            XCloseDisplay(d);
            if (ok) {
                std::this_thread::sleep_for(std::chrono::milliseconds(300)); // settled
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "--here") {
        return measureHere(argc >= 3 ? std::max(1, std::atoi(argv[2])) : 10);
    }
    struct Desktop {
        const char* name;
        bool wm;
        bool cm;
    };
    int code = 0;
    for (const Desktop& desk : {Desktop{"bare Xvfb", false, false}, Desktop{"openbox", true, false},
                                Desktop{"openbox + picom", true, true}}) {
        int fds[2];
        if (::pipe(fds) != 0) {
            return 2;
        }
        const pid_t server =
            spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1920x1080x24", "-nolisten", "tcp"},
                  "", fds[1]);
        ::close(fds[1]);
        std::string number;
        char c = 0;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') {
            number += c;
        }
        ::close(fds[0]);
        const std::string display = ":" + number;
        const pid_t wm = desk.wm ? spawn({"openbox"}, display) : -1;
        const pid_t cm = desk.cm ? spawn({"picom"}, display) : -1;
        std::printf("%s (%s):\n", desk.name, display.c_str());
        std::fflush(stdout);
        if (number.empty() || !waitUntil(display, desk.wm, desk.cm)) {
            std::printf("  could not start this desktop\n");
            code = 2;
        } else {
            const pid_t run = spawn({"self", "--here", "10"}, display);
            int status = 0;
            ::waitpid(run, &status, 0);
            code = std::max(code, WIFEXITED(status) ? WEXITSTATUS(status) : 2);
        }
        stop(cm);
        stop(wm);
        stop(server);
    }
    return code;
}
