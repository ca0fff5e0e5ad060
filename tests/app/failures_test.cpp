// What the program does when its surroundings fail: no X server, a server that goes away,
// a folder it cannot write to.
#include "program.h"

#include <signal.h>
#include <unistd.h>

#include <filesystem>

#include <X11/Xlib.h>

using apptest::Program;

namespace {

// A private X server for a test that kills it.
class PrivateServer {
  public:
    PrivateServer() {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
                     "-nolisten", "tcp", static_cast<char*>(nullptr));
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

TEST(UnwritableFolder, TheProgramRunsAndEndsNormallyWritingNothing) {
    testx::XServer x;
    Program p(x);
    // Nobody, root included, can create files in /proc.
    ASSERT_TRUE(p.start({}, "/proc"));
    const auto status = p.escape();
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->exited);
    EXPECT_EQ(status->code, 0);
    EXPECT_FALSE(std::filesystem::exists("/proc/FirstDeskPS.bmp"));
    EXPECT_EQ(p.child->stderrText(), "");
}
