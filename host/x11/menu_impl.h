// The state behind menu bars and menus. The bar is a strip window at the top of its dialog;
// menus are drawn by the runtime in popup windows of their own while they are open.
#pragma once

#include "connection.h"

#include <host/windows.h>

#include <memory>
#include <string>
#include <vector>

namespace host::detail {

struct MenuImpl {
    // Common to bars and menus.
    std::vector<MenuItem> items;
    Callback<void()> endMenu;
    Font font;
    // A menu.
    std::weak_ptr<XbpPart> parent;
    std::string title;
    Callback<void(int)> itemMarked;
    bool created = false;
    // A menu bar: its dialog and strip window.
    std::weak_ptr<XbpDialog> dialog;
    std::shared_ptr<x11::Connection> conn;
    ::Window strip = 0;
    int height = 0;

    // Makes the strip window inside the dialog (a bar only); the dialog lays it out.
    void createStrip(::Window dialogWindow, int width, std::weak_ptr<XbpPart> owner);
    void destroyStrip();
    void paintStrip(int width);
};

} // namespace host::detail
