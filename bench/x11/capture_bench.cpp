// Desktop capture into a BMP file, three ways in one run: the program's own capture (its
// steps as Main runs them), a bare MIT-SHM grab + BMP conversion + one write of the same
// pixels with warm buffers, and `import -window root out.bmp` as a whole process.
#include "core/bmp_file.h"
#include "test.h"

#include <host/application.h>
#include <host/drawing.h>

#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

namespace {

using clock_type = std::chrono::steady_clock;

double medianMs(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::vector<double> timeRuns(int n, const std::function<void()>& run) {
    std::vector<double> ms;
    for (int i = 0; i < n; ++i) {
        const auto t0 = clock_type::now();
        run();
        ms.push_back(std::chrono::duration<double, std::milli>(clock_type::now() - t0).count());
    }
    return ms;
}

// The bare grab: one shared segment and one BMP buffer, reused for every run.
struct BareGrab {
    Display* dpy = XOpenDisplay(nullptr);
    XShmSegmentInfo shm{};
    XImage* img = nullptr;
    std::vector<std::uint8_t> out;
    int w = 0, h = 0;

    BareGrab() {
        w = DisplayWidth(dpy, DefaultScreen(dpy));
        h = DisplayHeight(dpy, DefaultScreen(dpy));
        img = XShmCreateImage(dpy, DefaultVisual(dpy, 0), 24, ZPixmap, nullptr, &shm,
                              static_cast<unsigned>(w), static_cast<unsigned>(h));
        shm.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(img->bytes_per_line) * h,
                           IPC_CREAT | 0600);
        shm.shmaddr = img->data = static_cast<char*>(shmat(shm.shmid, nullptr, 0));
        shmctl(shm.shmid, IPC_RMID, nullptr);
        XShmAttach(dpy, &shm);
        out.resize(host::bmpfile::FileSize(w, h));
    }
    ~BareGrab() {
        XShmDetach(dpy, &shm);
        img->data = nullptr;
        XDestroyImage(img);
        shmdt(shm.shmaddr);
        XCloseDisplay(dpy);
    }
    void run(const char* path) {
        XShmGetImage(dpy, DefaultRootWindow(dpy), img, 0, 0, AllPlanes);
        host::bmpfile::Encode(out.data(), reinterpret_cast<std::uint8_t*>(img->data), w, h,
                              img->bytes_per_line);
        const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const bool ok = ::write(fd, out.data(), out.size()) == static_cast<ssize_t>(out.size());
        ::close(fd);
        if (!ok) {
            std::fprintf(stderr, "bare write failed\n");
        }
    }
};

} // namespace

int main() {
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "capture_bench: needs an X server ($DISPLAY)\n");
        return 2;
    }
    const int runs = 40;
    int code = 0;
    host::Start(
        {.errorSys = host::ErrorSys, .appSys = {}, .appExit = {}, .dbeSys = {}, .main = [&] {
             auto oPS = host::XbpPresSpace::New()->create();
             auto oBG = host::XbpBitmap::New()->create();
             oBG->presSpace(oPS);
             BareGrab bare;
             Test::DeskCapture(oPS, oBG, "/tmp/capture-bench-program.bmp"); // warm up both
             bare.run("/tmp/capture-bench-bare.bmp");
             // Interleave the two so that both see the same machine load.
             std::vector<double> program, grab;
             for (int i = 0; i < runs; ++i) {
                 auto p = timeRuns(
                     1, [&] { Test::DeskCapture(oPS, oBG, "/tmp/capture-bench-program.bmp"); });
                 auto b = timeRuns(1, [&] { bare.run("/tmp/capture-bench-bare.bmp"); });
                 program.push_back(p[0]);
                 grab.push_back(b[0]);
             }
             const auto import = timeRuns(5, [] {
                 if (std::system("import -window root /tmp/capture-bench-import.bmp") != 0) {
                     std::fprintf(stderr, "import failed\n");
                 }
             });
             const double mp = medianMs(program), mb = medianMs(grab), mi = medianMs(import);
             std::printf("screen %dx%d, %d runs each (import: 5)\n", bare.w, bare.h, runs);
             std::printf("program capture (steps 1-7)  median %7.2f ms\n", mp);
             std::printf("bare SHM grab + BMP + write  median %7.2f ms\n", mb);
             std::printf("import -window root out.bmp  median %7.2f ms\n", mi);
             std::printf("program / bare   = %.2f  (bound: at most 1.5)\n", mp / mb);
             std::printf("import / program = %.1f  (bound: at least 5)\n", mi / mp);
             code = (mp / mb <= 1.5 && mi / mp >= 5) ? 0 : 1;
         }});
    for (const char* f : {"/tmp/capture-bench-program.bmp", "/tmp/capture-bench-bare.bmp",
                          "/tmp/capture-bench-import.bmp"}) {
        ::unlink(f);
    }
    return code;
}
