// Menu mode without a window system: which menus are open, which entry of each is marked, what
// pointer input and keys do to them, and when itemMarked, endMenu and selections run. A driver
// that draws its own menus feeds it input (hit-testing on its own windows first) and carries
// out what each step returns: first the windows to grab, open, close and repaint, in order, then
// the callbacks to run, in order, once the menus are in a consistent state again.
#pragma once

#include <host/values.h>

#include <cstddef>
#include <vector>

namespace host::menus {

// A menu's identity: the driver's own menu object. kBar stands for the menu bar.
using MenuId = const void*;
inline constexpr MenuId kBar = nullptr;

// What the machine reads of the menu tree; the driver answers from its menu objects. Entries
// are numbered from 1.
class Model {
  public:
    virtual ~Model() = default;
    virtual int count(MenuId menu) const = 0;
    // The submenu that entry n opens, or nullptr for an action entry.
    virtual MenuId submenu(MenuId menu, int n) const = 0;
    // Entry n's mnemonic letter, folded as Fold folds keys; 0 when it has none.
    virtual long mnemonic(MenuId menu, int n) const = 0;
    // A key code (a Unicode code point) folded the way mnemonics are compared; 0 for none.
    virtual long fold(long key) const = 0;
    virtual Callback<void()> selected(MenuId menu, int n) const = 0;
    virtual Callback<void(int)> itemMarked(MenuId menu) const = 0;
    virtual Callback<void()> endMenu(MenuId menu) const = 0; // kBar: the bar's
};

// One thing for the driver to do to the screen.
struct ScreenAction {
    enum class Kind {
        Grab,       // take the pointer and keyboard for menu mode
        Ungrab,     // give them back
        Open,       // show `menu` at `level`, hanging from entry `anchor` of the level above
                    // (for level 0: the bar's entry `anchor`), nothing marked
        Close,      // take down the menu at `level`
        Repaint,    // redraw the menu at `level` with entry `marked` marked (0: none)
        RepaintBar, // redraw the bar with entry `anchor` drawn open (0: none)
    };
    Kind kind = Kind::Repaint;
    int level = 0;
    MenuId menu = kBar;
    int anchor = 0;
    int marked = 0;
    friend bool operator==(const ScreenAction&, const ScreenAction&) = default;
};

// What one step of menu mode asks of the driver.
struct Step {
    std::vector<ScreenAction> actions;
    std::vector<Callback<void()>> calls; // itemMarked already bound to its entry number
    bool handled = false;                // dialogKey: the key opened a menu
};

// Where the pointer is, as the driver's hit-testing found it.
struct Hit {
    int level = -1;   // the innermost open menu under the pointer; -1 for none
    int entry = 0;    // that menu's entry under the pointer; 0 on its frame
    int barEntry = 0; // the bar's entry under the pointer; 0 for none
};

class MenuMode {
  public:
    explicit MenuMode(const Model& model) : model_(model) {}

    bool active() const { return !open_.empty(); }
    bool grabbed() const { return grabbed_; }
    int barEntry() const { return barEntry_; } // the bar entry whose menu is open, 0 for none
    int levels() const { return static_cast<int>(open_.size()); }
    MenuId menuAt(int level) const { return open_.at(static_cast<std::size_t>(level)).menu; }
    int markedAt(int level) const { return open_.at(static_cast<std::size_t>(level)).marked; }
    int levelOf(MenuId menu) const;

    // Opens the menu of the bar's entry; an action entry of the bar is chosen at once. From
    // the keyboard the menu's first entry is marked.
    Step openBarEntry(int entry, bool byKey);
    // Menu mode ends: every menu closes (innermost first, each running its endMenu), the grab
    // goes, then the bar's endMenu runs.
    Step end();
    // Leaves menu mode without running any callback (an error is on its way out).
    Step abandon();
    // Pointer input: event::Motion, ButtonDown, ButtonUp, RightDown or MiddleDown.
    Step pointer(int code, Hit hit);
    // A key while a menu is open (host::key codes or code points; host::mod bits).
    Step key(long code, long mods);
    // A key typed in the dialog while no menu is open: Alt+mnemonic and F10 open a menu.
    Step dialogKey(long code, long mods);

  private:
    struct Open {
        MenuId menu;
        int marked = 0;
    };

    void openBar(Step& s, int entry, bool byKey);
    void endMode(Step& s);
    void mark(Step& s, int level, int n, bool byPointer);
    void open(Step& s, MenuId menu, int anchor);
    void openSubmenu(Step& s, int level, int n, bool markFirst);
    void activate(Step& s, int level, int n, bool byKey);
    void closeLevel(Step& s, int level);
    void closeFrom(Step& s, int level);
    void stepBar(Step& s, int step);

    const Model& model_;
    std::vector<Open> open_; // outermost first
    int barEntry_ = 0;
    bool grabbed_ = false;
};

} // namespace host::menus
