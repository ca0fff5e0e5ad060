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

using apptest::Program;

namespace {

// A private X server for a test that kills it.
class PrivateServer {
  public:
    explicit PrivateServer(const char* maxClients = "256", const char* screen = "1024x768x24") {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen, "-nolisten",
                     "tcp", "-maxclients", maxClients, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        // The server writes its number and the newline separately; closing the pipe before
        // the newline arrives makes the server die of EPIPE. Read through to the newline.
        std::string number;
        char c = 0;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') {
            number += c;
        }
        ::close(fds[0]);
        if (!number.empty()) {
            display_ = ":" + number;
        }
    }
    ~PrivateServer() { kill(); }
    // True once the server takes connections.
    bool ready() const {
        return testx::XServer::waitFor(
            [&] {
                Display* d = XOpenDisplay(display_.c_str());
                if (d) {
                    XCloseDisplay(d);
                }
                return d != nullptr;
            },
            std::chrono::milliseconds(3000));
    }
    void kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM); // the server shuts down and cleans its lock and socket
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    const std::string& display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

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
    PrivateServer server("64");
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
    PrivateServer server("256", "640x480x24");
    ASSERT_FALSE(server.display().empty());
    ASSERT_TRUE(server.ready()) << server.display();
    testx::TempFolder folder;
    testx::Child child({MENUTEST_PATH}, folder.path(), {{"DISPLAY", server.display()}});
    Display* dpy = XOpenDisplay(server.display().c_str());
    ASSERT_NE(dpy, nullptr);
    // No window manager runs here: the dialog is a child of the root.
    auto dialog = [&]() -> std::optional<::Window> {
        ::Window root = 0, parent = 0;
        ::Window* kids = nullptr;
        unsigned int n = 0;
        std::optional<::Window> found;
        XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &kids, &n);
        for (unsigned int i = 0; i < n; ++i) {
            char* name = nullptr;
            XWindowAttributes a{};
            if (XGetWindowAttributes(dpy, kids[i], &a) && a.map_state == IsViewable &&
                XFetchName(dpy, kids[i], &name) && name) {
                if (std::string(name) == apptest::kTitle) {
                    found = kids[i];
                }
                XFree(name);
            }
        }
        if (kids) {
            XFree(kids);
        }
        return found;
    };
    ASSERT_TRUE(testx::XServer::waitFor([&] { return dialog().has_value(); },
                                        std::chrono::milliseconds(5000)))
        << child.stderrText();
    XWindowAttributes a{};
    XGetWindowAttributes(dpy, *dialog(), &a);
    EXPECT_EQ(a.x, 0);
    EXPECT_EQ(a.y, 0);
    EXPECT_EQ(a.width, 800);
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the focus comes after the map
    XTestFakeKeyEvent(dpy, XKeysymToKeycode(dpy, XK_Escape), True, CurrentTime);
    XTestFakeKeyEvent(dpy, XKeysymToKeycode(dpy, XK_Escape), False, CurrentTime);
    XSync(dpy, False);
    const auto status = child.wait(std::chrono::milliseconds(3000));
    XCloseDisplay(dpy);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->code, 0);
}
