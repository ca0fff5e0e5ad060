// Menus' shared half: the entries and callbacks, accessors, which font a menu takes, and the
// order in which the driver's menu hooks run.
#include "driver.h"

#include <host/error.h>

namespace host {

std::shared_ptr<XbpMenu> submenuOf(const MenuItem& item) {
    const auto* sub = std::get_if<std::shared_ptr<XbpMenu>>(&item);
    return sub ? *sub : nullptr;
}

namespace {

// Raises host::Error when `item` would make `menu` its own submenu.
void CheckNotOwnSubmenu(const XbpMenu& menu, const MenuItem& item) {
    if (submenuOf(item).get() == &menu) {
        throw Error("XbpMenu:addItem", "a menu cannot be its own submenu", {menu.title()});
    }
}

// Appends an entry to a bar or menu, and the platform menu shows it; an entry the platform
// refuses is not kept. Returns the entry's number.
int appendItem(detail::MenuState& m, XbpPart& owner, MenuItem item) {
    m.items.push_back(std::move(item));
    try {
        m.itemAdded(owner);
    } catch (...) {
        m.items.pop_back();
        throw;
    }
    return static_cast<int>(m.items.size());
}

// The platform side lets go of the entries before they go: a submenu may go with its entry.
void clearItems(detail::MenuState& m) {
    m.clearingItems();
    m.items.clear();
}

} // namespace

// ---- XbpMenuBar -------------------------------------------------------------------------

// Made by its dialog (XbpDialog::menuBar), which gives it its font.
XbpMenuBar::XbpMenuBar(std::weak_ptr<XbpDialog> dialog)
    : impl_(detail::TheDriver().newMenuState()) {
    impl_->dialog = std::move(dialog);
    impl_->madeBar();
}

XbpMenuBar::~XbpMenuBar() {
    impl_->abandonBarMenus();
    impl_->detach();
}

int XbpMenuBar::addItem(MenuItem item) {
    return appendItem(*impl_, *this, std::move(item));
}

void XbpMenuBar::destroy() {
    impl_->closeBarMenus();
    impl_->detach();
    clearItems(*impl_);
}

void XbpMenuBar::handleEvent(int nEvent, Param mp1, Param mp2, std::nullopt_t) {
    impl_->menuEvent(*this, nEvent, mp1, mp2);
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

XbpMenu::~XbpMenu() = default;

std::shared_ptr<XbpMenu> XbpMenu::create() {
    auto self = std::static_pointer_cast<XbpMenu>(shared_from_this());
    impl_->menuCreated(*self);
    impl_->created = true;
    return self;
}

int XbpMenu::addItem(MenuItem item) {
    CheckNotOwnSubmenu(*this, item);
    return appendItem(*impl_, *this, std::move(item));
}

void XbpMenu::destroy() {
    impl_->closeMenu();
    clearItems(*impl_);
}

void XbpMenu::handleEvent(int nEvent, Param mp1, Param mp2, std::nullopt_t) {
    impl_->menuEvent(*this, nEvent, mp1, mp2);
}

} // namespace host
