// The application group's shared half: start-up and the error path, the posted-event queue and
// the AppEvent loop over the driver's events, the application window and focus, and pauses.
#include "core/program.h"
#include "driver.h"
#include "system/system.h"

#include <host/error.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

namespace host {

namespace detail {

namespace {

thread_local bool tIsEventThread = false;

struct Posted {
    int code = 0;
    Param mp1;
    Param mp2;
    std::weak_ptr<XbpPart> target;
};

// Events posted from any thread, for the thread in AppEvent; the driver's wake-up tells it.
class PostedQueue {
  public:
    void push(Posted p) {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(p));
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

  private:
    std::mutex mutex_;
    std::deque<Posted> queue_;
};

PostedQueue& posted() {
    static PostedQueue queue;
    return queue;
}

bool isTopLevel(const XbpWindow& window) {
    auto parent = window.parent();
    return !parent || dynamic_cast<const XbpDesktop*>(parent.get()) != nullptr;
}

} // namespace

AppState& App() {
    static AppState state;
    return state;
}

namespace {

// Where PostAppEvent delivers: the target given, else the application window (nullptr: none).
std::shared_ptr<XbpPart> PostTarget(std::shared_ptr<XbpPart> target) {
    if (!target) {
        std::lock_guard lock(App().mutex);
        target = App().appWindow;
    }
    return target;
}

// Records the new focus holder and returns the previous one.
std::shared_ptr<XbpWindow> SwapFocus(std::shared_ptr<XbpWindow> window) {
    std::lock_guard lock(App().mutex);
    std::swap(App().focus, window);
    return window;
}

} // namespace

Driver& TheDriver() {
    // Made once and never destroyed: windows, threads and pauses may still reach it while the
    // process's static objects go, in whatever order they were made. The thread hooks go in
    // with it, before any host thread can pause with them.
    static Driver* const driver = [] {
        Driver* made = MakeDriver().release();
        SetPauseWait(made->pauseWait());
        SetThreadWarmUp(made->threadWarmUp());
        return made;
    }();
    return *driver;
}

void MarkEventThread() {
    tIsEventThread = true;
}

bool IsEventThread() {
    return tIsEventThread;
}

std::shared_ptr<XbpWindow> AppWindow() {
    std::lock_guard lock(App().mutex);
    return App().appWindow;
}

} // namespace detail

// ---- Settings, start-up and errors ----------------------------------------------------------

long Set(int setting, long value) {
    detail::AppState& a = detail::App();
    std::lock_guard lock(a.mutex);
    long& slot = a.settings[setting];
    const long previous = slot;
    slot = value;
    return previous;
}

std::shared_ptr<XbpWindow> SetAppWindow(std::shared_ptr<XbpWindow> window) {
    std::lock_guard lock(detail::App().mutex);
    std::swap(detail::App().appWindow, window);
    return window;
}

namespace {

// The hooks of the start-up record on the calling thread, then its exit routine; an error that
// escapes goes to onError. Returns the process's exit code.
int RunProgram(const StartupRecord& record, const ErrorHandler& onError) {
    try {
        for (const Hook* hook : {&record.appSys, &record.dbeSys, &record.main}) {
            if (*hook) {
                (*hook)();
            }
        }
    } catch (const std::exception& e) {
        onError(e);
        return 1; // an error system that returns still ends the program with a failure
    }
    if (record.appExit) {
        record.appExit();
    }
    return 0;
}

} // namespace

long Version() {
    return kHostVersion;
}

void ErrorSys(const std::exception& error) {
    const std::string line = ProgramName() + ": error: " + error.what() + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    detail::TheDriver().showError(line);
    std::_Exit(1);
}

void AppExit() {
    detail::TheDriver().appExit();
}

int Start(const StartupRecord& record) {
    SetProgramName(record.name);
    detail::MarkEventThread();
    detail::Driver& driver = detail::TheDriver();
    driver.programStarting();
    const ErrorHandler onError = record.errorSys ? record.errorSys : ErrorHandler(ErrorSys);
    // An error that ends a run of a thread object goes to the same error system, on the run's
    // thread, once the run's windows are off the screen.
    struct ThreadErrors {
        ThreadErrorHandler previous;
        ~ThreadErrors() { SetThreadErrorHandler(std::move(previous)); }
    } threadErrors{SetThreadErrorHandler([onError, &driver](const std::exception& e) {
        static std::atomic<bool> ending{false};
        if (ending.exchange(true)) {
            for (;;) { // another thread's error is ending the process: one line is enough
                std::this_thread::sleep_for(std::chrono::hours(1));
            }
        }
        driver.endingOnError();
        onError(e);
        std::fflush(stderr);
        std::_Exit(1); // an error system that returns still ends the program with a failure
    })};
    const int code = RunProgram(record, onError);
    driver.programEnded();
    return code;
}

// ---- Events ----------------------------------------------------------------------------------

int AppEvent(Param& mp1, Param& mp2, std::shared_ptr<XbpPart>& target, std::optional<int> timeout) {
    detail::Driver& driver = detail::TheDriver();
    detail::PostedQueue& queue = detail::posted();
    using clock = std::chrono::steady_clock;
    const auto deadline =
        timeout ? std::optional(clock::now() + std::chrono::milliseconds(*timeout * 10)) : Nil;
    for (;;) {
        if (auto p = queue.pop()) {
            if (auto t = p->target.lock()) {
                mp1 = p->mp1;
                mp2 = p->mp2;
                target = std::move(t);
                return p->code;
            }
            continue; // its target is gone
        }
        if (auto e = driver.takeEvent()) {
            mp1 = e->mp1;
            mp2 = e->mp2;
            target = std::move(e->target);
            return e->code;
        }
        std::optional<std::chrono::milliseconds> wait;
        if (deadline) {
            wait = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - clock::now());
            if (wait->count() <= 0) {
                mp1 = mp2 = Nil;
                target = nullptr;
                return event::NoEvent;
            }
        }
        driver.waitForEvents(wait);
    }
}

bool PostAppEvent(int code, Param mp1, Param mp2, std::shared_ptr<XbpPart> target) {
    target = detail::PostTarget(std::move(target));
    if (!target) {
        return false;
    }
    detail::posted().push(detail::Posted{code, mp1, mp2, target});
    detail::TheDriver().wake();
    return true;
}

// ---- Application window, focus and placement -------------------------------------------------

std::shared_ptr<XbpWindow> SetAppFocus(std::shared_ptr<XbpWindow> window) {
    std::shared_ptr<XbpWindow> previous = detail::SwapFocus(window);
    detail::TheDriver().setInputFocus(window);
    return previous;
}

void CenterControl(const std::shared_ptr<XbpWindow>& window) {
    if (!window) {
        throw Error("CenterControl", "no window (NIL) given");
    }
    if (!detail::isTopLevel(*window)) {
        const Size inner = window->currentSize();
        const Size outer = window->parent()->currentSize();
        window->setPos({(outer.width - inner.width) / 2, (outer.height - inner.height) / 2});
        return;
    }
    detail::TheDriver().centreTopLevel(window);
}

Point GetPointerPos() {
    return detail::TheDriver().pointerPos();
}

Rect MonitorAt(Point point) {
    return detail::TheDriver().monitorAt(point);
}

// ---- Waiting for the pointer -----------------------------------------------------------------

bool WaitPointerMove(Point from, int timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(10LL * std::max(0, timeout));
    if (StopRequested()) {
        return false;
    }
    detail::Driver& driver = detail::TheDriver();
    if (const std::optional<bool> moved = driver.awaitPointerMove(from, deadline)) {
        return *moved;
    }
    // No motion events on this thread: read the pointer every 10 ms. Each pause is a stop
    // point, and rounds up, so that the last one reaches the deadline rather than spinning.
    constexpr std::chrono::milliseconds kPollPause{10};
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        if (PauseUntilStop(std::min(kPollPause, left))) {
            return false;
        }
        const std::optional<Point> now = driver.readPointer();
        if (now && *now != from) {
            return true;
        }
    }
}

std::string PointerWaitMethod() {
    return detail::TheDriver().pointerWaitMethod();
}

// ---- The confirmation box --------------------------------------------------------------------

namespace {

// Raises host::Error for a set of buttons other than box::Ok, OkCancel or YesNo.
void CheckBoxButtons(int buttons) {
    if (buttons != box::Ok && buttons != box::OkCancel && buttons != box::YesNo) {
        throw Error("ConfirmBox", "unknown set of buttons", {std::to_string(buttons)});
    }
}

} // namespace

int ConfirmBox(const std::shared_ptr<XbpWindow>& owner, const std::string& message,
               const std::string& title, int buttons) {
    CheckBoxButtons(buttons);
    return detail::TheDriver().confirmBox(owner, message, title, buttons);
}

// ---- Small services --------------------------------------------------------------------------

void Sleep(int hundredths) {
    if (hundredths > 0) {
        // The driver's pause (see Driver::pauseWait): a stop request for the thread ends it.
        PauseUntilStop(std::chrono::milliseconds(hundredths) * 10);
    }
}

int FErase(const std::string& path) {
    return system::RemoveFile(path) ? 0 : -1;
}

} // namespace host
