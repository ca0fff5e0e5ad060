// Notes for the accessible tree, made from the driver's own state: dialogs, tips, menus and
// boxes, told to host/a11y as plain values.
#include "a11y_notes.h"

#include "../a11y/a11y.h"
#include "connection.h"
#include "coords.h"
#include "menu_state.h"
#include "menus_draw.h"
#include "object_state.h"

#include <cctype>
#include <deque>

namespace host::x11::a11y {

namespace {

using host::a11y::Note;

host::a11y::MenuEntry entryOf(const MenuItem& item) {
    const detail::Label label = detail::ParseCaption(detail::EntryCaption(item));
    host::a11y::MenuEntry e;
    e.text = label.text;
    if (label.mnemonicStart >= 0) {
        e.mnemonic =
            label.text.substr(static_cast<std::size_t>(label.mnemonicStart),
                              static_cast<std::size_t>(label.mnemonicEnd - label.mnemonicStart));
        for (char& c : e.mnemonic) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    if (const auto sub = submenuOf(item)) {
        e.submenu = true;
        for (const MenuItem& i : Impl(*sub).items) {
            e.entries.push_back(entryOf(i));
        }
    }
    return e;
}

::Window dialogOf(const detail::MenuImpl& bar) {
    const auto dlg = bar.dialog.lock();
    return dlg && dlg->isCreated() ? Impl(*dlg).window.id() : 0;
}

// A window's place on the screen, asked through the calling (event) thread's own connection:
// X window ids are the server's, whichever connection made the window.
std::optional<host::a11y::Rect> screenRect(::Window w) {
    const auto conn = Connection::existing();
    if (!conn || !w) {
        return std::nullopt;
    }
    Display* dpy = conn->dpy();
    ErrorTrap trap(dpy); // the window may be going
    ::Window root = 0, child = 0;
    int x = 0, y = 0, rootX = 0, rootY = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    const bool found = XGetGeometry(dpy, w, &root, &x, &y, &width, &height, &border, &depth) &&
                       XTranslateCoordinates(dpy, w, root, 0, 0, &rootX, &rootY, &child);
    if (!trap.sync() || !found) {
        return std::nullopt;
    }
    return host::a11y::Rect{rootX, rootY, static_cast<int>(width), static_cast<int>(height)};
}

// The bar's strip (an empty path), a bar entry, or an entry of an open menu (the menus along
// the path open); nothing for what is not on the screen.
std::optional<host::a11y::Rect> entryRect(const std::shared_ptr<XbpDialog>& dlg,
                                          const std::vector<int>& path) {
    const auto bar = dlg ? dlg->menuBar() : nullptr;
    if (!bar || !Impl(*bar).strip) {
        return std::nullopt;
    }
    const detail::MenuImpl& b = Impl(*bar);
    if (path.size() <= 1) {
        const auto strip = screenRect(b.strip.id());
        if (!strip || path.empty()) {
            return strip;
        }
        const auto e = static_cast<std::size_t>(path[0]);
        if (e < 1 || e >= b.entryX.size()) {
            return std::nullopt;
        }
        return host::a11y::Rect{strip->x + b.entryX[e - 1], strip->y, b.entryX[e] - b.entryX[e - 1],
                                strip->height};
    }
    const std::size_t level = path.size() - 2; // the open menu that holds the entry
    if (!b.mode->active() || b.mode->barEntry() != path[0] || b.openMenus.size() <= level) {
        return std::nullopt;
    }
    for (std::size_t k = 1; k <= level; ++k) { // each open submenu is the path's
        const auto& above = Impl(*b.openMenus[k - 1]).items;
        const auto i = static_cast<std::size_t>(path[k]);
        if (i < 1 || i > above.size() || submenuOf(above[i - 1]) != b.openMenus[k]) {
            return std::nullopt;
        }
    }
    const detail::Popup* popup = Impl(*b.openMenus[level]).popup.get();
    const auto n = static_cast<std::size_t>(path.back());
    if (!popup || n < 1 || n > popup->boxes.size()) {
        return std::nullopt;
    }
    const detail::EntryBox& box = popup->boxes[n - 1];
    return host::a11y::Rect{popup->x, popup->y + box.y, popup->width, box.height};
}

// A screen reader's "click" on a menu entry, carried into the program's event loop (posted to
// this part, one event per click) so that it runs where a click does: there it presses the
// bar's entry and releases over each entry along the path, as the pointer would, through the
// menus' own input handling. Used on the event thread only.
class MenuChooser final : public XbpPart {
  public:
    // The one chooser; the event queue holds its targets weakly, so it stays.
    static const std::shared_ptr<MenuChooser>& get() {
        static const auto chooser = std::make_shared<MenuChooser>();
        return chooser;
    }

    void post(std::weak_ptr<XbpDialog> dialog, std::vector<int> path) {
        clicks_.push_back({std::move(dialog), std::move(path)});
        PostAppEvent(event::Internal, 0, 0, get());
    }

    void handleEvent(int, Param, Param, std::nullopt_t) override {
        if (clicks_.empty()) {
            return;
        }
        const Click click = std::move(clicks_.front());
        clicks_.pop_front();
        choose(click.dialog.lock(), click.path);
    }

  private:
    struct Click {
        std::weak_ptr<XbpDialog> dialog;
        std::vector<int> path;
    };

    static void choose(const std::shared_ptr<XbpDialog>& dlg, const std::vector<int>& path) {
        const auto bar = dlg ? dlg->menuBar() : nullptr;
        if (!bar || path.empty()) {
            return;
        }
        const detail::MenuImpl& b = Impl(*bar);
        const auto entry = static_cast<std::size_t>(path[0]);
        if (!b.strip || entry < 1 || entry >= b.entryX.size()) {
            return; // gone, or the strip was never laid out (never shown)
        }
        // A press on the entry whose menu is open already would close it.
        if (!b.mode->active() || b.mode->barEntry() != path[0]) {
            const int x = (b.entryX[entry - 1] + b.entryX[entry]) / 2;
            bar->handleEvent(event::ButtonDown, x, ToHostRow(b.height / 2, b.height));
        }
        for (std::size_t level = 1; level < path.size(); ++level) {
            if (b.openMenus.size() < level || b.mode->barEntry() != path[0]) {
                return; // the menu to choose from did not open
            }
            const std::shared_ptr<XbpMenu> menu = b.openMenus[level - 1];
            const detail::Popup* popup = Impl(*menu).popup.get();
            const auto n = static_cast<std::size_t>(path[level]);
            if (!popup || n < 1 || n > popup->boxes.size()) {
                return;
            }
            const detail::EntryBox& box = popup->boxes[n - 1];
            const Param x = popup->width / 2;
            const Param y = ToHostRow(box.y + box.height / 2, popup->height);
            menu->handleEvent(event::Motion, x, y);
            menu->handleEvent(event::ButtonUp, x, y);
        }
    }

    std::deque<Click> clicks_;
};

} // namespace

void DialogShown(const detail::WindowImpl& dialog, const detail::WindowImpl& area,
                 const std::string& title) {
    if (!host::a11y::Active()) {
        return;
    }
    Note n;
    n.kind = Note::Kind::WindowShown;
    n.window = dialog.window.id();
    n.area = area.window.id();
    n.role = dialog.overrideRedirect ? host::a11y::Role::ToolTip : host::a11y::Role::Frame;
    n.text = dialog.overrideRedirect ? std::string() : title;
    n.where = [w = n.window] { return screenRect(w); };
    host::a11y::Post(std::move(n));
}

void WindowGone(::Window window) {
    if (!host::a11y::Active() || !window) {
        return;
    }
    Note n;
    n.kind = Note::Kind::WindowGone;
    n.window = window;
    host::a11y::Post(std::move(n));
}

void TextDrawn(const detail::PresSpaceImpl& ps, const std::string& text) {
    if (!host::a11y::Active() || ps.target != detail::PresSpaceImpl::Target::ToWindow) {
        return;
    }
    Note n;
    n.kind = Note::Kind::WindowText;
    n.area = ps.window;
    n.text = text;
    host::a11y::Post(std::move(n));
}

void MenuBarChanged(const detail::MenuImpl& bar) {
    if (!host::a11y::Active()) {
        return;
    }
    Note n;
    n.kind = Note::Kind::MenuBar;
    n.window = dialogOf(bar);
    for (const MenuItem& i : bar.items) {
        n.entries.push_back(entryOf(i));
    }
    n.choose = [dialog = bar.dialog](const std::vector<int>& path) {
        MenuChooser::get()->post(dialog, path);
    };
    n.whereEntry = [dialog = bar.dialog](const std::vector<int>& path) {
        return entryRect(dialog.lock(), path);
    };
    if (n.window) {
        host::a11y::Post(std::move(n));
    }
}

void MenuBarGone(const detail::MenuImpl& bar) {
    if (!host::a11y::Active() || !bar.strip) {
        return;
    }
    Note n;
    n.kind = Note::Kind::MenuBar;
    n.window = dialogOf(bar);
    if (n.window) {
        host::a11y::Post(std::move(n));
    }
}

void MenuStep(const detail::MenuImpl& bar) {
    if (!host::a11y::Active() || !bar.mode) {
        return;
    }
    // Entries may have been added since the bar was last told: the tree compares and keeps
    // what is unchanged.
    MenuBarChanged(bar);
    const menus::MenuMode& mode = *bar.mode;
    Note n;
    n.kind = Note::Kind::MenuState;
    n.window = dialogOf(bar);
    for (int level = 0; level < mode.levels(); ++level) {
        if (level == 0) {
            n.path.push_back(mode.barEntry());
        } else {
            // The entry of the level above whose submenu this level shows.
            const auto& above = Impl(*static_cast<const XbpMenu*>(mode.menuAt(level - 1))).items;
            int anchor = 0;
            for (std::size_t i = 0; i < above.size(); ++i) {
                if (submenuOf(above[i]).get() == mode.menuAt(level)) {
                    anchor = static_cast<int>(i) + 1;
                }
            }
            n.path.push_back(anchor);
        }
        n.marked.push_back(mode.markedAt(level));
    }
    if (n.window) {
        host::a11y::Post(std::move(n));
    }
}

void BoxShown(::Window window, const std::string& message, const std::vector<std::string>& buttons,
              int defaultButton, std::function<void(int)> press) {
    if (!host::a11y::Active()) {
        return;
    }
    Note n;
    n.kind = Note::Kind::WindowShown;
    n.window = window;
    n.role = host::a11y::Role::Alert;
    n.text = message;
    n.buttons = buttons;
    n.defaultButton = defaultButton;
    n.press = std::move(press);
    n.where = [window] { return screenRect(window); };
    host::a11y::Post(std::move(n));
}

} // namespace host::x11::a11y
