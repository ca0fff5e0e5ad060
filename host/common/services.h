// What the core offers the drivers beside the driver interface: the checks every driver makes
// alike, presentation parameters, saving a bitmap, and the application's focus and post target.
#pragma once

#include <host/application.h>
#include <host/windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace host {

namespace detail {
struct WindowState;
}

// Colours and font from presentation parameters; raises host::Error for a value of the wrong
// kind. Codes of other window kinds are ignored.
void applyPresParams(detail::WindowState& w, const PresParams& params);
// Raises host::Error unless the window exists.
void requireCreated(const detail::WindowState& w, const char* operation);
// Raises host::Error for a gradient kind other than Linear, or no end point or colours.
void CheckGradient(const std::vector<Point>& ends, const std::vector<Color>& colors, int kind);
// Writes a bitmap's BGRX pixels as a BMP file; when it cannot, one warning line on stderr names
// the file and the reason, and the result is false.
bool SaveBitmap(const std::string& path, const std::uint8_t* pixels, int width, int height,
                std::ptrdiff_t stride);
// The warning line for a file that is not written ("<program>: warning: <file>: <reason>");
// returns false.
bool WarnNoPicture(const std::string& path, const std::string& reason);
// The hooks of the start-up record on the calling thread, then its exit routine; an error that
// escapes goes to onError. Returns the process's exit code.
int RunProgram(const StartupRecord& record, const ErrorHandler& onError);
// Raises host::Error (for `operation`) when no presentation space is given.
void RequireSpace(const std::shared_ptr<XbpPresSpace>& ps, const char* operation);
// Raises host::Error for a fill mode other than fill::Fill, Outline or FillOutline.
void CheckFillMode(int fillMode);
// Raises host::Error for a set of buttons other than box::Ok, OkCancel or YesNo.
void CheckBoxButtons(int buttons);
// Raises host::Error when `item` would make `menu` its own submenu.
void CheckNotOwnSubmenu(const XbpMenu& menu, const MenuItem& item);
// Raises host::Error for a bitmap size that is not positive or larger than 32767.
void CheckBitmapSize(int width, int height);
// The submenu an entry opens, or nullptr for an action.
std::shared_ptr<XbpMenu> submenuOf(const MenuItem& item);

namespace detail {
// Where PostAppEvent delivers: the target given, else the application window (nullptr: none).
std::shared_ptr<XbpPart> PostTarget(std::shared_ptr<XbpPart> target);
// Records the new focus holder and returns the previous one.
std::shared_ptr<XbpWindow> SwapFocus(std::shared_ptr<XbpWindow> window);
} // namespace detail

} // namespace host
