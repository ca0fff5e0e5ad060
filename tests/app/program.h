// Running the real menutest as a user would: start it in a folder, find its dialog on the
// server, press keys, and read the captures it leaves behind.
#pragma once

#include "support/bmp.h"
#include "support/process.h"
#include "support/xserver.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace apptest {

inline constexpr const char* kTitle = "Testing Menu Creation";
inline constexpr unsigned long kEscape = 0xff1b;

struct Program {
    testx::XServer& x;
    testx::TempFolder folder;
    std::unique_ptr<testx::Child> child;
    std::optional<testx::Window> dialog;

    explicit Program(testx::XServer& server) : x(server) {}
    ~Program() {
        // Never leave a dialog up for the next test.
        if (child && child->running()) {
            if (dialog) {
                x.activate(*dialog);
            }
            x.tapKey(kEscape);
            child->wait(std::chrono::milliseconds(2000));
        }
    }

    // Starts the program (on the test's server) and waits until its dialog is on screen and
    // painted.
    bool start(std::map<std::string, std::string> env = {}, const std::string& cwd = "") {
        env.emplace("DISPLAY", x.name());
        child = std::make_unique<testx::Child>(std::vector<std::string>{MENUTEST_PATH},
                                               cwd.empty() ? folder.path() : cwd, env);
        const bool shown = testx::XServer::waitFor(
            [&] {
                dialog = x.findMapped(kTitle);
                return dialog.has_value() && painted();
            },
            std::chrono::milliseconds(5000));
        // Keys go to the focused window: under a window manager the dialog is activated as a
        // person would by clicking it; on a bare server the program takes the focus itself.
        if (!shown) {
            ADD_FAILURE() << "no painted dialog within 5 s; the program wrote: "
                          << child->stderrText();
        }
        const bool focused = shown && x.activate(*dialog);
        EXPECT_TRUE(!shown || focused) << "the dialog does not get the keyboard focus";
        return shown;
    }

    // The drawing area: the taller of the dialog's two children.
    testx::Geometry area() const {
        testx::Geometry best;
        for (auto w : x.mappedChildren(*dialog)) {
            const auto g = x.geometry(w);
            if (g.height > best.height) {
                best = g;
            }
        }
        return best;
    }

    bool painted() const {
        const auto a = area();
        return a.height > 0 && testx::near(x.pixel(a.x, a.y + a.height - 1), 6, 190, 225, 6);
    }

    std::optional<testx::ExitStatus> escape() {
        x.tapKey(kEscape);
        return child->wait(std::chrono::milliseconds(3000));
    }
};

// A private Xvfb for a test that needs a server of its own (one it kills, or of another depth).
class PrivateServer {
  public:
    explicit PrivateServer(const std::string& screen = "1024x768x24",
                           const std::string& maxClients = "256") {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
                     "-nolisten", "tcp", "-maxclients", maxClients.c_str(),
                     static_cast<char*>(nullptr));
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
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;
    // True once the server takes connections.
    bool ready() const {
        return testx::XServer::waitFor([&] { return testx::XServer::answers(display_); },
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

using Bmp = testx::Bmp;
inline Bmp readBmp(const std::string& path) {
    return Bmp::read(path);
}

} // namespace apptest
