// The driver interface: everything the runtime's core asks of a window system. A program links
// one driver (host/x11 or host/win32). The driver gives:
// - the state behind the public objects, as types derived from the base types below, whose
//   hooks (pure virtual functions) carry out what the core has checked and recorded;
// - a Driver, made by its one factory MakeDriver(): the state's factories, the event loop's
//   wait and wake-up, focus, placement, the pointer, the start and end of the program, and
//   its thread hooks.
// TheDriver() makes the driver on first use and installs its thread hooks. The core holds the
// shared half of the public functions (the event queue, argument checks, settings, layout
// rules, errors) and calls these hooks for the rest. docs/drivers.md tells how to add one.
#pragma once

#include <host/application.h>
#include <host/drawing.h>
#include <host/threads.h>
#include <host/windows.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace host::detail {

struct DialogState;

// ---- The state behind the public objects ----------------------------------------------------

struct WindowState {
    WindowState() = default;
    virtual ~WindowState() = default;
    WindowState(const WindowState&) = delete;
    WindowState& operator=(const WindowState&) = delete;

    std::weak_ptr<XbpWindow> self;
    std::weak_ptr<XbpWindow> parent; // children never own their parent
    bool desktop = false;
    bool dialog = false; // a dialog's own window
    std::optional<Point> pos;
    std::optional<Size> size;
    Color fg = 0x000000;
    Color bg = 0xffffff;
    Font font;
    bool visible = true;
    bool clipParent = false;
    bool clipChildren = false;
    bool created = false;
    std::shared_ptr<XbpPresSpace> lockedPS;
    // Drawing area.
    std::shared_ptr<XbpBitmap> bitmap;
    int options = 0;

    bool isTopLevel() const;

    // ---- Hooks: the platform window follows what the core has checked and recorded. Each is
    // called on a created window that is not the desktop.
    // Shows the window (`visible` is set); a top-level one is on the screen when this returns.
    virtual void showWindow() = 0;
    virtual void hideWindow() = 0;
    // Destroys the window; a top-level one is off the screen when this returns. The core then
    // marks the state not created.
    virtual void destroyWindow() = 0;
    // The window's size and lower left corner as the window system has them now.
    virtual Size windowSize() const { return size.value_or(Size{}); }
    virtual Point windowPos() const { return pos.value_or(Point{}); }
    // After setPos and setSize: the window goes there (`pos` and `size` are recorded).
    virtual void moved(Point pos, Size size) = 0;
    virtual void resized(Point pos, Size size) = 0;
    // `bg` changed: the window repaints with it.
    virtual void backgroundChanged() = 0;
    // A new presentation space for the window (lockPS): from now on it draws on the window.
    virtual void aimAtWindow(PresSpaceState& space) = 0;
    // At every lockPS: the window's space follows the window's current size.
    virtual void fitLockedSpace(PresSpaceState& space) = 0;
    // What the window shows changed (a drawing area's bitmap or options): it paints again.
    virtual void repaint() = 0;

    // ---- Hooks of a dialog and its drawing area
    // Makes the dialog's top-level window at the recorded `pos` and `size`, as the settings say.
    virtual void createDialogWindow(const DialogState& settings) = 0;
    // The size inside the window's frame and menu bar, where its drawing area goes.
    virtual Size clientSize() const { return size.value_or(Size{}); }
    // On a drawing area's state: makes its window inside the dialog's, at the recorded size.
    virtual void createAreaWindow(WindowState& dialog) = 0;
    // On a drawing area's state: its window went with the dialog's; the state lets go of it.
    virtual void forgetWindow() = 0;
    // Lays out the dialog's menu bar and drawing area in its current size.
    virtual void layOut(const DialogState& settings) = 0;
    virtual void titleChanged(const std::string& title) = 0;
    // A dialog is made (and shown when visible), or is about to be destroyed: for whatever else
    // follows the program's windows (an accessibility bridge).
    virtual void dialogCreated(const DialogState& /*settings*/) {}
    virtual void dialogDestroying() {}

    // ---- Hook of a drawing area
    // On a drawing area's state, at its Paint event: its bitmap goes onto its window as its
    // options say (a driver whose window procedure paints the area does nothing here).
    virtual void paintArea() = 0;
};

struct PresSpaceState {
    PresSpaceState() = default;
    virtual ~PresSpaceState() = default;
    PresSpaceState(const PresSpaceState&) = delete;
    PresSpaceState& operator=(const PresSpaceState&) = delete;

    Color color = 0;
    Font font;
    bool created = false;

    // A window's space is unlocked: what was drawn is on the screen when this returns, and the
    // space lets go of what it drew through.
    virtual void unlocked() = 0;
    // Where the space draws: nowhere yet, into a bitmap, on a window, or on the screen (the
    // desktop, for a driver that draws on it through a screen device).
    enum class Target { Unbound, ToBitmap, ToWindow, ToScreen };
    Target target = Target::Unbound;

    // A space that draws on a window or the screen is never a bitmap's.
    bool drawsOnWindow() const { return target == Target::ToWindow || target == Target::ToScreen; }
    // The space draws into the bitmap, or (nullptr) into nothing.
    void bindTo(BitmapState* bitmap) {
        target = bitmap ? Target::ToBitmap : Target::Unbound;
        boundTo(bitmap);
    }
    // Keeps the bitmap (of the driver's type) the space now draws into; nullptr: none.
    virtual void boundTo(BitmapState* bitmap) = 0;

    // ---- Hooks of drawing. The core has checked the arguments; a primitive runs between
    // beginDrawing and endDrawing, in host coordinates, in the space's `color` and `font`.
    // The size of what the space draws on in pixels ({0, 0} when it draws on nothing).
    virtual Size size() const = 0;
    // Readies the space for a primitive; false when it has nowhere to draw (nothing is drawn,
    // and endDrawing is not called).
    virtual bool beginDrawing() = 0;
    // After every primitive that beginDrawing readied, also when it failed or threw: what was
    // drawn reaches the target (a window's pixels go to the screen). False when drawing failed.
    virtual bool endDrawing() = 0;
    // A linear gradient over the whole surface, from `start` to `end`, through the colours
    // (two or more) at even steps; beyond the ends, the end colours.
    virtual bool drawGradient(Point start, Point end, const std::vector<Color>& colors) = 0;
    // A box between inclusive corners (x1 <= x2, y1 <= y2), filled, outlined or both as
    // fillMode's bits fill::Fill and fill::Outline say.
    virtual bool drawBox(Rect box, int fillMode) = 0;
    // Text with its baseline starting at `at`.
    virtual bool drawText(Point at, const std::string& text) = 0;
    // The whole bitmap (which holds a picture) with its lower left corner at `at`.
    virtual bool drawBitmap(BitmapState& bitmap, Point at) = 0;
    // A quicker way to draw a bitmap, tried before the primitive above (without beginDrawing):
    // true when the bitmap is drawn, false when this space has none and nothing was drawn.
    virtual bool putBitmap(BitmapState& /*bitmap*/, Point /*at*/) { return false; }
    // Copies the rectangle of `source` starting at `sourceAt` into `box` of this space (both
    // at least a pixel; whatever falls outside either surface is left out). Called without
    // beginDrawing: a copy may read from the screen as well as from a surface. False when
    // either space has no pixels to give or take.
    virtual bool copyFrom(PresSpaceState& source, Rect box, Point sourceAt) = 0;
};

struct BitmapState {
    BitmapState() = default;
    virtual ~BitmapState() = default;
    BitmapState(const BitmapState&) = delete;
    BitmapState& operator=(const BitmapState&) = delete;

    std::shared_ptr<XbpPresSpace> ps;
    bool created = false;

    virtual Size size() const = 0;

    // ---- Hooks of a bitmap's pixels
    // Why the last copy from the screen into the bitmap got no picture (set by the driver's
    // copy); empty while the pixels are a picture. Saving then warns with it and writes nothing.
    std::string noPicture;
    // Whether the bitmap holds pixels (it was made).
    virtual bool holdsPixels() const = 0;
    // A fresh black picture of the size (valid, checked), reusing the memory when it can;
    // raises host::Error when the system cannot make it.
    virtual void make(int width, int height) = 0;
    // The pixels as 32-bit BGRX rows, top row first, with all drawing into them done; `data`
    // is nullptr when the bitmap holds none.
    struct Pixels {
        const std::uint8_t* data = nullptr;
        int width = 0;
        int height = 0;
        std::ptrdiff_t stride = 0;
    };
    virtual Pixels readPixels() const = 0;
};

// A menu bar or a menu.
struct MenuState {
    MenuState() = default;
    virtual ~MenuState() = default;
    MenuState(const MenuState&) = delete;
    MenuState& operator=(const MenuState&) = delete;

    std::vector<MenuItem> items;
    Callback<void()> endMenu;
    Font font;
    // A menu.
    std::weak_ptr<XbpPart> parent;
    std::string title;
    Callback<void(int)> itemMarked;
    bool created = false;
    int marked = 0; // the entry marked while open (from 1), 0 for none
    // A menu bar: its dialog.
    std::weak_ptr<XbpDialog> dialog;

    // ---- Hooks of a menu bar
    // Puts the bar at the top of its dialog's window, which exists.
    virtual void attachTo(XbpMenuBar& bar, WindowState& dialog) = 0;
    // Takes the bar off its dialog's window, if it is on one; the menus stay.
    virtual void detach() = 0;

    // ---- Hooks of menu bars and menus: the platform side follows `items` and the open menus
    // The state is a menu bar's (its dialog is recorded): what only a bar needs is made.
    virtual void madeBar() {}
    // An entry was appended to `items` of `owner` (this bar or menu): the platform menu has it.
    // When this raises, the core takes the entry back out.
    virtual void itemAdded(XbpPart& owner) = 0;
    // A menu is created (`menu` is its object): its platform menu exists from now on.
    virtual void menuCreated(XbpMenu& /*menu*/) {}
    // The bar is destroyed: its open menus close as when the user closes them (endMenu runs).
    virtual void closeBarMenus() {}
    // The bar goes with its dialog: its open menus close and no callback runs.
    virtual void abandonBarMenus() {}
    // A menu is destroyed: it closes if it is open, ending its bar's menu mode.
    virtual void closeMenu() {}
    // Before the core clears `items`: the platform menu lets go of its entries.
    virtual void clearingItems() {}
    // An event for `owner` (this bar or menu) from the driver's own dispatch: paint requests and
    // the input of menus the runtime draws. A driver whose menus the system runs gets none.
    virtual void menuEvent(XbpPart& /*owner*/, int /*nEvent*/, Param /*mp1*/, Param /*mp2*/) {}
};

// The application window, the focus holder and the settings, for the whole process.
struct AppState {
    std::mutex mutex;
    std::shared_ptr<XbpWindow> appWindow;
    std::shared_ptr<XbpWindow> focus;
    std::map<int, long> settings;
};
AppState& App();

struct Access {
    template <typename T> static auto& of(const T& object) { return *object.impl_; }
};

} // namespace host::detail

namespace host {

inline detail::WindowState& State(const XbpWindow& w) {
    return detail::Access::of(w);
}
inline detail::MenuState& State(const XbpMenuBar& bar) {
    return detail::Access::of(bar);
}
inline detail::MenuState& State(const XbpMenu& menu) {
    return detail::Access::of(menu);
}
inline detail::PresSpaceState& State(const XbpPresSpace& ps) {
    return detail::Access::of(ps);
}
inline detail::BitmapState& State(const XbpBitmap& bitmap) {
    return detail::Access::of(bitmap);
}

// The driver's own state types, by these names, derived from the base types above; Impl()
// reaches them from the public objects in the driver's code, where they are complete.
namespace detail {
struct WindowImpl;
struct PresSpaceImpl;
struct BitmapImpl;
struct MenuImpl;
} // namespace detail
template <typename Driven = detail::WindowImpl> Driven& Impl(const XbpWindow& w) {
    return static_cast<Driven&>(State(w));
}
template <typename Driven = detail::PresSpaceImpl> Driven& Impl(const XbpPresSpace& ps) {
    return static_cast<Driven&>(State(ps));
}
template <typename Driven = detail::BitmapImpl> Driven& Impl(const XbpBitmap& bitmap) {
    return static_cast<Driven&>(State(bitmap));
}
template <typename Driven = detail::MenuImpl> Driven& Impl(const XbpMenuBar& bar) {
    return static_cast<Driven&>(State(bar));
}
template <typename Driven = detail::MenuImpl> Driven& Impl(const XbpMenu& menu) {
    return static_cast<Driven&>(State(menu));
}

// The submenu a menu entry opens, or nullptr for an action.
std::shared_ptr<XbpMenu> submenuOf(const MenuItem& item);

namespace detail {
// A dialog's settings, taken over by `create`, and its parts.
struct DialogState {
    std::string title;
    bool taskList = true;
    bool sysMenu = true;
    int border = 0;
    bool titlebar = true;
    bool alwaysOnTop = false;
    Callback<bool()> close;
    std::shared_ptr<XbpDrawingArea> drawingArea;
    std::shared_ptr<XbpMenuBar> menuBar;
};
} // namespace detail

} // namespace host

namespace host::detail {

// ---- The driver ----------------------------------------------------------------------------

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
    virtual std::unique_ptr<BitmapState> newBitmapState() = 0;
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
    // A new presentation space that draws on (and copies from) the desktop, for the calling
    // thread.
    virtual void aimAtDesktop(PresSpaceState& space) = 0;
    // Gives the keyboard focus to the window (nullptr or the desktop: to no window of ours).
    virtual void setInputFocus(const std::shared_ptr<XbpWindow>& window) = 0;
    // Centres a top-level window on the monitor that holds the pointer, frame included.
    virtual void centreTopLevel(const std::shared_ptr<XbpWindow>& window) = 0;
    // The pointer's position on the desktop, in host coordinates.
    virtual Point pointerPos() = 0;

    // ---- Fonts and text
    // The desktop's current font.
    virtual Font defaultFont() = 0;
    // How a text in the font is drawn: its width, and the font's ascent and descent (above
    // and below the baseline), in pixels.
    struct TextExtent {
        int width = 0;
        int ascent = 0;
        int descent = 0;
    };
    virtual TextExtent measureText(const Font& font, const std::string& text) = 0;

    // ---- Monitors, waiting for the pointer and the confirmation box
    // The monitor that holds `point`, else the primary; the whole desktop when the window
    // system tells of no monitors (host coordinates).
    virtual Rect monitorAt(Point point) = 0;
    // Waits, on a thread without an event loop, until the pointer is somewhere other than
    // `from`, a stop request for the calling thread (StopRequested) or `deadline`, learning of
    // motion from the window system; true when it moved. Nothing when the window system offers
    // no such wait on this thread: the core then reads the pointer every 10 ms.
    virtual std::optional<bool>
    awaitPointerMove(Point from, std::chrono::steady_clock::time_point deadline) = 0;
    // The pointer's position for that reading; nothing when it cannot be read (not moved).
    virtual std::optional<Point> readPointer() { return pointerPos(); }
    // How awaitPointerMove learns of motion on the calling thread, for messages.
    virtual std::string pointerWaitMethod() = 0;
    // Shows a modal confirmation box (the buttons are checked) and returns the number of the
    // button pressed. `owner` as the program gave it (nullptr: none); without a usable one the
    // box belongs to the application window, if any.
    virtual int confirmBox(const std::shared_ptr<XbpWindow>& owner, const std::string& message,
                           const std::string& title, int buttons) = 0;

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
