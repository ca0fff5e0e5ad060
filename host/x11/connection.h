// Each thread that talks to the X server has its own connection, opened on first use and
// closed when the thread ends (or at AppExit on the start thread). Windows, presentation
// spaces and bitmaps keep a reference to the connection they were made on.
#pragma once

#include "coords.h"

#include <host/values.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

namespace host {
class XbpPart;
}

namespace host::x11 {

struct Monitor {
    DeviceRect rect;
    bool primary = false;
};

// Shared memory between us and the server (MIT-SHM) that pixels pass through a strip at a
// time: screen grabs are written into it, pictures for windows read from it. It is made,
// attached and touched once and then reused, since every new page costs both processes a
// fault: a small band that stays is far cheaper than a segment the size of each picture.
class ShmBand {
  public:
    static constexpr std::size_t kBytes = std::size_t{256} << 10;
    // nullptr when the server has no MIT-SHM or cannot attach our memory (another machine).
    static std::unique_ptr<ShmBand> Attach(Display* dpy);
    ShmBand(const ShmBand&) = delete;
    ShmBand& operator=(const ShmBand&) = delete;
    ~ShmBand();

    XShmSegmentInfo* segment() { return &info_; }
    std::uint8_t* data() const { return reinterpret_cast<std::uint8_t*>(info_.shmaddr); }
    // The rows of `width` 32-bit pixels one strip holds (0 when not even one fits).
    int rowsFor(int width) const {
        return width > 0 ? static_cast<int>(kBytes / (static_cast<std::size_t>(width) * 4)) : 0;
    }

  private:
    explicit ShmBand(Display* dpy) : dpy_(dpy) {}
    Display* dpy_;
    XShmSegmentInfo info_{};
};

struct Atoms {
    Atom wmProtocols = 0;
    Atom wmDeleteWindow = 0;
    Atom netWmName = 0;
    Atom utf8String = 0;
    Atom netWmWindowType = 0;
    Atom netWmWindowTypeDialog = 0;
    Atom netWmWindowTypeTooltip = 0;
    Atom netWmWindowTypeMenu = 0;
    Atom netWmWindowTypePopupMenu = 0;
    Atom netWmWindowTypeDropdownMenu = 0;
    Atom netWmState = 0;
    Atom netWmStateAbove = 0;
    Atom netWmStateSkipTaskbar = 0;
    Atom netWmStateModal = 0;
    Atom motifWmHints = 0;
};

class Connection {
  public:
    // The calling thread's connection; opens it on first use. Raises host::Error naming the
    // display when it cannot be opened.
    static std::shared_ptr<Connection> current();
    // Drops the calling thread's reference (the connection closes once nothing uses it).
    static void release();
    // The calling thread's connection if it has one, else nullptr (never opens one).
    static std::shared_ptr<Connection> existing();

    explicit Connection(Display* dpy);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Display* dpy() const { return dpy_; }
    int screen() const { return DefaultScreen(dpy_); }
    ::Window root() const { return RootWindow(dpy_, screen()); }
    Visual* visual() const { return DefaultVisual(dpy_, screen()); }
    int depth() const { return DefaultDepth(dpy_, screen()); }
    Colormap colormap() const { return DefaultColormap(dpy_, screen()); }
    const Atoms& atoms() const { return atoms_; }
    // This connection's band of shared memory, attached on first use; nullptr without one.
    ShmBand* band();

    // The root window's size and the monitors (the primary first). Each is asked of the
    // server once and then kept while RandR vouches for it: a change of the screen's size, its
    // outputs or CRTCs, or of its monitors, sends an event (selected when the connection
    // opens) that drops both. Without RandR they are asked for on every call.
    Size rootSize() const;
    std::vector<Monitor> monitors() const; // asked for in desktop.cpp, with the monitor code
    // Takes note of an event read from this connection: RandR's drop the kept layout.
    void noteEvent(XEvent& ev) const;

    // Which object each of this connection's windows belongs to, for event dispatch.
    void registerWindow(::Window w, std::weak_ptr<XbpPart> part);
    void unregisterWindow(::Window w);
    std::shared_ptr<XbpPart> partFor(::Window w) const;

    // An X pixel value for a colour number on the TrueColor visual (checked at open).
    unsigned long pixelFor(Color c) const;

  private:
    // True when the kept layout may be used: RandR is there and no change is pending.
    bool layoutKept() const;

    Display* dpy_;
    Atoms atoms_;
    std::unique_ptr<ShmBand> band_;
    bool bandTried_ = false;
    int randrEventBase_ = -1; // -1: no RandR, nothing is kept
    mutable std::optional<Size> rootSize_;
    mutable std::optional<std::vector<Monitor>> monitors_;
    std::map<::Window, std::weak_ptr<XbpPart>> parts_;
};

int handleXError(Display* dpy, XErrorEvent* e);

// Traps X errors on the calling thread for its lifetime; the XSync that makes late errors
// arrive happens inside `sync()` (call it before reading `failed()`).
class ErrorTrap {
  public:
    explicit ErrorTrap(Display* dpy);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    bool sync(); // XSync, then: true when no error was trapped
    bool failed() const { return errorCode_ != 0; }
    int errorCode() const { return errorCode_; }

  private:
    friend int handleXError(Display*, XErrorEvent*);
    Display* dpy_;
    ErrorTrap* previous_;
    int errorCode_ = 0;
};

// The name of the display the program uses, for messages.
std::string DisplayName();

} // namespace host::x11
