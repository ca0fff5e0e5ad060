// Menus' shared half: the entries and callbacks, accessors, and which font a menu takes.
#include "driver.h"
#include "services.h"

#include <host/error.h>

namespace host {

std::shared_ptr<XbpMenu> submenuOf(const MenuItem& item) {
    const auto* sub = std::get_if<std::shared_ptr<XbpMenu>>(&item);
    return sub ? *sub : nullptr;
}

void CheckNotOwnSubmenu(const XbpMenu& menu, const MenuItem& item) {
    if (submenuOf(item).get() == &menu) {
        throw Error("XbpMenu:addItem", "a menu cannot be its own submenu", {menu.title()});
    }
}

// ---- XbpMenuBar -------------------------------------------------------------------------

int XbpMenuBar::numItems() const {
    return static_cast<int>(impl_->items.size());
}

const Callback<void()>& XbpMenuBar::endMenu() const {
    return impl_->endMenu;
}

void XbpMenuBar::endMenu(Callback<void()> callback) {
    impl_->endMenu = std::move(callback);
}

// ---- XbpMenu ----------------------------------------------------------------------------

// A menu starts with its parent's font: a menu bar's (its dialog's), or its parent menu's.
XbpMenu::XbpMenu(std::shared_ptr<XbpPart> parent) : impl_(detail::TheDriver().newMenuState()) {
    if (auto bar = std::dynamic_pointer_cast<XbpMenuBar>(parent)) {
        impl_->font = State(*bar).font;
    } else if (auto menu = std::dynamic_pointer_cast<XbpMenu>(parent)) {
        impl_->font = State(*menu).font;
    }
    impl_->parent = std::move(parent);
}

std::shared_ptr<XbpMenu> XbpMenu::New(std::shared_ptr<XbpPart> parent) {
    if (!std::dynamic_pointer_cast<XbpMenuBar>(parent) &&
        !std::dynamic_pointer_cast<XbpMenu>(parent)) {
        throw Error("XbpMenu:new", "a menu's parent must be a menu bar or a menu");
    }
    return std::shared_ptr<XbpMenu>(new XbpMenu(std::move(parent)));
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

int XbpMenu::numItems() const {
    return static_cast<int>(impl_->items.size());
}

} // namespace host
