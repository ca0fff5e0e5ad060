// Waiting for the pointer to move on a thread that runs no event loop (the tip worker): a
// low-level mouse hook, installed by the waiting thread for the wait, wakes it; where the hook
// cannot be set, the core reads the pointer every 10 ms.
#include "coords.h"
#include "dispatch.h"
#include "driver.h"
#include "object_state.h"

#include <host/application.h>
#include <host/threads.h>

#include <algorithm>
#include <chrono>

namespace host {

namespace {

using Clock = std::chrono::steady_clock;

// What the hook of the calling thread compares with, and what it found. The system calls a
// low-level hook on the thread that installed it, while that thread takes its messages, so
// thread-local state is all it needs.
struct HookWatch {
    POINT from{};
    bool moved = false;
    HANDLE wake = nullptr;
};
thread_local HookWatch* tHookWatch = nullptr;
// Whether the system let this thread hook the mouse (unknown until first tried).
thread_local std::optional<bool> tHookWorks;

LRESULT CALLBACK mouseHook(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION && wp == WM_MOUSEMOVE && tHookWatch) {
        // The hook runs before the system moves the cursor: the new position is in the
        // message, not yet in GetCursorPos.
        const auto& info = *reinterpret_cast<const MSLLHOOKSTRUCT*>(lp);
        if (info.pt.x != tHookWatch->from.x || info.pt.y != tHookWatch->from.y) {
            tHookWatch->moved = true;
            SetEvent(tHookWatch->wake);
        }
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

win32::HookPtr installHook() {
    win32::HookPtr hook(SetWindowsHookExW(WH_MOUSE_LL, mouseHook, GetModuleHandleW(nullptr), 0));
    tHookWorks = hook != nullptr;
    return hook;
}

bool pointerAt(POINT& p) {
    return GetCursorPos(&p) != 0;
}

bool differs(POINT a, POINT b) {
    return a.x != b.x || a.y != b.y;
}

} // namespace

std::optional<bool> win32::Win32Driver::awaitPointerMove(Point from, Clock::time_point deadline) {
    const POINT start = win32::HostToScreen(from);
    const win32::HookPtr hook = tHookWorks.value_or(true) ? installHook() : nullptr;
    if (!hook) {
        return std::nullopt; // the core reads the pointer every 10 ms (its pauses dispatch)
    }
    HANDLE wake = win32::ThreadWake();
    HookWatch watch{start, false, wake};
    tHookWatch = &watch;
    struct Unwatch {
        ~Unwatch() { tHookWatch = nullptr; }
    } unwatch;
    const StopWake onStop([wake] { SetEvent(wake); });
    // The pointer read after installing the hook sees every move that no call of it reports.
    POINT now{};
    watch.moved = pointerAt(now) && differs(now, start);
    while (!watch.moved && !StopRequested()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        // Dispatching the thread's messages also delivers the hook's calls.
        win32::WaitDispatching(static_cast<DWORD>(left.count()), wake, false);
    }
    return watch.moved;
}

std::optional<Point> win32::Win32Driver::readPointer() {
    POINT now{};
    if (!pointerAt(now)) {
        return std::nullopt;
    }
    return win32::ScreenToHost(now);
}

std::string win32::Win32Driver::pointerWaitMethod() {
    if (!tHookWorks) {
        installHook(); // tried once per thread; the hook goes again at once
    }
    return *tHookWorks ? "a low-level mouse hook" : "reading the pointer every 10 ms";
}

} // namespace host
