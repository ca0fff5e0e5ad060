// Shared helpers of the tip tests: the tip window as the X server sees it, where it should be,
// and a fixture that starts every test with no tip worker.
#pragma once

// gtest before Xlib: Xlib's None macro clashes with a gtest type.
#include <gtest/gtest.h>
// (kept apart so that include sorting leaves the order alone)
#include "support/xserver.h"

#include <host/application.h>
#include <host/drawing.h>
#include <host/windows.h>
#include <menutip/ZebMenuTip.h>
#include <menutip/placement.h>

#include <unistd.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include <X11/Xlib.h>

namespace tiptest {

// The override-redirect windows of type tooltip (EWMH) mapped on the root: only tips make those
// in these tests (a window manager's own override-redirect windows are not tooltips).
inline std::vector<Window> tipWindows(const testx::XServer& x) {
    Display* dpy = x.display();
    const Atom type = XInternAtom(dpy, "_NET_WM_WINDOW_TYPE", False);
    const Atom tooltip = XInternAtom(dpy, "_NET_WM_WINDOW_TYPE_TOOLTIP", False);
    std::vector<Window> tips;
    for (Window w : x.mappedTopLevels()) {
        Atom actual = 0;
        int format = 0;
        unsigned long n = 0, after = 0;
        unsigned char* data = nullptr;
        const bool isTooltip = XGetWindowProperty(dpy, w, type, 0, 1, False, AnyPropertyType,
                                                  &actual, &format, &n, &after, &data) == Success &&
                               data && n == 1 && *reinterpret_cast<Atom*>(data) == tooltip;
        if (data) {
            XFree(data);
        }
        if (x.overrideRedirect(w) && isTooltip) {
            tips.push_back(w);
        }
    }
    return tips;
}

inline std::optional<Window> tipWindow(const testx::XServer& x) {
    const auto tips = tipWindows(x);
    return tips.empty() ? std::nullopt : std::optional<Window>(tips.back());
}

// All children of the root, mapped or not: a window left behind counts here.
inline int rootChildren(const testx::XServer& x) {
    Window r = 0, parent = 0;
    Window* kids = nullptr;
    unsigned int n = 0;
    XQueryTree(x.display(), x.root(), &r, &parent, &kids, &n);
    if (kids) {
        XFree(kids);
    }
    return static_cast<int>(n);
}

// Where the tip for `text` shown with the pointer at X11 (px, py) should be, in X11 terms.
inline testx::Geometry expectedTip(const testx::XServer& x, const std::string& text, int px,
                                   int py) {
    auto ps = host::XbpPresSpace::New()->create();
    ps->setFont(host::AppDesktop()->lockPS()->setFont());
    const int h = x.screenHeight();
    // The right edge is the one of the monitor under the pointer.
    const host::Point at{px, h - 1 - py};
    const TipPlacement p =
        PlaceTip(at, host::GraQueryTextBox(ps, text), host::MonitorAt(at).x2 + 1);
    return {p.start.x, h - (p.start.y + p.size.height), p.size.width, p.size.height};
}

// The OS thread id of a thread object's thread: asked on that thread, in a run of its own.
inline int osThreadOf(host::Thread& t) {
    std::atomic<int> tid{0};
    t.start(host::Callback<void()>("{|| gettid()}", [&] { tid = static_cast<int>(gettid()); }));
    t.synchronize(0);
    return tid;
}

class TipFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        dropWorker();
        x.movePointer(700, 400);
    }
    void TearDown() override {
        HideMenuTip_();
        dropWorker();
        EXPECT_TRUE(testx::XServer::waitFor([&] { return tipWindows(x).empty(); },
                                            std::chrono::seconds(2)));
    }
    // Every test starts with oMenuTip NIL, as a fresh process does.
    static void dropWorker() {
        if (const auto worker = menutip_inspect::Inspect().worker) {
            worker->destroy();
            worker->synchronize(0);
        }
    }
    testx::XServer x;
};

} // namespace tiptest
