// The application group: start-up, the event queue, the application window and focus,
// settings, files and small desktop services. Host coordinates have their origin at the lower
// left corner of the desktop, y growing upwards.
#pragma once

#include <host/values.h>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace host {

class XbpPart;
class XbpWindow;

// ---- Version and start-up --------------------------------------------------------------

// The runtime's version: major in the top byte, minor in the next, build in the lowest byte.
inline constexpr long kHostVersion = 0x02000001; // 2.0, build 1
long Version();

// What a program hands the runtime: its error system, its start-up hooks, its main routine
// and the exit routine. `Start` installs the error system, runs `appSys` and `dbeSys`, then
// `main`, then `appExit` (also registered to run at process exit), and returns the process's
// exit code. An error that escapes reaches `errorSys`, which ends the process.
using ErrorHandler = std::function<void(const std::exception&)>;
using Hook = std::function<void()>;
struct StartupRecord {
    ErrorHandler errorSys;
    Hook appSys;
    Hook appExit;
    Hook dbeSys;
    Hook main;
    // The program's name, for its messages and its windows' class; when empty, the name of
    // the running executable.
    std::string name = {};
};
int Start(const StartupRecord& record);

// The name messages and windows carry: the start-up record's, else the executable's.
std::string ProgramName();

// The runtime's standard error system: one line "<program>: error: ..." on stderr, then the
// process ends with exit code 1 (no core dump, nothing else runs).
[[noreturn]] void ErrorSys(const std::exception& error);
// The runtime's exit routine: releases what this thread holds of the window system. Safe to
// run twice.
void AppExit();

// Runtime settings by number; `Set` returns the previous value (0 for one never set).
long Set(int setting, long value);

// ---- Events --------------------------------------------------------------------------

// An event parameter: a number, or NIL.
using Param = std::optional<long>;

// Event codes. Codes below 0x100000 belong to programs (PostAppEvent).
namespace event {
inline constexpr int NoEvent = 0; // AppEvent's time-out passed
// Pointer positions are the window's own host coordinates (origin lower left).
inline constexpr int Motion = 0x100001;     // mp1: x, mp2: y
inline constexpr int ButtonDown = 0x100002; // left button; mp1: x, mp2: y
inline constexpr int ButtonUp = 0x100003;   // left button; mp1: x, mp2: y
inline constexpr int Keyboard = 0x100004;   // mp1: key code (see host::key), mp2: modifiers
inline constexpr int RightDown = 0x100005;  // right button; mp1: x, mp2: y
inline constexpr int RightUp = 0x100006;
inline constexpr int MiddleDown = 0x100007; // middle button; mp1: x, mp2: y
inline constexpr int MiddleUp = 0x100008;
inline constexpr int Paint = 0x100035;     // mp1: x, mp2: y of the area's origin
inline constexpr int Resize = 0x100036;    // mp1: width, mp2: height
inline constexpr int Close = 0x100038;     // the window manager asks the window to close
inline constexpr int SetFocus = 0x100039;  // the window gained the keyboard focus
inline constexpr int KillFocus = 0x10003A; // the window lost the keyboard focus
inline constexpr int Enter = 0x10003B;     // the pointer entered the window
inline constexpr int Leave = 0x10003C;     // the pointer left the window
inline constexpr int Internal = 0x1000FF;  // runtime-private input (menus, boxes)
} // namespace event

// Key codes in mp1 of event::Keyboard. Characters give their Unicode code point (Escape 27,
// Enter 13, Tab 9, Backspace 8, Space 32, 'a' 97); other keys have codes from 0x20000 on.
namespace key {
inline constexpr long Backspace = 8;
inline constexpr long Tab = 9;
inline constexpr long Enter = 13;
inline constexpr long Escape = 27;
inline constexpr long Space = 32;
inline constexpr long Up = 0x20001;
inline constexpr long Down = 0x20002;
inline constexpr long Left = 0x20003;
inline constexpr long Right = 0x20004;
inline constexpr long Home = 0x20005;
inline constexpr long End = 0x20006;
inline constexpr long PageUp = 0x20007;
inline constexpr long PageDown = 0x20008;
inline constexpr long Insert = 0x20009;
inline constexpr long Delete = 0x2000A;
inline constexpr long Menu = 0x2000B;
inline constexpr long F1 = 0x20101; // F1 .. F12 are F1 + 0 .. F1 + 11
inline constexpr long Unknown = 0x2FFFF;
} // namespace key

// Modifier bits in mp2 of event::Keyboard.
namespace mod {
inline constexpr long Shift = 1;
inline constexpr long Ctrl = 2;
inline constexpr long Alt = 4;
} // namespace mod

// Waits for the next event of the calling thread's queue (X input and posted events) and
// returns its code; fills in the parameters and the target object. With a time-out (in
// hundredths of a second) it returns event::NoEvent when nothing arrives in time. An event
// whose target has been destroyed is dropped.
int AppEvent(Param& mp1, Param& mp2, std::shared_ptr<XbpPart>& target,
             std::optional<int> timeout = Nil);

// Queues an event for the start thread's AppEvent. With no target the event goes to the
// current application window. Returns true when the event was queued.
bool PostAppEvent(int code, Param mp1 = Nil, Param mp2 = Nil,
                  std::shared_ptr<XbpPart> target = nullptr);

// ---- Application window, focus, desktop -------------------------------------------------

class XbpDesktop;
std::shared_ptr<XbpDesktop> AppDesktop();

// Each returns the previous holder (nullptr for NIL).
std::shared_ptr<XbpWindow> SetAppWindow(std::shared_ptr<XbpWindow> window);
std::shared_ptr<XbpWindow> SetAppFocus(std::shared_ptr<XbpWindow> window);

// Moves the window to the centre of its parent. A top-level window is centred on the monitor
// that holds the pointer (else the primary), by its frame where a window manager gives one;
// one larger than the monitor keeps its top left corner on it.
void CenterControl(const std::shared_ptr<XbpWindow>& window);

// The monitor that holds `point` (host coordinates, as is the rectangle it returns); the
// primary monitor when none does; the whole desktop when the display tells of no monitors.
Rect MonitorAt(Point point);

// The pointer's position on the desktop, in host coordinates.
Point GetPointerPos();

// Waits until the pointer is somewhere other than `from` (host coordinates), the run in
// progress on the calling host thread is asked to stop, or `timeout` hundredths of a second
// pass; true when the pointer has moved. For a thread without an event loop: it learns of
// motion from XInput 2 raw motion where the server offers it (also while another client holds
// the pointer grab), else by reading the pointer every 10 ms. A warp sends no raw motion; it
// is seen at the time-out.
bool WaitPointerMove(Point from, int timeout);
// How WaitPointerMove learns of motion on the calling thread's display, for messages.
std::string PointerWaitMethod();

// Pauses the calling thread for n hundredths of a second. On a host thread whose run has been
// asked to stop (Thread::requestStop) it returns at once.
void Sleep(int hundredths);

// Deletes a file. Returns 0 on success and -1 when the file could not be deleted (a missing
// file included). A symbolic link is removed itself; its target is never touched.
int FErase(const std::string& path);

// ---- Message boxes ---------------------------------------------------------------------

// Buttons of ConfirmBox and the numbers it returns for each.
namespace box {
inline constexpr int Ok = 0;       // buttons: OK only (the default)
inline constexpr int OkCancel = 1; // buttons: OK and Cancel
inline constexpr int YesNo = 4;    // buttons: Yes and No
// Enter presses the focused button (the first at start). Escape and closing the window give
// the box's "no" answer: RetCancel with OK and Cancel, RetNo with Yes and No, and RetOk for a
// box that has only OK.
inline constexpr int RetOk = 1;     // result: OK pressed
inline constexpr int RetCancel = 2; // result: Cancel pressed
inline constexpr int RetYes = 6;
inline constexpr int RetNo = 7;
} // namespace box

// A modal box centred on the screen with the message and buttons. It blocks input to the
// program's other windows while open and returns the number of the button pressed.
int ConfirmBox(const std::shared_ptr<XbpWindow>& owner, const std::string& message,
               const std::string& title = "Confirm", int buttons = box::Ok);

} // namespace host
