// Event dispatch on Win32: window messages of the calling thread are dispatched to the window
// procedure, which queues the runtime events they make; the one message-pumping wait; errors
// raised inside a window procedure carried past the system's frames.
#include "../common/services.h"
#include "driver.h"
#include "impl.h"

#include <host/error.h>

#include <chrono>
#include <deque>

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

} // namespace host::win32
