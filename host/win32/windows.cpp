// Windows, dialogs, drawing areas and the desktop on Win32. A dialog is a top-level window
// (an overlapped one with a caption and the native menu bar, or for an undecorated
// always-on-top dialog such as a tip a topmost popup that never takes the focus) holding a
// drawing area child that fills its client area.
#include "state.h"
#include "tip_accessible.h"

#include <host/error.h>

#include <mutex>

namespace host {

namespace {

// Asks a window's own thread to destroy it, when its object dies on another thread.
constexpr UINT kDestroySelf = WM_APP + 1;

long modifiers() {
    return ((GetKeyState(VK_SHIFT) & 0x8000) ? mod::Shift : 0) |
           ((GetKeyState(VK_CONTROL) & 0x8000) ? mod::Ctrl : 0) |
           ((GetKeyState(VK_MENU) & 0x8000) ? mod::Alt : 0);
}

// Keys that produce no character (WM_CHAR brings the others, Escape and Enter included).
std::optional<long> keyWithoutCharacter(WPARAM vk) {
    switch (vk) {
    case VK_UP:
        return key::Up;
    case VK_DOWN:
        return key::Down;
    case VK_LEFT:
        return key::Left;
    case VK_RIGHT:
        return key::Right;
    case VK_HOME:
        return key::Home;
    case VK_END:
        return key::End;
    case VK_PRIOR:
        return key::PageUp;
    case VK_NEXT:
        return key::PageDown;
    case VK_INSERT:
        return key::Insert;
    case VK_DELETE:
        return key::Delete;
    case VK_APPS:
        return key::Menu;
    default:
        break;
    }
    if (vk >= VK_F1 && vk <= VK_F12) {
        return key::F1 + static_cast<long>(vk - VK_F1);
    }
    return std::nullopt;
}

thread_local wchar_t tHighSurrogate = 0;

// A character from WM_CHAR as a key code: its Unicode code point; Ctrl with a letter gives
// the letter (the system hands over a control character).
std::optional<long> characterKey(WPARAM unit) {
    const auto u = static_cast<wchar_t>(unit);
    if (u >= 0xD800 && u <= 0xDBFF) {
        tHighSurrogate = u;
        return std::nullopt;
    }
    if (u >= 0xDC00 && u <= 0xDFFF) {
        const wchar_t high = std::exchange(tHighSurrogate, 0);
        if (!high) {
            return std::nullopt;
        }
        return 0x10000 + ((static_cast<long>(high) - 0xD800) << 10) +
               (static_cast<long>(u) - 0xDC00);
    }
    const long code = static_cast<long>(u);
    const bool ctrl = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
    if (ctrl && code >= 1 && code <= 26 && code != key::Backspace && code != key::Tab &&
        code != key::Enter) {
        return 'a' + code - 1;
    }
    return code;
}

void fillRect(HDC dc, const RECT& r, Color color) {
    const win32::BrushPtr brush(CreateSolidBrush(win32::ToColorRef(color)));
    FillRect(dc, &r, brush.get());
}

// A window's picture: a drawing area's bitmap, else what was drawn onto the window, else its
// background colour.
void paintWindow(detail::WindowImpl& w, HDC dc) {
    RECT client{};
    GetClientRect(w.hwnd, &client);
    const int cw = client.right;
    const int ch = client.bottom;
    if (w.bitmap && !Impl(*w.bitmap).surface.empty()) {
        const win32::Surface& image = Impl(*w.bitmap).surface;
        if (w.options & bmp::Scaled) {
            // Scaled to fill the area, so a resized dialog still shows the whole picture.
            SetStretchBltMode(dc, HALFTONE);
            SetBrushOrgEx(dc, 0, 0, nullptr);
            StretchBlt(dc, 0, 0, cw, ch, image.dc(), 0, 0, image.width(), image.height(), SRCCOPY);
        } else {
            fillRect(dc, client, w.bg);
            BitBlt(dc, 0, ch - image.height(), image.width(), image.height(), image.dc(), 0, 0,
                   SRCCOPY);
        }
        return;
    }
    if (!w.backing.empty()) {
        fillRect(dc, client, w.bg);
        BitBlt(dc, 0, 0, w.backing.width(), w.backing.height(), w.backing.dc(), 0, 0, SRCCOPY);
        return;
    }
    fillRect(dc, client, w.bg);
}

std::shared_ptr<XbpWindow> selfOf(detail::WindowImpl& w) {
    return w.self.lock();
}

void queue(detail::WindowImpl& w, int code, Param mp1 = Nil, Param mp2 = Nil) {
    if (auto self = selfOf(w)) {
        win32::QueueEvent({code, mp1, mp2, std::move(self)});
    }
}

void queuePointer(detail::WindowImpl& w, int code, LPARAM lp) {
    const int x = static_cast<short>(LOWORD(lp));
    const int y = static_cast<short>(HIWORD(lp));
    queue(w, code, x, win32::ToDeviceRow(y, w.clientSize().height));
}

// The drawing area fills the dialog's client area (below the native menu bar).
void layoutDrawingArea(XbpDialog& dialog) {
    auto area = dialog.drawingArea();
    if (!area || !area->isCreated()) {
        return;
    }
    const Size client = Impl(dialog).clientSize();
    detail::WindowImpl& a = Impl(*area);
    a.pos = Point{0, 0};
    a.size = client;
    MoveWindow(a.hwnd, 0, 0, client.width, client.height, TRUE);
}

bool handleMessage(detail::WindowImpl& w, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp,
                   LRESULT& result) {
    auto dialog = w.dialog ? std::static_pointer_cast<XbpDialog>(selfOf(w)) : nullptr;
    if (dialog && win32::HandleMenuMessage(hwnd, msg, wp, lp, result)) {
        return true;
    }
    if (msg == WM_GETOBJECT && win32::AnswerGetObject(hwnd, wp, lp, result)) {
        return true; // a tip's accessible object
    }
    switch (msg) {
    case WM_ERASEBKGND:
        result = 1; // WM_PAINT paints everything
        return true;
    case WM_PAINT: {
        PAINTSTRUCT ps{};
        HDC dc = BeginPaint(hwnd, &ps);
        if (dc) {
            paintWindow(w, dc);
        }
        EndPaint(hwnd, &ps);
        queue(w, event::Paint);
        return true;
    }
    case WM_SIZE:
        if (dialog) {
            layoutDrawingArea(*dialog);
            const Size outer = dialog->currentSize();
            if (wp != SIZE_MINIMIZED) {
                queue(w, event::Resize, outer.width, outer.height);
            }
        } else if (!w.isTopLevel()) {
            w.size = Size{LOWORD(lp), HIWORD(lp)};
            InvalidateRect(hwnd, nullptr, FALSE);
        }
        return true;
    case WM_CLOSE:
        if (dialog) {
            queue(w, event::Close);
            return true; // the program decides; the window stays until it is destroyed
        }
        return false;
    case WM_MOUSEACTIVATE:
        if (dialog && !dialog->titlebar() && dialog->alwaysOnTop()) {
            result = MA_NOACTIVATE; // a tip never takes the focus from the menus
            return true;
        }
        return false;
    case WM_SETFOCUS:
        if (dialog) {
            // The client area takes the keys typed in a dialog.
            if (auto area = dialog->drawingArea(); area && area->isCreated()) {
                SetFocus(Impl(*area).hwnd);
                return true;
            }
        }
        queue(w, event::SetFocus);
        return true;
    case WM_KILLFOCUS:
        queue(w, event::KillFocus);
        return true;
    case WM_KEYDOWN:
        if (const auto code = keyWithoutCharacter(wp)) {
            queue(w, event::Keyboard, *code, modifiers());
            return true;
        }
        return false; // TranslateMessage makes its WM_CHAR
    case WM_CHAR:
        if (const auto code = characterKey(wp)) {
            queue(w, event::Keyboard, *code, modifiers());
        }
        return true;
    case WM_MOUSEMOVE:
        if (!w.pointerInside) {
            // The system reports the pointer leaving only when asked, once per entry.
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd, 0};
            w.pointerInside = TrackMouseEvent(&track) != 0;
            queuePointer(w, event::Enter, lp);
        }
        queuePointer(w, event::Motion, lp);
        return true;
    case WM_MOUSELEAVE:
        w.pointerInside = false;
        queue(w, event::Leave);
        return true;
    case WM_LBUTTONDOWN:
        queuePointer(w, event::ButtonDown, lp);
        return true;
    case WM_LBUTTONUP:
        queuePointer(w, event::ButtonUp, lp);
        return true;
    case WM_RBUTTONDOWN:
        queuePointer(w, event::RightDown, lp);
        return true;
    case WM_RBUTTONUP:
        queuePointer(w, event::RightUp, lp);
        return true;
    case WM_MBUTTONDOWN:
        queuePointer(w, event::MiddleDown, lp);
        return true;
    case WM_MBUTTONUP:
        queuePointer(w, event::MiddleUp, lp);
        return true;
    default:
        return false;
    }
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kDestroySelf) {
        DestroyWindow(hwnd);
        return 0;
    }
    if (msg == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lp);
        auto* impl = static_cast<detail::WindowImpl*>(cs->lpCreateParams);
        impl->hwnd = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(impl));
    }
    auto* w = reinterpret_cast<detail::WindowImpl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!w) {
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    if (msg == WM_NCDESTROY) {
        // The object may outlive its window: it must not be reached through it any more.
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        w->hwnd = nullptr;
        w->created = false;
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    LRESULT result = 0;
    bool handled = false;
    win32::Guarded(
        [&] {
            handled = handleMessage(*w, hwnd, msg, wp, lp, result);
            return LRESULT{0};
        },
        0);
    return handled ? result : DefWindowProcW(hwnd, msg, wp, lp);
}

HWND makeWindow(detail::WindowImpl& w, DWORD exStyle, DWORD style, const std::wstring& title,
                POINT at, Size size, HWND parent) {
    w.thread = GetCurrentThreadId();
    HWND hwnd =
        CreateWindowExW(exStyle, win32::WindowClassName(), title.c_str(), style, at.x, at.y,
                        size.width, size.height, parent, nullptr, GetModuleHandleW(nullptr), &w);
    if (!hwnd) {
        throw Error("XbpDialog:create", "the system cannot make the window",
                    {std::to_string(GetLastError())});
    }
    return hwnd;
}

} // namespace

namespace win32 {

const wchar_t* WindowClassName() {
    static constexpr wchar_t kName[] = L"HostRuntimeWindow";
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSEXW cls{};
        cls.cbSize = sizeof cls;
        cls.style = CS_HREDRAW | CS_VREDRAW;
        cls.lpfnWndProc = windowProc;
        cls.hInstance = GetModuleHandleW(nullptr);
        cls.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        cls.lpszClassName = kName;
        if (!RegisterClassExW(&cls)) {
            throw Error("XbpDialog:create", "cannot register the window class",
                        {std::to_string(GetLastError())});
        }
    });
    return kName;
}

} // namespace win32

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

void WindowImpl::destroyWindow() {
    lockedPS.reset();
    if (HWND h = std::exchange(hwnd, nullptr)) {
        if (thread == GetCurrentThreadId()) {
            DestroyWindow(h); // gone from the screen when this returns
        } else {
            // Only the owning thread may destroy it: cut it loose and ask that thread.
            SetWindowLongPtrW(h, GWLP_USERDATA, 0);
            PostMessageW(h, kDestroySelf, 0, 0);
        }
    }
    created = false;
}

} // namespace detail

// ---- XbpWindow -----------------------------------------------------------------------------

XbpWindow::~XbpWindow() {
    // A window that was never destroyed explicitly still leaves the screen with its owner.
    if (impl_->created && !impl_->desktop) {
        impl_->destroyWindow();
    }
}

void XbpWindow::destroy() {
    if (impl_->created && !impl_->desktop) {
        impl_->destroyWindow();
    }
}

bool XbpWindow::show() {
    detail::WindowImpl& w = *impl_;
    requireCreated(w, "XbpWindow:show");
    w.visible = true;
    const auto dialog = w.dialog ? std::static_pointer_cast<XbpDialog>(w.self.lock()) : nullptr;
    if (dialog && !dialog->titlebar() && dialog->alwaysOnTop()) {
        SetWindowPos(w.hwnd, HWND_TOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    } else {
        ShowWindow(w.hwnd, w.isTopLevel() ? SW_SHOW : SW_SHOWNA);
    }
    UpdateWindow(w.hwnd);
    return true;
}

bool XbpWindow::hide() {
    detail::WindowImpl& w = *impl_;
    requireCreated(w, "XbpWindow:hide");
    w.visible = false;
    ShowWindow(w.hwnd, SW_HIDE);
    return true;
}

Size XbpWindow::currentSize() const {
    const detail::WindowImpl& w = *impl_;
    if (w.desktop) {
        return win32::ScreenSize();
    }
    if (w.created && w.hwnd) {
        RECT r{};
        GetWindowRect(w.hwnd, &r);
        return {r.right - r.left, r.bottom - r.top};
    }
    return w.size.value_or(Size{});
}

Point XbpWindow::currentPos() const {
    const detail::WindowImpl& w = *impl_;
    if (w.desktop) {
        return {0, 0};
    }
    if (w.created && w.hwnd && w.isTopLevel()) {
        RECT r{};
        GetWindowRect(w.hwnd, &r);
        return win32::TopLevelToHost(r);
    }
    return w.pos.value_or(Point{});
}

namespace detail {

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

std::shared_ptr<XbpPresSpace> XbpWindow::lockPS() {
    detail::WindowImpl& w = *impl_;
    if (w.desktop) {
        // Every caller gets a space of its own on the screen's DC.
        auto ps = XbpPresSpace::New();
        auto& p = Impl(*ps);
        p.target = detail::PresSpaceImpl::Target::ToScreen;
        p.screen = std::make_unique<win32::WindowDc>(nullptr);
        // The screen DC starts at the primary monitor; the desktop starts at the virtual
        // screen's top left, which lies to the left of or above it when another monitor does.
        const RECT desktop = win32::DesktopRect();
        SetViewportOrgEx(p.screen->get(), desktop.left, desktop.top, nullptr);
        p.font = w.font;
        p.created = true;
        return ps;
    }
    requireCreated(w, "XbpWindow:lockPS");
    if (!w.lockedPS) {
        w.lockedPS = XbpPresSpace::New();
        auto& p = Impl(*w.lockedPS);
        p.target = detail::PresSpaceImpl::Target::ToWindow;
        p.window = &w;
        p.font = w.font;
        p.color = w.fg;
        p.created = true;
    }
    // Drawing goes to a picture of the client area that also serves its repaints.
    const Size client = w.clientSize();
    if (w.backing.width() != client.width || w.backing.height() != client.height) {
        if (client.width > 0 && client.height > 0 && w.backing.make(client.width, client.height)) {
            RECT r{0, 0, client.width, client.height};
            fillRect(w.backing.dc(), r, w.bg);
        }
    }
    return w.lockedPS;
}

void XbpWindow::unlockPS(std::shared_ptr<XbpPresSpace> ps) {
    detail::WindowImpl& w = *impl_;
    auto& locked = ps ? ps : w.lockedPS;
    if (!locked) {
        return;
    }
    Impl(*locked).flush();
    Impl(*locked).screen.reset();
    if (!ps || ps == w.lockedPS) {
        w.lockedPS.reset();
    }
}

Color XbpWindow::setColorBG(std::optional<Color> color) {
    const Color previous = impl_->bg;
    if (color) {
        impl_->bg = *color;
        if (impl_->created && !impl_->desktop) {
            InvalidateRect(impl_->hwnd, nullptr, FALSE);
        }
    }
    return previous;
}

// ---- XbpDrawingArea ------------------------------------------------------------------------

void XbpDrawingArea::bitmap(std::shared_ptr<XbpBitmap> bitmap) {
    impl_->bitmap = std::move(bitmap);
    if (impl_->created) {
        InvalidateRect(impl_->hwnd, nullptr, FALSE); // repaint with it
    }
}

void XbpDrawingArea::options(int options) {
    impl_->options = options;
    if (impl_->created) {
        InvalidateRect(impl_->hwnd, nullptr, FALSE);
    }
}

// The window procedure paints the area itself; keys need nothing here, since the native menu
// bar takes its mnemonics and F10 from the system.
void XbpDrawingArea::handleEvent(int, Param, Param, std::nullopt_t) {}

// ---- XbpDialog -----------------------------------------------------------------------------

XbpDialog::~XbpDialog() {
    if (state_ && state_->menuBar) {
        win32::DetachMenuBar(*state_->menuBar);
    }
}

std::shared_ptr<XbpDialog> XbpDialog::create() {
    detail::WindowImpl& w = *impl_;
    DialogState& s = *state_;
    if (w.created) {
        throw Error("XbpDialog:create", "the dialog exists already", {s.title});
    }
    if (!w.isTopLevel()) {
        throw Error("XbpDialog:create", "a dialog's parent must be the desktop", {s.title});
    }
    const Size size = w.size.value_or(Size{400, 300});
    w.size = size;
    // By default at the top left corner of the desktop.
    w.pos = w.pos.value_or(Point{0, win32::ScreenSize().height - size.height});
    // Without a title bar and kept on top: a popup that never takes the focus (a tip).
    const bool tip = !s.titlebar && s.alwaysOnTop;
    DWORD style = WS_CLIPSIBLINGS | (w.clipChildren ? WS_CLIPCHILDREN : 0);
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
    const POINT at = win32::TopLevelToScreen(*w.pos, size);
    makeWindow(w, exStyle, style, win32::Widen(s.title), at, size, nullptr);
    w.created = true;

    // The drawing area fills the client area; the native menu bar, once asked for, sits above.
    auto self = std::static_pointer_cast<XbpWindow>(shared_from_this());
    PresParams inherited{{pp::Foreground, w.fg}, {pp::Background, w.bg}, {pp::Font, w.font}};
    const Size client = w.clientSize();
    s.drawingArea.reset(new XbpDrawingArea(self, Point{0, 0}, client, inherited, true));
    detail::WindowImpl& a = Impl(*s.drawingArea);
    a.self = s.drawingArea;
    makeWindow(a, 0, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, L"", POINT{0, 0}, client, w.hwnd);
    a.created = true;
    if (s.menuBar) {
        win32::AttachMenuBar(*s.menuBar, w.hwnd);
    }
    configure();
    if (w.visible) {
        show();
    }
    return std::static_pointer_cast<XbpDialog>(shared_from_this());
}

void XbpDialog::destroy() {
    DialogState& s = *state_;
    win32::TipGone(impl_->hwnd);
    if (s.menuBar) {
        win32::DetachMenuBar(*s.menuBar); // the menus outlive the window
    }
    if (s.drawingArea && s.drawingArea->isCreated()) {
        // The system destroys the child with its parent.
        detail::WindowImpl& a = Impl(*s.drawingArea);
        a.lockedPS.reset();
        a.hwnd = nullptr;
        a.created = false;
    }
    XbpWindow::destroy();
}

bool XbpDialog::configure() {
    if (!impl_->created) {
        return false;
    }
    layoutDrawingArea(*this);
    return true;
}

std::shared_ptr<XbpMenuBar> XbpDialog::menuBar() {
    DialogState& s = *state_;
    if (!s.menuBar) {
        auto self = std::static_pointer_cast<XbpDialog>(shared_from_this());
        s.menuBar.reset(new XbpMenuBar(self));
        Impl(*s.menuBar).font = impl_->font;
        if (impl_->created) {
            win32::AttachMenuBar(*s.menuBar, impl_->hwnd);
            configure();
        }
    }
    return s.menuBar;
}

void XbpDialog::title(std::string text) {
    state_->title = std::move(text);
    if (impl_->created) {
        SetWindowTextW(impl_->hwnd, win32::Widen(state_->title).c_str());
    }
}

void XbpDialog::handleEvent(int nEvent, Param mp1, Param mp2, std::nullopt_t) {
    switch (nEvent) {
    case event::Close:
        if (state_->close) {
            state_->close();
        }
        break;
    case event::Resize:
        configure();
        break;
    default:
        XbpWindow::handleEvent(nEvent, mp1, mp2);
        break;
    }
}

// ---- XbpDesktop ----------------------------------------------------------------------------

std::shared_ptr<XbpDesktop> AppDesktop() {
    static const std::shared_ptr<XbpDesktop> desktop(new XbpDesktop());
    return desktop;
}

} // namespace host
