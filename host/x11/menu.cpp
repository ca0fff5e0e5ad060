// Menu bars and menus: their entries and callbacks, and menu mode. While a menu is open its bar
// holds the pointer and keyboard grab on its strip window, so every pointer and key event of the
// session reaches the bar (keys as event::Internal); the bar routes them to the open menus.
// Callbacks run from handleEvent, inside the program's own event loop.
#include "coords.h"
#include "impl.h"
#include "menu_impl.h"

#include <host/error.h>

#include <algorithm>

namespace host {

namespace {

using detail::MenuImpl;

// ---- Helpers -------------------------------------------------------------------------------

std::shared_ptr<XbpMenu> submenuOf(const MenuItem& item) {
    const auto* sub = std::get_if<std::shared_ptr<XbpMenu>>(&item);
    return sub ? *sub : nullptr;
}

// The bar a menu hangs from, through its parents; nullptr for a menu outside any bar.
std::shared_ptr<XbpMenuBar> barOf(XbpMenu& menu) {
    std::shared_ptr<XbpPart> parent = menu.impl().parent.lock();
    for (int depth = 0; parent && depth < 64; ++depth) {
        if (auto bar = std::dynamic_pointer_cast<XbpMenuBar>(parent)) {
            return bar;
        }
        auto up = std::dynamic_pointer_cast<XbpMenu>(parent);
        parent = up ? up->impl().parent.lock() : nullptr;
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
    return dlg && dlg->isCreated() ? dlg->impl().xid : 0;
}

// Runs callbacks that were collected while menus closed, in order.
void runAll(const std::vector<Callback<void()>>& callbacks) {
    for (const auto& cb : callbacks) {
        if (cb) {
            cb();
        }
    }
}

// ---- Menu mode -------------------------------------------------------------------------------

class Mode {
  public:
    explicit Mode(XbpMenuBar& bar) : b_(bar.impl()) {}

    bool active() const { return !b_.open.empty(); }

    // Opens the menu of strip entry `entry`; a bar action is chosen at once.
    void openEntry(int entry, bool byKey) {
        if (entry < 1 || entry > static_cast<int>(b_.items.size()) || !b_.strip) {
            return;
        }
        const MenuItem& item = b_.items[static_cast<std::size_t>(entry) - 1];
        auto menu = submenuOf(item);
        if (!menu) {
            auto selected = std::get<MenuAction>(item).selected;
            end();
            if (selected) {
                selected();
            }
            return;
        }
        std::vector<Callback<void()>> closed;
        closeFrom(0, closed);
        if (!b_.grabbed) {
            grab();
        }
        b_.openEntry = entry;
        repaintStrip(b_);
        const auto at = static_cast<std::size_t>(entry) - 1;
        const int x = b_.stripX + (at < b_.entryX.size() ? b_.entryX[at] : 0);
        Display* dpy = b_.conn->dpy();
        open(menu, x, b_.stripY + b_.height, DisplayWidth(dpy, b_.conn->screen()), true);
        runAll(closed);
        if (byKey && !menu->impl().items.empty() && level(menu) == 0) {
            mark(0, 1, false);
        }
    }

    // Menu mode ends: every menu closes (innermost first, each running its endMenu), the grab
    // goes, then the bar's endMenu runs.
    void end() {
        const bool wasActive = active() || b_.grabbed;
        std::vector<Callback<void()>> closed;
        closeFrom(0, closed);
        ungrab();
        if (b_.openEntry) {
            b_.openEntry = 0;
            repaintStrip(b_);
        }
        if (wasActive) {
            closed.push_back(b_.endMenu);
        }
        runAll(closed);
    }

    // Leaves menu mode without running any callback (an error is on its way out).
    void abandon() {
        for (auto& m : b_.open) {
            m->impl().popup.reset();
            m->impl().marked = 0;
        }
        b_.open.clear();
        ungrab();
        b_.openEntry = 0;
    }

    // Pointer input at a root position (device coordinates).
    void pointer(int code, int rootX, int rootY) {
        const int lvl = levelAt(rootX, rootY);
        const int stripEntry = stripEntryAt(rootX, rootY);
        switch (code) {
        case event::Motion:
            if (lvl >= 0) {
                const int n =
                    b_.open[static_cast<std::size_t>(lvl)]->impl().popup->entryAt(rootX, rootY);
                if (n > 0) {
                    mark(lvl, n, true);
                }
            } else if (stripEntry > 0 && stripEntry != b_.openEntry &&
                       submenuOf(b_.items[static_cast<std::size_t>(stripEntry) - 1])) {
                openEntry(stripEntry, false); // sliding along the bar switches menus
            }
            break;
        case event::ButtonDown:
            b_.releaseOnBarKeepsOpen = false;
            if (lvl >= 0) {
                const int n =
                    b_.open[static_cast<std::size_t>(lvl)]->impl().popup->entryAt(rootX, rootY);
                if (n > 0) {
                    mark(lvl, n, true);
                }
            } else if (stripEntry > 0 && stripEntry == b_.openEntry) {
                end(); // a second click on the open entry closes its menu
            } else if (stripEntry > 0) {
                openEntry(stripEntry, false);
                b_.releaseOnBarKeepsOpen = true;
            } else {
                end(); // a click outside closes every open menu
            }
            break;
        case event::ButtonUp:
            if (lvl >= 0) {
                const int n =
                    b_.open[static_cast<std::size_t>(lvl)]->impl().popup->entryAt(rootX, rootY);
                if (n > 0) {
                    activate(lvl, n, false);
                }
            }
            b_.releaseOnBarKeepsOpen = false;
            break;
        case event::RightDown:
        case event::MiddleDown:
            if (lvl < 0 && stripEntry == 0) {
                end();
            }
            break;
        default:
            break;
        }
    }

    // A key while a menu is open.
    void key(long code, long mods) {
        if (!active()) {
            return;
        }
        const int lvl = static_cast<int>(b_.open.size()) - 1;
        MenuImpl& m = b_.open.back()->impl();
        const int count = static_cast<int>(m.items.size());
        switch (code) {
        case key::Escape:
            closeLevel(lvl);
            return;
        case key::Left:
            if (lvl > 0) {
                closeLevel(lvl);
            } else {
                stepBar(-1);
            }
            return;
        case key::Right:
            if (m.marked > 0 && submenuOf(m.items[static_cast<std::size_t>(m.marked) - 1])) {
                openSubmenu(lvl, m.marked, true);
            } else {
                stepBar(+1);
            }
            return;
        case key::Up:
        case key::Down:
            if (count > 0) {
                const int step = code == key::Down ? 1 : -1;
                const int from = m.marked > 0 ? m.marked : (step > 0 ? 0 : count + 1);
                mark(lvl, (from - 1 + step + count) % count + 1, false);
            }
            return;
        case key::Home:
        case key::End:
            if (count > 0) {
                mark(lvl, code == key::Home ? 1 : count, false);
            }
            return;
        case key::Enter:
        case key::Space:
            if (m.marked > 0) {
                activate(lvl, m.marked, true);
            }
            return;
        case key::F1 + 9: // F10 toggles menu mode
            end();
            return;
        default:
            break;
        }
        (void)mods; // Alt with a letter in an open menu acts as the letter alone
        const long letter = detail::FoldMnemonic(code);
        if (letter == 0 || !m.popup) {
            return;
        }
        for (std::size_t i = 0; i < m.popup->labels.size(); ++i) {
            if (m.popup->labels[i].mnemonic == letter) {
                const int n = static_cast<int>(i) + 1;
                mark(lvl, n, false);
                activate(lvl, n, true);
                return;
            }
        }
    }

    // A key typed in the dialog while no menu is open: Alt+mnemonic and F10 open a menu.
    // Returns true when it opened one.
    bool dialogKey(long code, long mods) {
        if (code == key::F1 + 9 && mods == 0) {
            for (std::size_t i = 0; i < b_.items.size(); ++i) {
                if (submenuOf(b_.items[i])) {
                    openEntry(static_cast<int>(i) + 1, true);
                    return true;
                }
            }
            return false;
        }
        if (!(mods & mod::Alt)) {
            return false;
        }
        const long letter = detail::FoldMnemonic(code);
        for (std::size_t i = 0; letter && i < b_.items.size(); ++i) {
            if (detail::ParseCaption(detail::EntryCaption(b_.items[i])).mnemonic == letter) {
                openEntry(static_cast<int>(i) + 1, true);
                return true;
            }
        }
        return false;
    }

    // Marks entry n of the open menu at `lvl`. A changed mark first closes the menu's open
    // submenu (its endMenu runs before the new entry's itemMarked), then repaints and reports
    // the mark. The pointer resting on a submenu entry opens the submenu.
    void mark(int lvl, int n, bool byPointer) {
        auto menu = b_.open[static_cast<std::size_t>(lvl)];
        MenuImpl& m = menu->impl();
        const bool isSub = submenuOf(m.items[static_cast<std::size_t>(n) - 1]) != nullptr;
        if (m.marked != n) {
            std::vector<Callback<void()>> closed;
            closeFrom(lvl + 1, closed);
            m.marked = n;
            detail::PaintPopup(m);
            runAll(closed);
            if (m.itemMarked) {
                const auto cb = m.itemMarked;
                cb(n);
            }
        }
        if (byPointer && isSub && level(menu) == lvl) {
            openSubmenu(lvl, n, false);
        }
    }

  private:
    // Opens a menu with its top left corner at a root position and adds it to the open list.
    void open(const std::shared_ptr<XbpMenu>& menu, int x, int y, int altRight, bool dropdown) {
        MenuImpl& m = menu->impl();
        m.marked = 0;
        detail::OpenPopup(*menu, x, y, altRight, dropdown, dialogWindow(b_));
        b_.open.push_back(menu);
    }

    void openSubmenu(int lvl, int n, bool markFirst) {
        auto parent = b_.open[static_cast<std::size_t>(lvl)];
        auto sub = submenuOf(parent->impl().items[static_cast<std::size_t>(n) - 1]);
        if (!sub || sub == parent || level(sub) >= 0) {
            if (sub && markFirst && level(sub) == lvl + 1 && sub->impl().marked == 0 &&
                !sub->impl().items.empty()) {
                mark(lvl + 1, 1, false);
            }
            return; // already open (or a menu that contains itself)
        }
        std::vector<Callback<void()>> closed;
        closeFrom(lvl + 1, closed);
        const detail::Popup& p = *parent->impl().popup;
        const detail::EntryBox& box = p.boxes[static_cast<std::size_t>(n) - 1];
        open(sub, p.x + p.width - 3, p.y + box.y - 4, p.x + 3, false);
        runAll(closed);
        if (markFirst && !sub->impl().items.empty()) {
            mark(lvl + 1, 1, false);
        }
    }

    // Chooses entry n: an action ends menu mode and then runs its selection callback; a
    // submenu opens (from the keyboard with its first entry marked).
    void activate(int lvl, int n, bool byKey) {
        MenuImpl& m = b_.open[static_cast<std::size_t>(lvl)]->impl();
        const MenuItem& item = m.items[static_cast<std::size_t>(n) - 1];
        if (submenuOf(item)) {
            openSubmenu(lvl, n, byKey);
            return;
        }
        const auto selected = std::get<MenuAction>(item).selected;
        end();
        if (selected) {
            selected();
        }
    }

    // Closes the menu at `lvl` and those below it; the outermost one ends menu mode.
    void closeLevel(int lvl) {
        if (lvl <= 0) {
            end();
            return;
        }
        std::vector<Callback<void()>> closed;
        closeFrom(lvl, closed);
        runAll(closed);
    }

    // Takes down the open menus from `lvl` on, innermost first, and collects their endMenu
    // callbacks for the caller to run once the menus' state is consistent again.
    void closeFrom(int lvl, std::vector<Callback<void()>>& closed) {
        while (static_cast<int>(b_.open.size()) > lvl) {
            auto menu = b_.open.back();
            b_.open.pop_back();
            menu->impl().popup.reset();
            menu->impl().marked = 0;
            closed.push_back(menu->impl().endMenu);
        }
    }

    // Left and Right on a bar's top menu move to the neighbouring bar menu, if there is one.
    void stepBar(int step) {
        const int count = static_cast<int>(b_.items.size());
        for (int i = 1; i < count; ++i) {
            const int e = ((b_.openEntry - 1 + step * i) % count + count) % count + 1;
            if (submenuOf(b_.items[static_cast<std::size_t>(e) - 1])) {
                if (e != b_.openEntry) {
                    openEntry(e, true);
                }
                return;
            }
        }
    }

    int level(const std::shared_ptr<XbpMenu>& menu) const {
        auto it = std::find(b_.open.begin(), b_.open.end(), menu);
        return it == b_.open.end() ? -1 : static_cast<int>(it - b_.open.begin());
    }

    // The innermost open menu at a root position, or -1.
    int levelAt(int x, int y) const {
        for (int i = static_cast<int>(b_.open.size()) - 1; i >= 0; --i) {
            const auto& p = b_.open[static_cast<std::size_t>(i)]->impl().popup;
            if (p && p->contains(x, y)) {
                return i;
            }
        }
        return -1;
    }

    int stripEntryAt(int x, int y) const {
        if (y < b_.stripY || y >= b_.stripY + b_.height) {
            return 0;
        }
        return b_.stripEntryAt(x - b_.stripX);
    }

    void grab() {
        Display* dpy = b_.conn->dpy();
        ::Window child = 0;
        XTranslateCoordinates(dpy, b_.strip, b_.conn->root(), 0, 0, &b_.stripX, &b_.stripY, &child);
        // Everything goes to the strip (owner_events False), so that a click on any other
        // window, the program's own included, is seen as a click outside the menus.
        XGrabPointer(dpy, b_.strip, False, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                     GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
        XGrabKeyboard(dpy, b_.strip, False, GrabModeAsync, GrabModeAsync, CurrentTime);
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

// Runs a menu-mode step; an error escaping a callback still leaves no grab and no popup.
template <typename F> void guarded(XbpMenuBar& bar, F&& step) {
    Mode mode(bar);
    try {
        step(mode);
    } catch (...) {
        Mode(bar).abandon();
        throw;
    }
}

} // namespace

// ---- Runtime-private windows -------------------------------------------------------------

namespace x11 {

bool IsPrivateInput(const XbpPart& part) {
    return dynamic_cast<const XbpMenuBar*>(&part) || dynamic_cast<const XbpMenu*>(&part) ||
           dynamic_cast<const PrivatePart*>(&part);
}

int PrivateWindowHeight(const XbpPart& part) {
    if (const auto* bar = dynamic_cast<const XbpMenuBar*>(&part)) {
        return const_cast<XbpMenuBar*>(bar)->impl().height;
    }
    if (const auto* menu = dynamic_cast<const XbpMenu*>(&part)) {
        const auto& popup = const_cast<XbpMenu*>(menu)->impl().popup;
        return popup ? popup->height : 0;
    }
    if (const auto* other = dynamic_cast<const PrivatePart*>(&part)) {
        return other->windowHeight();
    }
    return 0;
}

} // namespace x11

namespace detail {

void MenuImpl::createStrip(::Window dialogWindow, int width, std::weak_ptr<XbpPart> owner) {
    conn = x11::Connection::current();
    height = x11::MenuBarHeight(font);
    XSetWindowAttributes attrs{};
    attrs.background_pixel = conn->pixelFor(0xeeeeee);
    attrs.event_mask =
        x11::EventMaskForThisThread(ExposureMask | StructureNotifyMask | ButtonPressMask |
                                    ButtonReleaseMask | PointerMotionMask | LeaveWindowMask);
    strip =
        XCreateWindow(conn->dpy(), dialogWindow, 0, 0, static_cast<unsigned>(std::max(1, width)),
                      static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                      CWBackPixel | CWEventMask, &attrs);
    conn->registerWindow(strip, std::move(owner));
    XMapWindow(conn->dpy(), strip);
}

void MenuImpl::destroyStrip() {
    if (strip) {
        conn->unregisterWindow(strip);
        XDestroyWindow(conn->dpy(), strip);
        XFlush(conn->dpy());
        strip = 0;
    }
}

} // namespace detail

// ---- XbpMenuBar --------------------------------------------------------------------------

XbpMenuBar::XbpMenuBar(std::weak_ptr<XbpDialog> dialog)
    : impl_(std::make_unique<detail::MenuImpl>()) {
    impl_->dialog = std::move(dialog);
    impl_->font = DefaultFont();
}

XbpMenuBar::~XbpMenuBar() {
    Mode(*this).abandon();
    impl_->destroyStrip();
}

int XbpMenuBar::addItem(MenuItem item) {
    impl_->items.push_back(std::move(item));
    if (impl_->strip) {
        XClearArea(impl_->conn->dpy(), impl_->strip, 0, 0, 0, 0, True); // repaint with it
        XFlush(impl_->conn->dpy());
    }
    return static_cast<int>(impl_->items.size());
}

int XbpMenuBar::numItems() const {
    return static_cast<int>(impl_->items.size());
}
const Callback<void()>& XbpMenuBar::endMenu() const {
    return impl_->endMenu;
}
void XbpMenuBar::endMenu(Callback<void()> callback) {
    impl_->endMenu = std::move(callback);
}

void XbpMenuBar::destroy() {
    guarded(*this, [](Mode& mode) { mode.end(); });
    impl_->destroyStrip();
    impl_->items.clear();
}

void XbpMenuBar::handleEvent(int nEvent, Param mp1, Param mp2, std::nullopt_t) {
    detail::MenuImpl& b = *impl_;
    switch (nEvent) {
    case event::Paint:
        repaintStrip(b);
        return;
    case event::Keyboard: // typed in the dialog
        if (mp1 && mp2) {
            guarded(*this, [&](Mode& mode) {
                if (!mode.active()) {
                    mode.dialogKey(*mp1, *mp2);
                }
            });
        }
        return;
    case event::Internal: // a key under the menus' keyboard grab
        if (mp1) {
            guarded(*this, [&](Mode& mode) { mode.key(*mp1, mp2.value_or(0)); });
        }
        return;
    case event::Motion:
    case event::ButtonDown:
    case event::ButtonUp:
    case event::RightDown:
    case event::MiddleDown: {
        if (!mp1 || !mp2 || !b.strip) {
            return;
        }
        const int x = static_cast<int>(*mp1);
        const int y = x11::ToDeviceRow(static_cast<int>(*mp2), b.height);
        guarded(*this, [&](Mode& mode) {
            if (mode.active()) {
                mode.pointer(nEvent, b.stripX + x, b.stripY + y);
            } else if (nEvent == event::ButtonDown && y >= 0 && y < b.height) {
                if (b.entryX.empty()) {
                    repaintStrip(b); // lays out the entries
                }
                const int entry = b.stripEntryAt(x);
                if (entry > 0) {
                    mode.openEntry(entry, false);
                    b.releaseOnBarKeepsOpen = true;
                }
            }
        });
        return;
    }
    default:
        return;
    }
}

// ---- XbpMenu -----------------------------------------------------------------------------

XbpMenu::XbpMenu(std::shared_ptr<XbpPart> parent) : impl_(std::make_unique<detail::MenuImpl>()) {
    impl_->parent = parent;
    impl_->font = DefaultFont();
}

std::shared_ptr<XbpMenu> XbpMenu::New(std::shared_ptr<XbpPart> parent) {
    if (!std::dynamic_pointer_cast<XbpMenuBar>(parent) &&
        !std::dynamic_pointer_cast<XbpMenu>(parent)) {
        throw Error("XbpMenu:new", "a menu's parent must be a menu bar or a menu");
    }
    return std::shared_ptr<XbpMenu>(new XbpMenu(std::move(parent)));
}

XbpMenu::~XbpMenu() = default;

std::shared_ptr<XbpMenu> XbpMenu::create() {
    impl_->created = true;
    return std::static_pointer_cast<XbpMenu>(shared_from_this());
}

std::string XbpMenu::title() const {
    return impl_->title;
}
void XbpMenu::title(std::string text) {
    impl_->title = std::move(text);
}
const Callback<void(int)>& XbpMenu::itemMarked() const {
    return impl_->itemMarked;
}
void XbpMenu::itemMarked(Callback<void(int)> callback) {
    impl_->itemMarked = std::move(callback);
}
const Callback<void()>& XbpMenu::endMenu() const {
    return impl_->endMenu;
}
void XbpMenu::endMenu(Callback<void()> callback) {
    impl_->endMenu = std::move(callback);
}

int XbpMenu::addItem(MenuItem item) {
    if (submenuOf(item).get() == this) {
        throw Error("XbpMenu:addItem", "a menu cannot be its own submenu", {impl_->title});
    }
    impl_->items.push_back(std::move(item));
    return static_cast<int>(impl_->items.size());
}

int XbpMenu::numItems() const {
    return static_cast<int>(impl_->items.size());
}

void XbpMenu::destroy() {
    if (impl_->popup) {
        if (auto bar = barOf(*this)) {
            guarded(*bar, [](Mode& mode) { mode.end(); }); // taken away while open
        }
    }
    impl_->popup.reset();
    impl_->items.clear();
}

void XbpMenu::handleEvent(int nEvent, Param mp1, Param mp2, std::nullopt_t) {
    detail::MenuImpl& m = *impl_;
    if (nEvent == event::Paint) {
        detail::PaintPopup(m);
        return;
    }
    // Input addressed to an open menu itself (its own coordinates) goes to its bar's session.
    auto bar = barOf(*this);
    if (!bar || !m.popup) {
        return;
    }
    if (nEvent == event::Internal && mp1) {
        bar->handleEvent(nEvent, mp1, mp2);
    } else if ((nEvent == event::Motion || nEvent == event::ButtonDown ||
                nEvent == event::ButtonUp) &&
               mp1 && mp2) {
        const int x = m.popup->x + static_cast<int>(*mp1);
        const int y = m.popup->y + x11::ToDeviceRow(static_cast<int>(*mp2), m.popup->height);
        guarded(*bar, [&](Mode& mode) {
            if (mode.active()) {
                mode.pointer(nEvent, x, y);
            }
        });
    }
}

} // namespace host
