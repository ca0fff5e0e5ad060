// One owner for every X window the runtime makes: created with its attributes on a connection,
// entered in that connection's table for event dispatch, and destroyed (and taken out of the
// table) exactly once, when its owner says so or goes.
#pragma once

#include "connection.h"
#include "coords.h"

#include <memory>

namespace host::x11 {

struct WindowSpec {
    ::Window parent = 0; // 0: the root window
    DeviceRect rect{0, 0, 1, 1};
    Color background = 0xffffff;
    long events = 0;               // the events wanted, before EventMaskForThisThread
    bool overrideRedirect = false; // placed by us, above the window manager (and saved under)
};

class XWindow {
  public:
    // How far destroying goes before it returns.
    enum class Wait {
        Sent,      // the request is on its way
        Done,      // the server has destroyed it
        OffScreen, // a managed window: its frame is down and a compositor has repainted
    };

    XWindow() = default;
    XWindow(std::shared_ptr<Connection> conn, const WindowSpec& wanted);
    ~XWindow() { destroy(); }
    XWindow(XWindow&& other) noexcept;
    XWindow& operator=(XWindow&& other) noexcept;
    XWindow(const XWindow&) = delete;
    XWindow& operator=(const XWindow&) = delete;

    ::Window id() const { return id_; }
    explicit operator bool() const { return id_ != 0; }
    const std::shared_ptr<Connection>& connection() const { return conn_; }

    // Events of the window go to `part` (AppEvent's target).
    void dispatchTo(std::weak_ptr<XbpPart> part);
    void destroy(Wait wait = Wait::Sent);
    // Lets go of a window the server destroys together with its parent: only the dispatch
    // table needs to hear of it.
    void forget();

  private:
    std::shared_ptr<Connection> conn_;
    ::Window id_ = 0;
};

// The X event mask for windows made on the calling thread: input and exposure on the thread
// that runs the event loop, none on threads without one (their windows never repaint, and
// events nobody reads would pile up in the connection's queue).
long EventMaskForThisThread(long wanted);

} // namespace host::x11
