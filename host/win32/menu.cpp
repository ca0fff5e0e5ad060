// Menu bars and menus as native menus (HMENU). The system draws and runs them; its menu
// messages to the dialog drive the runtime's callbacks: WM_MENUSELECT marks an entry
// (itemMarked), WM_UNINITMENUPOPUP and WM_EXITMENULOOP end a menu and the menu mode (endMenu),
// and WM_COMMAND, which arrives once the menus have closed, runs the chosen entry's action.
#include "object_state.h"
#include "system/utf16.h"

#include <host/error.h>

#include <map>
#include <mutex>

namespace host {

namespace {

// Which runtime menu a native menu is, and which entry a command id stands for. Menus live on
// their dialog's thread, but the tables are shared, so they are guarded.
struct Entry {
    std::weak_ptr<XbpPart> menu;
    int number = 0; // from 1
};

class MenuTable {
  public:
    void addMenu(HMENU menu, std::weak_ptr<XbpPart> part) {
        std::lock_guard lock(mutex_);
        menus_[menu] = std::move(part);
    }
    void removeMenu(HMENU menu) {
        std::lock_guard lock(mutex_);
        menus_.erase(menu);
    }
    std::shared_ptr<XbpPart> menu(HMENU menu) {
        std::lock_guard lock(mutex_);
        const auto found = menus_.find(menu);
        return found == menus_.end() ? nullptr : found->second.lock();
    }
    UINT addEntry(std::weak_ptr<XbpPart> menu, int number) {
        std::lock_guard lock(mutex_);
        // Command ids are 16 bits in WM_MENUSELECT; ids of destroyed menus are not reused, so
        // a late WM_COMMAND can never run another entry's action.
        if (nextId_ > 0xFFFF) {
            throw Error("XbpMenu:addItem", "too many menu entries in this process");
        }
        const UINT id = nextId_++;
        entries_[id] = Entry{std::move(menu), number};
        return id;
    }
    void removeEntry(UINT id) {
        std::lock_guard lock(mutex_);
        entries_.erase(id);
    }
    std::optional<Entry> entry(UINT id) {
        std::lock_guard lock(mutex_);
        const auto found = entries_.find(id);
        return found == entries_.end() ? std::nullopt : std::optional(found->second);
    }

  private:
    std::mutex mutex_;
    std::map<HMENU, std::weak_ptr<XbpPart>> menus_;
    std::map<UINT, Entry> entries_;
    UINT nextId_ = 100;
};

// Never destroyed: a menu can outlive the statics of this file (the application's focus or
// post target, a static of its own, destroyed at process exit), and its destructor still
// takes its entries out of the table.
MenuTable& table() {
    static auto* const instance = new MenuTable;
    return *instance;
}

// "~Reserve" becomes "&Reserve": the system underlines the mnemonic and matches its key. A
// literal "&" is doubled; "~~" stands for a literal "~".
std::wstring nativeCaption(const std::string& caption) {
    std::string out;
    for (std::size_t i = 0; i < caption.size(); ++i) {
        const char c = caption[i];
        if (c == '~') {
            if (i + 1 < caption.size() && caption[i + 1] == '~') {
                out += '~';
                ++i;
            } else {
                out += '&';
            }
        } else if (c == '&') {
            out += "&&";
        } else {
            out += c;
        }
    }
    return system::ToUtf16(out);
}

// Takes every entry out of a native menu without destroying the submenus they open: each
// submenu's native menu belongs to its own XbpMenu.
void removeAll(HMENU menu) {
    for (int n = GetMenuItemCount(menu); n > 0; --n) {
        RemoveMenu(menu, 0, MF_BYPOSITION);
    }
}

void runCallback(const Callback<void()>& callback) {
    if (callback) {
        callback();
    }
}

detail::MenuImpl* implOf(const std::shared_ptr<XbpPart>& part) {
    if (auto menu = std::dynamic_pointer_cast<XbpMenu>(part)) {
        return &Impl(*menu);
    }
    if (auto bar = std::dynamic_pointer_cast<XbpMenuBar>(part)) {
        return &Impl(*bar);
    }
    return nullptr;
}

} // namespace

// ---- MenuImpl ------------------------------------------------------------------------------

namespace detail {

void MenuImpl::attachTo(XbpMenuBar& bar, WindowState& dialogState) {
    HWND dialogWindow = static_cast<const WindowImpl&>(dialogState).hwnd;
    HMENU native = ensure(true, bar.shared_from_this());
    fill();
    window = dialogWindow;
    SetMenu(window, native);
    DrawMenuBar(window);
}

void MenuImpl::detach() {
    if (HWND was = std::exchange(window, nullptr); was && IsWindow(was)) {
        SetMenu(was, nullptr);
    }
}

MenuImpl::~MenuImpl() {
    for (UINT id : ids) {
        if (id) {
            table().removeEntry(id);
        }
    }
    if (menu) {
        table().removeMenu(menu.get());
        removeAll(menu.get()); // DestroyMenu would take the submenus with it
    }
}

HMENU MenuImpl::ensure(bool bar, const std::shared_ptr<XbpPart>& owner) {
    if (!menu) {
        menu.reset(bar ? CreateMenu() : CreatePopupMenu());
        if (!menu) {
            throw Error(bar ? "XbpMenuBar:create" : "XbpMenu:create",
                        "the system cannot make the menu", {std::to_string(GetLastError())});
        }
        // Menu messages then name the native menu itself in WM_MENUSELECT's lParam.
        table().addMenu(menu.get(), owner);
    }
    return menu.get();
}

void MenuImpl::fill() {
    if (!menu) {
        return;
    }
    removeAll(menu.get());
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (auto sub = submenuOf(items[i])) {
            HMENU popup = Impl(*sub).ensure(false, sub);
            AppendMenuW(menu.get(), MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(popup),
                        nativeCaption(sub->title()).c_str());
        } else {
            const auto& action = std::get<MenuAction>(items[i]);
            AppendMenuW(menu.get(), MF_STRING, ids[i], nativeCaption(action.caption).c_str());
        }
    }
}

} // namespace detail

// ---- The menu messages of a dialog ---------------------------------------------------------

namespace win32 {

bool HandleMenuMessage(HWND window, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    switch (msg) {
    case WM_INITMENUPOPUP: {
        // Titles of submenus may have changed since the entries were made.
        detail::MenuImpl* m = implOf(table().menu(reinterpret_cast<HMENU>(wp)));
        if (!m) {
            return false; // the system menu
        }
        m->fill();
        m->marked = 0;
        result = 0;
        return true;
    }
    case WM_MENUSELECT: {
        const UINT flags = HIWORD(wp);
        auto menu = std::dynamic_pointer_cast<XbpMenu>(table().menu(reinterpret_cast<HMENU>(lp)));
        if ((flags == 0xFFFF && lp == 0) || !menu) {
            return false; // the menus closed, or a bar entry (bars have no itemMarked)
        }
        int number = 0;
        if (flags & MF_POPUP) {
            number = LOWORD(wp) + 1; // a submenu's entry comes by position
        } else if (const auto entry = table().entry(LOWORD(wp))) {
            number = entry->number;
        }
        detail::MenuImpl& m = Impl(*menu);
        if (number > 0 && number != m.marked) {
            m.marked = number;
            if (m.itemMarked) {
                m.itemMarked(number);
            }
        }
        result = 0;
        return true;
    }
    case WM_UNINITMENUPOPUP: {
        auto menu = std::dynamic_pointer_cast<XbpMenu>(table().menu(reinterpret_cast<HMENU>(wp)));
        if (!menu) {
            return false;
        }
        Impl(*menu).marked = 0;
        runCallback(Impl(*menu).endMenu);
        result = 0;
        return true;
    }
    case WM_EXITMENULOOP: {
        // wParam is TRUE for a shortcut menu; the bar's menu mode ends with FALSE.
        auto bar = std::dynamic_pointer_cast<XbpMenuBar>(table().menu(GetMenu(window)));
        if (!bar || wp) {
            return false;
        }
        runCallback(Impl(*bar).endMenu);
        result = 0;
        return true;
    }
    case WM_COMMAND: {
        if (HIWORD(wp) != 0 || lp != 0) {
            return false; // from a control or an accelerator
        }
        const auto entry = table().entry(LOWORD(wp));
        if (!entry) {
            return false;
        }
        auto part = entry->menu.lock();
        detail::MenuImpl* m = implOf(part);
        if (!m || entry->number < 1 || entry->number > static_cast<int>(m->items.size())) {
            return false;
        }
        // A copy: the action may change the menu.
        const auto action =
            std::get<MenuAction>(m->items[static_cast<std::size_t>(entry->number - 1)]);
        runCallback(action.selected);
        result = 0;
        return true;
    }
    default:
        return false;
    }
}

} // namespace win32

// ---- The menu hooks ----------------------------------------------------------------------

namespace detail {

void MenuImpl::itemAdded(XbpPart& owner) {
    auto self = owner.shared_from_this();
    if (dynamic_cast<XbpMenu*>(&owner)) {
        ensure(false, self);
    }
    // A command id for an action; the entry's number is its place in `items`.
    const int number = static_cast<int>(items.size());
    ids.push_back(submenuOf(items.back()) ? 0 : table().addEntry(self, number));
    fill();
    if (window) {
        DrawMenuBar(window);
    }
}

void MenuImpl::menuCreated(XbpMenu& menu) {
    ensure(false, menu.shared_from_this());
}

void MenuImpl::closeBarMenus() {
    if (window && GetMenu(window) == menu.get()) {
        EndMenu(); // taken away while open
    }
    leftWindow = window;
}

void MenuImpl::clearingItems() {
    if (menu) {
        removeAll(menu.get()); // before the submenus can go with the items
    }
    for (UINT id : ids) {
        if (id) {
            table().removeEntry(id);
        }
    }
    ids.clear();
    // A destroyed bar's window shows it gone.
    if (HWND was = std::exchange(leftWindow, nullptr); was && IsWindow(was)) {
        DrawMenuBar(was);
    }
}

} // namespace detail

} // namespace host
