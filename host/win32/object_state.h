// The Win32 state behind the public window, drawing and menu objects: the core's state types
// with the driver's handles. Only host/win32 sees this.
#pragma once

#include "../common/driver.h"
#include "drawing.h"
#include "handles.h"

#include <host/application.h>
#include <host/drawing.h>
#include <host/windows.h>

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host::detail {

struct BitmapImpl final : BitmapState {
    win32::Surface surface;

    Size size() const override { return {surface.width(), surface.height()}; }
    bool holdsPixels() const override { return !surface.empty(); }
    void make(int width, int height) override;
    Pixels readPixels() const override;
};

struct WindowImpl;

struct PresSpaceImpl final : PresSpaceState {
    BitmapImpl* bitmap = nullptr; // the bitmap this space is bound to (it unbinds on death)
    WindowImpl* window = nullptr; // the window it was locked from
    std::unique_ptr<win32::WindowDc> screen; // the screen's DC, for the desktop's space

    // The DC drawing goes to, or nullptr when there is none; `height` for conversion.
    HDC dc();
    int height() const;
    void flush(); // after drawing: a window's pixels reach the screen
    void unlocked() override;
    void boundTo(BitmapState* bitmap) override;
    Size size() const override;
    bool beginDrawing() override;
    bool endDrawing() override;
    bool drawGradient(Point start, Point end, const std::vector<Color>& colors) override;
    bool drawBox(Rect box, int fillMode) override;
    bool drawText(Point at, const std::string& text) override;
    bool drawBitmap(BitmapState& bitmap, Point at) override;
    bool copyFrom(PresSpaceState& source, Rect box, Point sourceAt) override;
};

struct WindowImpl final : WindowState {
    ~WindowImpl() override;

    HWND hwnd = nullptr;
    DWORD thread = 0;           // the thread that made the window, the only one that may destroy it
    win32::Surface backing;     // what was drawn straight onto the window, for repainting
    bool pointerInside = false; // between the Enter and Leave events

    void showWindow() override;
    void hideWindow() override;
    void destroyWindow() override;
    Size windowSize() const override;
    Point windowPos() const override;
    void moved(Point pos, Size size) override;
    void resized(Point pos, Size size) override;
    void backgroundChanged() override;
    void aimAtWindow(PresSpaceState& space) override;
    void fitLockedSpace(PresSpaceState& space) override;
    void repaint() override;
    void createDialogWindow(const DialogState& settings) override;
    Size clientSize() const override;
    void createAreaWindow(WindowState& dialog) override;
    void forgetWindow() override;
    void layOut(const DialogState& settings) override;
    void titleChanged(const std::string& title) override;
    void dialogCreated(const DialogState& settings) override;
    void dialogDestroying() override;
    void paintArea() override;
    int parentHeight() const;
};

struct MenuImpl final : MenuState {
    MenuImpl() = default;
    ~MenuImpl() override;

    std::vector<UINT> ids; // the command id of each action entry (0 for a submenu)
    win32::MenuPtr menu;
    // A menu bar: the window it is attached to.
    HWND window = nullptr;

    // Makes the native menu (a bar or a popup) on first use.
    HMENU ensure(bool bar, const std::shared_ptr<XbpPart>& owner);
    // Rebuilds the native menu's entries from `items`.
    void fill();

    // A bar: attached to its dialog's window (filled from its entries), and taken off it, so
    // that destroying the window leaves the menus alone.
    void attachTo(XbpMenuBar& bar, WindowState& dialog) override;
    void detach() override;
    // The system runs the menus: entries go into the native menu, and a destroyed bar ends the
    // system's menu mode; the dialog's menu messages do the rest (menu.h).
    void itemAdded(XbpPart& owner) override;
    void menuCreated(XbpMenu& menu) override;
    void closeBarMenus() override;
    void clearingItems() override;
    // A bar being destroyed: the window it was on, redrawn once its entries are gone.
    HWND leftWindow = nullptr;
};

} // namespace host::detail
