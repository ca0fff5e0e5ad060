// What the program does when its surroundings fail: no X server, a server that goes away,
// a folder it cannot write to.
#include "program.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <vector>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using apptest::PrivateServer;
using apptest::Program;

namespace {

void expectOneClearLine(const std::string& err, const std::string& words) {
    EXPECT_NE(err.find(words), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

} // namespace

TEST(NoXServer, OneLineSaysSoAndTheExitCodeIsNonZero) {
    testx::TempFolder folder;
    for (const char* display : {"", ":77"}) {
        testx::Child child({MENUTEST_PATH}, folder.path(), {{"DISPLAY", display}});
        const auto status = child.wait(std::chrono::milliseconds(5000));
        ASSERT_TRUE(status);
        EXPECT_TRUE(status->exited) << "ended by signal " << status->code;
        EXPECT_NE(status->code, 0);
        expectOneClearLine(child.stderrText(), "could not open the X display");
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 0);
}

TEST(XServerGoesAway, TheProgramEndsWithinASecondWithAClearMessage) {
    PrivateServer server;
    ASSERT_FALSE(server.display().empty());
    ASSERT_TRUE(server.ready()) << server.display();
    testx::TempFolder folder;
    testx::Child child({MENUTEST_PATH}, folder.path(), {{"DISPLAY", server.display()}});
    // Wait until the dialog is up: the first capture is written before it is shown.
    ASSERT_TRUE(
        testx::XServer::waitFor([&] { return std::filesystem::exists(folder / "FirstDeskPS.bmp"); },
                                std::chrono::milliseconds(5000)))
        << "display " << server.display() << ": " << child.stderrText();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(child.running());
    server.kill();
    const auto start = std::chrono::steady_clock::now();
    const auto status = child.wait(std::chrono::milliseconds(3000));
    ASSERT_TRUE(status) << "the program hangs after losing the server";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_TRUE(status->exited) << "ended by signal " << status->code;
    EXPECT_NE(status->code, 0);
    expectOneClearLine(child.stderrText(), "lost the connection to the X server");
}

// One warning line per capture that could not be written, naming the file and the reason.
std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

TEST(UnwritableFolder, TheProgramRunsAndEndsNormallyWarningOncePerCapture) {
    testx::XServer x;
    Program p(x);
    // Nobody, root included, can create files in /proc.
    ASSERT_TRUE(p.start({}, "/proc"));
    const auto status = p.escape();
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->exited);
    EXPECT_EQ(status->code, 0);
    EXPECT_FALSE(std::filesystem::exists("/proc/FirstDeskPS.bmp"));
    const auto err = lines(p.child->stderrText());
    ASSERT_EQ(err.size(), 2u) << p.child->stderrText();
    const std::string reason = std::strerror(ENOENT); // what creating a file in /proc gives
    EXPECT_EQ(err[0], "menutest: warning: FirstDeskPS.bmp: " + reason);
    EXPECT_EQ(err[1], "menutest: warning: LastDeskPS.bmp: " + reason);
}

// On a Wayland session the desktop comes only from the compositor: with no route that works
// (here the portal alone, on a bus that is not there) each capture is one warning and no file,
// never Xwayland's black root.
TEST(NoCaptureRoute, OnWaylandEachCaptureIsOneWarningAndNoFile) {
    testx::XServer x;
    if (!x.wayland()) {
        GTEST_SKIP() << "needs Xwayland (tools/check runs it on sway and GNOME Shell)";
    }
    Program p(x);
    ASSERT_TRUE(p.start({{"MENUTIP_CAPTURE_ROUTES", "portal"},
                         {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"}}));
    const auto status = p.escape();
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->exited);
    EXPECT_EQ(status->code, 0);
    const auto err = lines(p.child->stderrText());
    ASSERT_EQ(err.size(), 2u) << p.child->stderrText();
    EXPECT_EQ(err[0].rfind("menutest: warning: FirstDeskPS.bmp: portal: no session bus", 0), 0u)
        << err[0];
    EXPECT_EQ(err[1].rfind("menutest: warning: LastDeskPS.bmp: portal: no session bus", 0), 0u)
        << err[1];
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(p.folder.path()), {}), 0)
        << "no capture file at all";
}

TEST(UnwritableFolder, AFolderNamedLikeACaptureStaysAndIsNamedInAWarning) {
    testx::XServer x;
    Program p(x);
    std::filesystem::create_directory(p.folder / "LastDeskPS.bmp");
    ASSERT_TRUE(p.start());
    const auto status = p.escape();
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->exited);
    EXPECT_EQ(status->code, 0);
    EXPECT_TRUE(apptest::readBmp(p.folder / "FirstDeskPS.bmp").valid());
    EXPECT_TRUE(std::filesystem::is_directory(p.folder / "LastDeskPS.bmp"));
    EXPECT_EQ(p.child->stderrText(),
              "menutest: warning: LastDeskPS.bmp: " + std::string(std::strerror(EISDIR)) + "\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(p.folder.path()), {}), 2)
        << "no temporary file left behind";
}

// An error on the tip worker's thread ends the program as one on the start thread does. Here
// the worker cannot open its display connection: the server is full when the first tip comes.
TEST(ErrorOnTheTipThread, EndsTheProgramWithOneLineAndExitCodeOne) {
    PrivateServer server("1024x768x24", "64");
    ASSERT_FALSE(server.display().empty());
    ASSERT_TRUE(server.ready()) << server.display();
    testx::TempFolder folder;
    testx::Child child({MENUTEST_PATH}, folder.path(), {{"DISPLAY", server.display()}});
    ASSERT_TRUE(
        testx::XServer::waitFor([&] { return std::filesystem::exists(folder / "FirstDeskPS.bmp"); },
                                std::chrono::milliseconds(5000)))
        << child.stderrText();
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // shown, with the focus
    Display* keys = XOpenDisplay(server.display().c_str());
    ASSERT_NE(keys, nullptr);
    std::vector<Display*> filling;
    while (Display* d = XOpenDisplay(server.display().c_str())) {
        filling.push_back(d);
    }
    ASSERT_GT(filling.size(), 10u);
    auto tap = [&](KeySym sym, KeySym modifier = NoSymbol) {
        if (modifier != NoSymbol) {
            XTestFakeKeyEvent(keys, XKeysymToKeycode(keys, modifier), True, CurrentTime);
        }
        XTestFakeKeyEvent(keys, XKeysymToKeycode(keys, sym), True, CurrentTime);
        XTestFakeKeyEvent(keys, XKeysymToKeycode(keys, sym), False, CurrentTime);
        if (modifier != NoSymbol) {
            XTestFakeKeyEvent(keys, XKeysymToKeycode(keys, modifier), False, CurrentTime);
        }
        XSync(keys, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    };
    // Open "Menu Test" and mark an entry with a tip (the second or the third).
    tap(XK_m, XK_Alt_L);
    tap(XK_Down);
    tap(XK_Down);
    const auto status = child.wait(std::chrono::milliseconds(3000));
    for (Display* d : filling) {
        XCloseDisplay(d);
    }
    XCloseDisplay(keys);
    ASSERT_TRUE(status) << "the program carries on after an error on the tip thread";
    EXPECT_TRUE(status->exited) << "ended by signal " << status->code;
    EXPECT_EQ(status->code, 1);
    // Xlib itself prints the server's refusal; the program's own say is one line.
    std::vector<std::string> err;
    for (const std::string& line : lines(child.stderrText())) {
        if (line != "Maximum number of clients reached") {
            err.push_back(line);
        }
    }
    ASSERT_EQ(err.size(), 1u) << child.stderrText();
    EXPECT_EQ(err[0].rfind("menutest: error: ", 0), 0u) << err[0];
    EXPECT_NE(err[0].find("could not open the X display"), std::string::npos) << err[0];
}

// On a screen smaller than the dialog its top left corner (title and menu bar) stays on the
// screen, within reach of the pointer.
TEST(SmallScreen, TheDialogKeepsItsTopLeftCornerOnTheScreen) {
    PrivateServer server("640x480x24");
    ASSERT_FALSE(server.display().empty());
    ASSERT_TRUE(server.ready()) << server.display();
    testx::TempFolder folder;
    testx::Child child({MENUTEST_PATH}, folder.path(), {{"DISPLAY", server.display()}});
    testx::XServer x(server.display());
    std::optional<testx::Window> dialog;
    ASSERT_TRUE(testx::XServer::waitFor(
        [&] { return (dialog = x.findMapped(apptest::kTitle)).has_value(); },
        std::chrono::milliseconds(5000)))
        << child.stderrText();
    const testx::Geometry g = x.geometry(*dialog);
    EXPECT_EQ(g.x, 0);
    EXPECT_EQ(g.y, 0);
    EXPECT_EQ(g.width, 800);
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the focus comes after the map
    x.tapKey(XK_Escape);
    const auto status = child.wait(std::chrono::milliseconds(3000));
    ASSERT_TRUE(status);
    EXPECT_EQ(status->code, 0);
}
