// The order of the routes, the choice of routes from the environment, and the moment of the
// capture after a window has left the screen.
#include "compositor.h"

#include "routes.h"

#include <wayland-client.h>

#include <cstdlib>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>

namespace host::compositor {
namespace {

using detail::Clock;

// After a window leaves, the portal route waits this long for the compositor to repaint
// without it (two frames at 60 Hz, and a close animation of the desktop's).
constexpr std::chrono::milliseconds kPortalSettle{300};

// The moment a window last left the screen, and the watch armed then.
struct Leaving {
    std::mutex mutex;
    std::optional<Clock::time_point> since;
    std::unique_ptr<detail::DamageWatch> watch;
};
Leaving& leaving() {
    static Leaving l;
    return l;
}

// The routes to try, in order: $MENUTIP_CAPTURE_ROUTES narrows them (an empty or unknown list
// means none, so a typing error is seen rather than passed over).
std::vector<std::string> routes() {
    const char* env = std::getenv("MENUTIP_CAPTURE_ROUTES");
    if (!env) {
        return {"screencopy", "portal"};
    }
    std::vector<std::string> out;
    std::stringstream list(env);
    std::string name;
    while (std::getline(list, name, ',')) {
        if (name == "screencopy" || name == "portal") {
            out.push_back(name);
        }
    }
    return out;
}

} // namespace

bool detail::SocketNamed() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    return (name && name[0] == '/') || std::getenv("XDG_RUNTIME_DIR");
}

bool Reachable() {
    if (!detail::SocketNamed()) {
        return false; // libwayland would say so on stderr
    }
    wl_display* d = wl_display_connect(nullptr);
    if (!d) {
        return false;
    }
    wl_display_disconnect(d);
    return true;
}

void WindowLeaving() {
    Leaving& l = leaving();
    const std::lock_guard lock(l.mutex);
    l.since = Clock::now();
    l.watch.reset();
    const auto names = routes();
    if (!names.empty() && names.front() == "screencopy") {
        l.watch = detail::DamageWatch::Arm();
    }
}

Capture TakeDesktop() {
    Leaving& l = leaving();
    std::unique_lock lock(l.mutex);
    const std::optional<Clock::time_point> since = std::exchange(l.since, std::nullopt);
    std::unique_ptr<detail::DamageWatch> watch = std::move(l.watch);
    lock.unlock();

    Capture result;
    for (const std::string& route : routes()) {
        std::string failure;
        if (route == "screencopy") {
            if (watch) {
                // The first frame with damage after the window went shows the desktop without
                // it; the copy below is then at least as new. Without one in time, the
                // compositor had repainted already or nothing changed: the copy is right too.
                const auto t0 = Clock::now();
                watch->waitForChange(*since + std::chrono::milliseconds(kChangeBoundMs));
                watch.reset();
                result.waitedMs +=
                    std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            }
            result.picture = detail::ScreencopyDesktop(failure);
        } else {
            if (since) {
                const auto t0 = Clock::now();
                std::this_thread::sleep_until(*since + kPortalSettle);
                result.waitedMs +=
                    std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            }
            result.picture = detail::PortalDesktop(failure);
        }
        if (result.picture) {
            result.route = route;
            result.failure.clear();
            return result;
        }
        result.failure += (result.failure.empty() ? "" : "; ") + route + ": " + failure;
    }
    if (result.failure.empty()) {
        result.failure = "no capture route is enabled (MENUTIP_CAPTURE_ROUTES)";
    }
    return result;
}

} // namespace host::compositor
