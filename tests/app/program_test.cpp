// The program as a user meets it: the dialog it shows, the keys that end it or not, the close
// button, and the two desktop captures it leaves in its folder.
#include "program.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

using apptest::Program;
using apptest::readBmp;

TEST(StartAndLook, CentredDialogWithTheGradientUnderItsMenuBar) {
    testx::XServer x;
    // The pointer on the last monitor: with two, the dialog belongs there, not on the primary.
    const testx::Geometry monitor = x.monitors().back();
    x.movePointer(monitor.x + monitor.width / 2, monitor.y + monitor.height / 2);
    Program p(x);
    ASSERT_TRUE(p.start());
    const auto g = x.geometry(*p.dialog);
    EXPECT_EQ(g.width, 800);
    EXPECT_EQ(g.height, 600);
    // What the user sees is centred: the frame when the window manager gives its extents.
    const auto seen = x.frame(*p.dialog);
    const auto want = testx::centredOn(monitor, seen.width, seen.height);
    EXPECT_NEAR(seen.x, want.x, 2)
        << "centred on the pointer's monitor " << monitor.x << "+" << monitor.width;
    EXPECT_NEAR(seen.y, want.y, 2);
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

// What task bars and window managers read from the dialog (ICCCM, EWMH): input and initial
// state, the process and its machine, the client leader, the class and the icon.
TEST(StartAndLook, TheDialogTellsTheDesktopWhoItIs) {
    testx::XServer x;
    Program p(x);
    ASSERT_TRUE(p.start());
    Display* dpy = x.display();
    const Window w = *p.dialog;
    const auto cardinals = [&](const char* name, Atom type) {
        Atom actual = 0;
        int format = 0;
        unsigned long n = 0, after = 0;
        unsigned char* data = nullptr;
        std::vector<long> out;
        if (XGetWindowProperty(dpy, w, XInternAtom(dpy, name, False), 0, 1 << 20, False, type,
                               &actual, &format, &n, &after, &data) == Success &&
            data) {
            out.assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + n);
            XFree(data);
        }
        return out;
    };
    XWMHints* hints = XGetWMHints(dpy, w);
    ASSERT_NE(hints, nullptr) << "WM_HINTS";
    EXPECT_TRUE((hints->flags & InputHint) && hints->input);
    EXPECT_TRUE((hints->flags & StateHint) && hints->initial_state == NormalState);
    XFree(hints);

    EXPECT_EQ(cardinals("_NET_WM_PID", XA_CARDINAL), std::vector<long>{p.child->pid()});
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    XTextProperty machine{};
    ASSERT_TRUE(XGetWMClientMachine(dpy, w, &machine)) << "WM_CLIENT_MACHINE";
    EXPECT_EQ(std::string(reinterpret_cast<char*>(machine.value), machine.nitems), host);
    XFree(machine.value);
    EXPECT_EQ(cardinals("WM_CLIENT_LEADER", XA_WINDOW).size(), 1u);

    XClassHint cls{};
    ASSERT_TRUE(XGetClassHint(dpy, w, &cls));
    EXPECT_STREQ(cls.res_name, "menutest") << "the executable's name";
    EXPECT_STREQ(cls.res_class, "Menutest");
    XFree(cls.res_name);
    XFree(cls.res_class);

    // _NET_WM_ICON: 16, 32 and 48 px, each mostly opaque, with the gradient's colours.
    const auto icon = cardinals("_NET_WM_ICON", XA_CARDINAL);
    std::vector<int> sizes;
    for (std::size_t at = 0; at + 2 <= icon.size();) {
        const long width = icon[at], height = icon[at + 1];
        ASSERT_EQ(width, height);
        ASSERT_LE(at + 2 + static_cast<std::size_t>(width * height), icon.size());
        int opaque = 0;
        for (long i = 0; i < width * height; ++i) {
            // Xlib hands out format-32 items as longs, sign-extended: alpha is bits 24-31.
            opaque += ((icon[at + 2 + static_cast<std::size_t>(i)] >> 24) & 0xff) == 0xff;
        }
        EXPECT_GT(opaque * 10, width * height * 9) << width << " px";
        sizes.push_back(static_cast<int>(width));
        at += 2 + static_cast<std::size_t>(width * height);
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48}));
    ASSERT_TRUE(p.escape());
}

TEST(EndWithEscape, LeavesBothCapturesTheSizeOfTheScreen) {
    testx::XServer x;
    Program p(x);
    ASSERT_TRUE(p.start());
    ASSERT_TRUE(p.escape());
    for (const char* name : {"FirstDeskPS.bmp", "LastDeskPS.bmp"}) {
        const auto bmp = readBmp(p.folder / name);
        ASSERT_TRUE(bmp.valid()) << name << "; the program wrote: " << p.child->stderrText();
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

TEST(Captures, FirstShowsTheDesktopWithoutTheDialogAndLastIsTakenAfterItIsGone) {
    testx::XServer x;
    x.paintRoot(0x336699); // seen on a bare server; a compositor shows a desktop of its own
    Program p(x);
    // Where the dialog will stand (the middle of each monitor), and the screen's corners.
    std::vector<std::pair<int, int>> spots{{5, 5}, {x.screenWidth() - 1, x.screenHeight() - 1}};
    for (const auto& m : x.monitors()) {
        for (const auto& [dx, dy] : {std::pair{-390, -290}, {0, 0}, {390, 290}, {0, -310}}) {
            spots.emplace_back(m.x + m.width / 2 + dx, m.y + m.height / 2 + dy);
        }
    }
    std::vector<testx::Pixel> before;
    for (const auto& [px, py] : spots) {
        before.push_back(x.pixel(px, py));
    }
    ASSERT_TRUE(p.start());
    ASSERT_TRUE(p.escape());
    // The desktop once the dialog is gone, as the screen shows it after a compositor repainted.
    testx::XServer::waitFor([&] { return !x.findMapped(apptest::kTitle); },
                            std::chrono::milliseconds(2000));
    std::this_thread::sleep_for(std::chrono::milliseconds(x.compositing() ? 500 : 50));
    std::vector<testx::Pixel> after;
    for (const auto& [px, py] : spots) {
        after.push_back(x.pixel(px, py));
    }
    x.paintRoot(0);
    const auto first = readBmp(p.folder / "FirstDeskPS.bmp");
    const auto last = readBmp(p.folder / "LastDeskPS.bmp");
    ASSERT_TRUE(first.valid());
    ASSERT_TRUE(last.valid());
    for (std::size_t i = 0; i < spots.size(); ++i) {
        const auto [px, py] = spots[i];
        const auto f = first.screenPixel(px, py);
        const auto l = last.screenPixel(px, py);
        EXPECT_TRUE(testx::near(f, before[i].r, before[i].g, before[i].b, 0))
            << "first at " << px << "," << py << ": " << str(f) << ", screen " << str(before[i]);
        EXPECT_TRUE(testx::near(l, after[i].r, after[i].g, after[i].b, 0))
            << "last at " << px << "," << py << ": " << str(l) << ", screen " << str(after[i]);
    }
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

// A thin client's or VNC server's screen: 16 bits a pixel (5, 6 and 5 a channel). The dialog
// shows, and the captures are 24-bit BMPs holding the colours the screen shows (each channel
// widened as v * 255 / max), checked over a desktop that uses every pixel value.
TEST(Depth16, TheDialogShowsAndTheCapturesHoldTheScreensColours) {
    apptest::PrivateServer server("1024x768x16");
    ASSERT_TRUE(server.ready());
    testx::XServer x(server.display());
    ASSERT_EQ(x.depth(), 16);
    Display* dpy = x.display();
    const int w = x.screenWidth(), h = x.screenHeight();
    {
        XImage* img =
            XCreateImage(dpy, DefaultVisual(dpy, DefaultScreen(dpy)), 16, ZPixmap, 0, nullptr,
                         static_cast<unsigned>(w), static_cast<unsigned>(h), 16, 0);
        ASSERT_NE(img, nullptr);
        img->data = static_cast<char*>(std::malloc(static_cast<std::size_t>(img->bytes_per_line) *
                                                   static_cast<std::size_t>(h)));
        for (int py = 0; py < h; ++py) {
            for (int px = 0; px < w; ++px) {
                XPutPixel(img, px, py, static_cast<unsigned long>(px * 64 + py) & 0xffff);
            }
        }
        const Pixmap pattern =
            XCreatePixmap(dpy, x.root(), static_cast<unsigned>(w), static_cast<unsigned>(h), 16);
        XPutImage(dpy, pattern, DefaultGC(dpy, DefaultScreen(dpy)), img, 0, 0, 0, 0,
                  static_cast<unsigned>(w), static_cast<unsigned>(h));
        XDestroyImage(img); // frees the pixels too
        XSetWindowBackgroundPixmap(dpy, x.root(), pattern);
        XClearWindow(dpy, x.root());
        XFreePixmap(dpy, pattern);
        XSync(dpy, False);
    }
    Program p(x);
    ASSERT_TRUE(p.start()) << "the dialog shows, painted, on a depth-16 screen";
    ASSERT_TRUE(p.escape());
    const auto first = readBmp(p.folder / "FirstDeskPS.bmp");
    const auto last = readBmp(p.folder / "LastDeskPS.bmp");
    ASSERT_TRUE(first.valid());
    ASSERT_TRUE(last.valid());
    ASSERT_EQ(first.width, w);
    ASSERT_EQ(first.height, h);
    int checked = 0, wrong = 0;
    for (int py = 1; py < h; py += 37) {
        for (int px = 3; px < w; px += 29) {
            const testx::Pixel screen = x.pixel(px, py);
            for (const apptest::Bmp* bmp : {&first, &last}) {
                const testx::Pixel got = bmp->screenPixel(px, py);
                ++checked;
                if (!testx::near(got, screen.r, screen.g, screen.b, 0) && wrong++ < 5) {
                    ADD_FAILURE() << (bmp == &first ? "first" : "last") << " at " << px << "," << py
                                  << ": " << str(got) << ", screen " << str(screen);
                }
            }
        }
    }
    EXPECT_EQ(wrong, 0) << "of " << checked << " points";
}
