// The real window library (libuser32.so beside this executable) on the X server: what the
// desktop repaint exposes, and how the library answers bad handles and a missing display.
#include "support/xserver.h"

#include <host/dll.h>
#include <invalidate/invalidate.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>
#include <utility>

// clang-format off
#include <X11/Xlib.h> // last: its macros (None, Status) break other headers
// clang-format on

namespace {

// Bounding box of the Expose events a window received.
struct Exposed {
    int x1 = INT_MAX;
    int y1 = INT_MAX;
    int x2 = INT_MIN;
    int y2 = INT_MIN;
    int events = 0;
    void add(const XExposeEvent& e) {
        x1 = std::min(x1, e.x);
        y1 = std::min(y1, e.y);
        x2 = std::max(x2, e.x + e.width);
        y2 = std::max(y2, e.y + e.height);
        ++events;
    }
};

class DesktopRepaint : public ::testing::Test {
  protected:
    void SetUp() override {
        d_ = x_.display();
        XSelectInput(d_, x_.root(), ExposureMask);
        cover_ = window(200, 200, 300, 200);
        elsewhere_ = window(900, 600, 100, 100);
        drain();
    }
    void TearDown() override {
        XDestroyWindow(d_, cover_);
        XDestroyWindow(d_, elsewhere_);
        XSelectInput(d_, x_.root(), NoEventMask);
        XSync(d_, False);
    }

    Window window(int x, int y, int w, int h) {
        XSetWindowAttributes a{};
        a.override_redirect = True;
        a.background_pixel = WhitePixel(d_, DefaultScreen(d_));
        a.event_mask = ExposureMask;
        const Window win =
            XCreateWindow(d_, x_.root(), x, y, static_cast<unsigned>(w), static_cast<unsigned>(h),
                          0, CopyFromParent, InputOutput, CopyFromParent,
                          CWOverrideRedirect | CWBackPixel | CWEventMask, &a);
        XMapWindow(d_, win);
        testx::XServer::waitFor([&] { return drain().contains(win); },
                                std::chrono::milliseconds(2000));
        return win;
    }

    // Everything exposed since the last call, by window.
    std::map<Window, Exposed> drain() {
        XSync(d_, False);
        while (XPending(d_) > 0) {
            XEvent e;
            XNextEvent(d_, &e);
            if (e.type == Expose) {
                seen_[e.xexpose.window].add(e.xexpose);
            }
        }
        return std::exchange(seen_, {});
    }

    static host::DllPrepared fn(const char* name) {
        return host::DllPrepareCall(host::DllLoad("user32.dll"), host::DLL_STDCALL, name);
    }
    static std::string rect(int l, int t, int r, int b) {
        return host::L2Bin(l) + host::L2Bin(t) + host::L2Bin(r) + host::L2Bin(b);
    }

    testx::XServer x_;
    Display* d_ = nullptr;
    Window cover_ = 0;
    Window elsewhere_ = 0;
    std::map<Window, Exposed> seen_;
};

void expectExposed(const std::map<Window, Exposed>& seen, Window w, int x1, int y1, int x2,
                   int y2) {
    const auto found = seen.find(w);
    ASSERT_NE(found, seen.end()) << "no Expose for window " << w;
    EXPECT_EQ(found->second.x1, x1);
    EXPECT_EQ(found->second.y1, y1);
    EXPECT_EQ(found->second.x2, x2);
    EXPECT_EQ(found->second.y2, y2);
}

} // namespace

TEST_F(DesktopRepaint, RepaintExposesTheWindowOverTheRectangleOnly) {
    // Root rectangle (250,260)-(350,330): left, top, bottom, right.
    EXPECT_TRUE(Invalidate::ApiInvalidateRect_(std::nullopt, 250, 260, 330, 350));
    const auto seen = drain();
    expectExposed(seen, cover_, 50, 60, 150, 130); // in the window's own coordinates
    EXPECT_EQ(seen.count(elsewhere_), 0U);
}

TEST_F(DesktopRepaint, RepaintExposesTheBareDesktop) {
    EXPECT_TRUE(Invalidate::ApiInvalidateRect_(std::nullopt, 600, 100, 150, 700));
    const auto seen = drain();
    expectExposed(seen, x_.root(), 600, 100, 700, 150);
    EXPECT_EQ(seen.count(cover_), 0U);
    EXPECT_EQ(seen.count(elsewhere_), 0U);
}

TEST_F(DesktopRepaint, WindowFlagsAndValidationDecideWhatIsExposed) {
    const auto desktop = host::DllExecuteCall(fn("GetDesktopWindow"));
    ASSERT_EQ(static_cast<Window>(desktop), x_.root());
    const auto redraw = fn("RedrawWindow");
    const auto invalidate = fn("InvalidateRect");
    const auto update = fn("UpdateWindow");
    const std::string overCover = rect(250, 260, 350, 330);

    // The desktop alone: the window over the rectangle is left untouched.
    EXPECT_EQ(host::DllExecuteCall(redraw, desktop, overCover, 0, 0x1 | 0x40 | 0x100), 1);
    EXPECT_EQ(drain().count(cover_), 0U);

    // Validated before the update: nothing is exposed.
    EXPECT_EQ(host::DllExecuteCall(invalidate, desktop, overCover, 1), 1);
    EXPECT_EQ(host::DllExecuteCall(redraw, desktop, overCover, 0, 0x8), 1);
    EXPECT_EQ(host::DllExecuteCall(update, desktop), 1);
    EXPECT_TRUE(drain().empty());

    // A child window's own coordinates.
    EXPECT_EQ(host::DllExecuteCall(invalidate, static_cast<long long>(cover_), rect(5, 6, 7, 8), 1),
              1);
    EXPECT_EQ(host::DllExecuteCall(update, static_cast<long long>(cover_)), 1);
    expectExposed(drain(), cover_, 5, 6, 7, 8);

    // Rectangles past the screen's edge are cut to it; empty ones expose nothing.
    EXPECT_EQ(host::DllExecuteCall(redraw, desktop, rect(INT_MIN, INT_MIN, 10, 10), 0, 0x101), 1);
    expectExposed(drain(), x_.root(), 0, 0, 10, 10);
    EXPECT_EQ(host::DllExecuteCall(redraw, desktop, rect(50, 50, 40, 60), 0, 0x101), 1);
    EXPECT_TRUE(drain().empty());
}

TEST_F(DesktopRepaint, UnknownWindowsRegionsAndContradictoryFlagsFail) {
    const auto redraw = fn("RedrawWindow");
    const auto invalidate = fn("InvalidateRect");
    const auto update = fn("UpdateWindow");
    const std::string r = rect(0, 0, 10, 10);
    const long long desktop = host::DllExecuteCall(fn("GetDesktopWindow"));
    for (const long long bad : {0x7ffffff0LL, -5LL}) {
        EXPECT_EQ(host::DllExecuteCall(invalidate, bad, r, 1), 0);
        EXPECT_EQ(host::DllExecuteCall(update, bad), 0);
        EXPECT_EQ(host::DllExecuteCall(redraw, bad, r, 0, 0x101), 0);
    }
    EXPECT_EQ(host::DllExecuteCall(update, 0), 0);
    EXPECT_EQ(host::DllExecuteCall(redraw, desktop, r, 77, 0x101), 0);    // no such region
    EXPECT_EQ(host::DllExecuteCall(redraw, desktop, r, 0, 0x1 | 0x8), 0); // both at once
    EXPECT_TRUE(drain().empty());
}

TEST(WindowLibraryWithoutDisplay, EveryFunctionFails) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            unsetenv("DISPLAY");
            const long long h = host::DllLoad("user32.dll");
            const auto call = [h](const char* name) {
                return host::DllPrepareCall(h, host::DLL_STDCALL, name);
            };
            const std::string r = host::L2Bin(0) + host::L2Bin(0) + host::L2Bin(9) + host::L2Bin(9);
            const bool allFail = host::DllExecuteCall(call("GetDesktopWindow")) == 0 &&
                                 host::DllExecuteCall(call("InvalidateRect"), 1, r, 1) == 0 &&
                                 host::DllExecuteCall(call("UpdateWindow"), 1) == 0 &&
                                 host::DllExecuteCall(call("RedrawWindow"), 1, r, 0, 0x101) == 0 &&
                                 !Invalidate::ApiInvalidateRect_(std::nullopt, 0, 0, 9, 9);
            std::exit(allFail ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
