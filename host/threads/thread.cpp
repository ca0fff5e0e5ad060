// Thread objects: one persistent OS thread per object serving its runs one after another, the
// class-side Thread part, and the "Thread" class object.
#include <host/error.h>
#include <host/threads.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>

namespace host {

// Shared between the object and its OS thread, so that the OS thread can finish safely when
// the object is destroyed on that very thread (the thread is then detached, not joined).
struct Thread::State {
    struct Run {
        std::shared_ptr<Thread> self; // keeps the object alive for the whole run
        Routine routine;
    };

    std::mutex m;
    std::condition_variable cv;
    std::thread os;
    std::optional<Run> pending;
    bool running = false; // from `start` until the run has ended
    bool stop = false;    // the object is gone: the OS thread ends
    // Each OS thread the object starts gets the next generation; `quit` marks the current one
    // as ending, so a fresh OS thread started later is never told to end by an old quit.
    unsigned long long generation = 0;
    unsigned long long quitGeneration = 0;
    std::optional<int> interval;
    long long runs = 0;
    bool stopRequested = false;                  // requestStop during the run in progress
    const std::function<void()>* wake = nullptr; // the StopWake of a wait in progress
};

namespace {
// The thread object whose run is in progress on this OS thread; class-side parts act on it.
thread_local Thread* currentThread = nullptr;

std::chrono::milliseconds hundredths(int n) {
    return std::chrono::milliseconds(10LL * n);
}

std::mutex errorHandlerMutex;
ThreadErrorHandler errorHandler;
std::atomic<PauseWait> pauseWait{nullptr};
std::atomic<WarmUp> warmUp{nullptr};
thread_local bool warmedUp = false;
} // namespace

ThreadErrorHandler SetThreadErrorHandler(ThreadErrorHandler handler) {
    std::lock_guard lock(errorHandlerMutex);
    std::swap(errorHandler, handler);
    return handler;
}

Text TextArg(const ThreadArgs& args, std::size_t index) {
    if (index >= args.size() || std::holds_alternative<std::monostate>(args[index])) {
        return Nil;
    }
    if (const auto* text = std::get_if<std::string>(&args[index])) {
        return *text;
    }
    throw Error("TextArg", "the thread argument is not a text", {std::to_string(index)});
}

Thread::Thread() : state_(std::make_shared<State>()) {}

Thread::Thread(ClassSide) : classSide_(true) {}

Thread::~Thread() {
    if (!state_) {
        return;
    }
    std::thread os;
    {
        std::lock_guard lk(state_->m);
        state_->stop = true;
        os = std::move(state_->os);
    }
    state_->cv.notify_all();
    if (!os.joinable()) {
        return;
    }
    // The last reference was dropped by the OS thread itself (the run's own reference, or a
    // callback holding one): joining would wait for ourselves. It ends on its own: it only
    // touches the shared State from here on, and holds that alive.
    if (os.get_id() == std::this_thread::get_id()) {
        os.detach();
    } else {
        os.join();
    }
}

std::shared_ptr<ClassObject> Thread::classFunction() {
    auto lock = ClassRegistry::lock();
    if (auto cls = lock.find("Thread")) {
        return cls;
    }
    auto def = lock.create("Thread", {}, 0, 8);
    def.method("init", Exposure::Exported, MethodKind::Instance)
        .method("initClass", Exposure::Exported, MethodKind::Class)
        .method("execute", Exposure::Protected, MethodKind::Instance)
        .method("start", Exposure::Exported, MethodKind::Instance)
        .method("active", Exposure::Exported, MethodKind::Instance)
        .method("synchronize", Exposure::Exported, MethodKind::Instance)
        .method("setInterval", Exposure::Exported, MethodKind::Instance)
        .method("quit", Exposure::Exported, MethodKind::Instance)
        .factory([] {
            auto thread = std::make_shared<Thread>();
            thread->init();
            return thread;
        })
        .initClass([](const std::shared_ptr<ClassObject>& self) { Thread::initClass(self); });
    return lock.registerClass(std::move(def));
}

std::shared_ptr<ClassObject> Thread::initClass(const std::shared_ptr<ClassObject>& self,
                                               const ThreadArgs& args) {
    if (!self || !self->derivesFrom("Thread")) {
        throw Error("Thread::initClass", "the receiver is not a thread class",
                    {self ? self->name() : "NIL"});
    }
    if (!args.empty()) {
        throw Error("Thread::initClass", "thread classes take no class arguments",
                    {self->name(), std::to_string(args.size())});
    }
    if (!self->threadPart_) {
        self->threadPart_ = std::make_shared<Thread>(ClassSide{});
    }
    return self;
}

void Thread::init() {
    setInterval(Nil);
}

bool Thread::start(Callback<void()> routine) {
    if (!routine) {
        throw Error("Thread::start", "the routine is an empty callback");
    }
    return startRun(Routine{std::move(routine)});
}

bool Thread::startRun(Routine routine) {
    if (classSide_) {
        throw Error("Thread::start", "a class object's Thread part has no thread of its own");
    }
    auto self = std::dynamic_pointer_cast<Thread>(weak_from_this().lock());
    if (!self) {
        throw Error("Thread::start", "a thread object must be owned by a std::shared_ptr");
    }
    State& st = *state_;
    std::thread retired;
    {
        std::unique_lock lk(st.m);
        if (st.running && st.os.get_id() == std::this_thread::get_id()) {
            throw Error("Thread::start", "a run cannot start its own thread again");
        }
        st.cv.wait(lk, [&] { return !st.running; });
        // The first run, or the OS thread was told to quit: a fresh OS thread serves this run.
        if (!st.os.joinable() || st.quitGeneration == st.generation) {
            retired = std::move(st.os);
            const auto generation = ++st.generation;
            st.os = std::thread(&Thread::serve, state_, generation);
        }
        st.running = true;
        st.stopRequested = false;
        st.pending = State::Run{std::move(self), std::move(routine)};
        ++st.runs;
    }
    st.cv.notify_all();
    if (retired.joinable()) {
        retired.join(); // it has finished its last run; it only has to leave its loop
    }
    return true;
}

// `shared` refers to std::thread's own copy, which lives until this returns: the State outlives
// the object when the object is destroyed while this thread still runs.
void Thread::serve(const std::shared_ptr<State>& shared, unsigned long long generation) {
    State& st = *shared;
    std::unique_lock lk(st.m);
    for (;;) {
        const auto ending = [&] { return st.stop || st.quitGeneration >= generation; };
        st.cv.wait(lk, [&] { return ending() || st.pending.has_value(); });
        if (ending()) {
            break;
        }
        std::optional<State::Run> run = std::move(st.pending);
        st.pending.reset();
        lk.unlock();

        currentThread = run->self.get();
        for (;;) {
            try {
                if (auto* args = std::get_if<ThreadArgs>(&run->routine)) {
                    run->self->execute(*args);
                } else {
                    std::get<Callback<void()>>(run->routine)();
                }
            } catch (const std::exception& e) {
                // A run has no caller to hand its error to: the process's handler takes it (the
                // run's locals, its windows among them, are gone by now); without one, report
                // it and serve the next run.
                ThreadErrorHandler handler;
                {
                    std::lock_guard lock(errorHandlerMutex);
                    handler = errorHandler;
                }
                if (handler) {
                    handler(e);
                } else {
                    std::fprintf(stderr, "host thread: error: %s\n", e.what());
                }
            }
            lk.lock();
            st.cv.wait_for(lk, hundredths(st.interval.value_or(0)),
                           [&] { return !st.interval || ending(); });
            const bool again = st.interval.has_value() && !ending();
            lk.unlock();
            if (!again) {
                break;
            }
        }
        currentThread = nullptr;
        // Drop the run's references before the run counts as ended, so that a caller returning
        // from `synchronize` holds the only ones. This may destroy the object, on this thread.
        run.reset();

        lk.lock();
        st.running = false;
        st.cv.notify_all();
    }
}

Thread* Thread::target() {
    return classSide_ ? currentThread : this;
}

bool Thread::active() const {
    if (classSide_) {
        return false;
    }
    std::lock_guard lk(state_->m);
    return state_->running;
}

bool Thread::synchronize(int timeout) {
    if (classSide_) {
        return true;
    }
    State& st = *state_;
    std::unique_lock lk(st.m);
    if (st.running && st.os.get_id() == std::this_thread::get_id()) {
        throw Error("Thread::synchronize", "a run cannot wait for its own end");
    }
    if (timeout <= 0) {
        st.cv.wait(lk, [&] { return !st.running; });
        return true;
    }
    return st.cv.wait_for(lk, hundredths(timeout), [&] { return !st.running; });
}

void Thread::setInterval(std::optional<int> hundredthsOrNil) {
    if (hundredthsOrNil && *hundredthsOrNil < 0) {
        throw Error("Thread::setInterval", "the interval is negative",
                    {std::to_string(*hundredthsOrNil)});
    }
    Thread* t = target();
    if (!t) {
        return;
    }
    {
        std::lock_guard lk(t->state_->m);
        t->state_->interval = hundredthsOrNil;
    }
    t->state_->cv.notify_all();
}

std::optional<int> Thread::interval() const {
    if (classSide_) {
        return Nil;
    }
    std::lock_guard lk(state_->m);
    return state_->interval;
}

void Thread::quit() {
    Thread* t = target();
    if (!t) {
        return;
    }
    {
        std::lock_guard lk(t->state_->m);
        t->state_->quitGeneration = t->state_->generation;
    }
    t->state_->cv.notify_all();
}

void Thread::requestStop() {
    Thread* t = target();
    if (!t) {
        return;
    }
    State& st = *t->state_;
    std::lock_guard lk(st.m);
    if (!st.running) {
        return;
    }
    st.stopRequested = true;
    // Under the lock, so that the StopWake cannot go (and take what it wakes with it) meanwhile.
    if (st.wake) {
        (*st.wake)();
    }
    st.cv.notify_all();
}

bool PauseUntilStop(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (currentThread && !warmedUp) {
        warmedUp = true;
        if (const WarmUp work = warmUp.load(std::memory_order_acquire)) {
            try {
                work();
            } catch (const std::exception&) {
                // Only a head start: the operation that needs it meets the same error again,
                // where it reaches the program's error system.
            }
        }
    }
    if (const PauseWait wait = pauseWait.load(std::memory_order_acquire)) {
        return wait(deadline);
    }
    Thread* t = currentThread;
    if (!t) {
        std::this_thread::sleep_until(deadline);
        return false;
    }
    Thread::State& st = *t->state_;
    std::unique_lock lk(st.m);
    return st.cv.wait_until(lk, deadline, [&] { return st.stopRequested; });
}

bool StopRequested() {
    Thread* t = currentThread;
    if (!t) {
        return false;
    }
    std::lock_guard lk(t->state_->m);
    return t->state_->stopRequested;
}

StopWake::StopWake(std::function<void()> wake) : thread_(currentThread), wake_(std::move(wake)) {
    if (thread_) {
        std::lock_guard lk(thread_->state_->m);
        thread_->state_->wake = &wake_;
    }
}

StopWake::~StopWake() {
    if (thread_) {
        std::lock_guard lk(thread_->state_->m);
        thread_->state_->wake = nullptr;
    }
}

void SetThreadWarmUp(WarmUp work) {
    warmUp.store(work, std::memory_order_release);
}

void SetPauseWait(PauseWait wait) {
    pauseWait.store(wait, std::memory_order_release);
}

long long Thread::runCount() const {
    if (classSide_) {
        return 0;
    }
    std::lock_guard lk(state_->m);
    return state_->runs;
}

void Thread::execute(const ThreadArgs& /*args*/) {
    throw Error("Thread::execute", "started with NIL routine, but the class has no execute");
}

} // namespace host
