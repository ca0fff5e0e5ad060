// Dialogs on a real X server: what the server shows for them, read back from the server.
#include "fixture.h"

#include <host/drawing.h>
#include <host/error.h>

#include <utility>

#include <X11/extensions/Xrandr.h>

using namespace host;
using hosttest::PumpUntil;
using hosttest::RunAsMain;

namespace {

std::shared_ptr<XbpDialog> makeDialog(const std::string& title, Size size) {
    auto dlg = XbpDialog::New(AppDesktop(), nullptr, Nil, size,
                              {{pp::Background, GraMakeRGBColor({255, 255, 255})}}, false);
    dlg->title(title);
    dlg->create();
    return dlg;
}

} // namespace

TEST(Dialog, CentredManagedWindowWithTitleAndSize) {
    testx::XServer x;
    RunAsMain([&] {
        auto dlg = makeDialog("Centred dialog", {800, 600});
        EXPECT_FALSE(x.findMapped("Centred dialog")) << "created hidden";
        CenterControl(dlg);
        dlg->show();
        auto w = x.findMapped("Centred dialog");
        ASSERT_TRUE(w);
        const testx::Geometry g = x.geometry(*w);
        // No window manager runs here, so the placement is exact: centred on the monitor
        // under the pointer (the whole screen on a single-monitor server).
        const Rect m = MonitorAt(GetPointerPos());
        const int left = m.x1 + (m.width() - 800) / 2;
        const int top = (x.screenHeight() - 1 - m.y2) + (m.height() - 600) / 2;
        EXPECT_EQ(g.width, 800);
        EXPECT_EQ(g.height, 600);
        EXPECT_EQ(g.x, left);
        EXPECT_EQ(g.y, top);
        EXPECT_FALSE(x.overrideRedirect(*w));
        EXPECT_EQ(dlg->currentPos(), (Point{left, x.screenHeight() - top - 600}));
        dlg->destroy();
        EXPECT_FALSE(x.findMapped("Centred dialog"));
    });
}

TEST(Dialog, MenuBarStripSitsAboveTheDrawingArea) {
    testx::XServer x;
    RunAsMain([&] {
        auto dlg = makeDialog("Strip", {640, 480});
        auto area = dlg->drawingArea();
        ASSERT_TRUE(area);
        EXPECT_EQ(area->currentSize(), (Size{640, 480})) << "no bar: the area fills the dialog";
        auto bar = dlg->menuBar();
        EXPECT_EQ(bar, dlg->menuBar()) << "one bar per dialog";
        const Size withBar = area->currentSize();
        EXPECT_EQ(withBar.width, 640);
        EXPECT_GT(withBar.height, 480 - 40);
        EXPECT_LT(withBar.height, 480 - 12);
        dlg->show();
        auto w = x.findMapped("Strip");
        ASSERT_TRUE(w);
        auto kids = x.mappedChildren(*w);
        ASSERT_EQ(kids.size(), 2u);
        // The strip's bottom edge meets the area's top edge.
        testx::Geometry a = x.geometry(kids[0]), b = x.geometry(kids[1]);
        if (a.y > b.y) {
            std::swap(a, b);
        }
        EXPECT_EQ(a.y + a.height, b.y);
        EXPECT_EQ(b.height, withBar.height);
        bar->destroy();
        dlg->destroy();
    });
}

TEST(Dialog, UndecoratedOnTopDialogIsATipWindow) {
    testx::XServer x;
    RunAsMain([&] {
        auto tip = XbpDialog::New(AppDesktop(), nullptr, Point{100, 60}, Size{128, 22},
                                  {{pp::Background, GraMakeRGBColor({255, 255, 180})}}, true);
        tip->border(1);
        tip->titlebar(false);
        tip->alwaysOnTop(true);
        tip->create();
        // `create` returns with the window on screen, at the host position (lower left corner).
        std::optional<testx::Window> found;
        for (auto w : x.mappedTopLevels()) {
            const auto g = x.geometry(w);
            if (g.width == 128 && g.height == 22) {
                found = w;
            }
        }
        ASSERT_TRUE(found);
        EXPECT_TRUE(x.overrideRedirect(*found));
        const auto g = x.geometry(*found);
        EXPECT_EQ(g.x, 100);
        EXPECT_EQ(g.y, x.screenHeight() - 60 - 22);
        EXPECT_EQ(tip->drawingArea()->currentSize(), (Size{128, 22}));
        EXPECT_TRUE(testx::near(x.pixel(g.x + 5, g.y + 5), 255, 255, 180, 0))
            << str(x.pixel(g.x + 5, g.y + 5));
        tip->destroy();
        EXPECT_EQ(x.mappedTopLevels().size(), 0u);
    });
}

TEST(Dialog, AppWindowAndFocusReturnThePreviousHolderIncludingNil) {
    testx::XServer x;
    RunAsMain([&] {
        auto dlg = makeDialog("Focus", {300, 200});
        dlg->show();
        EXPECT_EQ(SetAppWindow(dlg), nullptr);
        EXPECT_EQ(SetAppWindow(nullptr), dlg);
        EXPECT_EQ(SetAppWindow(nullptr), nullptr);
        EXPECT_EQ(SetAppFocus(dlg->drawingArea()), nullptr);
        EXPECT_EQ(SetAppFocus(nullptr), dlg->drawingArea());
        EXPECT_EQ(SetAppFocus(nullptr), nullptr);
        dlg->destroy();
    });
}

TEST(Dialog, MisuseRaisesTheRuntimeError) {
    testx::XServer x;
    RunAsMain([&] {
        EXPECT_THROW(XbpDialog::New(AppDesktop(), nullptr, Nil, Size{0, 10}), Error);
        auto dlg = XbpDialog::New(AppDesktop(), nullptr, Nil, Size{10, 10}, {}, false);
        EXPECT_THROW(dlg->show(), Error) << "not created yet";
        dlg->create();
        EXPECT_THROW(dlg->create(), Error);
        dlg->destroy();
        EXPECT_THROW(dlg->lockPS(), Error);
        EXPECT_THROW(CenterControl(nullptr), Error);
    });
}

// Every point of the desktop lies on the monitor MonitorAt gives for it, and that monitor lies
// within the desktop (on two monitors: each half answers with its own, never the other).
TEST(Desktop, EveryPointLiesOnTheMonitorGivenForIt) {
    testx::XServer x;
    RunAsMain([&] {
        const Size desk = AppDesktop()->currentSize();
        const Rect whole{0, 0, desk.width - 1, desk.height - 1};
        for (int px = 0; px < desk.width; px += desk.width / 16) {
            for (int py : {0, desk.height / 2, desk.height - 1}) {
                const Rect m = MonitorAt({px, py});
                EXPECT_TRUE(m.contains({px, py}))
                    << px << "," << py << ": " << m.x1 << ".." << m.x2;
                EXPECT_TRUE(whole.contains({m.x1, m.y1}) && whole.contains({m.x2, m.y2}))
                    << m.x1 << "," << m.y1 << " " << m.x2 << "," << m.y2;
            }
        }
        const Rect last = MonitorAt({desk.width - 1, 0});
        EXPECT_EQ(last.x2, desk.width - 1) << "the rightmost monitor ends at the desktop's edge";
    });
}

// The runtime keeps what it learnt of the monitors; another client splitting the screen into
// two monitors (RandR 1.5), and joining it again, must reach it.
TEST(Desktop, MonitorsFollowAChangeMadeWhileTheProgramRuns) {
    testx::XServer x;
    Display* dpy = x.display();
    int major = 0, minor = 0;
    if (!XRRQueryVersion(dpy, &major, &minor) || (major == 1 && minor < 5) ||
        x.monitors().size() != 1) {
        GTEST_SKIP() << "needs RandR 1.5 and a single monitor";
    }
    const int w = x.screenWidth(), h = x.screenHeight();
    const Atom left = XInternAtom(dpy, "MENUTIP-TEST-LEFT", False);
    const Atom right = XInternAtom(dpy, "MENUTIP-TEST-RIGHT", False);
    bool isSplit = false;
    const auto split = [&](bool on) {
        if (on == isSplit) {
            return;
        }
        for (const auto& [name, x0] : {std::pair{left, 0}, std::pair{right, w / 2}}) {
            if (on) {
                XRRMonitorInfo* m = XRRAllocateMonitor(dpy, 0);
                m->name = name;
                m->x = x0;
                m->width = w / 2;
                m->height = h;
                m->mwidth = 250;
                m->mheight = 280;
                XRRSetMonitor(dpy, DefaultRootWindow(dpy), m);
                XRRFreeMonitors(m);
            } else {
                XRRDeleteMonitor(dpy, DefaultRootWindow(dpy), name);
            }
        }
        XSync(dpy, False);
        isSplit = on;
    };
    RunAsMain([&] {
        EXPECT_EQ(MonitorAt({10, 10}).x2, w - 1);
        split(true);
        EXPECT_TRUE(PumpUntil(
            [&] {
                return MonitorAt({10, 10}).x2 == w / 2 - 1;
            },
            2000))
            << MonitorAt({10, 10}).x2;
        EXPECT_EQ(MonitorAt({w - 10, 10}).x1, w / 2);
        split(false);
        EXPECT_TRUE(PumpUntil(
            [&] {
                return MonitorAt({10, 10}).x2 == w - 1;
            },
            2000))
            << MonitorAt({10, 10}).x2;
    });
    split(false); // the next test needs the single monitor back, also after a failure
}
