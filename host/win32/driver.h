// The Win32 driver: its implementation of the driver interface (host/common/driver.h). Each
// hook is defined in the file of its job: dispatch.cpp (events), desktop.cpp (placement,
// monitors), driver.cpp (start, end, errors, focus, the pointer, pauses), drawing.cpp (fonts
// and text), pointer.cpp (waiting for the pointer to move), message_box.cpp (the confirmation
// box).
#pragma once

#include "../common/driver.h"
#include "object_state.h"

namespace host::win32 {

class Win32Driver final : public detail::Driver {
  public:
    std::unique_ptr<detail::WindowState> newWindowState() override;
    std::unique_ptr<detail::PresSpaceState> newPresSpaceState() override;
    std::unique_ptr<detail::BitmapState> newBitmapState() override;
    std::unique_ptr<detail::MenuState> newMenuState() override;

    Win32Driver();

    void programStarting() override;
    void endingOnError() override;
    void showError(const std::string& line) override;

    std::optional<detail::HostEvent> takeEvent() override;
    void waitForEvents(std::optional<std::chrono::milliseconds> timeout) override;
    void wake() override;

    Size desktopSize() override;
    void aimAtDesktop(detail::PresSpaceState& space) override;
    void setInputFocus(const std::shared_ptr<XbpWindow>& window) override;
    void centreTopLevel(const std::shared_ptr<XbpWindow>& window) override;
    Point pointerPos() override;
    Font defaultFont() override;
    TextExtent measureText(const Font& font, const std::string& text) override;

    Rect monitorAt(Point point) override;
    std::optional<bool> awaitPointerMove(Point from,
                                         std::chrono::steady_clock::time_point deadline) override;
    std::optional<Point> readPointer() override; // GetCursorPos may fail
    std::string pointerWaitMethod() override;
    int confirmBox(const std::shared_ptr<XbpWindow>& owner, const std::string& message,
                   const std::string& title, int buttons) override;

    PauseWait pauseWait() const override;
    WarmUp threadWarmUp() const override;

  private:
    HandlePtr wake_; // set when an event is posted
};

} // namespace host::win32
