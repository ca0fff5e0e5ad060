// The command line of the three programs, with no display to reach: --help and --version answer
// on stdout and exit 0, anything else prints the usage on stderr and exits 2.
#include "support/process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Answer {
    int code = -1;
    std::string out;
    std::string err;
};

std::string contents(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Answer run(const std::string& exe, const std::string& args) {
    testx::TempFolder folder;
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY '" + exe + "' " + args + " >'" +
                                (folder / "out") + "' 2>'" + (folder / "err") + "'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, contents(folder / "out"),
            contents(folder / "err")};
}

} // namespace

TEST(Options, HelpAndVersionAnswerWithoutADisplayAndAnythingElseIsRefused) {
    for (const auto& [exe, name] : {std::pair<std::string, std::string>{MENUTEST, "menutest"},
                                    {MENUTEST_REPAINT, "menutest-repaint"},
                                    {MENUTEST_TOUR, "menutest-tour"}}) {
        SCOPED_TRACE(name);
        const Answer version = run(exe, "--version");
        EXPECT_EQ(version.code, 0);
        EXPECT_EQ(version.out, name + " " MENUTIP_VERSION "\n");
        EXPECT_EQ(version.err, "");

        const Answer help = run(exe, "--help");
        EXPECT_EQ(help.code, 0);
        EXPECT_EQ(help.out.rfind("usage: " + name + " ", 0), 0u) << help.out;
        EXPECT_NE(help.out.find("--version"), std::string::npos) << help.out;
        EXPECT_EQ(help.err, "");

        for (const char* args : {"--bogus", "-h", "extra", "--version --help"}) {
            const Answer refused = run(exe, args);
            EXPECT_EQ(refused.code, 2) << args;
            EXPECT_EQ(refused.out, "") << args;
            EXPECT_EQ(refused.err, help.out) << args;
        }
    }
}
