// Event dispatch on Win32: window messages of the calling thread are dispatched to the window
// procedure, which queues the runtime events they make; the one message-pumping wait; errors
// raised inside a window procedure carried past the system's frames.
#include "dispatch.h"

#include "coords.h"
#include "drawing.h"
#include "driver.h"
#include "keys.h"
#include "menu.h"
#include "object_state.h"
#include "tip_accessible.h"

#include <host/error.h>

#include <chrono>
#include <deque>
#include <mutex>

namespace host::win32 {

namespace {

// An event waiting for AppEvent. It does not keep its target alive: a window the program let go
// of takes its unread events with it, as posted events do.
struct Queued {
    int code = event::NoEvent;
    Param mp1;
    Param mp2;
    std::weak_ptr<XbpPart> target;
};

// Per thread: the events its window procedures made, and an error a window procedure raised.
thread_local std::deque<Queued> tEvents;
thread_local std::exception_ptr tKeptError;

} // namespace

void QueueEvent(detail::HostEvent event) {
    if (detail::IsEventThread() && event.target) {
        tEvents.push_back({event.code, event.mp1, event.mp2, event.target});
    }
}

std::optional<detail::HostEvent> TakeEvent() {
    while (!tEvents.empty()) {
        Queued q = std::move(tEvents.front());
        tEvents.pop_front();
        if (auto target = q.target.lock()) {
            return detail::HostEvent{q.code, q.mp1, q.mp2, std::move(target)};
        }
    }
    return std::nullopt;
}

void KeepError(std::exception_ptr error) noexcept {
    if (!tKeptError) {
        tKeptError = std::move(error);
    }
    // An open menu runs its own loop inside the system: close it so the error surfaces soon.
    EndMenu();
}

void RaiseKeptError() {
    if (tKeptError) {
        std::exception_ptr error = std::exchange(tKeptError, nullptr);
        std::rethrow_exception(error);
    }
}

void DispatchPending(bool untilEvent) {
    MSG msg;
    // The runtime never quits through WM_QUIT; one that arrives is dispatched to nobody.
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        RaiseKeptError();
        if (untilEvent && !tEvents.empty()) {
            break;
        }
    }
}

bool WaitDispatching(DWORD milliseconds, HANDLE extra, bool untilEvent) {
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    for (;;) {
        DispatchPending(untilEvent);
        if (untilEvent && !tEvents.empty()) {
            return false;
        }
        DWORD left = INFINITE;
        if (milliseconds != INFINITE) {
            const auto spent =
                std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - start);
            if (spent.count() >= milliseconds) {
                return false;
            }
            left = milliseconds - static_cast<DWORD>(spent.count());
        }
        const DWORD count = extra ? 1 : 0;
        const DWORD woke = MsgWaitForMultipleObjectsEx(count, extra ? &extra : nullptr, left,
                                                       QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (extra && woke == WAIT_OBJECT_0) {
            return true;
        }
        if (woke == WAIT_FAILED) {
            throw Error("Sleep", "cannot wait for window messages",
                        {std::to_string(GetLastError())});
        }
    }
}

HANDLE ThreadWake() {
    thread_local const HandlePtr wake(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!wake) {
        throw Error("Sleep", "cannot make the thread's wake-up event",
                    {std::to_string(GetLastError())});
    }
    return wake.get();
}

bool PauseDispatching(std::chrono::steady_clock::time_point deadline) {
    using clock = std::chrono::steady_clock;
    HANDLE wake = ThreadWake();
    const StopWake onStop([wake] { SetEvent(wake); });
    while (!StopRequested()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now());
        if (left.count() <= 0) {
            break;
        }
        // The event may also have been set by an earlier wait's pointer hook: the loop looks
        // at the stop request again and waits on for what is left.
        WaitDispatching(static_cast<DWORD>(left.count()), wake, false);
    }
    return StopRequested();
}

std::optional<detail::HostEvent> Win32Driver::takeEvent() {
    detail::MarkEventThread(); // the thread that takes events is the one its windows queue for
    RaiseKeptError();
    if (auto e = TakeEvent()) {
        return e;
    }
    // Messages that arrived meanwhile get their turn before the loop waits or gives up.
    DispatchPending(true);
    return TakeEvent();
}

void Win32Driver::waitForEvents(std::optional<std::chrono::milliseconds> timeout) {
    const DWORD wait = timeout ? static_cast<DWORD>(timeout->count()) : INFINITE;
    WaitDispatching(wait, wake_.get(), true);
}

void Win32Driver::wake() {
    SetEvent(wake_.get());
}

// ---- The window procedure -------------------------------------------------------------------

namespace {

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
            win32::PaintWindow(w, dc);
        }
        EndPaint(hwnd, &ps);
        queue(w, event::Paint);
        return true;
    }
    case WM_SIZE:
        if (dialog) {
            dialog->configure();
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
        if (const auto code = win32::KeyWithoutCharacter(wp)) {
            queue(w, event::Keyboard, *code, win32::Modifiers());
            return true;
        }
        return false; // TranslateMessage makes its WM_CHAR
    case WM_CHAR:
        if (const auto code = win32::CharacterKey(wp)) {
            queue(w, event::Keyboard, *code, win32::Modifiers());
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

} // namespace

HWND MakeWindow(detail::WindowImpl& w, DWORD exStyle, DWORD style, const std::wstring& title,
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

} // namespace host::win32
