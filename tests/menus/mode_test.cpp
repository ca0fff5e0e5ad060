// Menu mode's decisions without a display: a small menu tree whose callbacks log, input fed as a
// driver would, and the windows each step asks for checked alongside the callbacks it runs.
#include "menu_mode.h"

#include <host/application.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using host::menus::Hit;
using host::menus::kBar;
using host::menus::MenuId;
using host::menus::MenuMode;
using host::menus::ScreenAction;
using host::menus::Step;
using Kind = ScreenAction::Kind;
using Log = std::vector<std::string>;

// The program's shape: a bar with "~Menu Test" (entries "~Updates" -> submenu, "~Reserve",
// "~Other option") and a bar action "~Quit"; "~Updates" holds "~Update something" and
// "~Any Other Thing".
struct Tree final : host::menus::Model {
    struct Entry {
        std::string name;
        long mnemonic = 0;
        MenuId submenu = nullptr;
    };
    struct Menu {
        std::string name;
        std::vector<Entry> entries;
    };
    Menu bar{"bar", {}};
    Menu menu{"menu", {}};
    Menu sub{"sub", {}};
    mutable Log log;

    Tree() {
        sub.entries = {{"Update something", 'u', nullptr}, {"Any Other Thing", 'a', nullptr}};
        menu.entries = {{"Updates", 'u', &sub}, {"Reserve", 'r', nullptr}, {"Other", 'o', nullptr}};
        bar.entries = {{"Menu Test", 'm', &menu}, {"Quit", 'q', nullptr}};
    }
    const Menu& of(MenuId m) const { return m ? *static_cast<const Menu*>(m) : bar; }
    const Entry& at(MenuId m, int n) const { return of(m).entries.at(std::size_t(n) - 1); }

    int count(MenuId m) const override { return int(of(m).entries.size()); }
    MenuId submenu(MenuId m, int n) const override { return at(m, n).submenu; }
    long mnemonic(MenuId m, int n) const override { return at(m, n).mnemonic; }
    long fold(long key) const override { return key >= 'A' && key <= 'Z' ? key + 32 : key; }
    host::Callback<void()> selected(MenuId m, int n) const override {
        const std::string name = at(m, n).name;
        return {"sel", [this, name] { log.push_back("sel:" + name); }};
    }
    host::Callback<void(int)> itemMarked(MenuId m) const override {
        const std::string name = of(m).name;
        return {"mark",
                [this, name](int n) { log.push_back("mark:" + name + ":" + std::to_string(n)); }};
    }
    host::Callback<void()> endMenu(MenuId m) const override {
        const std::string name = of(m).name;
        return {"end", [this, name] { log.push_back("end:" + name); }};
    }
};

struct Rig {
    Tree t;
    MenuMode mode{t};
    std::vector<ScreenAction> actions;

    void run(const Step& s) {
        actions.insert(actions.end(), s.actions.begin(), s.actions.end());
        for (const auto& cb : s.calls) {
            cb();
        }
    }
    void move(Hit h) { run(mode.pointer(host::event::Motion, h)); }
    void press(Hit h) { run(mode.pointer(host::event::ButtonDown, h)); }
    void release(Hit h) { run(mode.pointer(host::event::ButtonUp, h)); }
    void key(long k, long mods = 0) { run(mode.key(k, mods)); }
    Log take() { return std::exchange(t.log, {}); }
    // "Menu Test" and "Updates" open, nothing logged or drawn yet.
    void openBoth() {
        press({-1, 0, 1});
        move({0, 1, 0});
        take();
        actions.clear();
    }
    std::vector<ScreenAction> takeActions() { return std::exchange(actions, {}); }
};

Hit inMenu(int level, int entry) {
    return {level, entry, 0};
}
Hit onBar(int entry) {
    return {-1, 0, entry};
}
const Hit kOutside{};

TEST(MenuMode, PointerOpensMarksAndSlidesIntoTheSubmenuClosingItBeforeTheNextMark) {
    Rig r;
    r.press(onBar(1));
    EXPECT_EQ(r.takeActions(),
              (std::vector<ScreenAction>{
                  {Kind::Grab}, {Kind::RepaintBar, 0, kBar, 1}, {Kind::Open, 0, &r.t.menu, 1}}));
    r.release(onBar(1)); // the release of the opening press keeps the menu open
    EXPECT_TRUE(r.mode.active());
    r.move(inMenu(0, 2));
    r.move(inMenu(0, 2)); // resting on the same entry reports nothing again
    EXPECT_EQ(r.take(), (Log{"mark:menu:2"}));
    r.takeActions();
    r.move(inMenu(0, 1)); // "Updates": marked, and its submenu opens beside it
    EXPECT_EQ(r.takeActions(), (std::vector<ScreenAction>{{Kind::Repaint, 0, &r.t.menu, 0, 1},
                                                          {Kind::Open, 1, &r.t.sub, 1}}));
    r.move(inMenu(1, 2));
    r.move(inMenu(0, 3));
    EXPECT_EQ(r.take(), (Log{"mark:menu:1", "mark:sub:2", "end:sub", "mark:menu:3"}));
    EXPECT_EQ(r.mode.levels(), 1);

    r.move(onBar(2)); // sliding onto a bar action opens nothing
    EXPECT_EQ(r.mode.levels(), 1);
    r.takeActions();
    r.press(kOutside);
    EXPECT_EQ(r.take(), (Log{"end:menu", "end:bar"}));
    EXPECT_EQ(r.takeActions(),
              (std::vector<ScreenAction>{
                  {Kind::Close, 0, &r.t.menu}, {Kind::Ungrab}, {Kind::RepaintBar, 0, kBar, 0}}));
    EXPECT_FALSE(r.mode.active());
    EXPECT_FALSE(r.mode.grabbed());
}

TEST(MenuMode, ChoosingAnActionClosesEverythingFirstAndThenRunsItsSelection) {
    Rig r;
    r.openBoth();
    r.move(inMenu(1, 2));
    r.release(inMenu(1, 2));
    EXPECT_EQ(r.take(),
              (Log{"mark:sub:2", "end:sub", "end:menu", "end:bar", "sel:Any Other Thing"}));
    EXPECT_FALSE(r.mode.active());

    // A second press on the open bar entry closes its menu; a right click outside does too.
    r.press(onBar(1));
    r.press(onBar(1));
    EXPECT_FALSE(r.mode.active());
    r.press(onBar(1));
    r.run(r.mode.pointer(host::event::RightDown, kOutside));
    EXPECT_FALSE(r.mode.active());
    // A bar action is chosen at once, with no menu left open.
    r.take();
    r.press(onBar(2));
    EXPECT_EQ(r.take(), (Log{"sel:Quit"}));
    EXPECT_FALSE(r.mode.active());
}

TEST(MenuMode, KeysWrapMoveBetweenLevelsAndChooseByMnemonic) {
    namespace key = host::key;
    Rig r;
    EXPECT_FALSE(r.mode.dialogKey('m', 0).handled) << "a letter without Alt is the dialog's";
    r.run(r.mode.dialogKey('M', host::mod::Alt));
    EXPECT_EQ(r.take(), (Log{"mark:menu:1"})) << "opened from the keyboard: first entry marked";
    r.key(key::Up); // wraps to the last entry
    r.key(key::Down);
    r.key(key::Down);
    r.key(key::Up);
    r.key(key::Right); // on "Updates": opens it with its first entry marked
    r.key(key::Left);  // closes only the submenu
    r.key(key::Enter); // opens it again
    r.key(key::Escape);
    EXPECT_EQ(r.take(), (Log{"mark:menu:3", "mark:menu:1", "mark:menu:2", "mark:menu:1",
                             "mark:sub:1", "end:sub", "mark:sub:1", "end:sub"}));
    EXPECT_EQ(r.mode.levels(), 1);
    r.key('u'); // "Updates" by its letter: the submenu opens
    r.key('a'); // "Any Other Thing" is chosen
    EXPECT_EQ(r.take(), (Log{"mark:sub:1", "mark:sub:2", "end:sub", "end:menu", "end:bar",
                             "sel:Any Other Thing"}));

    // F10 opens the first bar menu and closes it again; Escape at the top leaves menu mode.
    r.run(r.mode.dialogKey(key::F1 + 9, 0));
    EXPECT_TRUE(r.mode.active());
    r.key(key::F1 + 9);
    EXPECT_FALSE(r.mode.active());
    r.run(r.mode.dialogKey(key::F1 + 9, 0));
    r.key(key::Escape);
    EXPECT_FALSE(r.mode.active());
    EXPECT_FALSE(r.mode.grabbed());
}

TEST(MenuMode, AbandonTakesEverythingDownWithoutRunningACallback) {
    Rig r;
    r.openBoth();
    r.run(r.mode.abandon());
    EXPECT_TRUE(r.take().empty());
    EXPECT_EQ(r.takeActions(),
              (std::vector<ScreenAction>{
                  {Kind::Close, 1, &r.t.sub}, {Kind::Close, 0, &r.t.menu}, {Kind::Ungrab}}));
    EXPECT_FALSE(r.mode.active());
    EXPECT_EQ(r.mode.barEntry(), 0);
}

TEST(MenuMode, AMenuThatHoldsItselfDoesNotOpenTwice) {
    Rig r;
    r.t.sub.entries.push_back({"Loop", 'l', &r.t.menu});
    r.openBoth();
    r.move(inMenu(1, 3)); // an entry whose submenu is already open at level 0
    EXPECT_EQ(r.mode.levels(), 2);
    EXPECT_EQ(r.mode.levelOf(&r.t.menu), 0);
}

} // namespace
