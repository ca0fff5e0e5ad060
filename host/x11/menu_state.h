// The state behind menu bars and menus. The bar is a strip window at the top of its dialog;
// menus are drawn by the runtime in override-redirect popup windows of their own while open.
// While any menu is open the bar runs "menu mode": it holds the pointer and keyboard grab, all
// pointer and key input reaches it, and it routes that input to the open menus.
#pragma once

#include "../common/driver.h"
#include "connection.h"
#include "handles.h"
#include "menu_mode.h"
#include "xwindow.h"

#include <host/windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace host::detail {

// A caption with its "~" mnemonic marker taken out: the text to draw, the byte range of the
// mnemonic character in it (for the underline) and that character, lower-cased, for matching.
// "~~" stands for a literal "~".
struct Label {
    std::string text;
    int mnemonicStart = -1; // byte offset in `text`; -1 when the caption has none
    int mnemonicEnd = -1;
    long mnemonic = 0; // Unicode code point, lower case; 0 when none
};
Label ParseCaption(std::string_view caption);
// A key code (Unicode code point) folded the way mnemonics are compared.
long FoldMnemonic(long code);

// An entry's place in a popup, device pixels relative to the popup's top left corner.
struct EntryBox {
    int y = 0;
    int height = 0;
};

// An open menu's window: created when the menu opens, destroyed when it closes. Owns the X
// window, the cairo surface and context on it, and one pango layout per entry; the window is
// declared first, so it goes last, after everything that may still send requests for it.
struct Popup {
    x11::XWindow window;
    x11::SurfacePtr surface;
    x11::CairoPtr cr;
    std::vector<x11::LayoutPtr> layouts;
    std::vector<Label> labels;
    std::vector<EntryBox> boxes;
    std::vector<bool> isSubmenu;
    int x = 0; // top left corner on the root window
    int y = 0;
    int width = 0;
    int height = 0;

    bool contains(int rootX, int rootY) const {
        return rootX >= x && rootX < x + width && rootY >= y && rootY < y + height;
    }
    // The entry (from 1) at a root position, or 0.
    int entryAt(int rootX, int rootY) const;
};

class BarModel;

struct MenuImpl final : MenuState {
    MenuImpl();
    ~MenuImpl() override;

    // A menu.
    std::unique_ptr<Popup> popup; // while open
    // A menu bar: its strip window.
    std::shared_ptr<x11::Connection> conn;
    x11::XWindow strip;
    int height = 0;
    std::vector<int> entryX; // left edges of the strip's entries, plus the right end
    int openEntry = 0;       // the strip entry drawn open, 0 for none
    // Menu mode of a bar: its decisions, and the open menus' objects (outermost first), held
    // while their windows are up.
    std::unique_ptr<BarModel> model;
    std::unique_ptr<menus::MenuMode> mode;
    std::vector<std::shared_ptr<XbpMenu>> openMenus;
    bool grabbed = false;
    int stripX = 0; // the strip's top left corner on the root window, while grabbed
    int stripY = 0;

    // A bar: makes the strip window inside the dialog's (the dialog lays it out), and
    // destroys it.
    void attachTo(XbpMenuBar& bar, WindowState& dialog) override;
    void detach() override;
    // A bar's menu mode (its decisions) is made with the bar; its steps close the open menus.
    void madeBar() override;
    void itemAdded(XbpPart& owner) override;
    void closeBarMenus() override;
    void abandonBarMenus() override;
    void closeMenu() override;
    // Paint requests, and input for the bar's menu mode (the bar's or an open menu's).
    void menuEvent(XbpPart& owner, int nEvent, Param mp1, Param mp2) override;
    void barEvent(int nEvent, Param mp1, Param mp2);
    void popupEvent(int nEvent, Param mp1, Param mp2);
    void paintStrip(int width);
    // The strip entry (from 1) at an x position of the strip, or 0.
    int stripEntryAt(int x) const;
};

} // namespace host::detail

namespace host::x11 {
// Runtime-private windows (menu bar strips, menus, confirmation boxes): their key input is
// delivered as event::Internal, so it never reaches a program's loop as event::Keyboard.
bool IsPrivateInput(const XbpPart& part);
// The height of a runtime-private part's window, for pointer coordinates; 0 for others.
int PrivateWindowHeight(const XbpPart& part);
// Other runtime-private windows (the confirmation box) derive from this.
class PrivatePart : public XbpPart {
  public:
    virtual int windowHeight() const = 0;
};
} // namespace host::x11
