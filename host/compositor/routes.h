// The routes by which a compositor hands out the desktop's picture. Each returns the picture or
// leaves the reason in `failure`.
#pragma once

#include "compositor.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace host::compositor::detail {

using Clock = std::chrono::steady_clock;

// Whether $WAYLAND_DISPLAY (or wayland-0) names a socket: an absolute path, or a name with
// $XDG_RUNTIME_DIR set.
bool SocketNamed();

// wlr-screencopy: every output copied into shared memory on a Wayland connection of our own.
std::optional<Picture> ScreencopyDesktop(std::string& failure);

// A watch for the compositor's next changed frame on any output (copy_with_damage), armed
// before a window leaves the screen.
class DamageWatch {
  public:
    // nullptr when the compositor offers no screencopy (or no damage-waiting copies).
    static std::unique_ptr<DamageWatch> Arm();
    ~DamageWatch();
    DamageWatch(const DamageWatch&) = delete;
    DamageWatch& operator=(const DamageWatch&) = delete;
    // Waits until an output has sent a frame with damage, or `deadline`; true for the frame.
    bool waitForChange(Clock::time_point deadline);

    struct State;

  private:
    explicit DamageWatch(std::unique_ptr<State> s);
    std::unique_ptr<State> state_;
};

// The desktop portal's Screenshot (not interactive), through GDBus on the session bus; the
// PNG it writes is read and removed.
std::optional<Picture> PortalDesktop(std::string& failure);

} // namespace host::compositor::detail
