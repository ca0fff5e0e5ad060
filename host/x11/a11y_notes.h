// What the driver tells the accessible tree (host/a11y), one call per event: each is a no-op
// unless the bridge runs, and may be called on any thread.
#pragma once

#include "menu_state.h"
#include "object_state.h"

#include <functional>
#include <string>
#include <vector>

namespace host::x11::a11y {

// A dialog is on the screen (a tip when it is override-redirect), or has gone.
void DialogShown(const detail::WindowImpl& dialog, const detail::WindowImpl& area,
                 const std::string& title);
void WindowGone(::Window window);
// Text was drawn through a window's presentation space (a tip's text names the tip).
void TextDrawn(const detail::PresSpaceImpl& ps, const std::string& text);
// A menu bar's entries changed, or it went.
void MenuBarChanged(const detail::MenuImpl& bar);
void MenuBarGone(const detail::MenuImpl& bar);
// Menu mode took a step: which menus are open, which entries marked.
void MenuStep(const detail::MenuImpl& bar);
// A confirmation box is up; `press(i)` presses button i (posted to the event loop).
void BoxShown(::Window window, const std::string& message, const std::vector<std::string>& buttons,
              int defaultButton, std::function<void(int)> press);

} // namespace host::x11::a11y
