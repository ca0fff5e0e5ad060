// Module Test: the program's start-up hooks, its main routine with the main dialog, and the
// menu bar with its table of item tips.
#pragma once

#include <host/values.h>
#include <host/windows.h>

#include <array>
#include <memory>
#include <string>

namespace Test {

// Start-up hooks and the main routine the runtime calls.
void AppSys();
void DbeSys();
void Main();

// Copies the desktop's picture into the bitmap behind oPS and saves it under cFile.
void DeskCapture(const std::shared_ptr<host::XbpPresSpace>& oPS,
                 const std::shared_ptr<host::XbpBitmap>& oBG, const std::string& cFile);

// The dialog's close callback: posts event 27 to the application window.
bool CloseCallback();

// Builds the dialog's menu tree and returns the dialog's menu bar.
std::shared_ptr<host::XbpMenuBar> e_installMenu(const std::shared_ptr<host::XbpDialog>& oDlg);

// The item tips, numbered from 1 like the menu entries: slots 1-3 explain the entries of
// "~Menu Test", slots 4-5 those of "~Updates". Empty (NIL) until the menu is built.
struct TipTable {
    std::array<host::Text, 5> slots{};
    host::Text& operator[](int n) { return slots.at(static_cast<std::size_t>(n - 1)); }
    const host::Text& operator[](int n) const { return slots.at(static_cast<std::size_t>(n - 1)); }
};
const TipTable& Tips(); // read access for inspection

} // namespace Test
