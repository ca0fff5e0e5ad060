// The accessibility front: decides at start-up whether the bridge is wanted, loads it, carries
// notes from any thread to the event thread, and lends the event loop's wait to the bridge.
#include "a11y.h"
#include "backend.h"

#include <dlfcn.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace host::a11y {

namespace {

// The dlopen handle stays for the life of the process: the module registers GObject types,
// which cannot be unloaded.
struct Bridge {
    ~Bridge() {
        if (wakeFd >= 0) {
            ::close(wakeFd);
        }
    }
    std::unique_ptr<Backend> backend;
    std::thread::id thread;
    int wakeFd = -1;
    std::mutex mutex;
    std::deque<Note> notes;
    std::vector<pollfd> fds; // the event thread's wait set, kept between waits
};

std::atomic<bool> active{false};

Bridge& bridge() {
    static Bridge b;
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

} // namespace

void Start(const std::string& programName) {
    if (active.load() || refused()) {
        return;
    }
    // Without a named accessibility bus or a session bus to ask for one, nothing is loaded.
    const bool given = std::getenv("AT_SPI_BUS_ADDRESS") != nullptr;
    if (!given && std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
        return;
    }
    void* module = ::dlopen(besideExecutable(kModuleFile).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        return; // installed without it: the program runs, unreadable as before
    }
    auto open = reinterpret_cast<OpenBackend>(::dlsym(module, kOpenSymbol));
    Backend* backend = open ? open(programName.c_str(), given) : nullptr;
    if (!backend) {
        return; // no accessibility bus answered: the module stays loaded, idle
    }
    Bridge& b = bridge();
    b.backend.reset(backend);
    b.thread = std::this_thread::get_id();
    b.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    active.store(true, std::memory_order_release);
}

bool Active() {
    return active.load(std::memory_order_acquire);
}

void Post(Note note) {
    if (!Active()) {
        return;
    }
    Bridge& b = bridge();
    {
        std::lock_guard lock(b.mutex);
        b.notes.push_back(std::move(note));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(b.wakeFd, &one, sizeof one);
}

int Poll(pollfd* fds, int count, int timeoutMs) {
    if (!Active() || std::this_thread::get_id() != bridge().thread) {
        return ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
    }
    Bridge& b = bridge();
    applyNotes(b);
    b.fds.assign(fds, fds + count);
    b.fds.push_back({b.wakeFd, POLLIN, 0});
    const int ready = b.backend->poll(b.fds.data(), static_cast<int>(b.fds.size()), timeoutMs);
    std::copy(b.fds.begin(), b.fds.begin() + count, fds);
    if (b.fds.back().revents & POLLIN) {
        std::uint64_t n = 0;
        while (::read(b.wakeFd, &n, sizeof n) == sizeof n) {
        }
        applyNotes(b);
    }
    int own = 0;
    for (int i = 0; i < count; ++i) {
        own += fds[i].revents != 0 ? 1 : 0;
    }
    return ready < 0 ? ready : own;
}

} // namespace host::a11y
