// The threads group: thread objects, each serving its runs on one persistent OS thread of its
// own, so that per-thread resources (such as a window-system driver's per-thread state) live
// as long as that OS thread and are reused from run to run.
#pragma once

#include <host/classes.h>
#include <host/values.h>

#include <chrono>
#include <concepts>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace host {

// Arguments handed to `execute`: NIL, a whole number, a number, a logical or a text. Texts
// are copied, so nothing the caller owns is shared with the thread.
using ThreadArg = std::variant<std::monostate, long long, double, bool, std::string>;
using ThreadArgs = std::vector<ThreadArg>;

inline ThreadArg MakeThreadArg(std::nullopt_t) {
    return {};
}
inline ThreadArg MakeThreadArg(const Text& text) {
    return text ? ThreadArg(*text) : ThreadArg();
}
inline ThreadArg MakeThreadArg(std::string text) {
    return ThreadArg(std::move(text));
}
inline ThreadArg MakeThreadArg(const char* text) {
    return ThreadArg(std::string(text));
}
inline ThreadArg MakeThreadArg(bool value) {
    return ThreadArg(value);
}
inline ThreadArg MakeThreadArg(double value) {
    return ThreadArg(value);
}
template <std::integral I>
requires(!std::same_as<I, bool>) ThreadArg MakeThreadArg(I value) {
    return ThreadArg(static_cast<long long>(value));
}

// Where an error that ends a thread object's run goes: a process-wide handler, which host::Start
// sets to the program's error system (it ends the process), so that an error on any thread is
// handled as one on the start thread. With none set the run's error is printed on stderr and
// the thread serves its next run. Returns the previous handler.
using ThreadErrorHandler = std::function<void(const std::exception&)>;
ThreadErrorHandler SetThreadErrorHandler(ThreadErrorHandler handler);

// Argument `index` (from 0) as a text: NIL when it is missing or NIL; raises host::Error when
// it holds something other than a text.
Text TextArg(const ThreadArgs& args, std::size_t index);

// A thread object. Each `start` begins one run on the object's OS thread, which is started on
// the first `start` and then waits, idle, for the next run. Objects are owned by
// std::shared_ptr (make them with std::make_shared or a class object's New): a run holds a
// reference, so the object outlives every run of its own.
//
// The class object of a class derived from "Thread" has a Thread part of its own (see
// ClassObject::threadPart). It has no OS thread: `start` raises host::Error, `active` is false,
// `synchronize` returns true at once, and `setInterval` and `quit` act on the thread object
// whose run is in progress on the calling OS thread (nothing happens when called from a thread
// that is not running a host thread's run). So a routine may end its own thread through its
// class, as a class method does when the class object is its receiver.
bool PauseUntilStop(std::chrono::milliseconds timeout);
bool StopRequested();

class Thread : public Object {
  public:
    Thread();
    ~Thread() override;

    // The class object "Thread", registered on first call; the single base of thread classes.
    static std::shared_ptr<ClassObject> classFunction();
    // Initialises the Thread side of a class object: gives it its Thread part. Thread classes
    // take no class arguments; any given raise host::Error. Returns the class object.
    static std::shared_ptr<ClassObject> initClass(const std::shared_ptr<ClassObject>& self,
                                                  const ThreadArgs& args = {});

    // Makes the object ready to be started: no repeat interval.
    void init();

    // Starts a run with NIL as routine: `execute(args)` runs on the object's own thread.
    // A run still in progress (or still finishing) is waited for first; runs are never dropped.
    // Returns true when the run was started. Raises host::Error when called from the object's
    // own thread during a run (it would wait for itself) or for an object not owned by a
    // shared_ptr.
    template <typename... A> bool start(std::nullopt_t, A&&... args) {
        return startRun(Routine{ThreadArgs{MakeThreadArg(std::forward<A>(args))...}});
    }
    // Starts a run of the callback on the object's own thread; otherwise as above.
    bool start(Callback<void()> routine);

    // True from `start` until the run has ended (repeats included).
    bool active() const;
    // Waits for the run in progress to end: timeout 0 waits as long as it takes, n waits at
    // most n hundredths of a second. Returns true when no run is in progress.
    bool synchronize(int timeout);
    // NIL: a run is not repeated. n: the routine repeats every n hundredths of a second, in the
    // same run, until the interval is cleared or the thread quits.
    void setInterval(std::optional<int> hundredths);
    std::optional<int> interval() const;
    // The OS thread ends after its current run (a repeating run stops repeating) and serves no
    // more runs; a later `start` begins a fresh OS thread.
    void quit();
    // Asks the run in progress to stop: its pauses (Sleep, PauseUntilStop, the runtime's waits
    // for input) end at once and every later one returns at once; the run itself decides when
    // to end. Cleared when the next run starts; with no run in progress nothing happens.
    void requestStop();

    // Runs started so far; for diagnostics.
    long long runCount() const;

  protected:
    // The body run by `start(Nil, ...)`. The base has none: it raises host::Error.
    virtual void execute(const ThreadArgs& args);

  private:
    struct ClassSide {};
    struct State;
    using Routine = std::variant<ThreadArgs, Callback<void()>>;

  public:
    // The Thread part of a class object; public for make_shared only (the tag is private).
    explicit Thread(ClassSide);

  private:
    friend bool PauseUntilStop(std::chrono::milliseconds timeout);
    friend bool StopRequested();
    friend class StopWake;

    bool startRun(Routine routine);
    static void serve(const std::shared_ptr<State>& shared, unsigned long long generation);
    Thread* target(); // this, or for a class-side part the thread running on this OS thread

    bool classSide_ = false;
    std::shared_ptr<State> state_;
};

// ---- Pauses that a stop request cuts short ---------------------------------------------

// Waits on the calling OS thread until `timeout` has passed or the run in progress on it has
// been asked to stop (Thread::requestStop); true when it ended for the stop. Off a host thread
// it is a plain sleep. Every timed pause of the runtime (Sleep included) is this one wait.
bool PauseUntilStop(std::chrono::milliseconds timeout);

// True when the run in progress on the calling OS thread has been asked to stop.
bool StopRequested();

// While it lives, a stop request for the run in progress on the calling OS thread also calls
// `wake`, on the requesting thread: a wait that blocks on something else (a socket, a handle)
// registers how to end it. Check StopRequested() after making it: a request that came
// earlier does not call `wake`. One at a time per thread; made and destroyed on that thread.
class StopWake {
  public:
    explicit StopWake(std::function<void()> wake);
    ~StopWake();
    StopWake(const StopWake&) = delete;
    StopWake& operator=(const StopWake&) = delete;

  private:
    Thread* thread_;
    std::function<void()> wake_;
};

// The seam for window-system drivers: the wait behind PauseUntilStop. The default blocks on a
// condition variable. A driver whose threads must keep dispatching the messages of the windows
// they own while they pause installs its own (once, before threads start; nullptr restores the
// default). It must return at `deadline` or as soon as StopRequested() turns true (a StopWake
// tells it when), and return StopRequested().
using PauseWait = bool (*)(std::chrono::steady_clock::time_point deadline);
void SetPauseWait(PauseWait wait);

// Work done once on each host thread's OS thread, in its first pause (a pause is idle time),
// so that it is done before the thread needs it: the window-system driver sets up what the
// thread's first window and text need there. The pause still ends when it would have; a
// stop request that comes meanwhile ends it once the work is done. nullptr: none.
using WarmUp = void (*)();
void SetThreadWarmUp(WarmUp warmUp);

} // namespace host
