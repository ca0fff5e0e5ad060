// Menu bars and menus: their entries and callbacks, and menu mode. While a menu is open its bar
// holds the pointer and keyboard grab on its strip window, so every pointer and key event of the
// session reaches the bar (keys as event::Internal); the bar routes them to the open menus.
// Callbacks run from handleEvent, inside the program's own event loop.
#include "a11y_notes.h"
#include "coords.h"
#include "menu_state.h"
#include "menus_draw.h"
#include "object_state.h"
#include "scheme.h"

#include <host/error.h>

#include <algorithm>

namespace host {

namespace {

using detail::MenuImpl;
using menus::MenuId;

// ---- Helpers -------------------------------------------------------------------------------

// The bar a menu hangs from, through its parents; nullptr for a menu outside any bar.
std::shared_ptr<XbpMenuBar> barOf(const MenuImpl& menu) {
    std::shared_ptr<XbpPart> parent = menu.parent.lock();
    for (int depth = 0; parent && depth < 64; ++depth) {
        if (auto bar = std::dynamic_pointer_cast<XbpMenuBar>(parent)) {
            return bar;
        }
        auto up = std::dynamic_pointer_cast<XbpMenu>(parent);
        parent = up ? Impl(*up).parent.lock() : nullptr;
    }
    return nullptr;
}

int stripWidth(const MenuImpl& b) {
    auto dlg = b.dialog.lock();
    return dlg ? dlg->currentSize().width : 0;
}

void repaintStrip(MenuImpl& b) {
    b.paintStrip(stripWidth(b));
}

::Window dialogWindow(const MenuImpl& b) {
    auto dlg = b.dialog.lock();
    return dlg && dlg->isCreated() ? Impl(*dlg).window.id() : 0;
}

// ---- Menu mode on X11 ------------------------------------------------------------------------

// What menu mode's decisions read of the menus: entries, submenus, mnemonics, callbacks.
MenuImpl& implOf(MenuId id, MenuImpl& bar) {
    return id ? Impl(*const_cast<XbpMenu*>(static_cast<const XbpMenu*>(id))) : bar;
}

} // namespace

namespace detail {

class BarModel final : public menus::Model {
  public:
    explicit BarModel(MenuImpl& bar) : bar_(bar) {}

    int count(MenuId m) const override { return static_cast<int>(implOf(m, bar_).items.size()); }
    MenuId submenu(MenuId m, int n) const override { return submenuOf(item(m, n)).get(); }
    long mnemonic(MenuId m, int n) const override {
        return ParseCaption(EntryCaption(item(m, n))).mnemonic;
    }
    long fold(long key) const override { return FoldMnemonic(key); }
    Callback<void()> selected(MenuId m, int n) const override {
        const auto* action = std::get_if<MenuAction>(&item(m, n));
        return action ? action->selected : Callback<void()>();
    }
    Callback<void(int)> itemMarked(MenuId m) const override {
        return m ? implOf(m, bar_).itemMarked : Callback<void(int)>();
    }
    Callback<void()> endMenu(MenuId m) const override { return implOf(m, bar_).endMenu; }

  private:
    const MenuItem& item(MenuId m, int n) const {
        return implOf(m, bar_).items.at(static_cast<std::size_t>(n) - 1);
    }
    MenuImpl& bar_;
};

MenuImpl::MenuImpl() = default;
MenuImpl::~MenuImpl() = default;

} // namespace detail

namespace {

// A bar's menu mode on the server: hit-testing for its decisions, and carrying out each step
// (grabs, popups, repaints), then its callbacks.
class MenuModeRunner {
  public:
    explicit MenuModeRunner(MenuImpl& bar) : b_(bar) {}

    menus::MenuMode& mode() { return *b_.mode; }

    // Carries out a step; an error escaping a callback still leaves no grab and no popup.
    void run(const menus::Step& step) {
        try {
            for (const menus::ScreenAction& d : step.actions) {
                apply(d);
            }
            x11::a11y::MenuStep(b_);
            for (const Callback<void()>& cb : step.calls) {
                cb();
            }
        } catch (...) {
            abandon();
            throw;
        }
    }

    // Leaves menu mode without running any callback.
    void abandon() {
        for (const menus::ScreenAction& d : mode().abandon().actions) {
            apply(d);
        }
        x11::a11y::MenuStep(b_);
        b_.openEntry = 0;
    }

    // Where a root position (device coordinates) lies among the open menus and the strip.
    menus::Hit hitAt(int rootX, int rootY) const {
        menus::Hit hit;
        for (int i = static_cast<int>(b_.openMenus.size()) - 1; i >= 0; --i) {
            const auto& p = Impl(*b_.openMenus[static_cast<std::size_t>(i)]).popup;
            if (p && p->contains(rootX, rootY)) {
                hit.level = i;
                hit.entry = p->entryAt(rootX, rootY);
                break;
            }
        }
        if (rootY >= b_.stripY && rootY < b_.stripY + b_.height) {
            hit.barEntry = b_.stripEntryAt(rootX - b_.stripX);
        }
        return hit;
    }

  private:
    void apply(const menus::ScreenAction& d) {
        using Kind = menus::ScreenAction::Kind;
        switch (d.kind) {
        case Kind::Grab:
            grab();
            break;
        case Kind::Ungrab:
            ungrab();
            break;
        case Kind::RepaintBar:
            b_.openEntry = d.anchor;
            repaintStrip(b_);
            break;
        case Kind::Open:
            open(d);
            break;
        case Kind::Close:
            if (d.level < static_cast<int>(b_.openMenus.size())) {
                MenuImpl& m = Impl(*b_.openMenus[static_cast<std::size_t>(d.level)]);
                m.popup.reset();
                m.marked = 0;
                b_.openMenus.resize(static_cast<std::size_t>(d.level));
            }
            break;
        case Kind::Repaint:
            if (d.level < static_cast<int>(b_.openMenus.size())) {
                MenuImpl& m = Impl(*b_.openMenus[static_cast<std::size_t>(d.level)]);
                m.marked = d.marked;
                detail::PaintPopup(m);
            }
            break;
        }
    }

    // A bar's menu hangs below its strip entry; a submenu opens beside its entry, and on the
    // other side of its parent when it would leave the screen at the right.
    void open(const menus::ScreenAction& d) {
        auto object = std::static_pointer_cast<XbpMenu>(
            const_cast<XbpMenu*>(static_cast<const XbpMenu*>(d.menu))->shared_from_this());
        const auto anchor = static_cast<std::size_t>(d.anchor) - 1;
        int x = 0, y = 0, altRight = 0;
        if (d.level == 0) {
            x = b_.stripX + (anchor < b_.entryX.size() ? b_.entryX[anchor] : 0);
            y = b_.stripY + b_.height;
            altRight = b_.conn->rootSize().width;
        } else {
            const detail::Popup& p =
                *Impl(*b_.openMenus.at(static_cast<std::size_t>(d.level) - 1)).popup;
            x = p.x + p.width - 3;
            y = p.y + p.boxes.at(anchor).y - 4;
            altRight = p.x + 3;
        }
        b_.openMenus.resize(static_cast<std::size_t>(d.level));
        b_.openMenus.push_back(object);
        Impl(*object).marked = 0;
        detail::OpenPopup(*object, x, y, altRight, d.level == 0, dialogWindow(b_));
    }

    void grab() {
        Display* dpy = b_.conn->dpy();
        ::Window child = 0;
        XTranslateCoordinates(dpy, b_.strip.id(), b_.conn->root(), 0, 0, &b_.stripX, &b_.stripY,
                              &child);
        // Everything goes to the strip (owner_events False), so that a click on any other
        // window, the program's own included, is seen as a click outside the menus.
        XGrabPointer(dpy, b_.strip.id(), False,
                     ButtonPressMask | ButtonReleaseMask | PointerMotionMask, GrabModeAsync,
                     GrabModeAsync, None, None, CurrentTime);
        XGrabKeyboard(dpy, b_.strip.id(), False, GrabModeAsync, GrabModeAsync, CurrentTime);
        XFlush(dpy);
        b_.grabbed = true;
    }

    void ungrab() {
        if (!b_.grabbed) {
            return;
        }
        b_.grabbed = false;
        Display* dpy = b_.conn->dpy();
        XUngrabPointer(dpy, CurrentTime);
        XUngrabKeyboard(dpy, CurrentTime);
        XFlush(dpy);
    }

    MenuImpl& b_;
};

} // namespace

// ---- Runtime-private windows -------------------------------------------------------------

namespace x11 {

bool IsPrivateInput(const XbpPart& part) {
    return dynamic_cast<const XbpMenuBar*>(&part) || dynamic_cast<const XbpMenu*>(&part) ||
           dynamic_cast<const PrivatePart*>(&part);
}

int PrivateWindowHeight(const XbpPart& part) {
    if (const auto* bar = dynamic_cast<const XbpMenuBar*>(&part)) {
        return Impl(*const_cast<XbpMenuBar*>(bar)).height;
    }
    if (const auto* menu = dynamic_cast<const XbpMenu*>(&part)) {
        const auto& popup = Impl(*const_cast<XbpMenu*>(menu)).popup;
        return popup ? popup->height : 0;
    }
    if (const auto* other = dynamic_cast<const PrivatePart*>(&part)) {
        return other->windowHeight();
    }
    return 0;
}

} // namespace x11

namespace detail {

void MenuImpl::attachTo(XbpMenuBar& bar, WindowState& dialogState) {
    const auto& d = static_cast<const WindowImpl&>(dialogState);
    const ::Window dialogWindow = d.window.id();
    const int width = d.windowSize().width;
    std::weak_ptr<XbpPart> owner = bar.shared_from_this();
    conn = x11::Connection::current();
    height = x11::MenuBarHeight(font);
    strip = x11::XWindow(conn, {dialogWindow,
                                {0, 0, width, height},
                                x11::scheme::Face,
                                ExposureMask | StructureNotifyMask | ButtonPressMask |
                                    ButtonReleaseMask | PointerMotionMask | LeaveWindowMask});
    strip.dispatchTo(std::move(owner));
    XMapWindow(conn->dpy(), strip.id());
}

void MenuImpl::detach() {
    x11::a11y::MenuBarGone(*this);
    strip.destroy();
}

} // namespace detail

// ---- The menu hooks ----------------------------------------------------------------------

namespace detail {

void MenuImpl::madeBar() {
    model = std::make_unique<BarModel>(*this);
    mode = std::make_unique<menus::MenuMode>(*model);
}

void MenuImpl::itemAdded(XbpPart& owner) {
    if (!dynamic_cast<XbpMenuBar*>(&owner)) {
        return; // a menu's popup is laid out when it opens
    }
    x11::a11y::MenuBarChanged(*this);
    if (strip) {
        XClearArea(conn->dpy(), strip.id(), 0, 0, 0, 0, True); // repaint with it
        XFlush(conn->dpy());
    }
}

void MenuImpl::closeBarMenus() {
    MenuModeRunner session(*this);
    session.run(session.mode().end());
}

void MenuImpl::abandonBarMenus() {
    MenuModeRunner(*this).abandon();
}

void MenuImpl::closeMenu() {
    if (popup) {
        if (auto bar = barOf(*this)) {
            MenuModeRunner session(Impl(*bar)); // taken away while open
            session.run(session.mode().end());
        }
    }
    popup.reset();
}

void MenuImpl::menuEvent(XbpPart& owner, int nEvent, Param mp1, Param mp2) {
    if (dynamic_cast<XbpMenuBar*>(&owner)) {
        barEvent(nEvent, mp1, mp2);
    } else {
        popupEvent(nEvent, mp1, mp2);
    }
}

void MenuImpl::barEvent(int nEvent, Param mp1, Param mp2) {
    switch (nEvent) {
    case event::Paint:
        repaintStrip(*this);
        return;
    case event::Keyboard: // typed in the dialog
        if (mp1 && mp2) {
            MenuModeRunner session(*this);
            session.run(session.mode().dialogKey(*mp1, *mp2));
        }
        return;
    case event::Internal: // a key under the menus' keyboard grab
        if (mp1) {
            MenuModeRunner session(*this);
            session.run(session.mode().key(*mp1, mp2.value_or(0)));
        }
        return;
    case event::Motion:
    case event::ButtonDown:
    case event::ButtonUp:
    case event::RightDown:
    case event::MiddleDown: {
        if (!mp1 || !mp2 || !strip) {
            return;
        }
        const int x = static_cast<int>(*mp1);
        const int y = x11::ToDeviceRow(static_cast<int>(*mp2), height);
        MenuModeRunner session(*this);
        if (session.mode().active()) {
            session.run(session.mode().pointer(nEvent, session.hitAt(stripX + x, stripY + y)));
        } else if (nEvent == event::ButtonDown && y >= 0 && y < height) {
            if (entryX.empty()) {
                repaintStrip(*this); // lays out the entries
            }
            // Not grabbed yet: the strip's own coordinates tell the entry.
            menus::Hit hit;
            hit.barEntry = stripEntryAt(x);
            session.run(session.mode().pointer(nEvent, hit));
        }
        return;
    }
    default:
        return;
    }
}

void MenuImpl::popupEvent(int nEvent, Param mp1, Param mp2) {
    if (nEvent == event::Paint) {
        PaintPopup(*this);
        return;
    }
    // Input addressed to an open menu itself (its own coordinates) goes to its bar's session.
    auto bar = barOf(*this);
    if (!bar || !popup) {
        return;
    }
    if (nEvent == event::Internal && mp1) {
        bar->handleEvent(nEvent, mp1, mp2);
    } else if ((nEvent == event::Motion || nEvent == event::ButtonDown ||
                nEvent == event::ButtonUp) &&
               mp1 && mp2) {
        const int x = popup->x + static_cast<int>(*mp1);
        const int y = popup->y + x11::ToDeviceRow(static_cast<int>(*mp2), popup->height);
        MenuModeRunner session(Impl(*bar));
        if (session.mode().active()) {
            session.run(session.mode().pointer(nEvent, session.hitAt(x, y)));
        }
    }
}

} // namespace detail

} // namespace host
