// Dialogs and their drawing areas on Win32. A dialog is a top-level window (an overlapped one
// with a caption and the native menu bar, or for an undecorated always-on-top dialog such as a
// tip a topmost popup that never takes the focus) holding a drawing area child that fills its
// client area.
#include "coords.h"
#include "dispatch.h"
#include "object_state.h"
#include "system/utf16.h"
#include "tip_accessible.h"

namespace host {

// ---- XbpDrawingArea ------------------------------------------------------------------------

namespace detail {

// The window procedure paints the area itself.
void WindowImpl::paintArea() {}

} // namespace detail

// ---- XbpDialog -----------------------------------------------------------------------------

namespace detail {

void WindowImpl::createDialogWindow(const DialogState& s) {
    // Without a title bar and kept on top: a popup that never takes the focus (a tip).
    const bool tip = !s.titlebar && s.alwaysOnTop;
    DWORD style = WS_CLIPSIBLINGS | (clipChildren ? WS_CLIPCHILDREN : 0);
    DWORD exStyle = 0;
    if (s.titlebar) {
        style |= WS_OVERLAPPED | WS_CAPTION | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME;
        if (s.sysMenu) {
            style |= WS_SYSMENU;
        }
    } else {
        style |= WS_POPUP;
    }
    if (s.alwaysOnTop) {
        exStyle |= WS_EX_TOPMOST;
    }
    if (!s.taskList || tip) {
        exStyle |= WS_EX_TOOLWINDOW;
    }
    if (tip) {
        exStyle |= WS_EX_NOACTIVATE;
    }
    const POINT at = win32::TopLevelToScreen(*pos, *size);
    win32::MakeWindow(*this, exStyle, style, system::ToUtf16(s.title), at, *size, nullptr);
}

void WindowImpl::createAreaWindow(WindowState& dialogState) {
    const auto& d = static_cast<const WindowImpl&>(dialogState);
    win32::MakeWindow(*this, 0, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, L"", POINT{0, 0}, *size,
                      d.hwnd);
}

void WindowImpl::forgetWindow() {
    hwnd = nullptr; // the system destroys the child with its parent
}

void WindowImpl::layOut(const DialogState& s) {
    if (auto area = s.drawingArea; area && area->isCreated()) {
        const Size client = clientSize();
        WindowImpl& a = Impl(*area);
        a.pos = Point{0, 0};
        a.size = client;
        MoveWindow(a.hwnd, 0, 0, client.width, client.height, TRUE);
    }
}

void WindowImpl::titleChanged(const std::string& title) {
    SetWindowTextW(hwnd, system::ToUtf16(title).c_str());
}

void WindowImpl::dialogCreated(const DialogState&) {}

void WindowImpl::dialogDestroying() {
    win32::TipGone(hwnd);
}

void WindowImpl::repaint() {
    InvalidateRect(hwnd, nullptr, FALSE);
}

} // namespace detail

} // namespace host
