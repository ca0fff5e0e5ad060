// The state behind the public objects that every driver keeps alike. Each driver's state
// derives from these base types and adds its window-system handles; the core reaches the base
// with State(), a driver its own type with its Impl().
#pragma once

#include <host/application.h>
#include <host/drawing.h>
#include <host/windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace host::detail {

struct DialogState;

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
};

struct PresSpaceState {
    PresSpaceState() = default;
    virtual ~PresSpaceState() = default;
    PresSpaceState(const PresSpaceState&) = delete;
    PresSpaceState& operator=(const PresSpaceState&) = delete;

    Color color = 0;
    Font font;
    bool created = false;
};

struct BitmapState {
    BitmapState() = default;
    virtual ~BitmapState() = default;
    BitmapState(const BitmapState&) = delete;
    BitmapState& operator=(const BitmapState&) = delete;

    std::shared_ptr<XbpPresSpace> ps;
    bool created = false;

    virtual Size size() const = 0;
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
