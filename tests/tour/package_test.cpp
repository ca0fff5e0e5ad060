// The Debian package as a user gets it: built by cpack, unpacked into a scratch root, and the
// unpacked menutest started through its bin/ link, shown, and ended with Escape.
#include "support/process.h"
#include "support/xserver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

// clang-format off
#include <X11/keysym.h> // only key names; kept after the headers above
// clang-format on

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Runs a command to its end; its stderr when it failed.
testx::ExitStatus run(const std::vector<std::string>& argv, const std::string& cwd,
                      std::chrono::milliseconds limit, std::string& err) {
    testx::Child c(argv, cwd);
    const auto status = c.wait(limit);
    err = c.stderrText();
    return status.value_or(testx::ExitStatus{});
}

std::string output(const std::string& command) {
    struct Closer {
        void operator()(FILE* f) const noexcept { ::pclose(f); }
    };
    const std::unique_ptr<FILE, Closer> p(::popen(command.c_str(), "r"));
    std::string text;
    char buf[256];
    while (p && std::fgets(buf, sizeof buf, p.get())) {
        text += buf;
    }
    return text;
}

} // namespace

TEST(Package, UnpacksIntoAScratchRootAndTheProgramThereRunsAndEndsWithEscape) {
    testx::TempFolder scratch;
    std::string err;
    const auto packed = run({CPACK_COMMAND, "--config", CPACK_CONFIG, "-B", scratch / "pkg"},
                            scratch.path(), 45s, err);
    ASSERT_TRUE(packed.exited && packed.code == 0) << "cpack failed: " << err;
    fs::path deb;
    for (const auto& e : fs::directory_iterator(scratch / "pkg")) {
        if (e.path().extension() == ".deb") {
            deb = e.path();
        }
    }
    ASSERT_FALSE(deb.empty()) << "no .deb in " << scratch / "pkg";

    // Library dependencies were found in the binaries.
    const std::string depends = output("dpkg-deb -f '" + deb.string() + "' Depends");
    EXPECT_NE(depends.find("libx11"), std::string::npos) << depends;
    EXPECT_NE(depends.find("libcairo"), std::string::npos) << depends;

    const fs::path root = scratch / "root";
    const auto unpacked =
        run({"/usr/bin/dpkg", "-x", deb.string(), root.string()}, scratch.path(), 10s, err);
    ASSERT_TRUE(unpacked.exited && unpacked.code == 0) << "dpkg -x failed: " << err;
    const fs::path link = root / "usr/bin/menutest";
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::read_symlink(link).is_relative()) << fs::read_symlink(link);
    const fs::path exe = fs::canonical(link);
    EXPECT_EQ(exe.parent_path().filename(), "menutip") << "a private folder: " << exe;
    EXPECT_TRUE(fs::exists(exe.parent_path() / "libuser32.so")) << "the window library beside it";
    EXPECT_TRUE(fs::exists(exe.parent_path() / "libmenutip-a11y.so"))
        << "the screen-reader bridge beside it";
    EXPECT_TRUE(fs::exists(exe.parent_path() / "menutest-repaint"));
    // A private library wants no ldconfig: the package has no maintainer scripts at all.
    const std::string control = output("dpkg-deb -I '" + deb.string() + "'");
    EXPECT_EQ(control.find("postinst"), std::string::npos) << control;
    EXPECT_EQ(control.find("postrm"), std::string::npos) << control;
    // What a distribution wants beside the program, under the names the AppStream id gives.
    for (const char* file :
         {"usr/share/applications/" MENUTIP_APP_ID ".desktop",
          "usr/share/metainfo/" MENUTIP_APP_ID ".metainfo.xml", "usr/share/man/man1/menutest.1.gz",
          "usr/share/doc/menutest/copyright", "usr/share/doc/menutest/changelog.gz"}) {
        EXPECT_TRUE(fs::is_regular_file(root / file)) << file;
    }
    for (const char* size : {"16x16", "32x32", "48x48"}) {
        EXPECT_TRUE(fs::exists(root / "usr/share/icons/hicolor" / size / "apps/menutest.png"))
            << "the icon the .desktop entry names, " << size;
    }

    // Started through the link, as a launcher would.
    testx::XServer x;
    testx::TempFolder cwd;
    testx::Child program({link.string()}, cwd.path());
    ASSERT_TRUE(testx::XServer::waitFor(
        [&] { return x.findMapped("Testing Menu Creation").has_value(); }, 10s))
        << program.stderrText();
    std::this_thread::sleep_for(200ms); // the focus arrives right after the dialog
    x.tapKey(XK_Escape);
    const auto status = program.wait(10s);
    ASSERT_TRUE(status.has_value()) << "still running after Escape";
    EXPECT_TRUE(status->exited);
    EXPECT_EQ(status->code, 0) << program.stderrText();
    EXPECT_TRUE(fs::exists(cwd / "LastDeskPS.bmp"));
}
