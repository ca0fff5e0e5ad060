// Module Test, the menu part: the "~Menu Test" menu with its "~Updates" submenu, and the action
// its entries run. e_installMenu, TipTable and Tips are declared in test.h.
#pragma once

#include "test.h"

#include <host/windows.h>

#include <memory>

namespace Test {

// Builds the "~Menu Test" menu (with its "~Updates" submenu) under oMenuBar, fills the tip
// slots 2-5, and returns the item that holds the menu; the caller adds it to the bar.
host::MenuItem AddSubMenu(const std::shared_ptr<host::XbpMenuBar>& oMenuBar);

// The action of every menu entry: a confirmation box; returns its result.
int Exec_();

} // namespace Test
