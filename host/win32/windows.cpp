// Windows on Win32: what every window does (show, place, destroy on its own thread, lock a
// presentation space). Dialogs and their drawing areas are in dialog.cpp, the window
// procedure in dispatch.cpp.
#include "coords.h"
#include "dispatch.h"
#include "drawing.h"
#include "object_state.h"

#include <host/error.h>

namespace host {

// ---- WindowImpl --------------------------------------------------------------------------

namespace detail {

int WindowImpl::parentHeight() const {
    auto p = parent.lock();
    if (!p || Impl(*p).desktop) {
        return win32::ScreenSize().height;
    }
    return Impl(*p).clientSize().height;
}

Size WindowImpl::clientSize() const {
    if (desktop) {
        return win32::ScreenSize();
    }
    if (!hwnd) {
        return size.value_or(Size{});
    }
    RECT r{};
    GetClientRect(hwnd, &r);
    return {r.right - r.left, r.bottom - r.top};
}

WindowImpl::~WindowImpl() {
    // A window that was never destroyed explicitly still leaves the screen with its object.
    if (created && !desktop) {
        destroyWindow();
    }
    lockedPS.reset();
    bitmap.reset();
}

void WindowImpl::showWindow() {
    const auto dialog = this->dialog ? std::static_pointer_cast<XbpDialog>(self.lock()) : nullptr;
    if (dialog && !dialog->titlebar() && dialog->alwaysOnTop()) {
        SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    } else {
        ShowWindow(hwnd, isTopLevel() ? SW_SHOW : SW_SHOWNA);
    }
    UpdateWindow(hwnd);
}

void WindowImpl::hideWindow() {
    ShowWindow(hwnd, SW_HIDE);
}

Size WindowImpl::windowSize() const {
    if (!hwnd) {
        return size.value_or(Size{});
    }
    RECT r{};
    GetWindowRect(hwnd, &r);
    return {r.right - r.left, r.bottom - r.top};
}

Point WindowImpl::windowPos() const {
    if (hwnd && isTopLevel()) {
        RECT r{};
        GetWindowRect(hwnd, &r);
        return win32::TopLevelToHost(r);
    }
    return pos.value_or(Point{});
}

void WindowImpl::backgroundChanged() {
    InvalidateRect(hwnd, nullptr, FALSE);
}

void WindowImpl::destroyWindow() {
    lockedPS.reset();
    if (HWND h = std::exchange(hwnd, nullptr)) {
        if (thread == GetCurrentThreadId()) {
            DestroyWindow(h); // gone from the screen when this returns
        } else {
            // Only the owning thread may destroy it: cut it loose and ask that thread.
            SetWindowLongPtrW(h, GWLP_USERDATA, 0);
            PostMessageW(h, win32::kDestroySelf, 0, 0);
        }
    }
    created = false;
}

} // namespace detail

// ---- XbpWindow -----------------------------------------------------------------------------

namespace detail {

void WindowImpl::aimAtWindow(PresSpaceState& space) {
    auto& p = static_cast<PresSpaceImpl&>(space);
    p.target = PresSpaceImpl::Target::ToWindow;
    p.window = this;
}

void WindowImpl::fitLockedSpace(PresSpaceState&) {
    // Drawing goes to a picture of the client area that also serves its repaints.
    const Size client = clientSize();
    if (backing.width() != client.width || backing.height() != client.height) {
        if (client.width > 0 && client.height > 0 && backing.make(client.width, client.height)) {
            RECT r{0, 0, client.width, client.height};
            win32::FillWith(backing.dc(), r, bg);
        }
    }
}

// Where the window now lies: its lower left corner at `pos` (host coordinates), the top above.
void WindowImpl::moved(Point pos, Size size) {
    WindowImpl& w = *this;
    const POINT at = w.isTopLevel() ? win32::TopLevelToScreen(pos, size)
                                    : win32::WindowToDevice(pos, size, w.parentHeight());
    SetWindowPos(w.hwnd, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Its new size, the lower left corner where it was.
void WindowImpl::resized(Point pos, Size size) {
    WindowImpl& w = *this;
    const POINT at = w.isTopLevel() ? win32::TopLevelToScreen(pos, size)
                                    : win32::WindowToDevice(pos, size, w.parentHeight());
    SetWindowPos(w.hwnd, nullptr, at.x, at.y, size.width, size.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace detail

} // namespace host
