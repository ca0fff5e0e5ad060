// The Win32 driver's factory and its hooks for start and end, errors, focus, the pointer and
// the pauses of host threads.
#include "driver.h"

#include "coords.h"
#include "dispatch.h"
#include "drawing.h"
#include "object_state.h"
#include "system/utf16.h"

#include <host/error.h>

namespace host {

std::unique_ptr<detail::Driver> detail::MakeDriver() {
    return std::make_unique<win32::Win32Driver>();
}

namespace win32 {

namespace {

// A host thread's first pause is idle time: what its first window would pay for is paid there,
// so that the first tip costs what later ones do (under Wine about half, measured on a bare
// Xvfb): the thread's message queue, the pointer hook's probe, the default font, and a window
// made and destroyed unseen, which has the system set up the thread's window state.
void warmThread() {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    PointerWaitMethod();
    win32::FontFor(DefaultFont());
    auto unseen = XbpDialog::New(AppDesktop(), nullptr, Point{0, 0}, Size{1, 1}, {}, false);
    unseen->titlebar(false);
    unseen->alwaysOnTop(true);
    unseen->create();
    unseen->destroy();
}

} // namespace

Win32Driver::Win32Driver() : wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if (!wake_) {
        throw Error("AppEvent", "cannot make the event loop's wake-up event",
                    {std::to_string(GetLastError())});
    }
}

std::unique_ptr<detail::WindowState> Win32Driver::newWindowState() {
    return std::make_unique<detail::WindowImpl>();
}

std::unique_ptr<detail::PresSpaceState> Win32Driver::newPresSpaceState() {
    return std::make_unique<detail::PresSpaceImpl>();
}

std::unique_ptr<detail::BitmapState> Win32Driver::newBitmapState() {
    return std::make_unique<detail::BitmapImpl>();
}

std::unique_ptr<detail::MenuState> Win32Driver::newMenuState() {
    return std::make_unique<detail::MenuImpl>();
}

void Win32Driver::programStarting() {
    // Text and pictures in the program's pixels, not scaled by the system on high-DPI screens.
    SetProcessDPIAware();
}

void Win32Driver::endingOnError() {
    // Only their own thread may destroy a thread's windows: any the run left behind go here.
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND hwnd, LPARAM) {
            DestroyWindow(hwnd);
            return TRUE;
        },
        0);
    GdiFlush();
}

void Win32Driver::showError(const std::string& line) {
    // A GUI program started from the desktop has no stderr: debuggers still see the line.
    OutputDebugStringW(system::ToUtf16(line).c_str());
}

Size Win32Driver::desktopSize() {
    return ScreenSize();
}

void Win32Driver::aimAtDesktop(detail::PresSpaceState& space) {
    // On the screen's DC. It starts at the primary monitor; the desktop starts at the virtual
    // screen's top left, which lies to the left of or above it when another monitor does.
    auto& p = static_cast<detail::PresSpaceImpl&>(space);
    p.target = detail::PresSpaceImpl::Target::ToScreen;
    p.screen = std::make_unique<WindowDc>(nullptr);
    const RECT desktop = DesktopRect();
    SetViewportOrgEx(p.screen->get(), desktop.left, desktop.top, nullptr);
}

void Win32Driver::setInputFocus(const std::shared_ptr<XbpWindow>& window) {
    // Only a window of the calling thread can take the keyboard focus; others keep theirs.
    if (window && window->isCreated() && !Impl(*window).desktop &&
        Impl(*window).thread == GetCurrentThreadId()) {
        SetFocus(Impl(*window).hwnd);
    }
}

Point Win32Driver::pointerPos() {
    // A thread without an event loop that polls the pointer (the tip worker) serves its
    // windows' messages here. The event loop's thread is served by AppEvent; dispatching there
    // would run window procedures inside whatever asked for the pointer.
    if (!detail::IsEventThread()) {
        DispatchPending();
    }
    POINT p{};
    GetCursorPos(&p);
    return ScreenToHost(p);
}

// Every pause of a host thread goes through the driver's wait, so a thread that owns windows
// (the tip worker) keeps answering their messages while it pauses.
PauseWait Win32Driver::pauseWait() const {
    return &PauseDispatching;
}

WarmUp Win32Driver::threadWarmUp() const {
    return &warmThread;
}

} // namespace win32
} // namespace host
