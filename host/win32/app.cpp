// The application group on Win32: start-up and errors, the event queue (window messages of
// the calling thread turned into runtime events, plus posted events), the one message-pumping
// wait, application window and focus, and small services.
#include "../core/program.h"
#include "state.h"

#include <host/application.h>
#include <host/error.h>
#include <host/threads.h>
#include <host/windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>

namespace host {

namespace {

// ---- Posted events -----------------------------------------------------------------------

struct Posted {
    int code = 0;
    Param mp1;
    Param mp2;
    std::weak_ptr<XbpPart> target;
};

// Events posted from any thread; an auto-reset event wakes the thread waiting in AppEvent.
class PostedQueue {
  public:
    PostedQueue() : wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~PostedQueue() {
        if (wake_) {
            CloseHandle(wake_);
        }
    }
    PostedQueue(const PostedQueue&) = delete;
    PostedQueue& operator=(const PostedQueue&) = delete;

    bool push(Posted p) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(p));
        }
        return SetEvent(wake_) != 0;
    }
    std::optional<Posted> pop() {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) {
            return std::nullopt;
        }
        Posted p = std::move(queue_.front());
        queue_.pop_front();
        return p;
    }
    HANDLE handle() const { return wake_; }

  private:
    HANDLE wake_;
    std::mutex mutex_;
    std::deque<Posted> queue_;
};

PostedQueue& posted() {
    static PostedQueue queue;
    return queue;
}

// ---- Application state -------------------------------------------------------------------

// Per thread: whether it runs the program's event loop, the events its window procedures
// made, and an error a window procedure raised.
thread_local bool tIsEventThread = false;
thread_local std::deque<win32::HostEvent> tEvents;
thread_local std::exception_ptr tKeptError;

} // namespace

// ---- Shared helpers of the driver ----------------------------------------------------------

namespace win32 {

std::wstring Widen(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(n, 0)), L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    }
    return wide;
}

std::string Narrow(std::wstring_view utf16) {
    if (utf16.empty()) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(std::max(n, 0)), '\0');
    if (n > 0) {
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), text.data(),
                            n, nullptr, nullptr);
    }
    return text;
}

RECT DesktopRect() {
    const int x = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int y = GetSystemMetrics(SM_YVIRTUALSCREEN);
    return {x, y, x + GetSystemMetrics(SM_CXVIRTUALSCREEN),
            y + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

Size ScreenSize() {
    const RECT d = DesktopRect();
    return {d.right - d.left, d.bottom - d.top};
}

POINT HostToScreen(Point p) {
    const RECT d = DesktopRect();
    return {d.left + p.x, d.top + ToDeviceRow(p.y, d.bottom - d.top)};
}

Point ScreenToHost(POINT p) {
    const RECT d = DesktopRect();
    return {p.x - d.left, ToDeviceRow(p.y - d.top, d.bottom - d.top)};
}

Rect ScreenRectToHost(const RECT& r) {
    const Point lowerLeft = ScreenToHost({r.left, r.bottom - 1});
    const Point upperRight = ScreenToHost({r.right - 1, r.top});
    return {lowerLeft.x, lowerLeft.y, upperRight.x, upperRight.y};
}

POINT TopLevelToScreen(Point pos, Size size) {
    const RECT d = DesktopRect();
    const POINT at = WindowToDevice(pos, size, d.bottom - d.top);
    return {d.left + at.x, d.top + at.y};
}

Point TopLevelToHost(const RECT& window) {
    const RECT d = DesktopRect();
    return {window.left - d.left, d.bottom - window.bottom};
}

void MarkEventThread() {
    tIsEventThread = true;
}

bool IsEventThread() {
    return tIsEventThread;
}

void QueueEvent(HostEvent event) {
    if (tIsEventThread && event.target) {
        tEvents.push_back(std::move(event));
    }
}

std::optional<HostEvent> TakeEvent() {
    if (tEvents.empty()) {
        return std::nullopt;
    }
    HostEvent e = std::move(tEvents.front());
    tEvents.pop_front();
    return e;
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

std::shared_ptr<XbpWindow> AppWindow() {
    std::lock_guard lock(detail::App().mutex);
    return detail::App().appWindow;
}

} // namespace win32

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

// Every pause of a host thread goes through the driver's wait, so a thread that owns windows
// (the tip worker) keeps answering their messages while it pauses. Set during static
// initialisation, before any thread of the program can pause.
const bool kThreadSeamsInstalled =
    (SetPauseWait(&win32::PauseDispatching), SetThreadWarmUp(&warmThread), true);

} // namespace

// ---- Version, start-up, errors -----------------------------------------------------------

void ErrorSys(const std::exception& error) {
    const std::string line = ProgramName() + ": error: " + error.what() + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    // A GUI program started from the desktop has no stderr: debuggers still see the line.
    OutputDebugStringW(win32::Widen(line).c_str());
    std::_Exit(1);
}

void AppExit() {}

int Start(const StartupRecord& record) {
    SetProgramName(record.name);
    win32::MarkEventThread();
    // Text and pictures in the program's pixels, not scaled by the system on high-DPI screens.
    SetProcessDPIAware();
    const ErrorHandler onError = record.errorSys ? record.errorSys : ErrorHandler(ErrorSys);
    // An error that ends a run of a thread object goes to the same error system, on the run's
    // thread. Its windows were destroyed as the run unwound; any the run left behind go first
    // too (only their own thread may destroy them), so none outlives the message.
    struct ThreadErrors {
        ThreadErrorHandler previous;
        ~ThreadErrors() { SetThreadErrorHandler(std::move(previous)); }
    } threadErrors{SetThreadErrorHandler([onError](const std::exception& e) {
        static std::atomic<bool> ending{false};
        if (ending.exchange(true)) {
            for (;;) {
                ::Sleep(INFINITE); // another thread's error is ending the process: one line
            }
        }
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND hwnd, LPARAM) {
                DestroyWindow(hwnd);
                return TRUE;
            },
            0);
        GdiFlush();
        onError(e);
        std::fflush(stderr);
        std::_Exit(1); // an error system that returns still ends the program with a failure
    })};
    return RunProgram(record, onError);
}

// ---- Events ------------------------------------------------------------------------------

int AppEvent(Param& mp1, Param& mp2, std::shared_ptr<XbpPart>& target, std::optional<int> timeout) {
    win32::MarkEventThread();
    PostedQueue& queue = posted();
    using clock = std::chrono::steady_clock;
    const auto deadline =
        timeout ? std::optional(clock::now() + std::chrono::milliseconds(*timeout * 10)) : Nil;
    for (;;) {
        win32::RaiseKeptError();
        if (auto p = queue.pop()) {
            if (auto t = p->target.lock()) {
                mp1 = p->mp1;
                mp2 = p->mp2;
                target = std::move(t);
                return p->code;
            }
            continue; // its target is gone
        }
        if (auto e = win32::TakeEvent()) {
            mp1 = e->mp1;
            mp2 = e->mp2;
            target = std::move(e->target);
            return e->code;
        }
        DWORD wait = INFINITE;
        if (deadline) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - clock::now());
            if (left.count() <= 0) {
                // Messages that arrived meanwhile still get their turn before we give up.
                win32::DispatchPending(true);
                if (win32::TakeEvent() || queue.pop()) {
                    continue;
                }
                mp1 = mp2 = Nil;
                target = nullptr;
                return event::NoEvent;
            }
            wait = static_cast<DWORD>(left.count());
        }
        win32::WaitDispatching(wait, queue.handle(), true);
    }
}

bool PostAppEvent(int code, Param mp1, Param mp2, std::shared_ptr<XbpPart> target) {
    target = detail::PostTarget(std::move(target));
    return target && posted().push(Posted{code, mp1, mp2, target});
}

// ---- Application window and focus --------------------------------------------------------

std::shared_ptr<XbpWindow> SetAppFocus(std::shared_ptr<XbpWindow> window) {
    std::shared_ptr<XbpWindow> previous = detail::SwapFocus(window);
    // Only a window of the calling thread can take the keyboard focus; others keep theirs.
    if (window && window->isCreated() && !Impl(*window).desktop &&
        Impl(*window).thread == GetCurrentThreadId()) {
        SetFocus(Impl(*window).hwnd);
    }
    return previous;
}

namespace {

// The monitor that holds the screen point, else the primary, in screen coordinates; the whole
// desktop when the system tells of no monitor.
RECT monitorAt(POINT point) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (HMONITOR monitor = MonitorFromPoint(point, MONITOR_DEFAULTTOPRIMARY);
        monitor && GetMonitorInfoW(monitor, &info)) {
        return info.rcMonitor;
    }
    return win32::DesktopRect();
}

// Where a window rectangle of `size` goes so that it is centred on `monitor`; one larger than
// the monitor keeps its top left corner (caption and menu bar) on it.
POINT centreOn(const RECT& monitor, Size size) {
    const LONG x = monitor.left + (monitor.right - monitor.left - size.width) / 2;
    const LONG y = monitor.top + (monitor.bottom - monitor.top - size.height) / 2;
    return {std::max(x, monitor.left), std::max(y, monitor.top)};
}

} // namespace

void CenterControl(const std::shared_ptr<XbpWindow>& window) {
    if (!window) {
        throw Error("CenterControl", "no window (NIL) given");
    }
    detail::WindowImpl& w = Impl(*window);
    // currentSize is the whole window rectangle, frame and caption included: what the user sees.
    const Size inner = window->currentSize();
    if (!w.isTopLevel()) {
        const Size outer = window->parent()->currentSize();
        window->setPos({(outer.width - inner.width) / 2, (outer.height - inner.height) / 2});
        return;
    }
    // A top-level window: on one monitor, not across the seam of two.
    POINT pointer{}; // (0, 0), on the primary, when the pointer cannot be read
    GetCursorPos(&pointer);
    const POINT at = centreOn(monitorAt(pointer), inner);
    window->setPos(win32::TopLevelToHost({at.x, at.y, at.x + inner.width, at.y + inner.height}));
}

Rect MonitorAt(Point point) {
    return win32::ScreenRectToHost(monitorAt(win32::HostToScreen(point)));
}

Point GetPointerPos() {
    // A thread without an event loop that polls the pointer (the tip worker) serves its
    // windows' messages here. The event loop's thread is served by AppEvent; dispatching there
    // would run window procedures inside whatever asked for the pointer.
    if (!win32::IsEventThread()) {
        win32::DispatchPending();
    }
    POINT p{};
    GetCursorPos(&p);
    return win32::ScreenToHost(p);
}

void Sleep(int hundredths) {
    if (hundredths > 0) {
        // The driver's pause (PauseDispatching): messages keep flowing, a stop request ends it.
        PauseUntilStop(std::chrono::milliseconds(hundredths) * 10);
    }
}

int FErase(const std::string& path) {
    const std::wstring wide = win32::Widen(path);
    return !wide.empty() && DeleteFileW(wide.c_str()) ? 0 : -1;
}

// ---- Message boxes ---------------------------------------------------------------------

int ConfirmBox(const std::shared_ptr<XbpWindow>& owner, const std::string& message,
               const std::string& title, int buttons) {
    UINT type = 0;
    switch (buttons) {
    case box::Ok:
        type = MB_OK;
        break;
    case box::OkCancel:
        type = MB_OKCANCEL;
        break;
    case box::YesNo:
        type = MB_YESNO;
        break;
    default:
        throw Error("ConfirmBox", "unknown buttons", {std::to_string(buttons)});
    }
    // Owned by a window of this thread (the application window when none is given), the box
    // disables it while open and gives it back the focus when it closes; without one, every
    // window of the thread is disabled (task-modal).
    HWND hwnd = nullptr;
    for (const auto& candidate : {owner, win32::AppWindow()}) {
        if (candidate && candidate->isCreated() && !Impl(*candidate).desktop &&
            Impl(*candidate).thread == GetCurrentThreadId()) {
            hwnd = Impl(*candidate).hwnd;
            break;
        }
    }
    if (!hwnd) {
        type |= MB_TASKMODAL;
    }
    const std::wstring text = win32::Widen(message);
    const std::wstring caption = win32::Widen(title);
    const int result = MessageBoxW(hwnd, text.c_str(), caption.c_str(), type | MB_SETFOREGROUND);
    win32::RaiseKeptError();
    if (result == 0) {
        throw Error("ConfirmBox", "the box could not be shown", {std::to_string(GetLastError())});
    }
    // The system's button numbers are the runtime's: IDOK 1, IDCANCEL 2, IDYES 6, IDNO 7.
    return result;
}

} // namespace host
