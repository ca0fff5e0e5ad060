// Waiting for the pointer to move on a thread that runs no event loop (the tip worker): XInput 2
// raw motion on the root wakes the thread; without it the core reads the pointer every 10 ms.
#include "coords.h"
#include "driver.h"
#include "object_state.h"

#include <host/application.h>
#include <host/threads.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>

#include <X11/extensions/XInput2.h>

namespace host {

using x11::Connection;

namespace {

using Clock = std::chrono::steady_clock;

// What the calling thread knows of its connection's XInput 2, and the eventfd through which a
// stop request wakes its wait on the connection.
struct PointerWatch {
    Display* probedFor = nullptr;
    bool rawMotion = false;
    int opcode = 0;
    int wakeFd = -1;

    PointerWatch() = default;
    ~PointerWatch() {
        if (wakeFd >= 0) {
            ::close(wakeFd);
        }
    }
    PointerWatch(const PointerWatch&) = delete;
    PointerWatch& operator=(const PointerWatch&) = delete;
};

thread_local PointerWatch tWatch;

// Raw events reach every client that selects them on the root, also while another client
// (the menus) holds the pointer grab, from XInput 2.1 on; 2.0 sent them to the grabber only.
PointerWatch& watchFor(Connection& c) {
    PointerWatch& w = tWatch;
    if (w.probedFor == c.dpy()) {
        return w;
    }
    w.probedFor = c.dpy();
    w.rawMotion = false;
    int event = 0, error = 0;
    if (XQueryExtension(c.dpy(), "XInputExtension", &w.opcode, &event, &error)) {
        int major = 2, minor = 2;
        w.rawMotion = XIQueryVersion(c.dpy(), &major, &minor) == Success &&
                      (major > 2 || (major == 2 && minor >= 1));
    }
    if (w.rawMotion && w.wakeFd < 0) {
        w.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        w.rawMotion = w.wakeFd >= 0;
    }
    return w;
}

void selectRawMotion(Connection& c, bool on) {
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    if (on) {
        XISetMask(bits, XI_RawMotion);
    }
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(c.dpy(), c.root(), &mask, 1);
}

Point pointerAt(Connection& c) {
    ::Window root = 0, child = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned int mask = 0;
    XQueryPointer(c.dpy(), c.root(), &root, &child, &rx, &ry, &wx, &wy, &mask);
    return {rx, x11::ToHostRow(ry, c.rootSize().height)};
}

// Takes every event Xlib has read or can read without blocking; true when one was raw motion.
// This connection selects nothing else but the screen's changes, so nothing else is lost.
bool drainEvents(Connection& c, const PointerWatch& w) {
    Display* dpy = c.dpy();
    bool motion = false;
    while (XPending(dpy) > 0) {
        XEvent ev;
        XNextEvent(dpy, &ev);
        c.noteEvent(ev);
        XGenericEventCookie& cookie = ev.xcookie;
        if (cookie.type == GenericEvent && cookie.extension == w.opcode &&
            XGetEventData(dpy, &cookie)) {
            motion = motion || cookie.evtype == XI_RawMotion;
            XFreeEventData(dpy, &cookie);
        }
    }
    return motion;
}

int millisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

} // namespace

std::optional<bool> x11::X11Driver::awaitPointerMove(Point from, Clock::time_point deadline) {
    const std::shared_ptr<Connection> conn = Connection::current();
    Display* dpy = conn->dpy();
    PointerWatch& w = watchFor(*conn);
    if (!w.rawMotion) {
        return std::nullopt; // the core reads the pointer every 10 ms
    }
    StopWake wake([fd = w.wakeFd] {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(fd, &one, sizeof one);
    });
    if (StopRequested()) {
        return false;
    }
    // Selected only while someone waits: raw motion nobody reads would pile up in the server's
    // buffer for this connection. The pointer read after selecting sees every move that no
    // event will report; the events queued before its reply are older than it.
    selectRawMotion(*conn, true);
    bool moved = pointerAt(*conn) != from;
    drainEvents(*conn, w);
    while (!moved) {
        const int left = millisecondsLeft(deadline);
        if (left <= 0) {
            break;
        }
        pollfd fds[2] = {{ConnectionNumber(dpy), POLLIN, 0}, {w.wakeFd, POLLIN, 0}};
        ::poll(fds, 2, left);
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto n = ::read(w.wakeFd, &count, sizeof count);
            if (StopRequested()) {
                break;
            }
        }
        // A broken connection shows up here, through the I/O error handler.
        if (drainEvents(*conn, w)) {
            moved = pointerAt(*conn) != from;
        }
    }
    selectRawMotion(*conn, false);
    XFlush(dpy);
    return moved;
}

std::string x11::X11Driver::pointerWaitMethod() {
    const std::shared_ptr<Connection> conn = Connection::current();
    return watchFor(*conn).rawMotion ? "XInput 2 raw motion" : "reading the pointer every 10 ms";
}

} // namespace host
