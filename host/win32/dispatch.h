// Event dispatch on Win32: the window class and its procedure, the runtime events queued from
// window messages, the one message-pumping wait, and errors carried past the system's frames.
#pragma once

#include "../common/driver.h"

#include <windows.h>

#include <chrono>
#include <exception>
#include <optional>
#include <string>

namespace host::detail {
struct WindowImpl;
}

namespace host::win32 {

// Asks a window's own thread to destroy it, when its object dies on another thread.
constexpr UINT kDestroySelf = WM_APP + 1;

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

// Makes a window of the runtime's class for the state `w` (which the window procedure then
// reaches); raises host::Error when the system cannot.
HWND MakeWindow(detail::WindowImpl& w, DWORD exStyle, DWORD style, const std::wstring& title,
                POINT at, Size size, HWND parent);

} // namespace host::win32
