// The tip window as an accessible object (MSAA): what the driver tells it, and its answer to
// WM_GETOBJECT.
#pragma once

#include <windows.h>

#include <string>

namespace host::win32 {

// Text was drawn in a window: inside a tip, it is the tip's name, and the tip is announced.
void TipTextDrawn(HWND drawnIn, const std::string& text);
// A tip window is going: announced, and its text forgotten.
void TipGone(HWND hwnd);
// WM_GETOBJECT for the client area of a tip: its accessible object in `result`. False for any
// other window or object, which the system answers.
bool AnswerGetObject(HWND hwnd, WPARAM wp, LPARAM lp, LRESULT& result);

} // namespace host::win32
