// Menus drawn by the runtime on X11: captions, the bar's strip height, and the popups.
#pragma once

#include "menu_state.h"

#include <string>

namespace host::x11 {

// The menu bar's strip height for a font, in pixels.
int MenuBarHeight(const Font& font);

} // namespace host::x11

namespace host::detail {

// Builds the menu's popup from its entries, shows it with its top left corner at a root
// position and paints it. A popup that would leave the screen at the right ends at `altRight`
// instead (for a submenu: the left edge of its parent). Sets the menu's popup.
void OpenPopup(XbpMenu& menu, int rootX, int rootY, int altRight, bool dropdown,
               ::Window transientFor);
void PaintPopup(MenuImpl& menu);

// The caption an entry shows: an action's caption, or a submenu's title.
std::string EntryCaption(const MenuItem& item);

} // namespace host::detail
