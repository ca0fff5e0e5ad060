// The window library's repaint functions on X11. The desktop window is the root window;
// invalidated rectangles wait per window until a repaint makes the X server send Expose.
//
// Windows here do not clip their children: invalidating, validating and repainting a window
// take in the windows over it (its children; for the desktop, every top-level window) unless
// RDW_NOCHILDREN says otherwise. A repaint that takes in children maps and destroys a
// background-less window over the area, so the server exposes everything that was under it;
// a repaint of the window alone is XClearArea with exposures. Under a compositing manager
// every top-level window keeps its own pixels (Composite redirection), so covering one
// exposes nothing: there each window over the area is cleared with exposures instead.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include <X11/Xlib.h>

#define USER32_API extern "C" __attribute__((visibility("default")))

extern "C" {
struct RECT {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;  // exclusive
    std::int32_t bottom; // exclusive
};
}

USER32_API std::int32_t GetDesktopWindow(void);
USER32_API std::int32_t InvalidateRect(std::int32_t hwnd, const RECT* rect, std::int32_t erase);
USER32_API std::int32_t UpdateWindow(std::int32_t hwnd);
USER32_API std::int32_t RedrawWindow(std::int32_t hwnd, const RECT* rect, std::int32_t region,
                                     std::uint32_t flags);

namespace {

constexpr std::uint32_t RDW_INVALIDATE = 0x0001;
constexpr std::uint32_t RDW_VALIDATE = 0x0008;
constexpr std::uint32_t RDW_NOCHILDREN = 0x0040;
constexpr std::uint32_t RDW_ALLCHILDREN = 0x0080;
constexpr std::uint32_t RDW_UPDATENOW = 0x0100;
constexpr std::uint32_t RDW_ERASENOW = 0x0200;

// A half-open rectangle in a window's own coordinates; 64-bit so no edge arithmetic wraps.
struct Area {
    long long x1 = 0;
    long long y1 = 0;
    long long x2 = 0;
    long long y2 = 0;

    bool empty() const { return x2 <= x1 || y2 <= y1; }
    Area intersect(const Area& o) const {
        return {std::max(x1, o.x1), std::max(y1, o.y1), std::min(x2, o.x2), std::min(y2, o.y2)};
    }
    // The bounding box: a pending repaint may grow, never shrink below what was asked for.
    Area unite(const Area& o) const {
        if (empty()) {
            return o;
        }
        if (o.empty()) {
            return *this;
        }
        return {std::min(x1, o.x1), std::min(y1, o.y1), std::max(x2, o.x2), std::max(y2, o.y2)};
    }
    bool covers(const Area& o) const {
        return o.empty() || (x1 <= o.x1 && y1 <= o.y1 && x2 >= o.x2 && y2 >= o.y2);
    }
};

struct Pending {
    Area own;  // the window itself
    Area over; // the windows over it
};

struct DisplayCloser {
    void operator()(Display* d) const noexcept { XCloseDisplay(d); }
};

// Routes X errors on our connection to a flag for as long as it lives; errors on any other
// connection go on to the handler that was there before. Used under the library's mutex.
class ErrorTrap {
  public:
    explicit ErrorTrap(Display* d) {
        trapped_.store(d);
        code_.store(0);
        previous_.store(XSetErrorHandler(&handle));
    }
    ~ErrorTrap() {
        XSetErrorHandler(previous_.load());
        trapped_.store(nullptr);
    }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;
    ErrorTrap(ErrorTrap&&) = delete;
    ErrorTrap& operator=(ErrorTrap&&) = delete;

    // Waits for the server to answer everything sent so far, then tells whether it failed.
    bool failed(Display* d) const {
        XSync(d, False);
        return code_.load() != 0;
    }

  private:
    static int handle(Display* d, XErrorEvent* e) {
        if (d == trapped_.load()) {
            code_.store(e->error_code);
            return 0;
        }
        const auto previous = previous_.load();
        return previous ? previous(d, e) : 0;
    }
    static inline std::atomic<Display*> trapped_{nullptr};
    static inline std::atomic<int> code_{0};
    static inline std::atomic<XErrorHandler> previous_{nullptr};
};

// A window made for one repaint; destroyed (and so unmapped) when the repaint is done.
class CoverWindow {
  public:
    CoverWindow(Display* d, Window parent, const Area& a) : d_(d), w_(create(d, parent, a)) {}
    ~CoverWindow() { XDestroyWindow(d_, w_); }
    CoverWindow(const CoverWindow&) = delete;
    CoverWindow& operator=(const CoverWindow&) = delete;
    CoverWindow(CoverWindow&&) = delete;
    CoverWindow& operator=(CoverWindow&&) = delete;
    Window id() const { return w_; }

  private:
    static Window create(Display* d, Window parent, const Area& a) {
        XSetWindowAttributes attrs{};
        attrs.override_redirect = True;
        attrs.background_pixmap = None; // the server paints nothing: what is under stays
        return XCreateWindow(d, parent, static_cast<int>(a.x1), static_cast<int>(a.y1),
                             static_cast<unsigned>(a.x2 - a.x1), static_cast<unsigned>(a.y2 - a.y1),
                             0, CopyFromParent, InputOutput, CopyFromParent,
                             CWOverrideRedirect | CWBackPixmap, &attrs);
    }
    Display* d_;
    Window w_;
};

class Desktop {
  public:
    std::int32_t desktop() {
        const std::lock_guard lock(mutex_);
        Display* d = connect();
        return d ? static_cast<std::int32_t>(DefaultRootWindow(d)) : 0;
    }

    // Marks or clears `rect` (whole window when null) as needing a repaint, then repaints now
    // when asked. Gives false for a missing display or an unknown window.
    bool redraw(std::int32_t hwnd, const RECT* rect, std::uint32_t flags) {
        const std::lock_guard lock(mutex_);
        Display* d = connect();
        if (d == nullptr) {
            return false;
        }
        const auto w = hwnd == 0 ? DefaultRootWindow(d) : window(d, hwnd);
        if (!w) {
            return false;
        }
        const auto bounds = boundsOf(d, *w);
        if (!bounds) {
            return false;
        }
        const Area area =
            rect ? bounds->intersect({rect->left, rect->top, rect->right, rect->bottom}) : *bounds;
        const bool children = (flags & RDW_NOCHILDREN) == 0;
        Pending& p = pending_[*w];
        if (flags & RDW_INVALIDATE) {
            p.own = p.own.unite(area);
            if (children) {
                p.over = p.over.unite(area);
            }
        } else if (flags & RDW_VALIDATE) {
            if (area.covers(p.own)) {
                p.own = {};
            }
            if (children && area.covers(p.over)) {
                p.over = {};
            }
        }
        if (flags & (RDW_UPDATENOW | RDW_ERASENOW)) {
            return repaint(d, *w, children);
        }
        return true;
    }

    bool update(std::int32_t hwnd) {
        const std::lock_guard lock(mutex_);
        Display* d = connect();
        if (d == nullptr) {
            return false;
        }
        const auto w = window(d, hwnd);
        return w && repaint(d, *w, true);
    }

  private:
    Display* connect() {
        if (!display_) {
            display_.reset(XOpenDisplay(nullptr));
        }
        return display_.get();
    }

    static std::optional<Window> window(Display* d, std::int32_t hwnd) {
        if (hwnd <= 0) {
            return std::nullopt;
        }
        const auto w = static_cast<Window>(static_cast<std::uint32_t>(hwnd));
        if (w == DefaultRootWindow(d)) {
            return w;
        }
        const ErrorTrap trap(d);
        XWindowAttributes attrs{};
        const Status ok = XGetWindowAttributes(d, w, &attrs);
        if (ok == 0 || trap.failed(d)) {
            return std::nullopt;
        }
        return w;
    }

    static std::optional<Area> boundsOf(Display* d, Window w) {
        const ErrorTrap trap(d);
        Window root = 0;
        int x = 0;
        int y = 0;
        unsigned width = 0;
        unsigned height = 0;
        unsigned border = 0;
        unsigned depth = 0;
        if (XGetGeometry(d, w, &root, &x, &y, &width, &height, &border, &depth) == 0 ||
            trap.failed(d)) {
            return std::nullopt;
        }
        return Area{0, 0, width, height};
    }

    // Whether a compositing manager owns _NET_WM_CM_S<screen> (EWMH 1.5, "Compositing
    // Managers").
    static bool composited(Display* d) {
        const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(d));
        return XGetSelectionOwner(d, XInternAtom(d, name.c_str(), False)) != 0;
    }

    // Clears `area` (in `w`'s coordinates) of `w` and of every viewable window inside it, with
    // exposures, so each one's owner hears of it. Windows that vanish meanwhile are no fault.
    static void exposeTree(Display* d, Window w, const Area& area) {
        XClearArea(d, w, static_cast<int>(area.x1), static_cast<int>(area.y1),
                   static_cast<unsigned>(area.x2 - area.x1),
                   static_cast<unsigned>(area.y2 - area.y1), True);
        Window root = 0;
        Window parent = 0;
        Window* kids = nullptr;
        unsigned n = 0;
        if (XQueryTree(d, w, &root, &parent, &kids, &n) == 0) {
            return;
        }
        const std::unique_ptr<Window, int (*)(void*)> owned(kids, XFree);
        for (unsigned i = 0; i < n; ++i) {
            XWindowAttributes a{};
            if (XGetWindowAttributes(d, kids[i], &a) == 0 || a.map_state != IsViewable ||
                a.c_class != InputOutput) {
                continue; // InputOnly windows have nothing to clear (BadMatch)
            }
            const long long dx = a.x + a.border_width;
            const long long dy = a.y + a.border_width;
            const Area inside =
                Area{area.x1 - dx, area.y1 - dy, area.x2 - dx, area.y2 - dy}.intersect(
                    {0, 0, a.width, a.height});
            if (!inside.empty()) {
                exposeTree(d, kids[i], inside);
            }
        }
    }

    // Makes the server expose what is pending for `w` (and the windows over it when
    // `children`) and forgets it. Returns false when the server refused.
    bool repaint(Display* d, Window w, bool children) {
        const auto found = pending_.find(w);
        if (found == pending_.end()) {
            return true;
        }
        Pending& p = found->second;
        if (children && !p.over.empty() && composited(d)) {
            {
                const ErrorTrap vanishing(d);
                exposeTree(d, w, p.over);
                vanishing.failed(d);
            }
            if (p.over.covers(p.own)) {
                p.own = {};
            }
            p.over = {};
        }
        const ErrorTrap trap(d);
        if (children && !p.over.empty()) {
            const CoverWindow cover(d, w, p.over);
            XMapWindow(d, cover.id());
            if (p.over.covers(p.own)) {
                p.own = {};
            }
            p.over = {};
        }
        if (!p.own.empty()) {
            XClearArea(d, w, static_cast<int>(p.own.x1), static_cast<int>(p.own.y1),
                       static_cast<unsigned>(p.own.x2 - p.own.x1),
                       static_cast<unsigned>(p.own.y2 - p.own.y1), True);
            p.own = {};
        }
        if (p.over.empty()) {
            pending_.erase(found);
        }
        return !trap.failed(d);
    }

    std::mutex mutex_;
    std::unique_ptr<Display, DisplayCloser> display_;
    std::unordered_map<Window, Pending> pending_;
};

Desktop& desktop() {
    static Desktop instance;
    return instance;
}

} // namespace

std::int32_t GetDesktopWindow(void) {
    return desktop().desktop();
}

// A null window means every window: the desktop and all over it, repainted at once.
std::int32_t InvalidateRect(std::int32_t hwnd, const RECT* rect, std::int32_t /*erase*/) {
    const std::uint32_t now = hwnd == 0 ? RDW_UPDATENOW : 0;
    return desktop().redraw(hwnd, rect, RDW_INVALIDATE | now) ? 1 : 0;
}

std::int32_t UpdateWindow(std::int32_t hwnd) {
    return desktop().update(hwnd) ? 1 : 0;
}

// A null window means the desktop. There are no region objects here, so a region handle
// names nothing and fails. Contradictory flags fail too.
std::int32_t RedrawWindow(std::int32_t hwnd, const RECT* rect, std::int32_t region,
                          std::uint32_t flags) {
    if (region != 0 || ((flags & RDW_INVALIDATE) && (flags & RDW_VALIDATE)) ||
        ((flags & RDW_ALLCHILDREN) && (flags & RDW_NOCHILDREN))) {
        return 0;
    }
    return desktop().redraw(hwnd, rect, flags) ? 1 : 0;
}
