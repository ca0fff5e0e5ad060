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
    // 1.
    auto oMenuBar = oDlg->menuBar();
    // 2. Closing the menus ends any tip.
    oMenuBar->endMenu(HideTipBlock());
    // 3.
    oMenuBar->addItem(AddSubMenu(oMenuBar));
    // 4.
    return oMenuBar;
}

MenuItem AddSubMenu(const std::shared_ptr<XbpMenuBar>& oMenuBar) {
    // 1.-4. The menu: its entries 1-3 take their tips from slots 1-3.
    auto oMenu = XbpMenu::New(oMenuBar)->create();
    oMenu->title("~Menu Test");
    oMenu->itemMarked(ShowTipBlock());
    oMenu->endMenu(HideTipBlock());
    // 5.-8. The submenu: its entries 1-2 take their tips from slots 4-5.
    auto oSubMenu = XbpMenu::New(oMenu)->create();
    oSubMenu->title("~Updates");
    oSubMenu->itemMarked(ShowTipBlockPlus3());
    oSubMenu->endMenu(HideTipBlock());
    // 9.-10.
    oSubMenu->addItem(MenuAction{"~Update something", ExecBlock(), Nil, Nil});
    oSubMenu->addItem(MenuAction{"~Any Other Thing", ExecBlock(), Nil, Nil});
    // 11.-13. Entry 1 is the submenu, shown as "Updates".
    oMenu->addItem(oSubMenu);
    oMenu->addItem(MenuAction{"~Reserve", ExecBlock(), Nil, Nil});
    oMenu->addItem(MenuAction{"~Other option", ExecBlock(), Nil, Nil});
    // 14. Slot 1 stays NIL: "Updates" has no tip.
    aTips[2] = "Tip Explaining the option \"Reserve\"";
    aTips[3] = "Other explanation tip";
    aTips[4] = "Tip for updating";
    aTips[5] = "Tip for updating";
    // 15.
    return MenuItem(oMenu);
}

int Exec_() {
    return ConfirmBox(nullptr, "Execute Something");
}

} // namespace Test
