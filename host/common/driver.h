// The driver interface: everything the runtime's core asks of a window system. A program links
// one driver (host/x11 or host/win32); its MakeDriver() is the one factory, and TheDriver()
// makes it on first use and installs its thread hooks. The core holds the shared half of the
// public functions (the event queue, argument checks, errors) and calls these hooks for the rest.
#pragma once

#include "object_state.h"

#include <host/application.h>
#include <host/threads.h>
#include <host/windows.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace host::detail {

// A runtime event made from a window-system event, for AppEvent.
struct HostEvent {
    int code = event::NoEvent;
    Param mp1;
    Param mp2;
    std::shared_ptr<XbpPart> target;
};

class Driver {
  public:
    virtual ~Driver() = default;

    // ---- The state behind the public objects, of the driver's own types
    virtual std::unique_ptr<WindowState> newWindowState() = 0;
    virtual std::unique_ptr<PresSpaceState> newPresSpaceState() = 0;
    virtual std::unique_ptr<MenuState> newMenuState() = 0;

    // ---- Start and end of the program (on the start thread)
    // Before the start-up hooks run: work the first window will need, done beside them.
    virtual void programStarting() {}
    // After the program's routines returned: what programStarting began is finished.
    virtual void programEnded() {}
    // AppExit: what the program's windows held is released.
    virtual void appExit() {}
    // An error is about to end the process from the calling thread: its windows go first, so
    // none outlives the message.
    virtual void endingOnError() {}
    // The error system's line, for whatever else should see it beside stderr.
    virtual void showError(const std::string& /*line*/) {}

    // ---- The event loop (on the thread that calls AppEvent)
    // A window-system event of the calling thread that is already there, made into a runtime
    // event; nothing when there is none. Never waits.
    virtual std::optional<HostEvent> takeEvent() = 0;
    // Waits until a window-system event arrives for the calling thread, wake() is called, or
    // `timeout` has passed (no timeout: as long as it takes). May return early.
    virtual void waitForEvents(std::optional<std::chrono::milliseconds> timeout) = 0;
    // Ends a waitForEvents now or soon; any thread may call it.
    virtual void wake() = 0;

    // ---- The desktop, focus, placement and the pointer
    // The desktop's size in pixels (every monitor).
    virtual Size desktopSize() = 0;
    // Gives the keyboard focus to the window (nullptr or the desktop: to no window of ours).
    virtual void setInputFocus(const std::shared_ptr<XbpWindow>& window) = 0;
    // Centres a top-level window on the monitor that holds the pointer, frame included.
    virtual void centreTopLevel(const std::shared_ptr<XbpWindow>& window) = 0;
    // The pointer's position on the desktop, in host coordinates.
    virtual Point pointerPos() = 0;

    // ---- Threads
    // The wait behind every pause of a host thread (nullptr: the threads library's own), and
    // the work a host thread does in its first pause (nullptr: none); see host/threads.h.
    virtual PauseWait pauseWait() const { return nullptr; }
    virtual WarmUp threadWarmUp() const { return nullptr; }
};

// Defined by the driver.
std::unique_ptr<Driver> MakeDriver();
// The program's driver, made on first use.
Driver& TheDriver();

// Whether the calling thread runs the program's event loop (host::Start marks the start thread).
void MarkEventThread();
bool IsEventThread();
// The current application window (SetAppWindow), or nullptr.
std::shared_ptr<XbpWindow> AppWindow();

} // namespace host::detail
