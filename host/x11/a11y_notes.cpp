// Notes for the accessible tree, made from the driver's own state: dialogs, tips, menus and
// boxes, told to host/a11y as plain values.
#include "a11y_notes.h"

#include "../a11y/a11y.h"
#include "../common/services.h"
#include "menu_state.h"
#include "menus_draw.h"
#include "object_state.h"

#include <cctype>

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
    host::a11y::Post(std::move(n));
}

} // namespace host::x11::a11y
