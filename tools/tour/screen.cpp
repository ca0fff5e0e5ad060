// Starting and stopping a private Xvfb, and pictures of the screen (the root, or the compositor's
// on Wayland) saved through cairo.
#include "screen.h"

#include <cairo.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <stdexcept>

// clang-format off
#include <X11/Xlib.h> // last: its macros (None, Status) break other headers
#include <X11/Xutil.h>
// clang-format on

namespace tour {

namespace {

struct DisplayCloser {
    void operator()(Display* d) const noexcept { XCloseDisplay(d); }
};
struct SurfaceDestroyer {
    void operator()(cairo_surface_t* s) const noexcept { cairo_surface_destroy(s); }
};

// A pipe's two ends, each closed when no longer needed.
class Pipe {
  public:
    Pipe() {
        if (::pipe2(fds_, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    int readEnd() const { return fds_[0]; }
    int writeEnd() const { return fds_[1]; }
    void closeRead() { closeFd(fds_[0]); }
    void closeWrite() { closeFd(fds_[1]); }

  private:
    static void closeFd(int& fd) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
    int fds_[2] = {-1, -1};
};

// Reads one line from `fd`, waiting at most `limitMs` in all; empty when none came.
std::string readLine(int fd, int limitMs) {
    std::string line;
    const int stepMs = 50;
    for (int waited = 0; waited < limitMs;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, stepMs);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready <= 0) {
            waited += stepMs;
            continue;
        }
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n <= 0) {
            break; // the server ended before it wrote its number
        }
        if (c == '\n') {
            return line;
        }
        line += c;
    }
    return {};
}

} // namespace

bool displayAnswers() {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) {
        return false;
    }
    const std::unique_ptr<Display, DisplayCloser> d(XOpenDisplay(name));
    return d != nullptr;
}

PrivateXvfb::PrivateXvfb() {
    Pipe pipe;
    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        // The server writes its display number to fd 3, then keeps running.
        if (pipe.writeEnd() == 3) {
            ::fcntl(3, F_SETFD, 0); // dup2 onto itself would keep close-on-exec
        } else {
            ::dup2(pipe.writeEnd(), 3);
        }
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1920x1080x24", "-nolisten",
                 "tcp", "-noreset", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    pipe.closeWrite();
    // The whole line, newline included, before the pipe closes: a server that writes into a
    // closed pipe dies of SIGPIPE.
    const std::string number = readLine(pipe.readEnd(), 10000);
    if (number.empty()) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        throw std::runtime_error("Xvfb did not start (is it installed?)");
    }
    name_ = ":" + number;
    ::setenv("DISPLAY", name_.c_str(), 1);
}

PrivateXvfb::~PrivateXvfb() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

Image Image::grab(const testx::XServer& x, testx::Geometry area) {
    // From the root, or from the compositor on a Wayland session, where the root holds none.
    Image img;
    img.area_ = area;
    img.pixels_ = x.picture(area);
    if (img.pixels_.empty()) {
        img.pixels_.assign(static_cast<std::size_t>(std::max(0, area.width)) *
                               static_cast<std::size_t>(std::max(0, area.height)),
                           0);
    }
    return img;
}

Image Image::of(testx::Geometry area, const std::function<testx::Pixel(int, int)>& pixel) {
    Image img;
    img.area_ = area;
    img.pixels_.reserve(static_cast<std::size_t>(area.width) *
                        static_cast<std::size_t>(area.height));
    for (int yy = 0; yy < area.height; ++yy) {
        for (int xx = 0; xx < area.width; ++xx) {
            const testx::Pixel p = pixel(area.x + xx, area.y + yy);
            img.pixels_.push_back(static_cast<std::uint32_t>(p.r << 16 | p.g << 8 | p.b));
        }
    }
    return img;
}

testx::Pixel Image::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= area_.width || y >= area_.height) {
        return {-1, -1, -1};
    }
    const std::uint32_t v =
        pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(area_.width) +
                static_cast<std::size_t>(x)];
    return {static_cast<int>((v >> 16) & 0xff), static_cast<int>((v >> 8) & 0xff),
            static_cast<int>(v & 0xff)};
}

bool Image::savePng(const std::string& path) const {
    if (pixels_.empty()) {
        return false;
    }
    // cairo's RGB24 rows may be padded; copy row by row into a surface of its own.
    const std::unique_ptr<cairo_surface_t, SurfaceDestroyer> s(
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, area_.width, area_.height));
    if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS) {
        return false;
    }
    cairo_surface_flush(s.get());
    unsigned char* data = cairo_image_surface_get_data(s.get());
    const int stride = cairo_image_surface_get_stride(s.get());
    for (int y = 0; y < area_.height; ++y) {
        std::copy_n(
            pixels_.begin() + static_cast<std::ptrdiff_t>(y) * area_.width, area_.width,
            reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride));
    }
    cairo_surface_mark_dirty(s.get());
    return cairo_surface_write_to_png(s.get(), path.c_str()) == CAIRO_STATUS_SUCCESS;
}

testx::Geometry around(testx::Geometry g, int margin, int screenWidth, int screenHeight) {
    const int x1 = std::max(0, g.x - margin);
    const int y1 = std::max(0, g.y - margin);
    const int x2 = std::min(screenWidth, g.x + g.width + margin);
    const int y2 = std::min(screenHeight, g.y + g.height + margin);
    return {x1, y1, std::max(0, x2 - x1), std::max(0, y2 - y1)};
}

} // namespace tour
