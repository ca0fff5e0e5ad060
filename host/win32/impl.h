// The Win32 state behind the public window, drawing and menu objects, the owners of GDI and
// User32 handles, and the helpers the driver's files share. Only host/win32 sees this.
#pragma once

#include "../common/driver.h"
#include "../common/object_state.h"
#include "system/utf16.h"

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
#include <type_traits>
#include <vector>

namespace host::win32 {

// ---- Handle owners -----------------------------------------------------------------------

struct GdiDeleter {
    void operator()(void* object) const noexcept { DeleteObject(static_cast<HGDIOBJ>(object)); }
};
template <typename H> using GdiPtr = std::unique_ptr<std::remove_pointer_t<H>, GdiDeleter>;
using BitmapPtr = GdiPtr<HBITMAP>;
using BrushPtr = GdiPtr<HBRUSH>;
using FontPtr = GdiPtr<HFONT>;

struct MemoryDcDeleter {
    void operator()(HDC dc) const noexcept { DeleteDC(dc); }
};
using MemoryDcPtr = std::unique_ptr<std::remove_pointer_t<HDC>, MemoryDcDeleter>;

struct MenuDeleter {
    void operator()(HMENU menu) const noexcept { DestroyMenu(menu); }
};
using MenuPtr = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDeleter>;

// A window's (or with nullptr the screen's) device context, released on scope exit.
class WindowDc {
  public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() {
        if (dc_) {
            ReleaseDC(window_, dc_);
        }
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const { return dc_; }

  private:
    HWND window_;
    HDC dc_;
};

// Selects a GDI object into a DC for a scope and puts the previous one back.
class Selection {
  public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~Selection() { SelectObject(dc_, previous_); }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

// 32-bit top-down BGRX pixels in a DIB section, with a memory DC that has it selected, so GDI
// and our own loops draw into the same memory and the BMP writer reads it as it is.
class Surface {
  public:
    Surface() = default;
    ~Surface();
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    // A black image of the size; false (and empty) when GDI cannot make it.
    bool make(int width, int height);
    void clear(); // all black
    bool empty() const { return !bitmap_; }
    HDC dc() const { return dc_.get(); }
    std::uint8_t* bits() const { return bits_; }
    int width() const { return width_; }
    int height() const { return height_; }
    std::ptrdiff_t stride() const { return static_cast<std::ptrdiff_t>(width_) * 4; }

  private:
    void release();
    MemoryDcPtr dc_;
    BitmapPtr bitmap_;
    HGDIOBJ previous_ = nullptr;
    std::uint8_t* bits_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

struct HookDeleter {
    void operator()(HHOOK hook) const noexcept { UnhookWindowsHookEx(hook); }
};
using HookPtr = std::unique_ptr<std::remove_pointer_t<HHOOK>, HookDeleter>;

// A kernel object handle (an event), closed on scope exit.
struct HandleDeleter {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using HandlePtr = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleDeleter>;

// ---- Coordinates -------------------------------------------------------------------------
// Host coordinates have their origin at the lower left, y up; GDI and User32 at the top left,
// y down. The conversions live here and nowhere else.

// A pixel row: host row y on a surface of `height` rows is device row height - 1 - y.
constexpr int ToDeviceRow(int hostRow, int height) {
    return height - 1 - hostRow;
}
// A position between pixels (a text baseline): device y = height - y.
constexpr int ToDeviceY(int hostY, int height) {
    return height - hostY;
}
// A window whose lower left corner is at host `pos` in a parent of `parentHeight` rows.
constexpr POINT WindowToDevice(Point pos, Size size, int parentHeight) {
    return {pos.x, parentHeight - (pos.y + size.height)};
}
constexpr COLORREF ToColorRef(Color c) {
    return static_cast<COLORREF>(RedOf(c) | (GreenOf(c) << 8) | (BlueOf(c) << 16));
}

// The desktop is the virtual screen that spans every monitor, as an X server's root window
// does: host (0, 0) is its lower left pixel. The system's screen coordinates have their
// origin at the primary monitor's top left, so the virtual screen may begin at negative ones.
RECT DesktopRect(); // in screen coordinates
// The desktop's size in pixels.
Size ScreenSize();
// A pixel of the desktop between host and screen coordinates.
POINT HostToScreen(Point p);
Point ScreenToHost(POINT p);
// A block of screen pixels (right and bottom exclusive) as inclusive host corners.
Rect ScreenRectToHost(const RECT& r);
// A top-level window whose lower left corner is at host `pos`: its screen top left corner;
// and back from its window rectangle.
POINT TopLevelToScreen(Point pos, Size size);
Point TopLevelToHost(const RECT& window);

// ---- Fonts -------------------------------------------------------------------------------

// The GDI font for a font description ("Sans 10", "DejaVu Sans Bold 12"): made once per
// description and kept for the process (fonts are shared by all threads).
HFONT FontFor(const Font& font);

// ---- Messages, events and waiting --------------------------------------------------------

// Queues an event made from a window message for the calling thread's AppEvent; dropped on
// threads that run no event loop (the tip worker), where nobody would read it.
void QueueEvent(detail::HostEvent event);
std::optional<detail::HostEvent> TakeEvent();

// Runs `body` for a window procedure: an error it raises cannot unwind through the system's
// frames, so it is kept and raised again when the dispatch returns to the runtime.
template <typename F> LRESULT Guarded(F&& body, LRESULT onError) noexcept;
void KeepError(std::exception_ptr error) noexcept;
void RaiseKeptError();

// Dispatches the messages waiting for the calling thread; returns after the first one when
// `untilEvent` and it produced a runtime event.
void DispatchPending(bool untilEvent = false);

// The one wait of the runtime: waits up to `milliseconds` (INFINITE for no limit) for a message
// of the calling thread, or for `extra` (may be nullptr) to be signalled, dispatching messages
// as they come, so that no message sent to the thread's windows waits on the sleeper.
// Returns true when `extra` was signalled, false when the time ran out or a runtime event
// was queued (when `untilEvent`).
bool WaitDispatching(DWORD milliseconds, HANDLE extra, bool untilEvent);

// The calling thread's wake-up: an auto-reset event that ends its WaitDispatching when a stop
// request comes (through a StopWake) or the pointer moves; made on first use, closed with the
// thread.
HANDLE ThreadWake();

// A pause of the calling thread that keeps dispatching its windows' messages and that a stop
// request for its run cuts short: the wait behind host::PauseUntilStop (and so host::Sleep).
bool PauseDispatching(std::chrono::steady_clock::time_point deadline);

// The window class all runtime windows share (registered on first use).
const wchar_t* WindowClassName();

// Menu messages that reach a dialog's window procedure; false when the message is not about
// the runtime's menus (the system menu's go on to the default procedure).
bool HandleMenuMessage(HWND window, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

inline void KeepCurrentError() noexcept {
    KeepError(std::current_exception());
}

template <typename F> LRESULT Guarded(F&& body, LRESULT onError) noexcept {
    try {
        return body();
    } catch (...) {
        KeepCurrentError();
        return onError;
    }
}

} // namespace host::win32

namespace host::detail {

struct BitmapImpl final : BitmapState {
    win32::Surface surface;

    Size size() const override { return {surface.width(), surface.height()}; }
};

struct WindowImpl;

struct PresSpaceImpl final : PresSpaceState {
    enum class Target { Unbound, ToBitmap, ToWindow, ToScreen };
    Target target = Target::Unbound;
    BitmapImpl* bitmap = nullptr; // the bitmap this space is bound to (it unbinds on death)
    WindowImpl* window = nullptr; // the window it was locked from
    std::unique_ptr<win32::WindowDc> screen; // the screen's DC, for the desktop's space

    // The DC drawing goes to, or nullptr when there is none; `height` for conversion.
    HDC dc();
    int height() const;
    Size size() const;
    void flush(); // after drawing: a window's pixels reach the screen
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
    void repaint() override;
    void createDialogWindow(const DialogState& settings) override;
    Size clientSize() const override;
    void createAreaWindow(WindowState& dialog) override;
    void forgetWindow() override;
    void layOut(const DialogState& settings) override;
    void titleChanged(const std::string& title) override;
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
};

} // namespace host::detail

namespace host {
inline detail::WindowImpl& Impl(const XbpWindow& w) {
    return static_cast<detail::WindowImpl&>(State(w));
}
inline detail::PresSpaceImpl& Impl(const XbpPresSpace& ps) {
    return static_cast<detail::PresSpaceImpl&>(State(ps));
}
inline detail::BitmapImpl& Impl(const XbpBitmap& bitmap) {
    return static_cast<detail::BitmapImpl&>(State(bitmap));
}
inline detail::MenuImpl& Impl(const XbpMenuBar& bar) {
    return static_cast<detail::MenuImpl&>(State(bar));
}
inline detail::MenuImpl& Impl(const XbpMenu& menu) {
    return static_cast<detail::MenuImpl&>(State(menu));
}
} // namespace host
