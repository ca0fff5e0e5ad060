// Menus as a person uses them, in-process: a dialog with a menu bar, a menu and a submenu whose
// callbacks log what they see, driven with XTest while the test's own loop (AppEvent and
// handleEvent) runs on the event thread. The server tells what is on screen.
#include <host/application.h>
#include <host/windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

// Xlib last (its macros break the headers above); kept in this order on purpose.
// clang-format off
#include "support/menu_probe.h"
#include <X11/keysym.h>
// clang-format on

using namespace std::chrono_literals;
using host::Callback;
using host::MenuAction;

namespace {

const char* kDialogName = "Menus under test";

// Runs `body` as the program's main routine (so this thread is the event thread); errors fail
// the test instead of ending the process.
void RunAsProgram(const std::function<void()>& body) {
    host::Start({.errorSys = [](const std::exception& e) { ADD_FAILURE() << e.what(); },
                 .appSys = {},
                 .appExit = host::AppExit,
                 .dbeSys = {},
                 .main = body});
}

struct Rig {
    testx::XServer x;
    std::shared_ptr<host::XbpDialog> dlg;
    std::shared_ptr<host::XbpMenuBar> bar;
    std::shared_ptr<host::XbpMenu> menu;
    std::shared_ptr<host::XbpMenu> sub;
    std::vector<std::string> log;
    int escapesToProgram = 0;
    testx::Geometry dialog;

    Rig() {
        const int rootH = x.screenHeight();
        dlg = host::XbpDialog::New(host::AppDesktop(), nullptr, host::Point{100, rootH - 400},
                                   host::Size{500, 300}, {}, false);
        dlg->title(kDialogName);
        dlg->create();
        host::SetAppWindow(dlg);
        bar = dlg->menuBar();
        bar->endMenu({"{|| bar}", [this] { log.push_back("end:bar"); }});
        menu = host::XbpMenu::New(bar)->create();
        menu->title("~Menu Test");
        menu->itemMarked(
            {"{|n| mark}", [this](int n) { log.push_back("mark:menu:" + std::to_string(n)); }});
        menu->endMenu({"{|| menu}", [this] { log.push_back("end:menu"); }});
        sub = host::XbpMenu::New(menu)->create();
        sub->title("~Updates");
        sub->itemMarked(
            {"{|n| mark}", [this](int n) { log.push_back("mark:sub:" + std::to_string(n)); }});
        sub->endMenu({"{|| sub}", [this] { log.push_back("end:sub"); }});
        sub->addItem(action("~Update something"));
        sub->addItem(action("~Any Other Thing"));
        menu->addItem(sub);
        menu->addItem(action("~Reserve"));
        menu->addItem(action("~Other option"));
        bar->addItem(menu);
        dlg->show();
        host::SetAppFocus(dlg->drawingArea());
        EXPECT_TRUE(testx::XServer::waitFor(
            [&] {
                pump(5ms);
                return x.findMapped(kDialogName).has_value();
            },
            2s));
        dialog = x.geometry(*x.findMapped(kDialogName));
        pump(50ms);
        log.clear();
    }
    ~Rig() {
        bar->destroy();
        dlg->destroy();
        host::SetAppWindow(nullptr);
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    MenuAction action(const std::string& caption) {
        return {
            caption,
            Callback<void()>("{|| chosen}", [this, caption] { log.push_back("sel:" + caption); }),
            host::Nil, host::Nil};
    }

    // The test's event loop: serves events for a while.
    void pump(std::chrono::milliseconds span) {
        const auto end = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < end) {
            step();
        }
    }
    bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 2s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= end) {
                return done();
            }
            step();
        }
        return true;
    }
    void step() {
        host::Param mp1, mp2;
        std::shared_ptr<host::XbpPart> target;
        const int code = host::AppEvent(mp1, mp2, target, 1);
        if (code == host::event::Keyboard && mp1 == host::key::Escape) {
            ++escapesToProgram;
        }
        if (code != host::event::NoEvent && target) {
            target->handleEvent(code, mp1, mp2, host::Nil);
        }
    }

    std::pair<int, int> barEntry() const { return {dialog.x + 30, dialog.y + 10}; }
    std::vector<Window> menus() const { return menuprobe::openMenus(x); }
    bool menusOpen(std::size_t n) {
        return pumpUntil([&] { return menus().size() == n; });
    }
    std::pair<int, int> entry(std::size_t level, int n) const {
        const auto open = menus();
        const int count = level == 0 ? 3 : 2;
        return menuprobe::entryCentre(x.geometry(open.at(level)), n, count);
    }
    void moveTo(std::pair<int, int> p) { x.movePointer(p.first, p.second); }
    void key(unsigned long sym, unsigned long modifier = 0) {
        x.tapKey(sym, modifier);
        pump(30ms);
    }
    bool logged(const std::string& what) {
        return pumpUntil([&] { return std::find(log.begin(), log.end(), what) != log.end(); });
    }
    // Whether some other client could take the pointer now (the menus' grab is gone).
    bool pointerFree() {
        const int status = XGrabPointer(x.display(), x.root(), False, ButtonPressMask,
                                        GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
        XUngrabPointer(x.display(), CurrentTime);
        XSync(x.display(), False);
        return status == GrabSuccess;
    }
};

using Log = std::vector<std::string>;

TEST(MenuByPointer, OpensBelowItsEntryMarksWithoutRepeatsAndClosesOnAClickOutside) {
    RunAsProgram([] {
        Rig r;
        r.x.click(r.barEntry().first, r.barEntry().second);
        ASSERT_TRUE(r.menusOpen(1));
        const testx::Geometry g = r.x.geometry(r.menus()[0]);
        EXPECT_TRUE(r.x.overrideRedirect(r.menus()[0]));
        EXPECT_NEAR(g.y, r.dialog.y + 26, 8) << "the menu hangs below the bar";
        EXPECT_FALSE(r.pointerFree()) << "an open menu holds the pointer";

        r.moveTo(r.entry(0, 2));
        ASSERT_TRUE(r.logged("mark:menu:2"));
        auto [ex, ey] = r.entry(0, 2);
        r.x.movePointer(ex + 3, ey + 1); // still the same entry
        r.pump(60ms);
        // The marked entry is drawn highlighted; an unmarked one is not.
        EXPECT_TRUE(testx::near(r.x.pixel(g.x + 8, ey), 0x34, 0x65, 0xa4))
            << testx::str(r.x.pixel(g.x + 8, ey));
        EXPECT_FALSE(testx::near(r.x.pixel(g.x + 8, r.entry(0, 3).second), 0x34, 0x65, 0xa4));

        // Onto "Updates": its submenu opens beside the menu.
        r.moveTo(r.entry(0, 1));
        ASSERT_TRUE(r.menusOpen(2));
        const testx::Geometry s = r.x.geometry(r.menus()[1]);
        EXPECT_NEAR(s.x, g.x + g.width, 6);
        r.moveTo(r.entry(1, 2));
        ASSERT_TRUE(r.logged("mark:sub:2"));
        // Back to "Other option": the submenu closes before the new mark is reported.
        r.moveTo(r.entry(0, 3));
        ASSERT_TRUE(r.logged("mark:menu:3"));
        EXPECT_EQ(r.log,
                  (Log{"mark:menu:2", "mark:menu:1", "mark:sub:2", "end:sub", "mark:menu:3"}));
        EXPECT_EQ(r.menus().size(), 1u);

        r.log.clear();
        r.x.click(r.dialog.x + 400, r.dialog.y + 250); // on the dialog, outside the menus
        ASSERT_TRUE(r.menusOpen(0));
        EXPECT_EQ(r.log, (Log{"end:menu", "end:bar"}));
        EXPECT_TRUE(r.pointerFree());
    });
}

TEST(MenuByPointer, ChoosingByClickClickAndByPressDragReleaseRunsTheActionAfterTheMenusClose) {
    RunAsProgram([] {
        Rig r;
        // Click on the bar, then click on "Reserve".
        r.x.click(r.barEntry().first, r.barEntry().second);
        ASSERT_TRUE(r.menusOpen(1));
        r.pump(30ms);
        EXPECT_EQ(r.menus().size(), 1u) << "the release of the opening click keeps the menu open";
        const auto reserve = r.entry(0, 2);
        r.x.click(reserve.first, reserve.second);
        ASSERT_TRUE(r.logged("sel:~Reserve"));
        EXPECT_EQ(r.log, (Log{"mark:menu:2", "end:menu", "end:bar", "sel:~Reserve"}));
        EXPECT_TRUE(r.menus().empty());

        // Press on the bar, drag through "Updates" into the submenu, release on its second entry.
        r.log.clear();
        r.moveTo(r.barEntry());
        r.x.buttonDown();
        ASSERT_TRUE(r.menusOpen(1));
        r.moveTo(r.entry(0, 1));
        ASSERT_TRUE(r.menusOpen(2));
        r.moveTo(r.entry(1, 2));
        ASSERT_TRUE(r.logged("mark:sub:2"));
        r.x.buttonUp();
        ASSERT_TRUE(r.logged("sel:~Any Other Thing"));
        EXPECT_EQ(r.log, (Log{"mark:menu:1", "mark:sub:2", "end:sub", "end:menu", "end:bar",
                              "sel:~Any Other Thing"}));
        EXPECT_TRUE(r.menus().empty());
        EXPECT_TRUE(r.pointerFree());
        // A second click on the bar entry closes the menu it opened.
        r.log.clear();
        r.x.click(r.barEntry().first, r.barEntry().second);
        ASSERT_TRUE(r.menusOpen(1));
        r.x.click(r.barEntry().first, r.barEntry().second);
        ASSERT_TRUE(r.menusOpen(0));
        EXPECT_EQ(r.log, (Log{"end:menu", "end:bar"}));
    });
}

TEST(MenuByKeyboard, AltMnemonicArrowsEnterAndEscapeOneLevelAtATime) {
    RunAsProgram([] {
        Rig r;
        r.key(XK_m, XK_Alt_L);
        ASSERT_TRUE(r.menusOpen(1));
        ASSERT_TRUE(r.logged("mark:menu:1"))
            << "opened from the keyboard, its first entry is marked";
        r.key(XK_Up); // wraps to the last entry
        r.key(XK_Down);
        r.key(XK_Down);
        ASSERT_TRUE(r.logged("mark:menu:2"));
        r.key(XK_Up);
        r.key(XK_Right); // on "Updates": opens the submenu with its first entry marked
        ASSERT_TRUE(r.menusOpen(2));
        ASSERT_TRUE(r.logged("mark:sub:1"));
        r.key(XK_Left);
        ASSERT_TRUE(r.menusOpen(1));
        r.key(XK_Return); // "Updates" marked: Enter opens it again
        ASSERT_TRUE(r.menusOpen(2));
        r.key(XK_Escape);
        ASSERT_TRUE(r.menusOpen(1));
        EXPECT_EQ(r.log, (Log{"mark:menu:1", "mark:menu:3", "mark:menu:1", "mark:menu:2",
                              "mark:menu:1", "mark:sub:1", "end:sub", "mark:sub:1", "end:sub"}));
        r.key(XK_Escape);
        ASSERT_TRUE(r.menusOpen(0));
        EXPECT_EQ(r.log.back(), "end:bar");
        EXPECT_EQ(r.escapesToProgram, 0) << "Escape that closes a menu is not the program's";
        EXPECT_TRUE(r.pointerFree());
        // With no menu open, Escape is the program's again.
        r.key(XK_Escape);
        EXPECT_TRUE(r.pumpUntil([&] { return r.escapesToProgram == 1; }));
    });
}

TEST(MenuByKeyboard, F10EnterAndMnemonicLettersChooseEntries) {
    RunAsProgram([] {
        Rig r;
        r.key(XK_F10);
        ASSERT_TRUE(r.menusOpen(1));
        r.key(XK_Down);
        r.key(XK_Return);
        ASSERT_TRUE(r.logged("sel:~Reserve"));
        EXPECT_TRUE(r.menus().empty());

        r.log.clear();
        r.key(XK_m, XK_Alt_L);
        ASSERT_TRUE(r.menusOpen(1));
        r.key(XK_u); // "Updates": opens the submenu
        ASSERT_TRUE(r.menusOpen(2));
        r.key(XK_a); // "Any Other Thing"
        ASSERT_TRUE(r.logged("sel:~Any Other Thing"));
        EXPECT_EQ(r.log, (Log{"mark:menu:1", "mark:sub:1", "mark:sub:2", "end:sub", "end:menu",
                              "end:bar", "sel:~Any Other Thing"}));
        EXPECT_EQ(r.escapesToProgram, 0);
        EXPECT_TRUE(r.pointerFree());
    });
}

TEST(MenuWindows, TwoHundredOpenMarkCloseCyclesLeaveNoWindowBehind) {
    RunAsProgram([] {
        // A first dialog with an opened menu: cairo makes one helper window per connection
        // on first drawing, which stays with the connection. Counted from here on.
        {
            Rig warm;
            warm.x.click(warm.barEntry().first, warm.barEntry().second);
            ASSERT_TRUE(warm.menusOpen(1));
            warm.key(XK_Escape);
            ASSERT_TRUE(warm.menusOpen(0));
        }
        int before = 0;
        {
            testx::XServer x;
            before = menuprobe::countWindows(x.display(), x.root());
        }
        {
            Rig r;
            const int withDialog = menuprobe::countWindows(r.x.display(), r.x.root());
            for (int i = 0; i < 200; ++i) {
                r.x.click(r.barEntry().first, r.barEntry().second);
                ASSERT_TRUE(r.menusOpen(1)) << "cycle " << i;
                r.moveTo(r.entry(0, 1));
                ASSERT_TRUE(r.menusOpen(2)) << "cycle " << i;
                r.moveTo(r.entry(1, 2));
                if (i % 2) {
                    r.key(XK_Escape);
                    r.key(XK_Escape);
                } else {
                    r.x.click(r.dialog.x + 400, r.dialog.y + 250);
                }
                ASSERT_TRUE(r.menusOpen(0)) << "cycle " << i;
            }
            r.pump(20ms);
            EXPECT_EQ(menuprobe::countWindows(r.x.display(), r.x.root()), withDialog);
            EXPECT_EQ(std::count(r.log.begin(), r.log.end(), "end:bar"), 200);
        }
        testx::XServer x;
        EXPECT_EQ(menuprobe::countWindows(x.display(), x.root()), before);
    });
}

} // namespace
