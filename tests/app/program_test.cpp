// The program as a user meets it: the dialog it shows, the keys that end it or not, the close
// button, and the two desktop captures it leaves in its folder.
#include "program.h"

#include <filesystem>
#include <thread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xinerama.h>
#include <X11/keysym.h>

using apptest::Program;
using apptest::readBmp;

namespace {

// What the user sees of a client: its geometry grown by the frame a window manager put
// around it (EWMH _NET_FRAME_EXTENTS); the client itself without one.
testx::Geometry frameOf(const testx::XServer& x, testx::Window client) {
    testx::Geometry g = x.geometry(client);
    Atom type = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(x.display(), client,
                           XInternAtom(x.display(), "_NET_FRAME_EXTENTS", False), 0, 4, False,
                           XA_CARDINAL, &type, &format, &n, &after, &data) == Success &&
        data && n == 4) {
        const auto* e = reinterpret_cast<const long*>(data);
        g = {g.x - static_cast<int>(e[0]), g.y - static_cast<int>(e[2]),
             g.width + static_cast<int>(e[0] + e[1]), g.height + static_cast<int>(e[2] + e[3])};
    }
    if (data) {
        XFree(data);
    }
    return g;
}

// The monitor (Xinerama screen; the whole screen without Xinerama) that holds a point.
testx::Geometry monitorAt(const testx::XServer& x, int px, int py) {
    int n = 0;
    testx::Geometry found{0, 0, x.screenWidth(), x.screenHeight()};
    if (XineramaIsActive(x.display())) {
        if (XineramaScreenInfo* s = XineramaQueryScreens(x.display(), &n)) {
            for (int i = 0; i < n; ++i) {
                if (px >= s[i].x_org && py >= s[i].y_org && px < s[i].x_org + s[i].width &&
                    py < s[i].y_org + s[i].height) {
                    found = {s[i].x_org, s[i].y_org, s[i].width, s[i].height};
                }
            }
            XFree(s);
        }
    }
    return found;
}

bool compositing(const testx::XServer& x) {
    const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(x.display()));
    return XGetSelectionOwner(x.display(), XInternAtom(x.display(), name.c_str(), False)) != None;
}

} // namespace

TEST(StartAndLook, CentredDialogWithTheGradientUnderItsMenuBar) {
    testx::XServer x;
    Program p(x);
    ASSERT_TRUE(p.start());
    const auto g = x.geometry(*p.dialog);
    EXPECT_EQ(g.width, 800);
    EXPECT_EQ(g.height, 600);
    // What the user sees, the frame under a window manager, is centred on one monitor.
    const auto f = frameOf(x, *p.dialog);
    const auto m = monitorAt(x, f.x + f.width / 2, f.y + f.height / 2);
    EXPECT_EQ(f.x, m.x + (m.width - f.width) / 2) << "monitor at " << m.x << "," << m.y;
    EXPECT_EQ(f.y, m.y + (m.height - f.height) / 2) << "monitor at " << m.x << "," << m.y;
    const auto a = p.area();
    EXPECT_EQ(a.width, 800);
    EXPECT_GT(a.y, g.y) << "the menu bar strip sits above the drawing area";
    EXPECT_EQ(a.y + a.height, g.y + g.height);
    const auto lowerLeft = x.pixel(a.x, a.y + a.height - 1);
    const auto upperRight = x.pixel(a.x + a.width - 1, a.y);
    const auto centre = x.pixel(a.x + a.width / 2, a.y + a.height / 2);
    EXPECT_TRUE(testx::near(lowerLeft, 6, 190, 225, 4)) << str(lowerLeft);
    EXPECT_TRUE(testx::near(upperRight, 210, 250, 255, 4)) << str(upperRight);
    EXPECT_TRUE(testx::near(centre, 108, 220, 240, 4)) << str(centre);
    const auto status = p.escape();
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->exited);
    EXPECT_EQ(status->code, 0);
    EXPECT_FALSE(x.findMapped(apptest::kTitle)) << "no window left behind";
}

TEST(EndWithEscape, LeavesBothCapturesTheSizeOfTheScreen) {
    testx::XServer x;
    Program p(x);
    ASSERT_TRUE(p.start());
    ASSERT_TRUE(p.escape());
    for (const char* name : {"FirstDeskPS.bmp", "LastDeskPS.bmp"}) {
        const auto bmp = readBmp(p.folder / name);
        ASSERT_TRUE(bmp.valid()) << name;
        EXPECT_EQ(bmp.width, x.screenWidth()) << name;
        EXPECT_EQ(bmp.height, x.screenHeight()) << name;
        EXPECT_EQ(bmp.bytes.size(), 54u + static_cast<std::size_t>(x.screenWidth()) * 3 *
                                              static_cast<std::size_t>(x.screenHeight()))
            << name;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(p.folder.path()), {}), 2)
        << "nothing but the two captures";
}

TEST(EndWithTheCloseButton, TheWindowManagersRequestEndsTheProgram) {
    testx::XServer x;
    Program p(x);
    ASSERT_TRUE(p.start());
    // What a window manager sends when the user clicks the close button (ICCCM).
    Display* dpy = x.display();
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = *p.dialog;
    ev.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
    XSendEvent(dpy, *p.dialog, False, NoEventMask, &ev);
    XSync(dpy, False);
    const auto status = p.child->wait(std::chrono::milliseconds(3000));
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->exited);
    EXPECT_EQ(status->code, 0);
    EXPECT_TRUE(std::filesystem::exists(p.folder / "LastDeskPS.bmp"));
}

TEST(KeysThatAreNotEscape, AreTakenAndTheProgramGoesOn) {
    testx::XServer x;
    Program p(x);
    ASSERT_TRUE(p.start());
    x.tapKey(XK_a);
    x.tapKey(XK_Return);
    x.tapKey(XK_Up);
    x.tapKey(XK_space);
    x.tapKey(XK_x, XK_Control_L);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(p.child->running());
    EXPECT_TRUE(x.findMapped(apptest::kTitle));
    const auto status = p.escape();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->code, 0);
}

// Also under a window manager and a compositor: the last capture is taken once the frame is
// down and the compositor has repainted, so no trace of the dialog (frame included) is left.
TEST(Captures, FirstShowsTheDesktopWithoutTheDialogAndLastIsTakenAfterItIsGone) {
    testx::XServer x;
    x.paintRoot(0x336699); // a compositor paints its own background over this
    const bool ownBackground = !compositing(x);
    Program p(x);
    ASSERT_TRUE(p.start());
    const auto g = frameOf(x, *p.dialog);
    ASSERT_TRUE(p.escape());
    x.paintRoot(0);
    const auto first = readBmp(p.folder / "FirstDeskPS.bmp");
    const auto last = readBmp(p.folder / "LastDeskPS.bmp");
    ASSERT_TRUE(first.valid());
    ASSERT_TRUE(last.valid());
    // Where the dialog and its frame stood, and around it, both show the desktop as it was.
    std::vector<std::pair<int, int>> spots{{5, 5}, {x.screenWidth() - 1, x.screenHeight() - 1}};
    for (int sy = g.y; sy < g.y + g.height; sy += 23) {
        for (int sx = g.x; sx < g.x + g.width; sx += 41) {
            spots.emplace_back(sx, sy);
        }
    }
    spots.emplace_back(g.x + g.width - 1, g.y + g.height - 1);
    int differ = 0;
    for (const auto& [px, py] : spots) {
        const auto a = first.screenPixel(px, py);
        const auto b = last.screenPixel(px, py);
        if (ownBackground) {
            EXPECT_TRUE(testx::near(a, 0x33, 0x66, 0x99, 0))
                << "first at " << px << "," << py << ": " << str(a);
        }
        if (!testx::near(b, a.r, a.g, a.b, 0) && ++differ <= 5) {
            ADD_FAILURE() << "last at " << px << "," << py << ": " << str(b) << ", first "
                          << str(a);
        }
    }
    EXPECT_EQ(differ, 0) << "of " << spots.size() << " spots";
}

TEST(Captures, EarlierFilesAndLinksAreReplacedNeverFollowed) {
    testx::XServer x;
    Program p(x);
    { std::ofstream(p.folder / "FirstDeskPS.bmp") << "an old capture"; }
    testx::TempFolder elsewhere;
    const std::string victim = elsewhere / "precious.txt";
    { std::ofstream(victim) << "keep me"; }
    std::filesystem::create_symlink(victim, p.folder / "LastDeskPS.bmp");
    ASSERT_TRUE(p.start());
    ASSERT_TRUE(p.escape());
    EXPECT_TRUE(readBmp(p.folder / "FirstDeskPS.bmp").valid());
    EXPECT_FALSE(std::filesystem::is_symlink(p.folder / "LastDeskPS.bmp"));
    EXPECT_TRUE(readBmp(p.folder / "LastDeskPS.bmp").valid());
    std::ifstream in(victim);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text, "keep me");
}
