// The program's menu as a person uses it: the real menutest runs in a temporary folder and is
// driven with XTest; tips, menus and confirmation boxes are read back from the server. The tip
// table and the menu tree are also checked in-process, before and after e_installMenu.
#include "menu.h"

#include <host/application.h>
#include <host/drawing.h>
#include <host/windows.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

// Xlib last (its macros break the headers above); kept in this order on purpose.
// clang-format off
#include "support/menu_probe.h"
#include <X11/keysym.h>
// clang-format on

using namespace std::chrono_literals;

extern char** environ;

namespace {

// ---- In-process: the tip table and the menu tree -------------------------------------------

TEST(TipTable, EmptyBeforeTheMenuAndFilledByIt) {
    for (int i = 1; i <= 5; ++i) {
        EXPECT_FALSE(::Test::Tips()[i].has_value()) << "slot " << i << " before e_installMenu";
    }
    host::Start({.errorSys = [](const std::exception& e) { ADD_FAILURE() << e.what(); },
                 .appSys = {},
                 .appExit = host::AppExit,
                 .dbeSys = {},
                 .main =
                     [] {
                         auto oDlg = host::XbpDialog::New(host::AppDesktop(), nullptr, host::Nil,
                                                          host::Size{300, 200}, {}, false)
                                         ->create();
                         auto expected = oDlg->menuBar();
                         auto bar = ::Test::e_installMenu(oDlg);
                         EXPECT_EQ(bar, expected) << "the dialog's own menu bar";
                         EXPECT_EQ(bar->numItems(), 1);
                         EXPECT_EQ(bar->endMenu().source(), "{|| HideMenuTip_()}");
                         const auto& t = ::Test::Tips();
                         EXPECT_FALSE(t[1].has_value()) << "\"Updates\" has no tip";
                         EXPECT_EQ(t[2], "Tip Explaining the option \"Reserve\"");
                         EXPECT_EQ(t[3], "Other explanation tip");
                         EXPECT_EQ(t[4], "Tip for updating");
                         EXPECT_EQ(t[5], "Tip for updating");

                         // AddSubMenu alone: one item holding the menu, the bar still empty.
                         auto other = host::XbpDialog::New(host::AppDesktop(), nullptr, host::Nil,
                                                           host::Size{300, 200}, {}, false)
                                          ->create();
                         auto emptyBar = other->menuBar();
                         const host::MenuItem item = ::Test::AddSubMenu(emptyBar);
                         EXPECT_EQ(emptyBar->numItems(), 0);
                         const auto* menu = std::get_if<std::shared_ptr<host::XbpMenu>>(&item);
                         ASSERT_TRUE(menu && *menu);
                         EXPECT_EQ((*menu)->title(), "~Menu Test");
                         EXPECT_EQ((*menu)->numItems(), 3);
                         EXPECT_EQ((*menu)->itemMarked().source(),
                                   "{|nItemIndex| ShowMenuTip_(aTips[nItemIndex])}");
                         other->destroy();
                         bar->destroy();
                         oDlg->destroy();
                     }});
}

// ---- The real program ------------------------------------------------------------------------

int textWidth(const std::string& text) {
    auto ps = host::XbpPresSpace::New()->create();
    ps->setFont(host::DefaultFont());
    const host::TextBox b = host::GraQueryTextBox(ps, text);
    return b.upperRight.x - b.upperLeft.x;
}

// menutest in a temporary folder of its own (it writes its desktop captures there); ended
// with SIGTERM if a test leaves it running.
class Program {
  public:
    Program() {
        menuprobe::tolerateVanishingWindows();
        folder_ = std::filesystem::temp_directory_path() /
                  ("menutest-" + std::to_string(::getpid()) + "-" + std::to_string(++runs_));
        std::filesystem::create_directories(folder_);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, folder_.c_str());
        // Its output goes to a file: a child holding the test's output open would keep the
        // test runner waiting should the test end early.
        const std::string log = (folder_ / "menutest.log").string();
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const std::string exe = MENUTEST_EXE;
        char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
        const int rc = posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            ADD_FAILURE() << "could not start " << exe;
            pid_ = -1;
            return;
        }
        ready_ = testx::XServer::waitFor(
            [&] { return x.findMapped("Testing Menu Creation").has_value(); }, 5s);
        if (ready_) {
            std::this_thread::sleep_for(100ms); // focus given, first paint done
            dialog = x.geometry(*x.findMapped("Testing Menu Creation"));
        }
    }
    ~Program() {
        if (pid_ > 0 && !exited()) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool ready() const { return ready_; }
    bool exited() {
        if (exitCode_) {
            return true;
        }
        int status = 0;
        if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return exitCode_.has_value();
    }
    std::optional<int> exitCode() {
        testx::XServer::waitFor([&] { return exited(); }, 3s);
        return exitCode_;
    }

    void openMenu() { x.click(dialog.x + 30, dialog.y + 10); }
    std::size_t menus() const { return menuprobe::openMenus(x).size(); }
    bool menusOpen(std::size_t n) {
        return testx::XServer::waitFor([&] { return menus() == n; }, 2s);
    }
    void moveToEntry(std::size_t level, int n) {
        const auto open = menuprobe::openMenus(x);
        ASSERT_GT(open.size(), level);
        const auto [ex, ey] =
            menuprobe::entryCentre(x.geometry(open[level]), n, level == 0 ? 3 : 2);
        x.movePointer(ex, ey);
    }
    // The tip's size once one shows, or nothing within the time.
    std::optional<testx::Geometry> tip(std::chrono::milliseconds limit = 2s) {
        std::optional<testx::Geometry> g;
        testx::XServer::waitFor(
            [&] {
                const auto t = menuprobe::tips(x);
                if (!t.empty()) {
                    g = x.geometry(t.back());
                }
                return g.has_value();
            },
            limit);
        return g;
    }
    bool noTip(std::chrono::milliseconds limit = 1s) {
        return testx::XServer::waitFor([&] { return menuprobe::tips(x).empty(); }, limit);
    }
    std::size_t boxes() const {
        std::size_t n = 0;
        for (Window w : x.mappedTopLevels()) {
            n += x.windowName(w) == "Confirm";
        }
        return n;
    }

    testx::XServer x;
    testx::Geometry dialog;

  private:
    static inline int runs_ = 0;
    std::filesystem::path folder_;
    pid_t pid_ = -1;
    bool ready_ = false;
    std::optional<int> exitCode_;
};

TEST(ProgramMenu, EachEntryShowsItsOwnTipAndLeavingTheMenusTakesItDown) {
    Program p;
    ASSERT_TRUE(p.ready());
    const int reserveW = textWidth("Tip Explaining the option \"Reserve\"");
    const int otherW = textWidth("Other explanation tip");
    const int updatingW = textWidth("Tip for updating");
    ASSERT_NE(otherW, updatingW);

    p.openMenu();
    ASSERT_TRUE(p.menusOpen(1));
    p.moveToEntry(0, 2); // "Reserve"
    auto tip = p.tip();
    ASSERT_TRUE(tip) << "resting on \"Reserve\" brings up its tip";
    EXPECT_EQ(tip->width, reserveW + 8);
    int px = 0, py = 0;
    p.x.pointer(px, py);
    EXPECT_NEAR(tip->y, py + 40 - tip->height, 2) << "just below the pointer";
    EXPECT_TRUE(p.x.overrideRedirect(menuprobe::tips(p.x).back()));

    p.moveToEntry(0, 3); // "Other option": a tip of its own
    ASSERT_TRUE(p.noTip());
    tip = p.tip();
    ASSERT_TRUE(tip);
    EXPECT_EQ(tip->width, otherW + 8);

    p.moveToEntry(0, 1); // "Updates": its submenu, and no tip; the shown one goes
    ASSERT_TRUE(p.menusOpen(2));
    EXPECT_TRUE(p.noTip());
    EXPECT_FALSE(p.tip(900ms)) << "\"Updates\" has no tip";

    for (int n = 1; n <= 2; ++n) {
        p.moveToEntry(1, n);
        tip = p.tip();
        ASSERT_TRUE(tip) << "submenu entry " << n;
        EXPECT_EQ(tip->width, updatingW + 8);
        // Above the open menus.
        const auto top = p.x.mappedTopLevels();
        EXPECT_EQ(top.back(), menuprobe::tips(p.x).back());
        if (n == 1) {
            p.x.movePointer(p.x.screenWidth() - 5, p.x.screenHeight() - 5); // nothing marked
            ASSERT_TRUE(p.noTip());
        }
    }
    p.x.tapKey(XK_Escape); // leaves the submenu: the tip goes
    EXPECT_TRUE(p.noTip());
    ASSERT_TRUE(p.menusOpen(1));
    p.moveToEntry(0, 2);
    ASSERT_TRUE(p.tip());
    p.x.tapKey(XK_Escape); // leaves the menu: the tip goes, the program goes on
    EXPECT_TRUE(p.noTip());
    ASSERT_TRUE(p.menusOpen(0));
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(p.exited()) << "Escape that closes a menu does not end the program";

    p.openMenu(); // a click outside at the first level
    ASSERT_TRUE(p.menusOpen(1));
    p.moveToEntry(0, 3);
    ASSERT_TRUE(p.tip());
    p.x.click(p.dialog.x + 600, p.dialog.y + 500);
    ASSERT_TRUE(p.menusOpen(0));
    EXPECT_TRUE(p.noTip());

    p.x.tapKey(XK_Escape); // no menu open: the program ends
    EXPECT_EQ(p.exitCode(), 0);
}

TEST(ProgramMenu, EveryActionEntryOpensOneConfirmationBox) {
    Program p;
    ASSERT_TRUE(p.ready());
    struct Choice {
        const char* name;
        std::function<void()> choose;
        unsigned long closeKey; // 0: click OK
    };
    auto clickEntry = [&](std::size_t level, int n) {
        p.moveToEntry(level, n);
        std::this_thread::sleep_for(20ms);
        p.x.buttonDown();
        p.x.buttonUp();
    };
    const Choice choices[] = {
        {"Reserve by click",
         [&] {
             p.openMenu();
             ASSERT_TRUE(p.menusOpen(1));
             clickEntry(0, 2);
         },
         0},
        {"Other option by press-drag-release",
         [&] {
             p.x.movePointer(p.dialog.x + 30, p.dialog.y + 10);
             p.x.buttonDown();
             ASSERT_TRUE(p.menusOpen(1));
             p.moveToEntry(0, 3);
             std::this_thread::sleep_for(20ms);
             p.x.buttonUp();
         },
         XK_Return},
        {"Update something by keyboard",
         [&] {
             p.x.tapKey(XK_m, XK_Alt_L);
             ASSERT_TRUE(p.menusOpen(1));
             p.x.tapKey(XK_Right);
             ASSERT_TRUE(p.menusOpen(2));
             p.x.tapKey(XK_Return);
         },
         XK_Escape},
        {"Any Other Thing by click in the submenu",
         [&] {
             p.openMenu();
             ASSERT_TRUE(p.menusOpen(1));
             p.moveToEntry(0, 1);
             ASSERT_TRUE(p.menusOpen(2));
             clickEntry(1, 2);
         },
         0},
    };
    for (const Choice& c : choices) {
        SCOPED_TRACE(c.name);
        c.choose();
        ASSERT_TRUE(testx::XServer::waitFor([&] { return p.boxes() == 1; }, 2s));
        EXPECT_EQ(p.menus(), 0u) << "the menus close before the box opens";
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(p.boxes(), 1u) << "one box per choice";
        if (c.closeKey) {
            p.x.tapKey(c.closeKey);
        } else {
            const testx::Geometry g = p.x.geometry(*p.x.findMapped("Confirm"));
            p.x.click(g.x + g.width / 2, g.y + g.height - 31);
        }
        ASSERT_TRUE(testx::XServer::waitFor([&] { return p.boxes() == 0; }, 2s));
        std::this_thread::sleep_for(50ms);
        EXPECT_FALSE(p.exited()) << "the program goes on";
    }
    p.x.tapKey(XK_Escape); // the focus is back in the dialog: Escape ends the program
    EXPECT_EQ(p.exitCode(), 0);
}

} // namespace
