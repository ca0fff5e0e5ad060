// Per-thread X connections, the error handlers, and the window-to-object table.
#include "connection.h"

#include "../common/driver.h"
#include "object_state.h"

#include <host/application.h>
#include <host/error.h>
#include <host/threads.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrandr.h>

namespace host::x11 {
namespace {

thread_local std::shared_ptr<Connection> tCurrent;
thread_local ErrorTrap* tTrap = nullptr;

// X errors that nobody trapped: report and go on, as a toolkit should; the request that
// failed was the program's, not the server's fault.
int reportXError(Display* dpy, XErrorEvent* e) {
    char text[256] = {};
    XGetErrorText(dpy, e->error_code, text, sizeof text);
    std::fprintf(stderr, "%s: X error: %s (request %d.%d, resource 0x%lx)\n", ProgramName().c_str(),
                 text, e->request_code, e->minor_code, e->resourceid);
    return 0;
}

// Losing the server is fatal: say so in one line and end without running exit handlers,
// since other threads may still be inside Xlib.
int handleIOError(Display*) {
    std::fprintf(stderr, "%s: error: lost the connection to the X server %s\n",
                 ProgramName().c_str(), DisplayName().c_str());
    std::fflush(stderr);
    std::_Exit(1);
}

void installHandlersOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        XSetErrorHandler(handleXError);
        XSetIOErrorHandler(handleIOError);
        // The driver, made here at the latest, installs its thread hooks (the warm-up).
        detail::TheDriver();
    });
}

} // namespace

int handleXError(Display* dpy, XErrorEvent* e) {
    if (tTrap && tTrap->dpy_ == dpy) {
        if (tTrap->errorCode_ == 0) {
            tTrap->errorCode_ = e->error_code;
        }
        return 0;
    }
    return reportXError(dpy, e);
}

std::string DisplayName() {
    const char* name = std::getenv("DISPLAY");
    return (name && *name) ? std::string("\"") + name + "\"" : std::string("(DISPLAY is not set)");
}

std::shared_ptr<Connection> Connection::current() {
    if (!tCurrent) {
        installHandlersOnce();
        Display* dpy = XOpenDisplay(nullptr);
        if (!dpy) {
            throw Error("XOpenDisplay", "could not open the X display " + DisplayName());
        }
        tCurrent = std::make_shared<Connection>(dpy);
    }
    return tCurrent;
}

void Connection::release() {
    tCurrent.reset();
}

std::shared_ptr<Connection> Connection::existing() {
    return tCurrent;
}

Connection::Connection(Display* dpy) : dpy_(dpy) {
    Atom* slots[] = {&atoms_.wmProtocols,
                     &atoms_.wmDeleteWindow,
                     &atoms_.netWmName,
                     &atoms_.utf8String,
                     &atoms_.netWmWindowType,
                     &atoms_.netWmWindowTypeDialog,
                     &atoms_.netWmWindowTypeTooltip,
                     &atoms_.netWmWindowTypeMenu,
                     &atoms_.netWmWindowTypePopupMenu,
                     &atoms_.netWmWindowTypeDropdownMenu,
                     &atoms_.netWmState,
                     &atoms_.netWmStateAbove,
                     &atoms_.netWmStateSkipTaskbar,
                     &atoms_.netWmStateModal,
                     &atoms_.motifWmHints};
    const char* names[] = {"WM_PROTOCOLS",
                           "WM_DELETE_WINDOW",
                           "_NET_WM_NAME",
                           "UTF8_STRING",
                           "_NET_WM_WINDOW_TYPE",
                           "_NET_WM_WINDOW_TYPE_DIALOG",
                           "_NET_WM_WINDOW_TYPE_TOOLTIP",
                           "_NET_WM_WINDOW_TYPE_MENU",
                           "_NET_WM_WINDOW_TYPE_POPUP_MENU",
                           "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
                           "_NET_WM_STATE",
                           "_NET_WM_STATE_ABOVE",
                           "_NET_WM_STATE_SKIP_TASKBAR",
                           "_NET_WM_STATE_MODAL",
                           "_MOTIF_WM_HINTS"};
    // One round trip for all atoms instead of one per atom.
    Atom values[std::size(names)] = {};
    XInternAtoms(dpy_, const_cast<char**>(names), static_cast<int>(std::size(names)), False,
                 values);
    for (std::size_t i = 0; i < std::size(names); ++i) {
        *slots[i] = values[i];
    }
    int randrError = 0, major = 0, minor = 0;
    if (XRRQueryExtension(dpy_, &randrEventBase_, &randrError) &&
        XRRQueryVersion(dpy_, &major, &minor) && (major > 1 || minor >= 2)) {
        XRRSelectInput(dpy_, root(),
                       RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask |
                           RROutputChangeNotifyMask);
        // A monitor set or deleted (RandR 1.5) is told only as a ConfigureNotify of the root.
        XSelectInput(dpy_, root(), StructureNotifyMask);
    } else {
        randrEventBase_ = -1;
    }
    // Pixels are colour numbers through the visual's masks (pixelFor, the captures), so any
    // TrueColor visual with 5 to 10 bits a channel will do; a colour map (PseudoColor) will not.
    const int d = depth();
    if (visual()->c_class != TrueColor || (d != 15 && d != 16 && d != 24 && d != 30)) {
        static const char* const kClasses[] = {"StaticGray",  "GrayScale", "StaticColor",
                                               "PseudoColor", "TrueColor", "DirectColor"};
        const int cls = visual()->c_class;
        const std::string seen = std::string(cls >= 0 && cls < 6 ? kClasses[cls] : "unknown") +
                                 " visual of depth " + std::to_string(d);
        XCloseDisplay(dpy_);
        throw Error("XOpenDisplay",
                    "the X display needs a TrueColor visual of depth 15, 16, 24 or 30",
                    {DisplayName(), seen});
    }
}

Connection::~Connection() {
    band_.reset(); // detached while the connection is still open
    XCloseDisplay(dpy_);
}

ShmBand* Connection::band() {
    if (!bandTried_) {
        bandTried_ = true;
        band_ = ShmBand::Attach(dpy_);
    }
    return band_.get();
}

// ThreadSanitizer does not follow shmat: a segment mapped where a finished thread's stack once
// was still carries that stack's history, and the server's writes into it are invisible to it.
// Builds under it move pixels through the socket.
#if defined(__SANITIZE_THREAD__)
constexpr bool kUseSharedMemory = false;
#else
constexpr bool kUseSharedMemory = true;
#endif

std::unique_ptr<ShmBand> ShmBand::Attach(Display* dpy) {
    if (!kUseSharedMemory || !XShmQueryExtension(dpy)) {
        return nullptr;
    }
    const int id = ::shmget(IPC_PRIVATE, kBytes, IPC_CREAT | 0600);
    if (id < 0) {
        return nullptr;
    }
    void* addr = ::shmat(id, nullptr, 0);
    // Marked for removal at once: the segment goes away with its last detach, also when the
    // process dies.
    ::shmctl(id, IPC_RMID, nullptr);
    if (addr == reinterpret_cast<void*>(-1)) {
        return nullptr;
    }
    std::unique_ptr<ShmBand> band(new ShmBand(dpy));
    band->info_.shmid = id;
    band->info_.shmaddr = static_cast<char*>(addr);
    band->info_.readOnly = False;
    ErrorTrap trap(dpy);
    XShmAttach(dpy, &band->info_);
    if (!trap.sync()) {
        ::shmdt(addr); // e.g. a server on another machine cannot see our memory
        band->info_.shmaddr = nullptr;
        return nullptr;
    }
    return band;
}

ShmBand::~ShmBand() {
    if (info_.shmaddr) {
        XShmDetach(dpy_, &info_);
        XSync(dpy_, False);
        ::shmdt(info_.shmaddr);
    }
}

Size Connection::rootSize() const {
    if (layoutKept() && rootSize_) {
        return *rootSize_;
    }
    ::Window r = 0;
    int x = 0, y = 0;
    unsigned int w = 0, h = 0, border = 0, depth = 0;
    XGetGeometry(dpy_, root(), &r, &x, &y, &w, &h, &border, &depth);
    rootSize_ = Size{static_cast<int>(w), static_cast<int>(h)};
    return *rootSize_;
}

namespace {
bool isLayoutChange(const XEvent& ev, int randrEventBase, ::Window root) {
    return ev.type == randrEventBase + RRScreenChangeNotify ||
           ev.type == randrEventBase + RRNotify ||
           (ev.type == ConfigureNotify && ev.xconfigure.window == root);
}
} // namespace

bool Connection::layoutKept() const {
    if (randrEventBase_ < 0) {
        return false;
    }
    // Events already read, or readable without blocking, that tell of a change.
    const auto pick = [](Display*, XEvent* ev, XPointer self) {
        const auto& c = *reinterpret_cast<const Connection*>(self);
        return isLayoutChange(*ev, c.randrEventBase_, c.root()) ? True : False;
    };
    XEvent ev;
    while (
        XCheckIfEvent(dpy_, &ev, pick, reinterpret_cast<XPointer>(const_cast<Connection*>(this)))) {
        noteEvent(ev);
    }
    return true;
}

void Connection::noteEvent(XEvent& ev) const {
    if (randrEventBase_ >= 0 && isLayoutChange(ev, randrEventBase_, root())) {
        XRRUpdateConfiguration(&ev); // Xlib's own idea of the screen's size follows
        rootSize_.reset();
        monitors_.reset();
    }
}

void Connection::registerWindow(::Window w, std::weak_ptr<XbpPart> part) {
    parts_[w] = std::move(part);
}

void Connection::unregisterWindow(::Window w) {
    parts_.erase(w);
}

std::shared_ptr<XbpPart> Connection::partFor(::Window w) const {
    auto it = parts_.find(w);
    return it == parts_.end() ? nullptr : it->second.lock();
}

unsigned long Connection::pixelFor(Color c) const {
    const Visual* v = visual();
    // An 8-bit channel scaled to the mask's width (5, 6, 8 or 10 bits), rounded, and shifted
    // into place.
    auto place = [](unsigned long value, unsigned long mask) {
        if (!mask) {
            return 0UL;
        }
        int shift = 0;
        while (!(mask & 1)) {
            mask >>= 1;
            ++shift;
        }
        return ((value * mask + 127) / 255) << shift;
    };
    return place(static_cast<unsigned long>(RedOf(c)), v->red_mask) |
           place(static_cast<unsigned long>(GreenOf(c)), v->green_mask) |
           place(static_cast<unsigned long>(BlueOf(c)), v->blue_mask);
}

ErrorTrap::ErrorTrap(Display* dpy) : dpy_(dpy), previous_(tTrap) {
    XSync(dpy_, False); // errors of earlier requests are not ours to trap
    tTrap = this;
}

ErrorTrap::~ErrorTrap() {
    XSync(dpy_, False);
    tTrap = previous_;
}

bool ErrorTrap::sync() {
    XSync(dpy_, False);
    return errorCode_ == 0;
}

} // namespace host::x11
