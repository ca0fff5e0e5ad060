// What the program does when its surroundings fail: no X server, a server that goes away,
// a folder it cannot write to.
#include "program.h"

#include <signal.h>
#include <unistd.h>

#include <filesystem>

#include <X11/Xlib.h>

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
