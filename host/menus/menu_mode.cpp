// The decisions of menu mode, kept apart from windows and grabs so they can be checked alone.
#include "menu_mode.h"

#include <host/application.h>

#include <algorithm>

namespace host::menus {

using Kind = ScreenAction::Kind;

namespace {
// Callbacks a menu or entry does not have are not queued.
void call(Step& s, Callback<void()> cb) {
    if (cb) {
        s.calls.push_back(std::move(cb));
    }
}
} // namespace

int MenuMode::levelOf(MenuId menu) const {
    const auto it =
        std::find_if(open_.begin(), open_.end(), [&](const Open& o) { return o.menu == menu; });
    return it == open_.end() ? -1 : static_cast<int>(it - open_.begin());
}

Step MenuMode::openBarEntry(int entry, bool byKey) {
    Step s;
    openBar(s, entry, byKey);
    return s;
}

Step MenuMode::end() {
    Step s;
    endMode(s);
    return s;
}

Step MenuMode::abandon() {
    Step s;
    while (!open_.empty()) {
        s.actions.push_back({Kind::Close, levels() - 1, open_.back().menu});
        open_.pop_back();
    }
    if (grabbed_) {
        grabbed_ = false;
        s.actions.push_back({Kind::Ungrab});
    }
    barEntry_ = 0;
    return s;
}

Step MenuMode::pointer(int code, Hit hit) {
    Step s;
    if (!active()) {
        // With no menu open only a press on a bar entry does anything: it opens its menu.
        if (code == event::ButtonDown && hit.barEntry > 0) {
            openBar(s, hit.barEntry, false);
        }
        return s;
    }
    const bool inMenu = hit.level >= 0 && hit.level < levels();
    switch (code) {
    case event::Motion:
        if (inMenu) {
            if (hit.entry > 0) {
                mark(s, hit.level, hit.entry, true);
            }
        } else if (hit.barEntry > 0 && hit.barEntry != barEntry_ &&
                   model_.submenu(kBar, hit.barEntry)) {
            openBar(s, hit.barEntry, false); // sliding along the bar switches menus
        }
        break;
    case event::ButtonDown:
        if (inMenu) {
            if (hit.entry > 0) {
                mark(s, hit.level, hit.entry, true);
            }
        } else if (hit.barEntry > 0 && hit.barEntry == barEntry_) {
            endMode(s); // a second click on the open entry closes its menu
        } else if (hit.barEntry > 0) {
            openBar(s, hit.barEntry, false);
        } else {
            endMode(s); // a click outside closes every open menu
        }
        break;
    case event::ButtonUp:
        // Releasing over an entry chooses it; a release elsewhere (the press that opened the
        // menu on the bar) keeps the menus open.
        if (inMenu && hit.entry > 0) {
            activate(s, hit.level, hit.entry, false);
        }
        break;
    case event::RightDown:
    case event::MiddleDown:
        if (!inMenu && hit.barEntry == 0) {
            endMode(s);
        }
        break;
    default:
        break;
    }
    return s;
}

Step MenuMode::key(long code, long /*mods*/) {
    Step s;
    if (!active()) {
        return s;
    }
    const int level = levels() - 1;
    const MenuId menu = open_.back().menu;
    const int marked = open_.back().marked;
    const int count = model_.count(menu);
    switch (code) {
    case key::Escape:
        closeLevel(s, level);
        return s;
    case key::Left:
        if (level > 0) {
            closeLevel(s, level);
        } else {
            stepBar(s, -1);
        }
        return s;
    case key::Right:
        if (marked > 0 && model_.submenu(menu, marked)) {
            openSubmenu(s, level, marked, true);
        } else {
            stepBar(s, +1);
        }
        return s;
    case key::Up:
    case key::Down:
        if (count > 0) {
            const int step = code == key::Down ? 1 : -1;
            const int from = marked > 0 ? marked : (step > 0 ? 0 : count + 1);
            mark(s, level, (from - 1 + step + count) % count + 1, false);
        }
        return s;
    case key::Home:
    case key::End:
        if (count > 0) {
            mark(s, level, code == key::Home ? 1 : count, false);
        }
        return s;
    case key::Enter:
    case key::Space:
        if (marked > 0) {
            activate(s, level, marked, true);
        }
        return s;
    case key::F1 + 9: // F10 toggles menu mode
        endMode(s);
        return s;
    default:
        break;
    }
    // A letter (with Alt or without) chooses the entry whose mnemonic it is.
    const long letter = model_.fold(code);
    for (int n = 1; letter != 0 && n <= count; ++n) {
        if (model_.mnemonic(menu, n) == letter) {
            mark(s, level, n, false);
            activate(s, level, n, true);
            return s;
        }
    }
    return s;
}

Step MenuMode::dialogKey(long code, long mods) {
    Step s;
    if (active()) {
        return s;
    }
    const int count = model_.count(kBar);
    if (code == key::F1 + 9 && mods == 0) {
        for (int n = 1; n <= count; ++n) {
            if (model_.submenu(kBar, n)) {
                openBar(s, n, true);
                s.handled = true;
                return s;
            }
        }
        return s;
    }
    if (!(mods & mod::Alt)) {
        return s;
    }
    const long letter = model_.fold(code);
    for (int n = 1; letter != 0 && n <= count; ++n) {
        if (model_.mnemonic(kBar, n) == letter) {
            openBar(s, n, true);
            s.handled = true;
            return s;
        }
    }
    return s;
}

// ---- Steps -----------------------------------------------------------------------------------

void MenuMode::openBar(Step& s, int entry, bool byKey) {
    if (entry < 1 || entry > model_.count(kBar)) {
        return;
    }
    const MenuId menu = model_.submenu(kBar, entry);
    if (!menu) {
        const Callback<void()> selected = model_.selected(kBar, entry);
        endMode(s);
        call(s, selected);
        return;
    }
    closeFrom(s, 0);
    if (!grabbed_) {
        grabbed_ = true;
        s.actions.push_back({Kind::Grab});
    }
    barEntry_ = entry;
    s.actions.push_back({Kind::RepaintBar, 0, kBar, entry});
    open(s, menu, entry);
    if (byKey && model_.count(menu) > 0 && levelOf(menu) == 0) {
        mark(s, 0, 1, false);
    }
}

void MenuMode::endMode(Step& s) {
    const bool wasActive = active() || grabbed_;
    closeFrom(s, 0);
    if (grabbed_) {
        grabbed_ = false;
        s.actions.push_back({Kind::Ungrab});
    }
    if (barEntry_) {
        barEntry_ = 0;
        s.actions.push_back({Kind::RepaintBar, 0, kBar, 0});
    }
    if (wasActive) {
        call(s, model_.endMenu(kBar));
    }
}

// A changed mark first closes the menu's open submenu (its endMenu runs before the new entry's
// itemMarked), then repaints and reports the mark. The pointer resting on a submenu entry opens
// the submenu.
void MenuMode::mark(Step& s, int level, int n, bool byPointer) {
    Open& o = open_[static_cast<std::size_t>(level)];
    const MenuId menu = o.menu;
    const bool isSub = model_.submenu(menu, n) != nullptr;
    if (o.marked != n) {
        closeFrom(s, level + 1);
        open_[static_cast<std::size_t>(level)].marked = n;
        s.actions.push_back({Kind::Repaint, level, menu, 0, n});
        if (const Callback<void(int)> marked = model_.itemMarked(menu)) {
            s.calls.emplace_back(marked.source(), [marked, n] { marked(n); });
        }
    }
    if (byPointer && isSub) {
        openSubmenu(s, level, n, false);
    }
}

void MenuMode::open(Step& s, MenuId menu, int anchor) {
    open_.push_back({menu, 0});
    s.actions.push_back({Kind::Open, levels() - 1, menu, anchor});
}

void MenuMode::openSubmenu(Step& s, int level, int n, bool markFirst) {
    const MenuId parent = open_[static_cast<std::size_t>(level)].menu;
    const MenuId sub = model_.submenu(parent, n);
    if (!sub || sub == parent || levelOf(sub) >= 0) {
        // Already open (or a menu that contains itself): from the keyboard, mark its first entry.
        if (sub && markFirst && levelOf(sub) == level + 1 && markedAt(level + 1) == 0 &&
            model_.count(sub) > 0) {
            mark(s, level + 1, 1, false);
        }
        return;
    }
    closeFrom(s, level + 1);
    open(s, sub, n);
    if (markFirst && model_.count(sub) > 0) {
        mark(s, level + 1, 1, false);
    }
}

// Choosing an entry: an action ends menu mode and then runs its selection callback; a submenu
// opens (from the keyboard with its first entry marked).
void MenuMode::activate(Step& s, int level, int n, bool byKey) {
    const MenuId menu = open_[static_cast<std::size_t>(level)].menu;
    if (model_.submenu(menu, n)) {
        openSubmenu(s, level, n, byKey);
        return;
    }
    const Callback<void()> selected = model_.selected(menu, n);
    endMode(s);
    call(s, selected);
}

// Closes the menu at `level` and those below it; the outermost one ends menu mode.
void MenuMode::closeLevel(Step& s, int level) {
    if (level <= 0) {
        endMode(s);
    } else {
        closeFrom(s, level);
    }
}

// Takes down the open menus from `level` on, innermost first; their endMenu callbacks run once
// the step is carried out.
void MenuMode::closeFrom(Step& s, int level) {
    while (levels() > level) {
        const MenuId menu = open_.back().menu;
        s.actions.push_back({Kind::Close, levels() - 1, menu});
        open_.pop_back();
        call(s, model_.endMenu(menu));
    }
}

// Left and Right on a bar's top menu move to the neighbouring bar menu, if there is one.
void MenuMode::stepBar(Step& s, int step) {
    const int count = model_.count(kBar);
    for (int i = 1; i < count; ++i) {
        const int e = ((barEntry_ - 1 + step * i) % count + count) % count + 1;
        if (model_.submenu(kBar, e)) {
            if (e != barEntry_) {
                openBar(s, e, true);
            }
            return;
        }
    }
}

} // namespace host::menus
