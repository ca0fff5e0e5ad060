// Module Test, the menu part: e_installMenu puts "~Menu Test" on the dialog's menu bar, with a
// tip for each entry (from aTips) while it is marked and the tip taken down when a menu closes.
#include "menu.h"

#include <host/application.h>
#include <menutip/ZebMenuTip.h>

namespace Test {

using namespace host;

namespace {

TipTable aTips; // five NIL slots at program start

// The callbacks, with the source text each was written as.
Callback<void(int)> ShowTipBlock() {
    return {"{|nItemIndex| ShowMenuTip_(aTips[nItemIndex])}",
            [](int nItemIndex) { ShowMenuTip_(aTips[nItemIndex]); }};
}
Callback<void(int)> ShowTipBlockPlus3() {
    return {"{|nItemIndex| ShowMenuTip_(aTips[nItemIndex + 3])}",
            [](int nItemIndex) { ShowMenuTip_(aTips[nItemIndex + 3]); }};
}
Callback<void()> HideTipBlock() {
    return {"{|| HideMenuTip_()}", [] { HideMenuTip_(); }};
}
Callback<void()> ExecBlock() {
    return {"{|| exec_()}", [] { Exec_(); }};
}

} // namespace

const TipTable& Tips() {
    return aTips;
}

std::shared_ptr<XbpMenuBar> e_installMenu(const std::shared_ptr<XbpDialog>& oDlg) {
    // The dialog's own bar; leaving menu mode takes any tip down.
    auto oMenuBar = oDlg->menuBar();
    oMenuBar->endMenu(HideTipBlock());
    oMenuBar->addItem(AddSubMenu(oMenuBar));
    return oMenuBar;
}

MenuItem AddSubMenu(const std::shared_ptr<XbpMenuBar>& oMenuBar) {
    // "Menu Test": marking its entries 1-3 shows the tips of slots 1-3; closing it hides them.
    // Each menu gets its title and callbacks before its first entry.
    auto oMenu = XbpMenu::New(oMenuBar)->create();
    oMenu->title("~Menu Test");
    oMenu->itemMarked(ShowTipBlock());
    oMenu->endMenu(HideTipBlock());
    // "Updates": its entries 1-2 take their tips from slots 4-5, past the three of its parent.
    auto oSubMenu = XbpMenu::New(oMenu)->create();
    oSubMenu->title("~Updates");
    oSubMenu->itemMarked(ShowTipBlockPlus3());
    oSubMenu->endMenu(HideTipBlock());
    // A submenu is complete before it is added to its parent.
    oSubMenu->addItem(MenuAction{"~Update something", ExecBlock(), Nil, Nil});
    oSubMenu->addItem(MenuAction{"~Any Other Thing", ExecBlock(), Nil, Nil});
    // Entry 1 is the submenu, shown under its title "Updates".
    oMenu->addItem(oSubMenu);
    oMenu->addItem(MenuAction{"~Reserve", ExecBlock(), Nil, Nil});
    oMenu->addItem(MenuAction{"~Other option", ExecBlock(), Nil, Nil});
    // The tips; slot 1 stays NIL, since "Updates" has none.
    aTips[2] = "Tip Explaining the option \"Reserve\"";
    aTips[3] = "Other explanation tip";
    aTips[4] = "Tip for updating";
    aTips[5] = "Tip for updating";
    // The caller adds the menu to the bar.
    return MenuItem(oMenu);
}

int Exec_() {
    return ConfirmBox(nullptr, "Execute Something");
}

} // namespace Test
