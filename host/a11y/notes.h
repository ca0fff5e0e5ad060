// What the driver tells the accessible tree: plain values, no X11 or ATK types, so a note can
// be made on any thread and carried to the event thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace host::a11y {

using WindowId = unsigned long; // an X window

// An entry of a menu bar or menu: its caption without the mnemonic mark, the mnemonic
// character (lower case, UTF-8; empty when none) and, for a submenu, its entries.
struct MenuEntry {
    std::string text;
    std::string mnemonic;
    bool submenu = false;
    std::vector<MenuEntry> entries;
    friend bool operator==(const MenuEntry&, const MenuEntry&) = default;
};

enum class Role { Frame, ToolTip, Alert };

// A rectangle on the screen (the root window), in pixels from its top left corner.
struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};
// Where something is on the screen now, asked on the event thread when a screen reader wants
// to know; nothing while it is not on the screen.
using Where = std::function<std::optional<Rect>()>;

struct Note {
    enum class Kind {
        WindowShown, // a top-level window is on the screen: `window`, `area`, `role`, `text`
        WindowText,  // text was drawn in `area` (names a tip)
        WindowGone,  // `window` and everything in it went
        MenuBar,     // the bar of dialog `window` has `entries` (none: the bar went)
        MenuState,   // menus open on dialog `window`: `path` and `marked` per level
    };
    Kind kind = Kind::WindowShown;
    WindowId window = 0;
    WindowId area = 0;
    Role role = Role::Frame;
    std::string text;
    std::vector<MenuEntry> entries;
    // MenuState: path[0] is the bar entry whose menu is open (from 1), path[k] the entry of
    // level k-1 that opened level k; marked[k] is the entry marked in level k (0: none).
    std::vector<int> path;
    std::vector<int> marked;
    // WindowShown: where the window is.
    Where where;
    // Alert: its buttons, the one Enter presses, and how to press one (run on the event
    // thread).
    std::vector<std::string> buttons;
    int defaultButton = 0;
    std::function<void(int)> press;
    // MenuBar: chooses the entry at a path (numbered from 1: the bar's entry, then one per
    // menu level) as the pointer would; run on the event thread, it posts the work to the
    // program's event loop.
    std::function<void(const std::vector<int>&)> choose;
    // MenuBar: where the bar's strip is (an empty path) or the entry at a path.
    std::function<std::optional<Rect>(const std::vector<int>&)> whereEntry;
};

} // namespace host::a11y
