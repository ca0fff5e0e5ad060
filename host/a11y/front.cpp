// The accessibility front: decides at start-up whether the bridge may be wanted, starts it once
// the program's first windows are up and painted, carries notes from any thread to the event
// thread, and lends the event loop's wait to the bridge.
#include "a11y.h"
#include "backend.h"
#include "bus_question.h"

#include <dbus/dbus.h>
#include <dlfcn.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace host::a11y {

namespace {

// Off: no bridge, nothing loaded. Waiting: notes queue up until the event thread is quiet
// after the first window went up. Starting: the start-up thread looks for the accessibility
// bus and builds the bridge while notes still queue up. On: the event thread runs the bridge.
enum class State { Off, Waiting, Starting, On };
std::atomic<State> state{State::Off};

using Clock = std::chrono::steady_clock;
// The bridge starts once the event thread has had nothing to do for kQuiet after a window
// was shown (its first paint is done by then), or kLatest after that at the latest. Asking
// the bus and loading the bridge on a two-core machine during start-up would slow it.
constexpr auto kQuiet = std::chrono::milliseconds(50);
constexpr auto kLatest = std::chrono::milliseconds(1000);

// The bridge lives as long as the process, as do the libraries it loads (the module registers
// GObject types, which cannot be unloaded): a program that ends while the start-up thread
// still waits for a bus is not held up by it, and the bus sees the connection close.
struct Bridge {
    std::thread starter;
    std::atomic<bool> started{false}; // the starter's result is in `backend`
    std::unique_ptr<Backend> backend;
    std::thread::id thread; // the event thread
    bool given = false;     // AT_SPI_BUS_ADDRESS names the bus: no need to ask
    std::string programName;
    std::atomic<bool> windowShown{false}; // a WindowShown note was posted
    // While Waiting, on the event thread: when it first saw a window shown, and when its
    // descriptors last had something.
    std::optional<Clock::time_point> firstShown;
    Clock::time_point lastBusy;
    int wakeFd = -1; // wakes the event thread: a note, or the start finished
    std::mutex mutex;
    std::deque<Note> notes;
    std::vector<pollfd> fds; // the event thread's wait set, kept between waits
};

Bridge& bridge() {
    static Bridge& b = *new Bridge;
    return b;
}

std::filesystem::path besideExecutable(const char* file) {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path(file) : exe.parent_path() / file;
}

// GTK's rule: NO_AT_BRIDGE=1 keeps the bridge out.
bool refused() {
    const char* no = std::getenv("NO_AT_BRIDGE");
    return no && std::strcmp(no, "1") == 0;
}

// Asks through libdbus, for session bus addresses other than a Unix socket: the library (and
// the half-dozen it loads) costs a few milliseconds and about a megabyte.
bool askThroughLibdbus() {
    void* lib = ::dlopen("libdbus-1.so.3", RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        return false;
    }
    auto sym = [lib](const char* name) { return ::dlsym(lib, name); };
    auto init = reinterpret_cast<decltype(&dbus_error_init)>(sym("dbus_error_init"));
    auto free = reinterpret_cast<decltype(&dbus_error_free)>(sym("dbus_error_free"));
    auto get = reinterpret_cast<decltype(&dbus_bus_get_private)>(sym("dbus_bus_get_private"));
    auto owned =
        reinterpret_cast<decltype(&dbus_bus_name_has_owner)>(sym("dbus_bus_name_has_owner"));
    auto close = reinterpret_cast<decltype(&dbus_connection_close)>(sym("dbus_connection_close"));
    auto unref = reinterpret_cast<decltype(&dbus_connection_unref)>(sym("dbus_connection_unref"));
    auto noExit = reinterpret_cast<decltype(&dbus_connection_set_exit_on_disconnect)>(
        sym("dbus_connection_set_exit_on_disconnect"));
    if (!init || !free || !get || !owned || !close || !unref || !noExit) {
        return false;
    }
    DBusError error;
    init(&error);
    DBusConnection* session = get(DBUS_BUS_SESSION, &error);
    bool running = false;
    if (session) {
        noExit(session, FALSE); // a bus that goes away must not end the program
        running = owned(session, "org.a11y.Bus", &error);
        close(session);
        unref(session);
    }
    free(&error);
    return running;
}

// Asks the session bus whether org.a11y.Bus has an owner (NameHasOwner starts nothing), over
// a connection of its own closed at once.
bool accessibilityBusRunning() {
    using namespace std::chrono_literals;
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (const auto answer = NameHasOwner(address ? address : "", "org.a11y.Bus", 2000ms)) {
        return *answer;
    }
    return askThroughLibdbus();
}

// On the start-up thread: the module and its bridge, when an accessibility bus is there.
Backend* openBridge(const std::string& programName, bool busGiven) {
    if (!busGiven && !accessibilityBusRunning()) {
        return nullptr;
    }
    void* module = ::dlopen(besideExecutable(kModuleFile).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        return nullptr; // installed without it: the program runs, unreadable as before
    }
    auto open = reinterpret_cast<OpenBackend>(::dlsym(module, kOpenSymbol));
    return open ? open(programName.c_str()) : nullptr;
}

// Applies what was posted, in order.
void applyNotes(Bridge& b) {
    std::deque<Note> notes;
    {
        std::lock_guard lock(b.mutex);
        notes.swap(b.notes);
    }
    for (Note& n : notes) {
        b.backend->apply(std::move(n));
    }
}

void drainWakeups(Bridge& b) {
    std::uint64_t n = 0;
    while (::read(b.wakeFd, &n, sizeof n) == sizeof n) {
    }
}

// On the event thread, once the starter is done: the bridge runs here from now on, or never.
void finishStart(Bridge& b) {
    b.starter.join();
    if (b.backend && b.backend->adopt()) {
        state.store(State::On, std::memory_order_release);
        applyNotes(b);
        return;
    }
    state.store(State::Off, std::memory_order_release);
    std::lock_guard lock(b.mutex);
    b.notes.clear();
}

// On the event thread: from now on, the start-up thread asks for the accessibility bus and
// builds the bridge while notes queue up.
void begin(Bridge& b) {
    state.store(State::Starting, std::memory_order_release);
    b.starter = std::thread([&b] {
        // Behind the program's own work: a person may be using the dialog already.
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
        b.backend.reset(openBridge(b.programName, b.given));
        b.started.store(true, std::memory_order_release);
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(b.wakeFd, &one, sizeof one);
    });
}

// On the event thread while Waiting: begins once a window was shown and the thread has been
// quiet, waiting for the quiet part itself when the caller would wait longer. Returns what
// that wait found when it found something (the caller's answer); nothing otherwise.
std::optional<int> awaitQuiet(Bridge& b, pollfd* fds, int count, int& timeoutMs) {
    if (!b.windowShown.load(std::memory_order_acquire)) {
        return std::nullopt;
    }
    const auto now = Clock::now();
    if (!b.firstShown) {
        b.firstShown = now;
        b.lastBusy = now;
    }
    if (now - b.lastBusy >= kQuiet || now - *b.firstShown >= kLatest) {
        begin(b);
        return std::nullopt;
    }
    const auto untilQuiet = static_cast<int>(
        std::chrono::ceil<std::chrono::milliseconds>(b.lastBusy + kQuiet - now).count());
    if (timeoutMs >= 0 && timeoutMs <= untilQuiet) {
        return std::nullopt; // the caller's own wait ends first
    }
    const int ready = ::poll(fds, static_cast<nfds_t>(count), untilQuiet);
    if (ready != 0) {
        if (ready > 0) {
            b.lastBusy = Clock::now();
        }
        return ready;
    }
    begin(b);
    if (timeoutMs > 0) {
        timeoutMs = std::max(0, timeoutMs - untilQuiet);
    }
    return std::nullopt;
}

} // namespace

void Start(const std::string& programName) {
    if (state.load() != State::Off || refused()) {
        return;
    }
    // Without a named accessibility bus or a session bus to ask for one, nothing is loaded.
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    const bool given = set("AT_SPI_BUS_ADDRESS");
    if (!given && !set("DBUS_SESSION_BUS_ADDRESS")) {
        return;
    }
    Bridge& b = bridge();
    b.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (b.wakeFd < 0) {
        return;
    }
    b.thread = std::this_thread::get_id();
    b.given = given;
    b.programName = programName;
    state.store(State::Waiting, std::memory_order_release);
}

bool Active() {
    return state.load(std::memory_order_acquire) != State::Off;
}

void Post(Note note) {
    if (!Active()) {
        return;
    }
    Bridge& b = bridge();
    if (note.kind == Note::Kind::WindowShown) {
        b.windowShown.store(true, std::memory_order_release);
    }
    {
        std::lock_guard lock(b.mutex);
        b.notes.push_back(std::move(note));
    }
    if (state.load(std::memory_order_acquire) == State::Waiting) {
        return; // kept for the bridge; nothing to wake for yet
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(b.wakeFd, &one, sizeof one);
}

int Poll(pollfd* fds, int count, int timeoutMs) {
    if (!Active() || std::this_thread::get_id() != bridge().thread) {
        return ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
    }
    Bridge& b = bridge();
    if (state.load(std::memory_order_acquire) == State::Waiting) {
        if (const auto ready = awaitQuiet(b, fds, count, timeoutMs)) {
            return *ready;
        }
        if (state.load(std::memory_order_acquire) == State::Waiting) {
            const int ready = ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
            if (ready > 0) {
                b.lastBusy = Clock::now();
            }
            return ready;
        }
    }
    if (state.load(std::memory_order_acquire) == State::Starting &&
        b.started.load(std::memory_order_acquire)) {
        finishStart(b);
    }
    const bool on = state.load(std::memory_order_acquire) == State::On;
    if (on) {
        applyNotes(b);
    }
    b.fds.assign(fds, fds + count);
    b.fds.push_back({b.wakeFd, POLLIN, 0});
    const int ready = on ? b.backend->poll(b.fds.data(), static_cast<int>(b.fds.size()), timeoutMs)
                         : ::poll(b.fds.data(), b.fds.size(), timeoutMs);
    std::copy(b.fds.begin(), b.fds.begin() + count, fds);
    if (b.fds.back().revents & POLLIN) {
        drainWakeups(b);
        if (state.load(std::memory_order_acquire) == State::Starting &&
            b.started.load(std::memory_order_acquire)) {
            finishStart(b);
        } else if (on) {
            applyNotes(b);
        }
    }
    int own = 0;
    for (int i = 0; i < count; ++i) {
        own += fds[i].revents != 0 ? 1 : 0;
    }
    return ready < 0 ? ready : own;
}

} // namespace host::a11y
